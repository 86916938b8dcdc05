#include "decode/app/kerberos.h"

#include <string>

#include "decode/app/app_text.h"
#include "decode/app/ber.h"
#include "decode/app/message.h"
#include "decode/decoder.h"

namespace {

constexpr code_name message_types[] = {
    {10, "AS-REQ"}, {11, "AS-REP"},   {12, "TGS-REQ"},  {13, "TGS-REP"},  {14, "AP-REQ"},
    {15, "AP-REP"}, {20, "KRB-SAFE"}, {21, "KRB-PRIV"}, {22, "KRB-CRED"}, {30, "KRB-ERROR"},
};

constexpr code_name encryption_types[] = {
    {1, "des-cbc-crc"},
    {3, "des-cbc-md5"},
    {16, "des3-cbc-sha1"},
    {17, "aes128-cts-hmac-sha1-96"},
    {18, "aes256-cts-hmac-sha1-96"},
    {19, "aes128-cts-hmac-sha256-128"},
    {20, "aes256-cts-hmac-sha384-192"},
    {23, "rc4-hmac"},
    {24, "rc4-hmac-exp"},
    {25, "camellia128-cts-cmac"},
    {26, "camellia256-cts-cmac"},
};

constexpr code_name pa_types[] = {
    {1, "PA-TGS-REQ"},
    {2, "PA-ENC-TIMESTAMP"},
    {3, "PA-PW-SALT"},
    {11, "PA-ETYPE-INFO"},
    {16, "PA-PK-AS-REQ"},
    {17, "PA-PK-AS-REP"},
    {19, "PA-ETYPE-INFO2"},
    {20, "PA-SVR-REFERRAL-INFO"},
    {128, "PA-PAC-REQUEST"},
    {129, "PA-FOR-USER"},
    {133, "PA-FX-COOKIE"},
    {136, "PA-FX-FAST"},
    {137, "PA-FX-ERROR"},
    {138, "PA-ENCRYPTED-CHALLENGE"},
    {149, "PA-REQ-ENC-PA-REP"},
    {150, "PA-AS-FRESHNESS"},
    {165, "PA-SUPPORTED-ENCTYPES"},
    {167, "PA-PAC-OPTIONS"},
};

constexpr code_name error_codes[] = {
    {0, "KDC_ERR_NONE"},
    {1, "KDC_ERR_NAME_EXP"},
    {2, "KDC_ERR_SERVICE_EXP"},
    {3, "KDC_ERR_BAD_PVNO"},
    {4, "KDC_ERR_C_OLD_MAST_KVNO"},
    {5, "KDC_ERR_S_OLD_MAST_KVNO"},
    {6, "KDC_ERR_C_PRINCIPAL_UNKNOWN"},
    {7, "KDC_ERR_S_PRINCIPAL_UNKNOWN"},
    {8, "KDC_ERR_PRINCIPAL_NOT_UNIQUE"},
    {9, "KDC_ERR_NULL_KEY"},
    {10, "KDC_ERR_CANNOT_POSTDATE"},
    {11, "KDC_ERR_NEVER_VALID"},
    {12, "KDC_ERR_POLICY"},
    {13, "KDC_ERR_BADOPTION"},
    {14, "KDC_ERR_ETYPE_NOSUPP"},
    {15, "KDC_ERR_SUMTYPE_NOSUPP"},
    {16, "KDC_ERR_PADATA_TYPE_NOSUPP"},
    {17, "KDC_ERR_TRTYPE_NOSUPP"},
    {18, "KDC_ERR_CLIENT_REVOKED"},
    {19, "KDC_ERR_SERVICE_REVOKED"},
    {20, "KDC_ERR_TGT_REVOKED"},
    {21, "KDC_ERR_CLIENT_NOTYET"},
    {22, "KDC_ERR_SERVICE_NOTYET"},
    {23, "KDC_ERR_KEY_EXPIRED"},
    {24, "KDC_ERR_PREAUTH_FAILED"},
    {25, "KDC_ERR_PREAUTH_REQUIRED"},
    {26, "KDC_ERR_SERVER_NOMATCH"},
    {27, "KDC_ERR_MUST_USE_USER2USER"},
    {28, "KDC_ERR_PATH_NOT_ACCEPTED"},
    {29, "KDC_ERR_SVC_UNAVAILABLE"},
    {31, "KRB_AP_ERR_BAD_INTEGRITY"},
    {32, "KRB_AP_ERR_TKT_EXPIRED"},
    {33, "KRB_AP_ERR_TKT_NYV"},
    {34, "KRB_AP_ERR_REPEAT"},
    {35, "KRB_AP_ERR_NOT_US"},
    {36, "KRB_AP_ERR_BADMATCH"},
    {37, "KRB_AP_ERR_SKEW"},
    {38, "KRB_AP_ERR_BADADDR"},
    {39, "KRB_AP_ERR_BADVERSION"},
    {40, "KRB_AP_ERR_MSG_TYPE"},
    {41, "KRB_AP_ERR_MODIFIED"},
    {42, "KRB_AP_ERR_BADORDER"},
    {44, "KRB_AP_ERR_BADKEYVER"},
    {45, "KRB_AP_ERR_NOKEY"},
    {46, "KRB_AP_ERR_MUT_FAIL"},
    {47, "KRB_AP_ERR_BADDIRECTION"},
    {48, "KRB_AP_ERR_METHOD"},
    {49, "KRB_AP_ERR_BADSEQ"},
    {50, "KRB_AP_ERR_INAPP_CKSUM"},
    {52, "KRB_ERR_RESPONSE_TOO_BIG"},
    {60, "KRB_ERR_GENERIC"},
    {61, "KRB_ERR_FIELD_TOOLONG"},
    {68, "KDC_ERR_WRONG_REALM"},
};

// Principal names have a component or two; more are shown up to a bound.
constexpr unsigned max_components = 16;
constexpr unsigned max_list = 32;
constexpr unsigned max_messages = 64;

// The contents of the context-tagged [tag] wrapper, which holds one element.
ber_element inner(const message& m, const ber_element& wrapper, unsigned depth, const char* what) {
    if (!wrapper.constructed() || wrapper.length == 0) throw malformed_message{what};
    return ber_read(m, wrapper.value, wrapper.end(), depth + 1);
}

long long integer_in(const message& m, const ber_element& wrapper, unsigned depth, const char* what) {
    ber_element e = inner(m, wrapper, depth, what);
    if (!e.universal(ber_integer)) throw malformed_message{what};
    return ber_integer_value(m, e);
}

std::string string_in(decode_context& cx, const message& m, const ber_element& wrapper, unsigned depth,
                      const char* what) {
    ber_element e = inner(m, wrapper, depth, what);
    if (e.constructed()) throw malformed_message{what};
    return ber_string(cx, m, e, 256);
}

std::string time_in(decode_context& cx, const message& m, const ber_element& wrapper, unsigned depth) {
    ber_element e = inner(m, wrapper, depth, "time missing");
    return ber_time_text(cx, m, e);
}

// PrincipalName: name-type [0], name-string [1] SEQUENCE OF KerberosString,
// shown as "a/b".
std::string principal(decode_context& cx, const message& m, const ber_element& wrapper, unsigned depth) {
    ber_element name = inner(m, wrapper, depth, "principal name missing");
    ber_children parts(m, name, depth + 1);
    std::string text;
    while (parts.more()) {
        ber_element part = parts.next();
        if (!part.context(1)) continue;
        ber_element list = inner(m, part, parts.depth(), "name components missing");
        ber_children components(m, list, parts.depth() + 1);
        for (unsigned n = 0; components.more(); ++n) {
            ber_element c = components.next();
            if (n == max_components) text += "/...";
            if (n >= max_components) continue;
            if (n) text += '/';
            text += ber_string(cx, m, c, 128);
        }
    }
    return text;
}

// Ticket ::= [APPLICATION 1] SEQUENCE { tkt-vno [0], realm [1], sname [2], enc-part [3] }
void ticket(decode_context& cx, const message& m, const ber_element& wrapper, unsigned depth, const char* key,
            const char* label) {
    ber_element app = inner(m, wrapper, depth, "ticket missing");
    ber_element seq = app.constructed() && app.length ? ber_read(m, app.value, app.end(), depth + 2) : app;
    if (!app.is(ber_application, true, 1) || !seq.universal(ber_sequence)) throw malformed_message{"not a ticket"};
    ber_children parts(m, seq, depth + 2);
    std::string realm, sname;
    while (parts.more()) {
        ber_element part = parts.next();
        if (part.context(1)) realm = string_in(cx, m, part, parts.depth(), "ticket realm missing");
        if (part.context(2)) sname = principal(cx, m, part, parts.depth());
    }
    std::string text = sname + "@" + realm;
    zelk_printf(cx.out, "  %s: ", label);
    field(cx, key, "%s\n", text);
}

// AP-REQ ::= [APPLICATION 14] SEQUENCE { pvno [0], msg-type [1], ap-options [2], ticket [3], authenticator [4] }
void ap_request(decode_context& cx, const message& m, const ber_element& app, unsigned depth) {
    ber_element seq = ber_read(m, app.value, app.end(), depth + 1);
    if (!seq.universal(ber_sequence)) throw malformed_message{"not an AP-REQ"};
    ber_children parts(m, seq, depth + 1);
    while (parts.more()) {
        ber_element part = parts.next();
        if (part.context(3)) ticket(cx, m, part, parts.depth(), "ap_req_ticket", "  AP-REQ Ticket");
    }
}

void padata(decode_context& cx, const message& m, const ber_element& wrapper, unsigned depth) {
    ber_element list = inner(m, wrapper, depth, "PA-DATA missing");
    ber_children entries(m, list, depth + 1);
    for (unsigned n = 0; entries.more(); ++n) {
        ber_element entry = entries.next();
        if (n >= max_list) continue;
        ber_children parts(m, entry, entries.depth());
        long long type = -1;
        ber_element value{};
        bool has_value = false;
        while (parts.more()) {
            ber_element part = parts.next();
            if (part.context(1)) type = integer_in(m, part, parts.depth(), "PA-DATA type missing");
            if (part.context(2)) {
                value = inner(m, part, parts.depth(), "PA-DATA value missing");
                has_value = true;
            }
        }
        item(cx, "padata");
        item_closer close(cx);
        field(cx, "type", "  PA-DATA: %ld", static_cast<long>(type));
        print_name(cx, "type", find_name(pa_types, static_cast<int>(type), "unknown"));
        if (has_value) field(cx, "length", ", Length: %lu", static_cast<unsigned long>(value.length));
        zelk_printf(cx.out, "\n");
        // PA-TGS-REQ carries the AP-REQ with the ticket-granting ticket.
        if (type == 1 && has_value && value.universal(ber_octet_string) && value.length) {
            ber_element app = ber_read(m, value.value, value.end(), entries.depth() + 2);
            if (app.is(ber_application, true, 14)) {
                zelk_printf(cx.out, "    AP-REQ\n");
                record_text(cx, "ap_req", "AP-REQ");
                ap_request(cx, m, app, entries.depth() + 2);
            }
        }
    }
}

void etype_line(decode_context& cx, const char* key, const char* key_name, long long etype) {
    zelk_printf(cx.out, "%ld", static_cast<long>(etype));
    const char* name = find_name(encryption_types, static_cast<int>(etype), "unknown");
    if (settings.verbose) zelk_printf(cx.out, " (%s)", name);
    list_number(cx, key, etype);
    list_text(cx, key_name, name);
}

void request_body(decode_context& cx, const message& m, const ber_element& wrapper, unsigned depth, bool all,
                  std::string& note) {
    ber_element body = inner(m, wrapper, depth, "request body missing");
    ber_children parts(m, body, depth + 1);
    std::string cname, realm, sname, till;
    long long nonce = -1;
    ber_element etypes{};
    bool has_etypes = false;
    while (parts.more()) {
        ber_element part = parts.next();
        if (!part.constructed() || part.cls() != ber_context) continue;
        switch (part.tag) {
            case 1: cname = principal(cx, m, part, parts.depth()); break;
            case 2: realm = string_in(cx, m, part, parts.depth(), "realm missing"); break;
            case 3: sname = principal(cx, m, part, parts.depth()); break;
            case 5: till = time_in(cx, m, part, parts.depth()); break;
            case 7: {
                ber_element e = inner(m, part, parts.depth(), "nonce missing");
                if (!e.universal(ber_integer)) throw malformed_message{"nonce missing"};
                nonce = static_cast<long long>(ber_unsigned_value(m, e));
                break;
            }
            case 8:
                etypes = inner(m, part, parts.depth(), "encryption types missing");
                has_etypes = true;
                break;
            default: break;
        }
    }
    if (!cname.empty()) field(cx, "cname", "  Client: %s, ", cname);
    zelk_printf(cx.out, cname.empty() ? "  " : "");
    field(cx, "realm", "Realm: %s\n", realm);
    if (!sname.empty()) field(cx, "sname", "  Server: %s\n", sname);
    if (all || !till.empty()) {
        field(cx, "till", "  Till: %s", till);
        field(cx, "nonce", ", Nonce: %lu\n", static_cast<unsigned long>(nonce));
    }
    if (has_etypes) {
        ber_children list(m, etypes, parts.depth() + 1);
        zelk_printf(cx.out, "  Encryption Types:");
        for (unsigned n = 0; list.more(); ++n) {
            ber_element e = list.next();
            if (n >= max_list) continue;
            zelk_printf(cx.out, n ? ", " : " ");
            etype_line(cx, "etypes", "etypes_name", ber_integer_value(m, e));
        }
        zelk_printf(cx.out, "\n");
    }
    note += " " + (cname.empty() ? sname : cname) + "@" + realm;
}

// EncryptedData ::= SEQUENCE { etype [0], kvno [1] OPTIONAL, cipher [2] }
void encrypted_part(decode_context& cx, const message& m, const ber_element& wrapper, unsigned depth) {
    ber_element seq = inner(m, wrapper, depth, "encrypted part missing");
    ber_children parts(m, seq, depth + 1);
    zelk_printf(cx.out, "  Encrypted Part:");
    while (parts.more()) {
        ber_element part = parts.next();
        if (part.context(0)) {
            long long etype = integer_in(m, part, parts.depth(), "encryption type missing");
            field(cx, "enc_part_etype", " Encryption Type: %ld", static_cast<long>(etype));
            print_name(cx, "enc_part_etype", find_name(encryption_types, static_cast<int>(etype), "unknown"));
        }
        if (part.context(1))
            field(cx, "kvno", ", Key Version: %ld",
                  static_cast<long>(integer_in(m, part, parts.depth(), "key version missing")));
    }
    zelk_printf(cx.out, "\n");
}

void kdc_request(decode_context& cx, const message& m, ber_children& parts, bool all, std::string& note) {
    while (parts.more()) {
        ber_element part = parts.next();
        if (part.context(3)) padata(cx, m, part, parts.depth());
        if (part.context(4)) request_body(cx, m, part, parts.depth(), all, note);
    }
}

void kdc_reply(decode_context& cx, const message& m, ber_children& parts, bool all, std::string& note) {
    std::string crealm, cname;
    while (parts.more()) {
        ber_element part = parts.next();
        if (!part.constructed() || part.cls() != ber_context) continue;
        switch (part.tag) {
            case 2: padata(cx, m, part, parts.depth()); break;
            case 3: crealm = string_in(cx, m, part, parts.depth(), "client realm missing"); break;
            case 4:
                cname = principal(cx, m, part, parts.depth());
                field(cx, "cname", "  Client: %s", cname);
                field(cx, "realm", ", Realm: %s\n", crealm);
                break;
            case 5: ticket(cx, m, part, parts.depth(), "ticket", "Ticket"); break;
            case 6:
                if (all) encrypted_part(cx, m, part, parts.depth());
                break;
            default: break;
        }
    }
    note += " " + cname + "@" + crealm;
}

void error(decode_context& cx, const message& m, ber_children& parts, bool all, std::string& note) {
    std::string realm, sname, crealm, cname, text, stime;
    long long code = -1;
    while (parts.more()) {
        ber_element part = parts.next();
        if (!part.constructed() || part.cls() != ber_context) continue;
        switch (part.tag) {
            case 4: stime = time_in(cx, m, part, parts.depth()); break;
            case 6: code = integer_in(m, part, parts.depth(), "error code missing"); break;
            case 7: crealm = string_in(cx, m, part, parts.depth(), "client realm missing"); break;
            case 8: cname = principal(cx, m, part, parts.depth()); break;
            case 9: realm = string_in(cx, m, part, parts.depth(), "realm missing"); break;
            case 10: sname = principal(cx, m, part, parts.depth()); break;
            case 11: text = string_in(cx, m, part, parts.depth(), "e-text missing"); break;
            default: break;
        }
    }
    const char* name = find_name(error_codes, static_cast<int>(code), "unknown");
    field(cx, "error_code", "  Error: %ld", static_cast<long>(code));
    print_name(cx, "error_code", name);
    zelk_printf(cx.out, "\n");
    field(cx, "realm", "  Realm: %s", realm);
    field(cx, "sname", ", Server: %s\n", sname);
    if (!cname.empty()) {
        field(cx, "cname", "  Client: %s", cname);
        field(cx, "crealm", ", Client Realm: %s\n", crealm);
    }
    if (all && !stime.empty()) field(cx, "stime", "  Server Time: %s\n", stime);
    if (!text.empty()) field(cx, "e_text", "  E-Text: %s\n", text);
    note += std::string(" ") + name;
}

// One Kerberos message in [at, end).
void decode_message(decode_context& cx, const message& m, size_t at, size_t end, bool all, std::string& summary) {
    ber_element app = ber_read(m, at, end);
    if (app.cls() != ber_application || !app.constructed()) throw malformed_message{"not a Kerberos message"};
    const char* name = find_name(message_types, static_cast<int>(app.tag), "unknown");
    ber_element seq = ber_read(m, app.value, app.end(), 1);
    if (!seq.universal(ber_sequence)) throw malformed_message{"not a Kerberos message"};
    ber_children parts(m, seq, 1);
    // pvno and msg-type lead: [1] and [2] in requests, [0] and [1] elsewhere.
    bool request = app.tag == 10 || app.tag == 12;
    ber_element part;
    long long pvno = -1, type = -1;
    if (parts.next_context(request ? 1 : 0, part)) pvno = integer_in(m, part, parts.depth(), "pvno missing");
    if (parts.next_context(request ? 2 : 1, part)) type = integer_in(m, part, parts.depth(), "msg-type missing");
    item(cx, "messages");
    item_closer close(cx);
    field(cx, "msg_type", "  Message: %ld", static_cast<long>(type));
    print_name(cx, "msg_type", find_name(message_types, static_cast<int>(type), "unknown"));
    field(cx, "pvno", ", Version: %ld\n", static_cast<long>(pvno));
    if (type != static_cast<long long>(app.tag))
        zelk_printf(cx.out, "  [message type differs from its tag %u]\n", app.tag);
    std::string note = name;
    if (request)
        kdc_request(cx, m, parts, all, note);
    else if (app.tag == 11 || app.tag == 13)
        kdc_reply(cx, m, parts, all, note);
    else if (app.tag == 30)
        error(cx, m, parts, all, note);
    else if (app.tag == 14)
        ap_request(cx, m, app, 0);
    if (!summary.empty()) summary += "; ";
    summary += note;
}

void decode(decode_context& cx, const frame_lengths*, const uint8_t* frame, unsigned offset, bool tcp) {
    layer(cx, "kerberos", "- Kerberos -\n");
    bump(cx.counters.kerberos);
    message m = payload_message(cx, frame, offset);
    m.continues = tcp;
    bool all = expanded(settings.expand_all);
    std::string summary;
    try {
        if (!tcp) {
            decode_message(cx, m, 0, m.length, all, summary);
        } else if (m.length >= 5 && (m.u8(4) & 0xe0) != 0x60) {
            // The rest of a message that began in an earlier segment.
            field(cx, "continuation_length", "  Continuation: %lu bytes\n", static_cast<unsigned long>(m.length));
            summary = "continuation";
        } else {
            size_t at = 0;
            for (unsigned n = 0; at < m.length && n < max_messages; ++n) {
                uint32_t length = m.be32(at);
                if (length & 0x80000000u) throw malformed_message{"record length with the reserved bit set"};
                field(cx, "record_length", "  Record Length: %u\n", length);
                at += 4;
                if (length > m.length - at) m.past_end();
                decode_message(cx, m, at, at + length, all, summary);
                at += length;
            }
        }
    } catch (const malformed_message& e) {
        report_malformed(cx, e);
    }
    if (!summary.empty()) summary_note(cx, "%s", summary.c_str());
}

}  // namespace

int decode_kerberos(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset) {
    decode(cx, lengths, frame, offset, false);
    return 0;
}

int decode_kerberos_tcp(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset) {
    decode(cx, lengths, frame, offset, true);
    return 0;
}
