#include "decode/app/tls.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>

#include "decode/app/app_text.h"
#include "decode/app/x509.h"
#include "decode/decoder.h"

namespace {

const char* content_type_name(uint8_t type) {
    static constexpr code_name names[] = {
        {20, "ChangeCipherSpec"}, {21, "Alert"}, {22, "Handshake"}, {23, "Application Data"}, {24, "Heartbeat"},
    };
    return find_name(names, type, "unknown");
}

bool is_grease(uint16_t v) { return (v & 0x0f0f) == 0x0a0a && (v >> 8) == (v & 0xff); }

const char* version_name(uint16_t version) {
    static constexpr code_name names[] = {
        {0x0300, "SSL 3.0"}, {0x0301, "TLS 1.0"}, {0x0302, "TLS 1.1"}, {0x0303, "TLS 1.2"}, {0x0304, "TLS 1.3"},
    };
    return is_grease(version) ? "GREASE" : find_name(names, version, "unknown");
}

const char* handshake_name(uint8_t type) {
    static constexpr code_name names[] = {
        {0, "HelloRequest"},        {1, "ClientHello"},         {2, "ServerHello"},        {4, "NewSessionTicket"},
        {5, "EndOfEarlyData"},      {8, "EncryptedExtensions"}, {11, "Certificate"},       {12, "ServerKeyExchange"},
        {13, "CertificateRequest"}, {14, "ServerHelloDone"},    {15, "CertificateVerify"}, {16, "ClientKeyExchange"},
        {20, "Finished"},           {22, "CertificateStatus"},  {24, "KeyUpdate"},         {254, "MessageHash"},
    };
    return find_name(names, type, "unknown");
}

const char* cipher_suite_name(uint16_t suite) {
    static constexpr code_name names[] = {
        {0x0000, "TLS_NULL_WITH_NULL_NULL"},
        {0x000a, "TLS_RSA_WITH_3DES_EDE_CBC_SHA"},
        {0x002f, "TLS_RSA_WITH_AES_128_CBC_SHA"},
        {0x0033, "TLS_DHE_RSA_WITH_AES_128_CBC_SHA"},
        {0x0035, "TLS_RSA_WITH_AES_256_CBC_SHA"},
        {0x0039, "TLS_DHE_RSA_WITH_AES_256_CBC_SHA"},
        {0x003c, "TLS_RSA_WITH_AES_128_CBC_SHA256"},
        {0x003d, "TLS_RSA_WITH_AES_256_CBC_SHA256"},
        {0x0067, "TLS_DHE_RSA_WITH_AES_128_CBC_SHA256"},
        {0x006b, "TLS_DHE_RSA_WITH_AES_256_CBC_SHA256"},
        {0x009c, "TLS_RSA_WITH_AES_128_GCM_SHA256"},
        {0x009d, "TLS_RSA_WITH_AES_256_GCM_SHA384"},
        {0x009e, "TLS_DHE_RSA_WITH_AES_128_GCM_SHA256"},
        {0x009f, "TLS_DHE_RSA_WITH_AES_256_GCM_SHA384"},
        {0x00ff, "TLS_EMPTY_RENEGOTIATION_INFO_SCSV"},
        {0x1301, "TLS_AES_128_GCM_SHA256"},
        {0x1302, "TLS_AES_256_GCM_SHA384"},
        {0x1303, "TLS_CHACHA20_POLY1305_SHA256"},
        {0x1304, "TLS_AES_128_CCM_SHA256"},
        {0x1305, "TLS_AES_128_CCM_8_SHA256"},
        {0x5600, "TLS_FALLBACK_SCSV"},
        {0xc009, "TLS_ECDHE_ECDSA_WITH_AES_128_CBC_SHA"},
        {0xc00a, "TLS_ECDHE_ECDSA_WITH_AES_256_CBC_SHA"},
        {0xc013, "TLS_ECDHE_RSA_WITH_AES_128_CBC_SHA"},
        {0xc014, "TLS_ECDHE_RSA_WITH_AES_256_CBC_SHA"},
        {0xc023, "TLS_ECDHE_ECDSA_WITH_AES_128_CBC_SHA256"},
        {0xc024, "TLS_ECDHE_ECDSA_WITH_AES_256_CBC_SHA384"},
        {0xc027, "TLS_ECDHE_RSA_WITH_AES_128_CBC_SHA256"},
        {0xc028, "TLS_ECDHE_RSA_WITH_AES_256_CBC_SHA384"},
        {0xc02b, "TLS_ECDHE_ECDSA_WITH_AES_128_GCM_SHA256"},
        {0xc02c, "TLS_ECDHE_ECDSA_WITH_AES_256_GCM_SHA384"},
        {0xc02f, "TLS_ECDHE_RSA_WITH_AES_128_GCM_SHA256"},
        {0xc030, "TLS_ECDHE_RSA_WITH_AES_256_GCM_SHA384"},
        {0xcca8, "TLS_ECDHE_RSA_WITH_CHACHA20_POLY1305_SHA256"},
        {0xcca9, "TLS_ECDHE_ECDSA_WITH_CHACHA20_POLY1305_SHA256"},
        {0xccaa, "TLS_DHE_RSA_WITH_CHACHA20_POLY1305_SHA256"},
    };
    return is_grease(suite) ? "GREASE" : find_name(names, suite, "unknown");
}

const char* extension_name(uint16_t type) {
    static constexpr code_name names[] = {
        {0, "server_name"},
        {1, "max_fragment_length"},
        {5, "status_request"},
        {10, "supported_groups"},
        {11, "ec_point_formats"},
        {13, "signature_algorithms"},
        {14, "use_srtp"},
        {15, "heartbeat"},
        {16, "application_layer_protocol_negotiation"},
        {18, "signed_certificate_timestamp"},
        {21, "padding"},
        {22, "encrypt_then_mac"},
        {23, "extended_master_secret"},
        {27, "compress_certificate"},
        {28, "record_size_limit"},
        {35, "session_ticket"},
        {41, "pre_shared_key"},
        {42, "early_data"},
        {43, "supported_versions"},
        {44, "cookie"},
        {45, "psk_key_exchange_modes"},
        {47, "certificate_authorities"},
        {49, "post_handshake_auth"},
        {50, "signature_algorithms_cert"},
        {51, "key_share"},
        {57, "quic_transport_parameters"},
        {0xfe0d, "encrypted_client_hello"},
        {0xff01, "renegotiation_info"},
    };
    return is_grease(type) ? "GREASE" : find_name(names, type, "unknown");
}

const char* group_name(uint16_t group) {
    static constexpr code_name names[] = {
        {23, "secp256r1"},  {24, "secp384r1"},  {25, "secp521r1"},          {29, "x25519"},
        {30, "x448"},       {256, "ffdhe2048"}, {257, "ffdhe3072"},         {258, "ffdhe4096"},
        {259, "ffdhe6144"}, {260, "ffdhe8192"}, {0x11ec, "X25519MLKEM768"}, {0x6399, "X25519Kyber768Draft00"},
    };
    return is_grease(group) ? "GREASE" : find_name(names, group, "unknown");
}

// A 16-bit code and, under --verbose, its name; numbers and names are
// recorded as parallel arrays <key> and <key>_name.
void print_code_list_entry(decode_context& cx, const char* key, const char* key_name, uint16_t code, const char* name) {
    zelk_printf(cx.out, " 0x%04x", code);
    if (settings.verbose) zelk_printf(cx.out, " (%s)", name);
    list_number(cx, key, code);
    list_text(cx, key_name, name);
}

// The facts the summary line gives for this segment's records.
struct summary_words {
    decode_context& cx;
    std::string text;
    const char* last = nullptr;
    // Records of one kind in a row are named once.
    void add(const char* word) {
        if (!settings.summary || word == last) return;
        last = word;
        if (!text.empty()) text += ", ";
        text += word;
        summary_note(cx, "%s", text.c_str());
    }
    void append(const std::string& more) {
        if (!settings.summary) return;
        text += more;
        summary_note(cx, "%s", text.c_str());
    }
};

struct hello_facts {
    std::string server_name;
    bool has_selected_version = false;
    uint16_t selected_version = 0;
};

void print_server_names(decode_context& cx, bounded data, bool all, hello_facts& facts) {
    bounded list = data.sub(data.be16());
    while (list.left()) {
        uint8_t type = list.u8();
        uint16_t length = list.be16();
        const uint8_t* name = list.take(length);
        if (type != 0) {
            if (all) zelk_printf(cx.out, "\n      Name Type: %u, Length: %u", type, length);
            continue;
        }
        std::string text = printable_text(cx, name, length);
        if (facts.server_name.empty()) facts.server_name = text;
        if (all) field(cx, "server_name", "\n      Server Name: %s", text.c_str());
    }
}

void print_alpn(decode_context& cx, bounded data) {
    bounded list = data.sub(data.be16());
    zelk_printf(cx.out, "\n      ALPN:");
    while (list.left()) {
        uint8_t length = list.u8();
        std::string text = printable_text(cx, list.take(length), length);
        zelk_printf(cx.out, " %s", text.c_str());
        list_text(cx, "alpn", text.c_str());
    }
}

void print_versions(decode_context& cx, bounded data, bool client) {
    zelk_printf(cx.out, client ? "\n      Supported Versions:" : "\n      Selected Version:");
    if (client) {
        bounded list = data.sub(data.u8());
        while (list.left()) {
            uint16_t v = list.be16();
            print_code_list_entry(cx, "supported_versions", "supported_versions_name", v, version_name(v));
        }
    } else {
        uint16_t v = data.be16();
        field(cx, "selected_version", " 0x%04x", v);
        print_name(cx, "selected_version", version_name(v));
    }
}

void print_groups(decode_context& cx, bounded data) {
    bounded list = data.sub(data.be16());
    zelk_printf(cx.out, "\n      Supported Groups:");
    while (list.left()) {
        uint16_t g = list.be16();
        print_code_list_entry(cx, "supported_groups", "supported_groups_name", g, group_name(g));
    }
}

void print_key_share_entry(decode_context& cx, bounded& list) {
    uint16_t group = list.be16();
    uint16_t length = list.be16();
    list.take(length);
    item(cx, "key_shares");
    field(cx, "group", "\n      Key Share: Group 0x%04x", group);
    print_name(cx, "group", group_name(group));
    field(cx, "length", ", Length: %u", length);
    item_end(cx);
}

void print_key_share(decode_context& cx, bounded data, uint8_t handshake_type, uint16_t length) {
    if (handshake_type == 1) {
        bounded list = data.sub(data.be16());
        while (list.left()) print_key_share_entry(cx, list);
    } else if (length == 2) {  // HelloRetryRequest: the group alone
        uint16_t group = data.be16();
        field(cx, "selected_group", "\n      Selected Group: 0x%04x", group);
        print_name(cx, "selected_group", group_name(group));
    } else {
        print_key_share_entry(cx, data);
    }
}

void print_extensions(decode_context& cx, bounded& hello, uint8_t handshake_type, bool all, hello_facts& facts) {
    if (!hello.left()) return;
    bounded list = hello.sub(hello.be16());
    if (all) field(cx, "extensions_length", "\n  Extensions Length: %u", static_cast<unsigned>(list.left()));
    while (list.left()) {
        uint16_t type = list.be16();
        uint16_t length = list.be16();
        bounded data = list.sub(length);
        item(cx, "extensions");
        if (all) {
            field(cx, "type", "\n    Extension: %u", type);
            print_name(cx, "type", extension_name(type));
            field(cx, "length", ", Length: %u", length);
        }
        switch (type) {
            case 0:
                if (length) print_server_names(cx, data, all, facts);
                break;
            case 16:
                if (all) print_alpn(cx, data);
                break;
            case 43:
                if (handshake_type != 1 && length >= 2) {
                    facts.has_selected_version = true;
                    facts.selected_version = get_be16(cx, data.p);
                }
                if (all) print_versions(cx, data, handshake_type == 1);
                break;
            case 10:
                if (all) print_groups(cx, data);
                break;
            case 51:
                if (all) print_key_share(cx, data, handshake_type, length);
                break;
            default: break;
        }
        item_end(cx);
    }
}

void print_session_id(decode_context& cx, bounded& hello, bool all) {
    uint8_t length = hello.u8();
    const uint8_t* id = hello.take(length);
    if (!all) return;
    need(cx, id, length);
    field(cx, "session_id_length", "\n  Session ID Length: %u", length);
    if (length) {
        zelk_printf(cx.out, "\n  Session ID: ");
        for (unsigned i = 0; i < length; ++i) zelk_printf(cx.out, "%02x", id[i]);
        record_hex(cx, "session_id", id, length);
    }
}

void print_random(decode_context& cx, const uint8_t* random) {
    need(cx, random, 32);
    zelk_printf(cx.out, "\n  Random: ");
    for (unsigned i = 0; i < 32; ++i) zelk_printf(cx.out, "%02x", random[i]);
    record_hex(cx, "random", random, 32);
}

void decode_client_hello(decode_context& cx, bounded hello, bool all, summary_words& summary) {
    hello_facts facts;
    uint16_t version = hello.be16();
    const uint8_t* random = hello.take(32);
    if (all) {
        field(cx, "hello_version", "\n  Client Version: 0x%04x", version);
        print_name(cx, "hello_version", version_name(version));
        print_random(cx, random);
    }
    print_session_id(cx, hello, all);
    bounded suites = hello.sub(hello.be16());
    if (all) {
        field(cx, "cipher_suites_length", "\n  Cipher Suites Length: %u", static_cast<unsigned>(suites.left()));
        zelk_printf(cx.out, "\n  Cipher Suites:");
    }
    while (suites.left() >= 2) {
        uint16_t suite = suites.be16();
        if (all) print_code_list_entry(cx, "cipher_suites", "cipher_suites_name", suite, cipher_suite_name(suite));
    }
    bounded methods = hello.sub(hello.u8());
    if (all) zelk_printf(cx.out, "\n  Compression Methods:");
    while (methods.left()) {
        uint8_t m = methods.u8();
        if (all) zelk_printf(cx.out, " %u", m);
        list_number(cx, "compression_methods", m);
    }
    print_extensions(cx, hello, 1, all, facts);
    if (!all && !facts.server_name.empty()) field(cx, "server_name", "\n  Server Name: %s", facts.server_name.c_str());
    if (!facts.server_name.empty()) summary.append(" SNI " + facts.server_name);
}

void decode_server_hello(decode_context& cx, bounded hello, bool all, summary_words& summary) {
    hello_facts facts;
    uint16_t version = hello.be16();
    const uint8_t* random = hello.take(32);
    if (all) {
        field(cx, "hello_version", "\n  Server Version: 0x%04x", version);
        print_name(cx, "hello_version", version_name(version));
        print_random(cx, random);
    }
    print_session_id(cx, hello, all);
    uint16_t suite = hello.be16();
    field(cx, "cipher_suite", "\n  Cipher Suite: 0x%04x", suite);
    print_name(cx, "cipher_suite", cipher_suite_name(suite));
    uint8_t method = hello.u8();
    if (all) field(cx, "compression_method", "\n  Compression Method: %u", method);
    print_extensions(cx, hello, 2, all, facts);
    uint16_t selected = facts.has_selected_version ? facts.selected_version : version;
    if (!all && facts.has_selected_version) {
        field(cx, "selected_version", "\n  Selected Version: 0x%04x", selected);
        print_name(cx, "selected_version", version_name(selected));
    }
    summary.append(std::string(" ") + version_name(selected));
}

// Handshake messages that may be longer than their record (RFC 5246
// 6.2.1): those that carry certificates, keys, extensions or tickets, up
// to the longest the reassembly puts together.
bool may_span_records(uint8_t type, uint32_t length) {
    static constexpr uint8_t types[] = {1, 2, 4, 8, 11, 12, 13, 15, 16, 22};
    return length <= tcp_limits{}.handshake - 4 && std::find(std::begin(types), std::end(types), type) != std::end(types);
}

// Handshake messages of one record, or one message put together from
// several. A message of no known type, or one that does not fit its record
// and cannot span records, is taken for an encrypted one (a Finished sent
// after ChangeCipherSpec). Returns how many bytes of the record's last
// message later records hold.
uint32_t decode_handshakes(decode_context& cx, bounded body, bool record_complete, bool all,
                           bool after_change_cipher_spec, summary_words& summary) {
    size_t record_left = body.left();
    uint8_t type = get_u8(cx, body.p);
    uint32_t length = record_left >= 4 ? (uint32_t{get_u8(cx, body.p + 1)} << 16) | get_be16(cx, body.p + 2) : 0;
    bool unknown_type = !strcmp(handshake_name(type), "unknown");
    bool spans = record_complete && length + 4 > record_left;
    if (after_change_cipher_spec || unknown_type || (spans && !may_span_records(type, length))) {
        zelk_printf(cx.out, "\n  Encrypted Handshake Message");
        record_flag(cx, "encrypted", true);
        summary.add("Encrypted Handshake");
        return 0;
    }
    uint32_t rest = 0;
    while (body.left()) {
        if (record_complete && body.left() < 4) {
            // A message whose header the next record completes: how long
            // it is shows there.
            zelk_printf(cx.out, "\n  [message continues in a later record]");
            record_flag(cx, "continues", true);
            return UINT32_MAX;
        }
        type = body.u8();
        length = body.be24();
        item(cx, "handshakes");
        field(cx, "type", "\n  Handshake Type: %u", type);
        print_name(cx, "type", handshake_name(type));
        field(cx, "length", ", Length: %u", length);
        summary.add(handshake_name(type));
        // A message cut by the segment's end goes on in the next one; the
        // record says so.
        bool complete = length <= body.left();
        if (!complete && record_complete) {
            // The message goes on in the next records: the reassembly
            // shows it whole with the record that completes it.
            if (!may_span_records(type, length)) throw overrun{};
            rest = length - static_cast<uint32_t>(body.left());
            zelk_printf(cx.out, "\n  [message continues in a later record]");
            record_flag(cx, "continues", true);
        }
        bounded message = body.sub(complete ? length : body.left());
        try {
            if (type == 1) decode_client_hello(cx, message, all, summary);
            if (type == 2) decode_server_hello(cx, message, all, summary);
            // Certificates are read only whole: a message cut by the
            // segment's end comes again, reassembled, with the segment that
            // completes it.
            if (type == 11 && complete) {
                std::string subject = decode_certificate_list(cx, message.p, message.left(), all);
                if (!subject.empty()) summary.append(" " + subject);
            }
        } catch (const overrun&) {
            if (complete) throw;
        }
        item_end(cx);
    }
    return rest;
}

void decode_alert(decode_context& cx, bounded body) {
    if (body.left() != 2) {
        zelk_printf(cx.out, "\n  Encrypted Alert");
        record_flag(cx, "encrypted", true);
        return;
    }
    field(cx, "alert_level", "\n  Alert Level: %u", body.u8());
    field(cx, "alert_description", ", Description: %u", body.u8());
}

}  // namespace

