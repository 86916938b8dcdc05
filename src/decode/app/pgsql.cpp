#include "decode/app/pgsql.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "decode/app/message.h"
#include "decode/app/tls.h"
#include "decode/decoder.h"

namespace {

// Several small messages often share a segment (a whole extended-query
// exchange, a result set of short rows).
constexpr unsigned max_messages = 256;
// Columns, parameters and fields of one message.
constexpr unsigned max_entries = 4096;
// Query texts and values are shown up to this many bytes.
constexpr size_t max_text = 256;

constexpr uint32_t protocol_3 = 196608;
constexpr uint32_t cancel_request = 80877102;
constexpr uint32_t ssl_request = 80877103;
constexpr uint32_t gssenc_request = 80877104;

constexpr code_name frontend_types[] = {
    {'B', "Bind"},         {'C', "Close"},
    {'D', "Describe"},     {'E', "Execute"},
    {'F', "FunctionCall"}, {'H', "Flush"},
    {'P', "Parse"},        {'Q', "Query"},
    {'S', "Sync"},         {'X', "Terminate"},
    {'d', "CopyData"},     {'c', "CopyDone"},
    {'f', "CopyFail"},     {'p', "Authentication message"},
};
constexpr code_name backend_types[] = {
    {'R', "Authentication"},
    {'K', "BackendKeyData"},
    {'2', "BindComplete"},
    {'3', "CloseComplete"},
    {'C', "CommandComplete"},
    {'d', "CopyData"},
    {'c', "CopyDone"},
    {'G', "CopyInResponse"},
    {'H', "CopyOutResponse"},
    {'W', "CopyBothResponse"},
    {'D', "DataRow"},
    {'I', "EmptyQueryResponse"},
    {'E', "ErrorResponse"},
    {'V', "FunctionCallResponse"},
    {'v', "NegotiateProtocolVersion"},
    {'n', "NoData"},
    {'N', "NoticeResponse"},
    {'A', "NotificationResponse"},
    {'t', "ParameterDescription"},
    {'S', "ParameterStatus"},
    {'1', "ParseComplete"},
    {'s', "PortalSuspended"},
    {'Z', "ReadyForQuery"},
    {'T', "RowDescription"},
};
constexpr code_name authentication_codes[] = {
    {0, "OK"},   {2, "KerberosV5"}, {3, "CleartextPassword"}, {5, "MD5Password"}, {7, "GSS"}, {8, "GSSContinue"},
    {9, "SSPI"}, {10, "SASL"},      {11, "SASLContinue"},     {12, "SASLFinal"},
};
// Error and notice field codes.
constexpr code_name error_fields[] = {
    {'S', "Severity"},       {'V', "Severity (unlocalized)"},
    {'C', "Code"},           {'M', "Message"},
    {'D', "Detail"},         {'H', "Hint"},
    {'P', "Position"},       {'p', "Internal position"},
    {'q', "Internal query"}, {'W', "Where"},
    {'s', "Schema"},         {'t', "Table"},
    {'c', "Column"},         {'d', "Data type"},
    {'n', "Constraint"},     {'F', "File"},
    {'L', "Line"},           {'R', "Routine"},
};
// The common type OIDs of a row description.
constexpr code_name type_oids[] = {
    {16, "bool"},      {17, "bytea"},     {18, "char"},    {19, "name"},   {20, "int8"},        {21, "int2"},
    {23, "int4"},      {25, "text"},      {26, "oid"},     {114, "json"},  {700, "float4"},     {701, "float8"},
    {1042, "bpchar"},  {1043, "varchar"}, {1082, "date"},  {1083, "time"}, {1114, "timestamp"}, {1184, "timestamptz"},
    {1700, "numeric"}, {2950, "uuid"},    {3802, "jsonb"},
};

// The summary's words: the first message's own, then how many followed.
thread_local std::string facts;

void note(const char* format, ...) ZELK_PRINTF_FMT(1, 2);
void note(const char* format, ...) {
    if (!settings.summary || !facts.empty()) return;
    char text[256];
    va_list ap;
    va_start(ap, format);
    vsnprintf(text, sizeof text, format, ap);
    va_end(ap);
    facts = text;
}

// A one-letter code: the letter in text, a one-letter string in the record.
void print_letter(decode_context& cx, const char* key, const char* label, uint8_t c) {
    char letter = static_cast<char>(printable_byte(c) ? c : '.');
    zelk_printf(cx.out, "%s%c", label, letter);
    record_text(cx, key, &letter, 1);
}

// The body of one message: [at, end).
struct body : message_cursor {
    decode_context& cx;
    body(decode_context& context, const message& whole, size_t from, size_t to)
        : message_cursor{whole, from, to, "a field runs past the end of its message"}, cx(context) {}
    // A NUL-terminated string, shown by the character rule.
    std::string text() {
        size_t n = 0;
        while (true) {
            if (n >= left()) throw malformed_message{"a string without its terminating zero"};
            if (m.u8(at + n) == 0) break;
            ++n;
        }
        std::string s = printable_text(cx, m.at(at, n), n < max_text ? n : max_text);
        if (n > max_text) s += "...";
        at += n + 1;
        return s;
    }
};

void startup(decode_context& cx, body& b, uint32_t length) {
    uint32_t code = b.be32();
    const char* what = code == ssl_request      ? "SSLRequest"
                       : code == gssenc_request ? "GSSENCRequest"
                       : code == cancel_request ? "CancelRequest"
                                                : "StartupMessage";
    zelk_printf(cx.out, "  %s", what);
    record_text(cx, "type_name", what);
    field(cx, "length", ", Length: %u", length);
    if (code == ssl_request || code == gssenc_request) {
        zelk_printf(cx.out, "\n");
        note("%s", what);
        return;
    }
    if (code == cancel_request) {
        field(cx, "process_id", ", Process ID: %u\n", b.be32());
        note("%s", what);
        return;
    }
    field(cx, "protocol_major", ", Protocol: %u", code >> 16);
    field(cx, "protocol_minor", ".%u\n", code & 0xffff);
    std::string user, database;
    for (unsigned n = 0; b.left() > 1 && n < max_entries; ++n) {
        std::string name = b.text();
        std::string value = b.text();
        item(cx, "parameters");
        item_closer close(cx);
        field(cx, "name", "  Parameter: %s", name);
        field(cx, "value", " = %s\n", value);
        if (name == "user") user = value;
        if (name == "database") database = value;
    }
    note("StartupMessage user %s%s%s", user.c_str(), database.empty() ? "" : " database ", database.c_str());
}

// Errors and notices: a code byte and a string per field, up to a zero.
void error_fields_of(decode_context& cx, body& b, std::string& text) {
    std::string severity, code;
    for (unsigned n = 0; b.left() && n < max_entries; ++n) {
        uint8_t type = b.u8();
        if (type == 0) break;
        std::string value = b.text();
        if (type == 'S') severity = value;
        if (type == 'C') code = value;
        if (type == 'M') text = value;
        item(cx, "fields");
        item_closer close(cx);
        print_letter(cx, "code", "  ", type);
        zelk_printf(cx.out, " (%s)", find_name(error_fields, type, "unknown"));
        field(cx, "value", ": %s\n", value);
    }
    text = severity + " " + code + " " + text;
}

void authentication(decode_context& cx, body& b) {
    uint32_t code = b.be32();
    const char* name = find_name(authentication_codes, code, "unknown");
    field(cx, "auth_code", "  Authentication: %u", code);
    zelk_printf(cx.out, " (%s)", name);
    record_name(cx, "auth_code", name);
    if (code == 5) {
        field(cx, "salt", ", Salt: 0x%08x", b.be32());
    } else if (code == 10) {
        for (unsigned n = 0; b.left() > 1 && n < max_entries; ++n) {
            std::string mechanism = b.text();
            zelk_printf(cx.out, n ? ", %s" : ", Mechanisms: %s", mechanism.c_str());
            list_text(cx, "mechanisms", mechanism.c_str());
        }
    } else if (code == 11 || code == 12) {
        field(cx, "sasl_data_length", ", Data: %lu bytes", static_cast<unsigned long>(b.left()));
    }
    zelk_printf(cx.out, "\n");
    note("Authentication %s", name);
}

// What the client answers to an authentication request: a password, or
// the SASL messages. Which one is known only from the server's request in
// the other direction; a SASL initial response is told by its mechanism
// name and its length field that fits the rest exactly.
void authentication_answer(decode_context& cx, body& b) {
    size_t nul = 0;
    bool named = false;
    while (nul < b.left() && nul < 64 && b.m.u8(b.at + nul)) ++nul;
    if (nul > 0 && nul < b.left() && b.left() - nul - 1 >= 4) {
        uint32_t n = b.m.be32(b.at + nul + 1);
        named = n == b.left() - nul - 5 || (n == 0xffffffff && b.left() == nul + 5);
    }
    if (named) {
        std::string mechanism = b.text();
        uint32_t n = b.be32();
        zelk_printf(cx.out, "  SASLInitialResponse: %s", mechanism.c_str());
        list_text(cx, "mechanisms", mechanism.c_str());
        field(cx, "sasl_data_length", ", Data: %u bytes\n", n == 0xffffffff ? 0 : n);
        note("SASLInitialResponse %s", mechanism.c_str());
        return;
    }
    // A password is never shown; its length is.
    field(cx, "sasl_data_length", "  Authentication data: %lu bytes\n", static_cast<unsigned long>(b.left()));
    note("authentication data");
}

void row_description(decode_context& cx, body& b) {
    uint16_t count = b.be16();
    field(cx, "column_count", "  Columns: %u\n", count);
    std::string names;
    for (unsigned i = 0; i < count && i < max_entries; ++i) {
        std::string name = b.text();
        uint32_t table = b.be32();
        uint16_t column = b.be16();
        uint32_t type = b.be32();
        b.be16();
        b.be32();
        uint16_t format = b.be16();
        item(cx, "columns");
        item_closer close(cx);
        field(cx, "name", "  Column: %s", name);
        field(cx, "type_oid", ", Type: %u", type);
        print_name(cx, "type_oid", find_name(type_oids, type, "unknown"));
        if (table) field(cx, "table_oid", ", Table: %u", table);
        if (column) field(cx, "column", ", Column: %u", column);
        field(cx, "format", ", Format: %u\n", format);
        if (i < 4) names += (i ? "," : " ") + name;
    }
    note("RowDescription %u column%s%s%s", count, count == 1 ? "" : "s", names.c_str(), count > 4 ? ",..." : "");
}

void data_row(decode_context& cx, body& b) {
    uint16_t count = b.be16();
    unsigned nulls = 0;
    for (unsigned i = 0; i < count && i < max_entries; ++i) {
        uint32_t n = b.be32();
        if (n == 0xffffffff)
            ++nulls;
        else
            b.take(n);
    }
    field(cx, "column_count", "  Columns: %u", count);
    if (nulls) field(cx, "null_count", ", NULL: %u", nulls);
    zelk_printf(cx.out, "\n");
    note("DataRow %u column%s", count, count == 1 ? "" : "s");
}

void frontend_body(decode_context& cx, uint8_t type, body& b) {
    switch (type) {
        case 'Q': {
            std::string query = b.text();
            field(cx, "query", "  Query: %s\n", query);
            note("Query %s", query.c_str());
            return;
        }
        case 'P': {
            std::string statement = b.text();
            std::string query = b.text();
            uint16_t parameters = b.be16();
            field(cx, "statement", "  Statement: %s", statement.empty() ? "(unnamed)" : statement.c_str());
            field(cx, "parameter_count", ", Parameters: %u\n", parameters);
            field(cx, "query", "  Query: %s\n", query);
            note("Parse %s", query.c_str());
            return;
        }
        case 'B': {
            std::string portal = b.text();
            std::string statement = b.text();
            uint16_t formats = b.be16();
            b.take(size_t{formats} * 2);
            uint16_t parameters = b.be16();
            for (unsigned i = 0; i < parameters && i < max_entries; ++i) {
                uint32_t n = b.be32();
                if (n != 0xffffffff) b.take(n);
            }
            field(cx, "portal", "  Portal: %s", portal.empty() ? "(unnamed)" : portal.c_str());
            field(cx, "statement", ", Statement: %s", statement.empty() ? "(unnamed)" : statement.c_str());
            field(cx, "parameter_count", ", Parameters: %u\n", parameters);
            note("Bind, %u parameter%s", parameters, parameters == 1 ? "" : "s");
            return;
        }
        case 'E': {
            std::string portal = b.text();
            field(cx, "portal", "  Portal: %s", portal.empty() ? "(unnamed)" : portal.c_str());
            field(cx, "max_rows", ", Rows: %u\n", b.be32());
            note("Execute");
            return;
        }
        case 'D':
        case 'C': {
            uint8_t what = b.u8();
            std::string name = b.text();
            print_letter(cx, "target", "  Target: ", what);
            zelk_printf(cx.out, what == 'S' ? " (Statement)" : what == 'P' ? " (Portal)" : " (unknown)");
            field(cx, "name", ", Name: %s\n", name.empty() ? "(unnamed)" : name.c_str());
            return;
        }
        case 'p': authentication_answer(cx, b); return;
        case 'f': field(cx, "message", "  Message: %s\n", b.text()); return;
        default: return;
    }
}

void backend_body(decode_context& cx, uint8_t type, body& b) {
    switch (type) {
        case 'R': authentication(cx, b); return;
        case 'S': {
            std::string name = b.text();
            std::string value = b.text();
            field(cx, "name", "  Parameter: %s", name);
            field(cx, "value", " = %s\n", value);
            return;
        }
        case 'K': field(cx, "process_id", "  Process ID: %u\n", b.be32()); return;  // the secret key is not shown
        case 'Z': {
            uint8_t status = b.u8();
            const char* name = status == 'I'   ? "Idle"
                               : status == 'T' ? "Transaction"
                               : status == 'E' ? "Failed transaction"
                                               : "unknown";
            print_letter(cx, "status", "  Status: ", status);
            zelk_printf(cx.out, " (%s)\n", name);
            record_name(cx, "status", name);
            note("ReadyForQuery %s", name);
            return;
        }
        case 'T': row_description(cx, b); return;
        case 'D': data_row(cx, b); return;
        case 'C': {
            std::string tag = b.text();
            field(cx, "tag", "  Tag: %s\n", tag);
            note("CommandComplete %s", tag.c_str());
            return;
        }
        case 'E':
        case 'N': {
            std::string text;
            error_fields_of(cx, b, text);
            note("%s %s", type == 'E' ? "ErrorResponse" : "NoticeResponse", text.c_str());
            return;
        }
        case 't': {
            uint16_t count = b.be16();
            field(cx, "parameter_count", "  Parameters: %u\n", count);
            return;
        }
        case 'A': {
            field(cx, "process_id", "  Process ID: %u", b.be32());
            field(cx, "channel", ", Channel: %s\n", b.text());
            return;
        }
        default: return;
    }
}

// Whether the bytes at `at` are the one-byte answer to an SSL or GSSAPI
// request: 'S' or 'N' alone, or followed by a message type (a letter)
// or a TLS record rather than a length's leading zero.
bool ssl_answer(const message& m, size_t at) {
    uint8_t c = m.u8(at);
    if (c != 'S' && c != 'N' && c != 'G') return false;
    if (m.length - at == 1) return true;
    return m.u8(at + 1) != 0;
}

}  // namespace

