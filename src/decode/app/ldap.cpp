#include "decode/app/ldap.h"

#include <string>

#include "decode/app/app_text.h"
#include "decode/app/ber.h"
#include "decode/app/message.h"
#include "decode/app/tls.h"
#include "decode/decoder.h"

namespace {

constexpr const char* operations[] = {
    "bindRequest",   "bindResponse",         "unbindRequest",  "searchRequest",   "searchResEntry", "searchResDone",
    "modifyRequest", "modifyResponse",       "addRequest",     "addResponse",     "delRequest",     "delResponse",
    "modDNRequest",  "modDNResponse",        "compareRequest", "compareResponse", "abandonRequest", "unknown",
    "unknown",       "searchResRef",         "unknown",        "unknown",         "unknown",        "extendedReq",
    "extendedResp",  "intermediateResponse",
};

constexpr code_name result_codes[] = {
    {0, "success"},
    {1, "operationsError"},
    {2, "protocolError"},
    {3, "timeLimitExceeded"},
    {4, "sizeLimitExceeded"},
    {5, "compareFalse"},
    {6, "compareTrue"},
    {7, "authMethodNotSupported"},
    {8, "strongerAuthRequired"},
    {10, "referral"},
    {11, "adminLimitExceeded"},
    {12, "unavailableCriticalExtension"},
    {13, "confidentialityRequired"},
    {14, "saslBindInProgress"},
    {16, "noSuchAttribute"},
    {17, "undefinedAttributeType"},
    {18, "inappropriateMatching"},
    {19, "constraintViolation"},
    {20, "attributeOrValueExists"},
    {21, "invalidAttributeSyntax"},
    {32, "noSuchObject"},
    {33, "aliasProblem"},
    {34, "invalidDNSyntax"},
    {36, "aliasDereferencingProblem"},
    {48, "inappropriateAuthentication"},
    {49, "invalidCredentials"},
    {50, "insufficientAccessRights"},
    {51, "busy"},
    {52, "unavailable"},
    {53, "unwillingToPerform"},
    {54, "loopDetect"},
    {64, "namingViolation"},
    {65, "objectClassViolation"},
    {66, "notAllowedOnNonLeaf"},
    {67, "notAllowedOnRDN"},
    {68, "entryAlreadyExists"},
    {69, "objectClassModsProhibited"},
    {71, "affectsMultipleDSAs"},
    {80, "other"},
};

constexpr const char* scopes[] = {"baseObject", "singleLevel", "wholeSubtree"};
constexpr const char* derefs[] = {"neverDerefAliases", "derefInSearching", "derefFindingBaseObj", "derefAlways"};
constexpr const char* changes[] = {"add", "delete", "replace"};

// Several small messages often share a segment; an entry's attributes and
// values are shown up to a bound.
constexpr unsigned max_messages = 256;
constexpr unsigned max_attributes = 64;
constexpr unsigned max_values = 16;
constexpr size_t max_filter_text = 1024;
constexpr size_t max_value_text = 256;

const char* dense(const char* const* names, size_t count, long long v) {
    return v >= 0 && static_cast<size_t>(v) < count ? names[v] : "unknown";
}

std::string text_of(decode_context& cx, const message& m, const ber_element& e) {
    return ber_string(cx, m, e, max_value_text);
}

// An octet string where one is due; anything else is malformed.
ber_element string_in(ber_children& in, const char* what) {
    if (!in.more()) throw malformed_message{what};
    ber_element e = in.next();
    if (e.constructed() || (e.cls() == ber_universal && e.tag != ber_octet_string)) throw malformed_message{what};
    return e;
}

ber_element integer_in(ber_children& in, uint32_t tag, const char* what) {
    if (!in.more()) throw malformed_message{what};
    ber_element e = in.next();
    if (!e.is(ber_universal, false, tag)) throw malformed_message{what};
    return e;
}

// A search filter as the string form of RFC 4515, e.g. "(&(cn=a*)(!(ou=x)))".
void filter_text(decode_context& cx, const message& m, const ber_element& f, unsigned depth, std::string& out) {
    if (depth > 32) throw malformed_message{"filter nesting too deep"};
    if (out.size() > max_filter_text) return;
    if (f.cls() != ber_context) throw malformed_message{"not a search filter"};
    out += '(';
    switch (f.tag) {
        case 0:
        case 1:
        case 2: {
            if (!f.constructed()) throw malformed_message{"not a search filter"};
            out += f.tag == 0 ? '&' : f.tag == 1 ? '|' : '!';
            ber_children parts(m, f, depth);
            while (parts.more()) filter_text(cx, m, parts.next(), depth + 1, out);
            break;
        }
        case 3:
        case 5:
        case 6:
        case 8: {
            ber_children ava(m, f, depth);
            ber_element type = string_in(ava, "filter attribute missing");
            ber_element value = string_in(ava, "filter value missing");
            out += text_of(cx, m, type);
            out += f.tag == 3 ? "=" : f.tag == 5 ? ">=" : f.tag == 6 ? "<=" : "~=";
            out += text_of(cx, m, value);
            break;
        }
        case 4: {
            ber_children sub(m, f, depth);
            out += text_of(cx, m, string_in(sub, "substring attribute missing"));
            out += '=';
            if (!sub.more()) throw malformed_message{"substrings missing"};
            ber_element list = sub.next();
            ber_children pieces(m, list, depth + 1);
            bool first = true, final = false;
            while (pieces.more()) {
                ber_element piece = pieces.next();
                if (!first || piece.tag != 0) out += '*';
                out += text_of(cx, m, piece);
                final = piece.tag == 2;
                first = false;
            }
            if (!final) out += '*';
            break;
        }
        case 7:
            out += text_of(cx, m, f);
            out += "=*";
            break;
        case 9: {
            // type:dn:rule:=value
            ber_children parts(m, f, depth);
            std::string rule, type, value;
            bool dn = false;
            while (parts.more()) {
                ber_element part = parts.next();
                if (part.context(1)) rule = text_of(cx, m, part);
                if (part.context(2)) type = text_of(cx, m, part);
                if (part.context(3)) value = text_of(cx, m, part);
                if (part.context(4) && part.length && m.u8(part.value)) dn = true;
            }
            out += type;
            if (dn) out += ":dn";
            if (!rule.empty()) out += ":" + rule;
            out += ":=" + value;
            break;
        }
        default: throw malformed_message{"not a search filter"};
    }
    out += ')';
}

// LDAPResult: code, matched DN, diagnostic message, referral.
std::string result_fields(decode_context& cx, const message& m, ber_children& in, bool all) {
    ber_element code = integer_in(in, ber_enumerated, "result code missing");
    long long value = ber_integer_value(m, code);
    const char* name = find_name(result_codes, static_cast<int>(value), "unknown");
    field(cx, "result_code", "  Result: %ld", static_cast<long>(value));
    print_name(cx, "result_code", name);
    zelk_printf(cx.out, "\n");
    std::string matched = text_of(cx, m, string_in(in, "matched DN missing"));
    std::string diagnostic = text_of(cx, m, string_in(in, "diagnostic message missing"));
    if (all || !matched.empty()) field(cx, "matched_dn", "  Matched DN: %s\n", matched);
    if (all || !diagnostic.empty()) field(cx, "diagnostic", "  Diagnostic: %s\n", diagnostic);
    ber_element referral;
    if (in.next_context(3, referral)) {
        ber_children uris(m, referral, in.depth());
        while (uris.more()) {
            std::string uri = text_of(cx, m, uris.next());
            field(cx, "referral", "  Referral: %s\n", uri);
        }
    }
    return name;
}

// An attribute and its values: "type: v1, v2", bounded.
void attribute_line(decode_context& cx, const message& m, const ber_element& attribute, unsigned depth,
                    const char* label) {
    ber_children parts(m, attribute, depth);
    std::string type = text_of(cx, m, string_in(parts, "attribute type missing"));
    item(cx, "entry_attributes");
    item_closer close(cx);
    zelk_printf(cx.out, "  %s: ", label);
    field(cx, "type", "%s:", type);
    if (!parts.more()) {
        zelk_printf(cx.out, "\n");
        return;
    }
    ber_element set = parts.next();
    ber_children values(m, set, depth + 1);
    unsigned n = 0;
    while (values.more()) {
        ber_element v = values.next();
        if (++n > max_values) continue;
        std::string text = text_of(cx, m, v);
        zelk_printf(cx.out, n == 1 ? " %s" : ", %s", text.c_str());
        list_text(cx, "values", text.c_str());
    }
    if (n > max_values) zelk_printf(cx.out, " [%u more]", n - max_values);
    record_number(cx, "value_count", n);
    zelk_printf(cx.out, "\n");
}

void attribute_list(decode_context& cx, const message& m, ber_children& in, const char* label) {
    if (!in.more()) return;
    ber_element list = in.next();
    ber_children attributes(m, list, in.depth());
    unsigned n = 0;
    while (attributes.more()) {
        ber_element attribute = attributes.next();
        if (++n <= max_attributes) attribute_line(cx, m, attribute, attributes.depth(), label);
    }
    if (n > max_attributes) zelk_printf(cx.out, "  [%u more attributes]\n", n - max_attributes);
}

void bind_request(decode_context& cx, const message& m, ber_children& in, std::string& note) {
    long long version = ber_integer_value(m, integer_in(in, ber_integer, "bind version missing"));
    std::string name = text_of(cx, m, string_in(in, "bind name missing"));
    field(cx, "version", "  Version: %ld", static_cast<long>(version));
    field(cx, "dn", ", Name: %s", name);
    if (!in.more()) throw malformed_message{"bind authentication missing"};
    ber_element auth = in.next();
    if (auth.context(0)) {
        field(cx, "authentication", ", Authentication: %s", "simple");
        record_number(cx, "password_length", static_cast<long long>(auth.length));
    } else if (auth.context(3)) {
        ber_children sasl(m, auth, in.depth());
        std::string mechanism = text_of(cx, m, string_in(sasl, "SASL mechanism missing"));
        field(cx, "authentication", ", Authentication: %s", "SASL");
        field(cx, "sasl_mechanism", ", Mechanism: %s", mechanism);
        name += name.empty() ? mechanism : " " + mechanism;
    } else {
        zelk_printf(cx.out, ", Authentication: [%u]", auth.tag);
        record_text(cx, "authentication", "unknown");
    }
    zelk_printf(cx.out, "\n");
    if (!name.empty()) note += " " + name;
}

void search_request(decode_context& cx, const message& m, ber_children& in, bool all, std::string& note) {
    std::string base = text_of(cx, m, string_in(in, "search base missing"));
    long long scope = ber_integer_value(m, integer_in(in, ber_enumerated, "search scope missing"));
    long long deref = ber_integer_value(m, integer_in(in, ber_enumerated, "alias dereferencing missing"));
    long long size = ber_integer_value(m, integer_in(in, ber_integer, "size limit missing"));
    long long time = ber_integer_value(m, integer_in(in, ber_integer, "time limit missing"));
    ber_element types_only = integer_in(in, ber_boolean, "typesOnly missing");
    field(cx, "base", "  Base: %s", base);
    field(cx, "scope", ", Scope: %ld", static_cast<long>(scope));
    print_name(cx, "scope", dense(scopes, 3, scope));
    field(cx, "deref", ", Deref: %ld", static_cast<long>(deref));
    print_name(cx, "deref", dense(derefs, 4, deref));
    zelk_printf(cx.out, "\n");
    if (all) {
        field(cx, "size_limit", "  Size Limit: %ld", static_cast<long>(size));
        field(cx, "time_limit", ", Time Limit: %ld", static_cast<long>(time));
        unsigned flag = types_only.length && m.u8(types_only.value) ? 1u : 0u;
        field(cx, "types_only", ", Types Only: %u\n", flag);
    }
    if (!in.more()) throw malformed_message{"search filter missing"};
    std::string filter;
    filter_text(cx, m, in.next(), in.depth(), filter);
    if (filter.size() > max_filter_text) filter = filter.substr(0, max_filter_text) + "...";
    field(cx, "filter", "  Filter: %s\n", filter);
    if (in.more()) {
        ber_element list = in.next();
        ber_children attributes(m, list, in.depth());
        unsigned n = 0;
        while (attributes.more()) {
            std::string name = text_of(cx, m, attributes.next());
            if (++n > max_attributes) continue;
            zelk_printf(cx.out, n == 1 ? "  Attributes: %s" : ", %s", name.c_str());
            list_text(cx, "attributes", name.c_str());
        }
        if (n > max_attributes) zelk_printf(cx.out, " [%u more]", n - max_attributes);
        if (n) zelk_printf(cx.out, "\n");
    }
    note += " " + base + " " + filter;
}

void modify_request(decode_context& cx, const message& m, ber_children& in) {
    if (!in.more()) throw malformed_message{"modification list missing"};
    ber_element list = in.next();
    ber_children list_items(m, list, in.depth());
    unsigned n = 0;
    while (list_items.more()) {
        ber_element change = list_items.next();
        if (++n > max_attributes) continue;
        ber_children parts(m, change, list_items.depth());
        long long operation = ber_integer_value(m, integer_in(parts, ber_enumerated, "modify operation missing"));
        if (!parts.more()) throw malformed_message{"modification missing"};
        item(cx, "changes");
        item_closer close(cx);
        field(cx, "operation", "  Change: %ld", static_cast<long>(operation));
        print_name(cx, "operation", dense(changes, 3, operation));
        zelk_printf(cx.out, "\n");
        ber_element attribute = parts.next();
        attribute_line(cx, m, attribute, parts.depth(), "  Attribute");
    }
    if (n > max_attributes) zelk_printf(cx.out, "  [%u more changes]\n", n - max_attributes);
}

void decode_operation(decode_context& cx, const message& m, const ber_element& op, unsigned depth, bool all,
                      std::string& note) {
    if (op.tag == 2) return;  // unbind: nothing more
    if (op.tag == 10) {
        std::string dn = text_of(cx, m, op);
        field(cx, "dn", "  DN: %s\n", dn);
        note += " " + dn;
        return;
    }
    if (op.tag == 16) {
        if (op.constructed()) throw malformed_message{"abandon request not an INTEGER"};
        field(cx, "abandon_id", "  Abandon ID: %ld\n", static_cast<long>(ber_integer_value(m, op)));
        return;
    }
    if (!op.constructed()) throw malformed_message{"operation not constructed"};
    ber_children in(m, op, depth);
    switch (op.tag) {
        case 0: bind_request(cx, m, in, note); return;
        case 3: search_request(cx, m, in, all, note); return;
        case 4: {
            std::string dn = text_of(cx, m, string_in(in, "entry name missing"));
            field(cx, "dn", "  DN: %s\n", dn);
            attribute_list(cx, m, in, "Attribute");
            note += " " + dn;
            return;
        }
        case 6: {
            std::string dn = text_of(cx, m, string_in(in, "object name missing"));
            field(cx, "dn", "  DN: %s\n", dn);
            modify_request(cx, m, in);
            note += " " + dn;
            return;
        }
        case 8: {
            std::string dn = text_of(cx, m, string_in(in, "entry name missing"));
            field(cx, "dn", "  DN: %s\n", dn);
            attribute_list(cx, m, in, "Attribute");
            note += " " + dn;
            return;
        }
        case 12: {
            std::string dn = text_of(cx, m, string_in(in, "entry name missing"));
            std::string rdn = text_of(cx, m, string_in(in, "new RDN missing"));
            ber_element old = integer_in(in, ber_boolean, "deleteoldrdn missing");
            field(cx, "dn", "  DN: %s", dn);
            field(cx, "new_rdn", ", New RDN: %s", rdn);
            field(cx, "delete_old_rdn", ", Delete Old RDN: %u", old.length && m.u8(old.value) ? 1u : 0u);
            ber_element superior;
            if (in.next_context(0, superior)) field(cx, "new_superior", ", New Superior: %s", text_of(cx, m, superior));
            zelk_printf(cx.out, "\n");
            note += " " + dn;
            return;
        }
        case 14: {
            std::string dn = text_of(cx, m, string_in(in, "entry name missing"));
            if (!in.more()) throw malformed_message{"assertion missing"};
            ber_element ava = in.next();
            ber_children parts(m, ava, in.depth());
            std::string type = text_of(cx, m, string_in(parts, "assertion attribute missing"));
            std::string value = text_of(cx, m, string_in(parts, "assertion value missing"));
            field(cx, "dn", "  DN: %s", dn);
            field(cx, "attribute", ", Assertion: %s", type);
            field(cx, "value", "=%s\n", value);
            note += " " + dn;
            return;
        }
        case 19: {
            while (in.more()) {
                std::string uri = text_of(cx, m, in.next());
                field(cx, "referral", "  Referral: %s\n", uri);
            }
            return;
        }
        case 23: {
            ber_element name;
            if (!in.next_context(0, name)) throw malformed_message{"extended request name missing"};
            std::string oid = text_of(cx, m, name);
            field(cx, "request_name", "  Request Name: %s", oid);
            const char* known = oid_name(oid);
            print_name(cx, "request_name", known ? known : "unknown");
            ber_element value;
            if (in.next_context(1, value))
                field(cx, "request_value_length", ", Value: %lu bytes", static_cast<unsigned long>(value.length));
            zelk_printf(cx.out, "\n");
            note += " " + std::string(known ? known : oid.c_str());
            return;
        }
        case 25: {
            ber_element part;
            if (in.next_context(0, part)) {
                std::string oid = text_of(cx, m, part);
                field(cx, "response_name", "  Response Name: %s\n", oid);
            }
            return;
        }
        default: break;
    }
    if (op.tag == 1 || op.tag == 5 || op.tag == 7 || op.tag == 9 || op.tag == 11 || op.tag == 13 || op.tag == 15 ||
        op.tag == 24) {
        // The responses: an LDAPResult, and for some a little more.
        note += " " + result_fields(cx, m, in, all);
        ber_element part;
        if (op.tag == 1 && in.next_context(7, part))
            field(cx, "sasl_credentials_length", "  SASL Credentials: %lu bytes\n",
                  static_cast<unsigned long>(part.length));
        if (op.tag == 24 && in.next_context(10, part)) {
            std::string oid = text_of(cx, m, part);
            field(cx, "response_name", "  Response Name: %s", oid);
            const char* known = oid_name(oid);
            print_name(cx, "response_name", known ? known : "unknown");
            zelk_printf(cx.out, "\n");
        }
        return;
    }
    zelk_printf(cx.out, "  [operation %u not decoded: %lu bytes]\n", op.tag, static_cast<unsigned long>(op.length));
}

// One LDAPMessage at `at`; returns where the next one starts.
size_t decode_message(decode_context& cx, const message& m, size_t at, bool all, std::string& summary) {
    ber_element top = ber_read(m, at, m.length);
    if (!top.is(ber_universal, true, ber_sequence)) throw malformed_message{"not an LDAP message"};
    ber_children in(m, top);
    long long id = ber_integer_value(m, integer_in(in, ber_integer, "message ID missing"));
    if (!in.more()) throw malformed_message{"protocol operation missing"};
    ber_element op = in.next();
    if (op.cls() != ber_application) throw malformed_message{"protocol operation missing"};
    const char* name = op.tag < sizeof operations / sizeof operations[0] ? operations[op.tag] : "unknown";
    item(cx, "messages");
    item_closer close(cx);
    field(cx, "message_id", "  Message ID: %ld", static_cast<long>(id));
    field(cx, "operation", ", Operation: %u", op.tag);
    print_name(cx, "operation", name);
    zelk_printf(cx.out, "\n");
    std::string note = name;
    decode_operation(cx, m, op, in.depth(), all, note);
    ber_element controls;
    if (in.next_context(0, controls)) {
        ber_children list(m, controls, in.depth());
        while (list.more()) {
            ber_children control(m, list.next(), list.depth());
            std::string oid = text_of(cx, m, string_in(control, "control type missing"));
            const char* known = oid_name(oid);
            if (all) {
                zelk_printf(cx.out, "  Control: %s", oid.c_str());
                if (settings.verbose && known) zelk_printf(cx.out, " (%s)", known);
                zelk_printf(cx.out, "\n");
            }
            list_text(cx, "controls", oid.c_str());
        }
    }
    if (!summary.empty()) summary += "; ";
    summary += note;
    return top.finish;
}

void decode(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset, bool tcp) {
    const uint8_t* p = header_at(cx, frame, offset);
    size_t length = ip_message_length(cx, p);
    // After StartTLS the connection carries TLS records.
    if (tcp && looks_like_tls(cx, p, captured_from(cx, p, length))) {
        decode_tls(cx, lengths, frame, offset);
        return;
    }
    layer(cx, "ldap", "- LDAP -\n");
    bump(cx.counters.ldap);
    message m = payload_message(cx, frame, offset);
    // A TCP segment may end inside a message.
    m.continues = tcp;
    bool all = expanded(settings.expand_all);
    std::string summary;
    size_t at = 0;
    try {
        if (m.continues && m.u8(0) != 0x30) {
            // The rest of a message that began in an earlier segment.
            field(cx, "continuation_length", "  Continuation: %lu bytes\n", static_cast<unsigned long>(m.length));
            summary = "continuation";
        } else {
            for (unsigned n = 0; at < m.length && n < max_messages; ++n) at = decode_message(cx, m, at, all, summary);
        }
    } catch (const malformed_message& e) {
        report_malformed(cx, e);
    }
    if (!summary.empty()) summary_note(cx, "%s", summary.c_str());
}

}  // namespace

int decode_ldap(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset) {
    decode(cx, lengths, frame, offset, false);
    return 0;
}

int decode_ldap_tcp(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset) {
    decode(cx, lengths, frame, offset, true);
    return 0;
}