void decode_tls_handshake_message(decode_context& cx, const uint8_t* message, size_t length) {
    layer(cx, "tls", "- TLS Handshake Message -");
    summary_words summary{cx, {}, {}};
    bounded body{&cx, message, message + length};
    try {
        if (body.left()) decode_handshakes(cx, body, true, expanded(settings.expand_all), false, summary);
    } catch (const overrun&) {
        zelk_printf(cx.out, "\n  [malformed: a length runs past its message]\n");
        record_text(cx, "error", "a length runs past its message");
        return;
    }
    zelk_printf(cx.out, "\n");
}

bool looks_like_tls(decode_context&, const uint8_t* payload, size_t length) {
    return length >= 5 && payload[0] >= 20 && payload[0] <= 24 && payload[1] == 3 && payload[2] <= 4;
}

int decode_tls(decode_context& cx, const frame_lengths*, const uint8_t* frame, unsigned offset) {
    const uint8_t* p = header_at(cx, frame, offset);
    // Lengths are judged against the segment as sent; reads still stop at
    // the captured bytes.
    bounded segment{&cx, p, ip_payload_end(cx)};
    bool all = expanded(settings.expand_all);
    summary_words summary{cx, {}, {}};
    bool after_change_cipher_spec = false;
    // Bytes of a handshake message that earlier records began, which the
    // next handshake record's body begins with.
    uint32_t rest = tls_handshake_rest(cx);
    bump(cx.counters.tls);
    for (bool first = true; segment.left(); first = false) {
        if (first)
            layer(cx, "tls", "- TLS Record -");
        else
            zelk_printf(cx.out, "- TLS Record -");
        if (segment.left() < 5 || !looks_like_tls(cx, segment.p, captured_from(cx, segment.p, 5))) {
            // Not a record header: an earlier record's rest, or not TLS.
            size_t rest = segment.left();
            field(cx, "unknown_length", "\n  Unknown data: %lu bytes\n", static_cast<long>(rest));
            return 0;
        }
        uint8_t type = segment.u8();
        uint16_t version = segment.be16();
        uint16_t length = segment.be16();
        item(cx, "records");
        field(cx, "content_type", "\n  Content Type: %u", type);
        print_name(cx, "content_type", content_type_name(type));
        field(cx, "version", ", Version: 0x%04x", version);
        print_name(cx, "version", version_name(version));
        field(cx, "length", ", Length: %u", length);
        bool complete = length <= segment.left();
        bounded body = segment.sub(complete ? length : segment.left());
        if (type != 22) summary.add(content_type_name(type));
        try {
            if (type == 22 && rest > 0 && !after_change_cipher_spec && body.left()) {
                auto k = static_cast<uint32_t>(std::min<size_t>(rest, body.left()));
                field(cx, "fragment_length", "\n  Handshake Message Fragment: %u bytes", k);
                summary.add("Handshake Fragment");
                body.take(k);
                rest -= k;
            }
            if (type == 22 && body.left()) {
                uint32_t more = decode_handshakes(cx, body, complete, all, after_change_cipher_spec, summary);
                if (complete) rest = more;
            }
            if (type == 21 && complete) decode_alert(cx, body);
        } catch (const overrun&) {
            if (complete) {
                zelk_printf(cx.out, "\n  [malformed: a length runs past its record]\n");
                record_text(cx, "error", "a length runs past its record");
                return 0;
            }
        }
        if (type == 20) after_change_cipher_spec = true;
        if (type == 20 || type == 23) rest = 0;
        if (!complete) {
            zelk_printf(cx.out, "\n  [record continues beyond this segment]");
            record_flag(cx, "continues", true);
        }
        item_end(cx);
        zelk_printf(cx.out, "\n");
    }
    return 0;
}