size_t pgsql_message_length(const uint8_t* p, size_t n) {
    if (n == 0) return 0;
    // TLS after the SSL request: its own records.
    if (p[0] >= 20 && p[0] <= 24) {
        if (n >= 2 && p[1] != 3) return SIZE_MAX;
        if (n < 5) return 0;
        size_t length = 5u + (size_t{p[3]} << 8 | p[4]);
        return length <= n ? length : 0;
    }
    if ((p[0] == 'S' || p[0] == 'N' || p[0] == 'G') && (n == 1 || p[1] != 0)) return 1;
    // A zero first byte is the length of a startup message (no type byte).
    size_t type = p[0] == 0 ? 0 : 1;
    if (n < type + 4) return 0;
    size_t length = (size_t{p[type]} << 24 | size_t{p[type + 1]} << 16 | size_t{p[type + 2]} << 8 | p[type + 3]);
    if (length < 4 || length > (1u << 30)) return SIZE_MAX;
    return type + length <= n ? type + length : 0;
}

int decode_pgsql(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset) {
    const uint8_t* payload = header_at(cx, frame, offset);
    if (looks_like_tls(cx, payload, ip_message_length(cx, payload))) return decode_tls(cx, lengths, frame, offset);
    layer(cx, "pgsql", "- PostgreSQL -\n");
    bump(cx.counters.pgsql);
    bool frontend = cx.destination_port == 5432 || (cx.source_port != 5432 && cx.destination_port < cx.source_port);
    record_text(cx, "direction", frontend ? "frontend" : "backend");
    // The rest of a message that an earlier segment began: the reassembly
    // shows it whole.
    if (tcp_payload_continues(cx)) {
        zelk_printf(cx.out, "  [continues a message of an earlier segment]\n");
        record_flag(cx, "continuation", true);
        return 0;
    }
    message m = payload_message(cx, frame, offset);
    m.continues = true;
    size_t at = 0;
    unsigned n = 0;
    facts.clear();
    try {
        for (; at < m.length && n < max_messages; ++n) {
            item(cx, "messages");
            item_closer close(cx);
            if (!frontend && ssl_answer(m, at)) {
                uint8_t c = m.u8(at);
                print_letter(cx, "ssl_response", "  SSL Response: ", c);
                zelk_printf(cx.out, c == 'N' ? " (refused)\n" : " (accepted)\n");
                note("SSL response %c", static_cast<char>(c));
                at += 1;
                continue;
            }
            if (frontend && m.u8(at) == 0) {
                uint32_t length = m.be32(at);
                if (length < 8) throw malformed_message{"a startup message shorter than 8 bytes"};
                if (length > m.length - at) m.past_end();
                body b{cx, m, at + 4, at + length};
                startup(cx, b, length);
                at += length;
                continue;
            }
            uint8_t type = m.u8(at);
            uint32_t length = m.be32(at + 1);
            if (length < 4) throw malformed_message{"a message length below 4"};
            const char* name =
                frontend ? find_name(frontend_types, type, "unknown") : find_name(backend_types, type, "unknown");
            print_letter(cx, "type", "  Type: ", type);
            print_name(cx, "type", name);
            field(cx, "length", ", Length: %u\n", length);
            if (length > m.length - at - 1) m.past_end();
            body b{cx, m, at + 5, at + 1 + length};
            if (frontend)
                frontend_body(cx, type, b);
            else
                backend_body(cx, type, b);
            note("%s", name);
            at += 1 + size_t{length};
        }
    } catch (const malformed_message& e) {
        report_malformed(cx, e);
    }
    if (n > 1)
        summary_note(cx, "%s (+%u more)", facts.c_str(), n - 1);
    else if (!facts.empty())
        summary_note(cx, "%s", facts.c_str());
    return 0;
}
