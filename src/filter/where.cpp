#include "filter/where.h"

#include <arpa/inet.h>
#include <regex.h>

#include <algorithm>
#include <initializer_list>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "driver/settings.h"

// The type of a key's values, as the JSON writer writes them.
enum class where_type : uint8_t {
    integer,
    text,
    address,
    boolean,
    objects,
    integer_list,
    text_list,
    address_list,
    any,
};

namespace {

struct key_row {
    const char* proto;
    const char* key;
    where_type type;
};

constexpr key_row key_table[] = {
#include "filter/where_keys.inc"
};

// The frame's own keys, beside the protocols: frame.number and so on.
enum class frame_key : uint8_t { none, number, captured_length, wire_length, link_type, truncated, malformed };
struct frame_key_row {
    const char* key;
    frame_key which;
    where_type type;
};
constexpr frame_key_row frame_keys[] = {
    {"number", frame_key::number, where_type::integer},
    {"captured_length", frame_key::captured_length, where_type::integer},
    {"wire_length", frame_key::wire_length, where_type::integer},
    {"link_type", frame_key::link_type, where_type::integer},
    {"truncated", frame_key::truncated, where_type::boolean},
    {"malformed", frame_key::malformed, where_type::boolean},
};

enum class op : uint8_t { present, eq, ne, lt, le, gt, ge, contains, matches, in };

const char* op_text(op o) {
    switch (o) {
        case op::present: return "";
        case op::eq: return "==";
        case op::ne: return "!=";
        case op::lt: return "<";
        case op::le: return "<=";
        case op::gt: return ">";
        case op::ge: return ">=";
        case op::contains: return "contains";
        case op::matches: return "matches";
        case op::in: return "in";
    }
    return "";
}

// A signed 64-bit or unsigned 64-bit number, compared exactly.
struct wide {
    bool negative = false;
    uint64_t magnitude = 0;
};

int compare(wide a, wide b) {
    if (a.negative != b.negative) return a.negative ? -1 : 1;
    if (a.magnitude == b.magnitude) return 0;
    bool less = a.magnitude < b.magnitude;
    return (less != a.negative) ? -1 : 1;
}

wide from_signed(long long v) {
    wide w;
    w.negative = v < 0;
    w.magnitude = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
    return w;
}

// An IPv4 or IPv6 address with a prefix length, or a MAC address.
struct address {
    uint8_t family = 0;  // 4, 6, or 'm' for MAC
    uint8_t bytes[16] = {};
    unsigned prefix = 0;  // bits that must match
};

// The value of a hex digit, or -1.
int hex_digit(char c) {
    return c >= '0' && c <= '9'   ? c - '0'
           : c >= 'a' && c <= 'f' ? c - 'a' + 10
           : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                  : -1;
}

bool parse_mac(std::string_view s, uint8_t out[6]) {
    if (s.size() != 17) return false;
    for (int i = 0; i < 6; ++i) {
        if (i > 0 && s[3 * i - 1] != ':' && s[3 * i - 1] != '-') return false;
        unsigned v = 0;
        for (int j = 0; j < 2; ++j) {
            int d = hex_digit(s[3 * i + j]);
            if (d < 0) return false;
            v = v * 16 + static_cast<unsigned>(d);
        }
        out[i] = static_cast<uint8_t>(v);
    }
    return true;
}

// The address a value's text holds; false when it holds none.
bool parse_address(std::string_view s, address& a) {
    if (parse_mac(s, a.bytes)) {
        a.family = 'm';
        a.prefix = 48;
        return true;
    }
    char text[64];
    if (s.empty() || s.size() >= sizeof text) return false;
    memcpy(text, s.data(), s.size());
    text[s.size()] = 0;
    if (inet_pton(AF_INET, text, a.bytes) == 1) {
        a.family = 4;
        a.prefix = 32;
        return true;
    }
    if (inet_pton(AF_INET6, text, a.bytes) == 1) {
        a.family = 6;
        a.prefix = 128;
        return true;
    }
    return false;
}

bool address_matches(const address& pattern, const address& value) {
    if (pattern.family != value.family) return false;
    unsigned whole = pattern.prefix / 8, rest = pattern.prefix % 8;
    if (memcmp(pattern.bytes, value.bytes, whole) != 0) return false;
    if (!rest) return true;
    auto mask = static_cast<uint8_t>(0xff << (8 - rest));
    return (pattern.bytes[whole] & mask) == (value.bytes[whole] & mask);
}

// One literal of an expression.
struct literal {
    enum kind_t : uint8_t { number, range, text, addr, boolean } kind = number;
    wide low, high;  // number: low; range: low..high
    std::string string;
    address where;
    bool truth = false;
};

// Where a key's values stand in the record: entries with this key of these
// kinds (the suffixed JSON keys come from one entry: type_name from a name
// entry of "type", checksum_ok from a verdict of "checksum").
enum class source_kind : uint8_t { plain, name, verdict_ok, verdict_expected, offloaded };
struct source {
    std::string key;
    source_kind how;
};

struct test {
    frame_key frame = frame_key::none;
    std::string proto;               // empty for a frame key
    bool inner_only = false;         // <proto>_inner: every header of the protocol but the first
    std::vector<std::string> items;  // the arrays of objects walked into
    std::vector<source> sources;     // empty: the protocol's presence
    bool objects = false;            // the key is an array of objects: presence only
    where_type type = where_type::any;
    op o = op::present;
    std::vector<literal> values;
    regex_t* pattern = nullptr;
};

struct node {
    enum kind_t : uint8_t { all, any, negate, leaf } kind = leaf;
    std::vector<node> children;
    test t;
};

}  // namespace

struct where_expression {
    node root;
    std::vector<regex_t*> patterns;
    bool lookups = false;
    ~where_expression() {
        for (regex_t* r : patterns) {
            regfree(r);
            delete r;
        }
    }
};

void where_expression_deleter::operator()(where_expression* e) const { delete e; }

namespace {

// --- checking key paths ---

bool is_proto(std::string_view name) {
    for (const key_row& row : key_table)
        if (name == row.proto) return true;
    return false;
}

const key_row* find_key(std::string_view proto, std::string_view key) {
    for (const key_row& row : key_table)
        if (proto == row.proto && key == row.key && *row.key) return &row;
    return nullptr;
}

// Edit distance with transpositions: "prot" is one step from "port".
size_t distance(std::string_view a, std::string_view b) {
    std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
    for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    for (size_t i = 1; i <= a.size(); ++i)
        for (size_t j = 1; j <= b.size(); ++j) {
            size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    return d[a.size()][b.size()];
}

// The closest of `candidates` to `wrong`, or empty when none is close.
std::string closest(const std::string& wrong, const std::vector<std::string>& candidates) {
    std::string best;
    size_t best_distance = std::max<size_t>(2, wrong.size() / 3) + 1;
    for (const std::string& c : candidates) {
        size_t d = distance(wrong, c);
        if (d < best_distance) {
            best_distance = d;
            best = c;
        }
    }
    return best;
}

// --- parsing ---

// Names other tools use for a few keys, for the hint.
constexpr const char* aliases[][2] = {
    {"tls.sni", "tls.server_name"},
    {"http.host", "http.headers.value (with http.headers.name == \"Host\")"},
    {"dns.qry.name", "dns.questions.name"},
    {"frame.len", "frame.wire_length"},
    {"frame.cap_len", "frame.captured_length"},
};

struct parse_error {
    std::string message;
    size_t column;  // from 1
    std::string hint;
};

class parser {
   public:
    parser(const char* text, where_expression& e) : s_(text), e_(e) {}

    node parse() {
        skip();
        if (at_end()) fail("empty expression", 0);
        node n = parse_or();
        skip();
        if (!at_end()) {
            if (s_[at_] == ')') fail("unexpected ) without (", at_);
            fail("unexpected " + quoted_word(at_) + "; expected and, or or the end", at_);
        }
        return n;
    }

   private:
    std::string_view s_;
    where_expression& e_;
    size_t at_ = 0;

    [[noreturn]] void fail(std::string message, size_t where, std::string hint = "") {
        throw parse_error{std::move(message), where + 1, std::move(hint)};
    }

    // The column of the value that starts after `from`'s spaces.
    void skip_space_back(size_t& from) const {
        while (from < s_.size() && (s_[from] == ' ' || s_[from] == '\t')) ++from;
    }
    bool at_end() const { return at_ >= s_.size(); }
    void skip() {
        while (!at_end() && (s_[at_] == ' ' || s_[at_] == '\t' || s_[at_] == '\n' || s_[at_] == '\r')) ++at_;
    }
    static bool word_char(char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '.';
    }
    // The word at `from` as a message shows it.
    std::string quoted_word(size_t from) const {
        size_t end = from;
        while (end < s_.size() && word_char(s_[end])) ++end;
        if (end == from) end = from + 1;
        return std::string(s_.substr(from, end - from));
    }
    // A keyword (and, or, not, in, ...) at the cursor, as a whole word.
    bool keyword(std::string_view word) {
        skip();
        if (s_.substr(at_, word.size()) != word) return false;
        size_t end = at_ + word.size();
        if (end < s_.size() && word_char(s_[end])) return false;
        at_ = end;
        return true;
    }
    bool symbol(std::string_view sym) {
        skip();
        if (s_.substr(at_, sym.size()) != sym) return false;
        at_ += sym.size();
        return true;
    }

    node parse_or() {
        node first = parse_and();
        if (!peek_or()) return first;
        node n;
        n.kind = node::any;
        n.children.push_back(std::move(first));
        while (take_or()) n.children.push_back(parse_and());
        return n;
    }
    bool peek_or() {
        size_t keep = at_;
        bool yes = take_or();
        at_ = keep;
        return yes;
    }
    bool take_or() { return keyword("or") || symbol("||"); }
    bool take_and() { return keyword("and") || symbol("&&"); }

    node parse_and() {
        node first = parse_not();
        size_t keep = at_;
        if (!take_and()) return first;
        at_ = keep;
        node n;
        n.kind = node::all;
        n.children.push_back(std::move(first));
        while (take_and()) n.children.push_back(parse_not());
        return n;
    }

    node parse_not() {
        skip();
        if (keyword("not") || (s_.substr(at_, 1) == "!" && s_.substr(at_, 2) != "!=" && symbol("!"))) {
            node n;
            n.kind = node::negate;
            n.children.push_back(parse_not());
            return n;
        }
        return parse_primary();
    }

    node parse_primary() {
        skip();
        if (at_end()) fail("expected a key or (", at_);
        if (s_[at_] == '(') {
            size_t open = at_++;
            node n = parse_or();
            skip();
            if (at_end() || s_[at_] != ')') fail("unclosed (", open);
            ++at_;
            return n;
        }
        node n;
        n.kind = node::leaf;
        parse_test(n.t);
        return n;
    }

    // PROTO, PROTO.KEY or PROTO.ITEM....KEY, then an operator and value(s).
    void parse_test(test& t) {
        size_t begin = at_;
        char c = s_[at_];
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'))
            fail("expected a key, not " + quoted_word(at_), at_);
        while (!at_end() && word_char(s_[at_])) ++at_;
        std::string path(s_.substr(begin, at_ - begin));
        resolve(path, begin, t);
        skip();
        size_t op_at = at_;
        if (symbol("==") || symbol("=")) {
            t.o = op::eq;
        } else if (symbol("!=")) {
            t.o = op::ne;
        } else if (symbol("<=")) {
            t.o = op::le;
        } else if (symbol(">=")) {
            t.o = op::ge;
        } else if (symbol("<")) {
            t.o = op::lt;
        } else if (symbol(">")) {
            t.o = op::gt;
        } else if (keyword("contains")) {
            t.o = op::contains;
        } else if (keyword("matches")) {
            t.o = op::matches;
        } else if (keyword("in")) {
            t.o = op::in;
        } else {
            t.o = op::present;
            return;
        }
        check_operator(t, path, begin, op_at);
        if (t.o == op::in) {
            skip();
            if (!symbol("{")) fail("expected { after in", at_);
            for (;;) {
                skip();
                if (symbol("}")) break;
                if (at_end()) fail("missing } for the set", at_);
                symbol(",");
                skip();
                if (symbol("}")) break;
                t.values.push_back(parse_value(t, path, true));
            }
            if (t.values.empty()) fail("empty set after in", op_at);
            return;
        }
        size_t value_at = at_;
        t.values.push_back(parse_value(t, path, false));
        const literal& v = t.values.back();
        if ((t.o == op::contains || t.o == op::matches) && v.kind != literal::text) {
            skip_space_back(value_at);
            fail(std::string(op_text(t.o)) + " takes text in double quotes", value_at);
        }
        bool order = t.o == op::lt || t.o == op::le || t.o == op::gt || t.o == op::ge;
        if (order && v.kind != literal::number) {
            skip_space_back(value_at);
            fail(std::string(op_text(t.o)) + " takes a number", value_at);
        }
        if (t.o == op::matches) compile_pattern(t, op_at);
    }

    void resolve(const std::string& path, size_t begin, test& t) {
        std::vector<std::string> parts;
        for (size_t from = 0;;) {
            size_t dot = path.find('.', from);
            parts.push_back(path.substr(from, dot == std::string::npos ? std::string::npos : dot - from));
            if (dot == std::string::npos) break;
            from = dot + 1;
        }
        for (const std::string& p : parts)
            if (p.empty()) fail("empty part in the key " + path, begin);
        std::string proto = parts[0];
        if (proto == "frame") {
            if (parts.size() != 2) fail("frame takes one key, such as frame.wire_length: " + path, begin);
            for (const frame_key_row& f : frame_keys)
                if (parts[1] == f.key) {
                    t.frame = f.which;
                    t.type = f.type;
                    return;
                }
            std::vector<std::string> names;
            for (const frame_key_row& f : frame_keys) names.push_back(std::string("frame.") + f.key);
            std::string best = closest(path, names);
            for (const auto& alias : aliases)
                if (path == alias[0]) best = alias[1];
            unknown("unknown key " + path, begin, best);
        }
        bool inner = false;
        if (!is_proto(proto) && proto.size() > 6 && proto.compare(proto.size() - 6, 6, "_inner") == 0 &&
            is_proto(proto.substr(0, proto.size() - 6))) {
            proto.resize(proto.size() - 6);
            inner = true;
        }
        if (!is_proto(proto)) {
            std::vector<std::string> names;
            for (const key_row& row : key_table)
                if (names.empty() || names.back() != row.proto) names.push_back(row.proto);
            names.push_back("frame");
            std::string best = closest(parts[0], names);
            // A key path of another tool: ip.src, tcp.dstport.
            if (best.empty() && parts.size() > 1) {
                std::vector<std::string> paths;
                for (const key_row& row : key_table) paths.push_back(std::string(row.proto) + "." + row.key);
                best = closest(parts[0] + "." + parts[1], paths);
            }
            if (parts.size() > 1 && !best.empty() && best.find('.') == std::string::npos) {
                // The protocol looks mistyped: suggest the whole path with it.
                std::string with = best;
                for (size_t i = 1; i < parts.size(); ++i) with += "." + parts[i];
                if (find_key(best, parts.back()) || parts.size() > 2) best = with;
            }
            unknown("unknown protocol " + parts[0], begin, best);
        }
        t.proto = proto;
        t.inner_only = inner;
        if (parts.size() == 1) return;
        // Arrays of objects walked into, then the key.
        std::string walked = parts[0];
        for (size_t i = 1; i + 1 < parts.size(); ++i) {
            const key_row* row = find_key(proto, parts[i]);
            if (!row) unknown_key(walked, proto, parts[i], begin, path);
            if (row->type != where_type::objects)
                fail(walked + "." + parts[i] + " is " + type_text(row->type) + ", not an array of objects", begin);
            t.items.push_back(parts[i]);
            walked += "." + parts[i];
        }
        const std::string& key = parts.back();
        const key_row* row = find_key(proto, key);
        if (!row) unknown_key(walked, proto, key, begin, path);
        t.type = row->type;
        t.objects = row->type == where_type::objects;
        t.sources.push_back({key, source_kind::plain});
        auto suffixed = [&](const char* suffix, source_kind how) {
            size_t n = strlen(suffix);
            if (key.size() > n && key.compare(key.size() - n, n, suffix) == 0)
                t.sources.push_back({key.substr(0, key.size() - n), how});
        };
        suffixed("_name", source_kind::name);
        suffixed("_ok", source_kind::verdict_ok);
        suffixed("_expected", source_kind::verdict_expected);
        suffixed("_offloaded", source_kind::offloaded);
        // The JSON writer gives a few keys' text values a key of their own.
        if (proto == "snmp" && key == "value_text") t.sources.push_back({"value", source_kind::plain});
        if (proto == "cdp" && key == "software_version") t.sources.push_back({"version", source_kind::plain});
        size_t n = key.size();
        if ((t.proto == "tcp" || t.proto == "udp") && n > 5 && key.compare(n - 5, 5, "_name") == 0) e_.lookups = true;
        if (key.find("vendor") != std::string::npos) e_.lookups = true;
    }

    [[noreturn]] void unknown(const std::string& message, size_t begin, const std::string& best) {
        fail(message, begin, best.empty() ? "" : "did you mean " + best + "?");
    }

    [[noreturn]] void unknown_key(const std::string& walked, const std::string& proto, const std::string& key,
                                  size_t begin, const std::string& path) {
        std::vector<std::string> names;
        for (const key_row& row : key_table)
            if (proto == row.proto && *row.key) names.push_back(walked + "." + row.key);
        std::string best;
        for (const auto& alias : aliases)
            if (path == alias[0]) best = alias[1];
        if (best.empty()) best = closest(walked + "." + key, names);
        // The same key in a protocol of a like name (ip.src: ipv4.src).
        if (best.empty() && walked == proto) {
            int shown = 0;
            for (const key_row& row : key_table) {
                if (key != row.key || proto == row.proto || distance(proto, row.proto) > 2 || shown == 2) continue;
                ++shown;
                std::string other = std::string(row.proto) + "." + row.key;
                best = best.empty() ? other : best + " or " + other;
            }
        }
        unknown("unknown key " + path, begin, best);
    }

    static const char* type_text(where_type t) {
        switch (t) {
            case where_type::integer: return "a number";
            case where_type::text: return "text";
            case where_type::address: return "an address";
            case where_type::boolean: return "true or false";
            case where_type::objects: return "an array of objects";
            case where_type::integer_list: return "an array of numbers";
            case where_type::text_list: return "an array of text";
            case where_type::address_list: return "an array of addresses";
            case where_type::any: return "a number or text";
        }
        return "";
    }

    // The key's type and the operator: a number has no "contains", text no
    // order, an array of objects only its presence.
    void check_operator(const test& t, const std::string& path, size_t begin, size_t op_at) {
        where_type y = t.type;
        if (t.objects) fail(path + " is an array of objects; compare a key inside it, such as " + path + ".KEY", begin);
        bool number = y == where_type::integer || y == where_type::integer_list || y == where_type::any;
        bool text = y == where_type::text || y == where_type::text_list || y == where_type::address ||
                    y == where_type::address_list || y == where_type::any;
        switch (t.o) {
            case op::lt:
            case op::le:
            case op::gt:
            case op::ge:
                if (!number)
                    fail(std::string(op_text(t.o)) + " needs a number, but " + path + " is " + type_text(y), op_at);
                break;
            case op::contains:
            case op::matches:
                if (!text) fail(std::string(op_text(t.o)) + " needs text, but " + path + " is " + type_text(y), op_at);
                break;
            default: break;
        }
    }

    // A number: decimal or 0x hex, with an optional minus sign.
    bool parse_number(std::string_view w, wide& out) {
        bool negative = !w.empty() && w[0] == '-';
        if (negative) w.remove_prefix(1);
        if (w.empty()) return false;
        int base = 10;
        if (w.size() > 2 && w[0] == '0' && (w[1] == 'x' || w[1] == 'X')) {
            base = 16;
            w.remove_prefix(2);
        }
        uint64_t v = 0;
        for (char c : w) {
            int d = base == 16 ? hex_digit(c) : c >= '0' && c <= '9' ? c - '0' : -1;
            if (d < 0) return false;
            if (v > (UINT64_MAX - static_cast<uint64_t>(d)) / static_cast<uint64_t>(base))
                throw std::overflow_error("");
            v = v * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
        }
        if (negative && v > (1ULL << 63)) throw std::overflow_error("");
        out.negative = negative && v != 0;
        out.magnitude = v;
        return true;
    }

    // An address with an optional /prefix.
    bool parse_address_literal(std::string_view w, address& a, size_t where) {
        size_t slash = w.find('/');
        std::string_view body = w.substr(0, slash);
        if (!parse_address(body, a)) return false;
        if (slash != std::string_view::npos) {
            std::string_view bits = w.substr(slash + 1);
            unsigned most = a.family == 4 ? 32 : a.family == 6 ? 128 : 48;
            unsigned n = 0;
            if (bits.empty() || bits.size() > 3 || a.family == 'm') fail("bad prefix in " + std::string(w), where);
            for (char c : bits) {
                if (c < '0' || c > '9') fail("bad prefix in " + std::string(w), where);
                n = n * 10 + static_cast<unsigned>(c - '0');
            }
            if (n > most)
                fail("prefix /" + std::string(bits) + " is longer than " + std::to_string(most) + " bits", where);
            a.prefix = n;
        }
        return true;
    }

    std::string parse_string(size_t begin) {
        std::string out;
        ++at_;
        for (;;) {
            if (at_end()) fail("unterminated string", begin);
            char c = s_[at_++];
            if (c == '"') return out;
            if (c != '\\') {
                out.push_back(c);
                continue;
            }
            if (at_end()) fail("unterminated string", begin);
            size_t escape_at = at_ - 1;
            char e = s_[at_++];
            switch (e) {
                case '"':
                case '\\': out.push_back(e); break;
                case 'n': out.push_back('\n'); break;
                case 't': out.push_back('\t'); break;
                case 'r': out.push_back('\r'); break;
                case '0': out.push_back('\0'); break;
                case 'x': {
                    int hi = at_ < s_.size() ? hex_digit(s_[at_]) : -1;
                    int lo = at_ + 1 < s_.size() ? hex_digit(s_[at_ + 1]) : -1;
                    if (hi < 0 || lo < 0) fail("\\x needs two hex digits", escape_at);
                    out.push_back(static_cast<char>(hi * 16 + lo));
                    at_ += 2;
                    break;
                }
                default: fail(std::string("unknown escape \\") + e + " in a string", escape_at);
            }
        }
    }

    literal parse_value(const test& t, const std::string& path, bool in_set) {
        skip();
        size_t begin = at_;
        if (at_end() || s_[at_] == ')' || s_[at_] == '}')
            fail(std::string("expected a value after ") + op_text(t.o), at_);
        literal v;
        where_type y = t.type;
        bool number_key = y == where_type::integer || y == where_type::integer_list;
        bool address_key = y == where_type::address || y == where_type::address_list;
        bool text_key = y == where_type::text || y == where_type::text_list;
        if (s_[at_] == '"') {
            v.kind = literal::text;
            v.string = parse_string(begin);
            std::string shown = "\"" + std::string(s_.substr(begin + 1, at_ - begin - 2)) + "\"";
            if (number_key) fail(path + " is a number; " + shown + " is not one", begin);
            if (y == where_type::boolean) fail(path + " is true or false; " + shown + " is neither", begin);
            if (address_key && (t.o == op::eq || t.o == op::ne || t.o == op::in)) {
                if (!parse_address_literal(v.string, v.where, begin))
                    fail(path + " is an address; " + shown + " is not one", begin);
                v.kind = literal::addr;
            }
            return v;
        }
        // A bare word: number, range, address, true or false.
        while (!at_end() && !strchr(" \t\r\n(){},\"=!<>&|~", s_[at_])) ++at_;
        std::string word(s_.substr(begin, at_ - begin));
        if (word.empty()) fail(std::string("expected a value after ") + op_text(t.o), begin);
        if (word == "true" || word == "false") {
            if (y != where_type::boolean && y != where_type::any)
                fail(path + " is " + type_text(y) + "; " + word + " is not", begin);
            v.kind = literal::boolean;
            v.truth = word == "true";
            return v;
        }
        try {
            size_t dots = in_set ? word.find("..") : std::string::npos;
            if (dots != std::string::npos) {
                if (!parse_number(std::string_view(word).substr(0, dots), v.low) ||
                    !parse_number(std::string_view(word).substr(dots + 2), v.high))
                    fail("bad range " + word, begin);
                if (!number_key && y != where_type::any)
                    fail(path + " is " + type_text(y) + "; " + word + " is a range of numbers", begin);
                v.kind = literal::range;
                return v;
            }
            if (parse_number(word, v.low)) {
                v.kind = literal::number;
                if (y == where_type::boolean) {
                    if (v.low.negative || v.low.magnitude > 1)
                        fail(path + " is true or false; " + word + " is neither", begin);
                    v.kind = literal::boolean;
                    v.truth = v.low.magnitude == 1;
                    return v;
                }
                if (text_key) fail(path + " is text; write \"" + word + "\" in quotes", begin);
                if (address_key) fail(path + " is an address; " + word + " is not one", begin);
                return v;
            }
        } catch (const std::overflow_error&) {
            fail("number " + word + " is out of range", begin);
        }
        if (parse_address_literal(word, v.where, begin)) {
            if (number_key || y == where_type::boolean)
                fail(path + " is " + type_text(y) + "; " + word + " is an address", begin);
            if (t.o == op::contains || t.o == op::matches) {
                v.kind = literal::text;
                v.string = word;
                return v;
            }
            v.kind = literal::addr;
            return v;
        }
        fail("expected a value after " + std::string(op_text(t.o)) + ", not " + word + " (text goes in double quotes)",
             begin);
    }

    void compile_pattern(test& t, size_t op_at) {
        auto* r = new regex_t;
        int status = regcomp(r, t.values[0].string.c_str(), REG_EXTENDED | REG_NOSUB);
        if (status != 0) {
            char message[256];
            regerror(status, r, message, sizeof message);
            delete r;
            fail(std::string("bad regular expression (") + message + ")", op_at);
        }
        e_.patterns.push_back(r);
        t.pattern = r;
    }
};

// --- evaluation ---

// A record's key (a literal) against a name of the expression; the first
// letter settles most of them.
bool same_key(const char* key, const std::string& name) {
    return key && key[0] == name[0] && strcmp(key, name.c_str()) == 0;
}

// The index after the item that opens at i (its item_end, or the layer's end).
size_t after_item(const std::vector<record_entry>& entries, size_t i, size_t end) {
    int depth = 0;
    for (size_t j = i; j < end; ++j) {
        if (entries[j].kind == entry_kind::item)
            ++depth;
        else if (entries[j].kind == entry_kind::item_end && --depth == 0)
            return j + 1;
    }
    return end;
}

bool text_test(const test& t, std::string_view value) {
    switch (t.o) {
        case op::contains: return value.find(t.values[0].string) != std::string_view::npos;
        case op::matches: {
            thread_local std::string copy;
            copy.assign(value);
            return regexec(t.pattern, copy.c_str(), 0, nullptr, 0) == 0;
        }
        default: break;
    }
    address parsed;
    bool have_address = false, tried = false;
    for (const literal& v : t.values) {
        if (v.kind == literal::text) {
            if (value == v.string) return true;
        } else if (v.kind == literal::addr) {
            if (!tried) {
                have_address = parse_address(value, parsed);
                tried = true;
            }
            if (have_address && address_matches(v.where, parsed)) return true;
        }
    }
    return false;
}

bool number_test(const test& t, wide value, bool is_boolean) {
    for (const literal& v : t.values) {
        int c;
        if (v.kind == literal::boolean) {
            if (!is_boolean && !(value.magnitude <= 1 && !value.negative)) continue;
            c = (value.magnitude != 0) == v.truth ? 0 : 1;
        } else if (v.kind == literal::number) {
            c = compare(value, v.low);
        } else if (v.kind == literal::range) {
            if (compare(value, v.low) >= 0 && compare(value, v.high) <= 0) return true;
            continue;
        } else {
            continue;
        }
        switch (t.o) {
            case op::eq:
            case op::ne:
            case op::in:
                if (c == 0) return true;
                break;
            case op::lt: return c < 0;
            case op::le: return c <= 0;
            case op::gt: return c > 0;
            case op::ge: return c >= 0;
            default: break;
        }
    }
    return false;
}

// Whether one entry is a value of the test's key, and if so whether it
// satisfies the comparison (== for !=, which is judged over all values).
enum class verdict : uint8_t { not_a_value, no, yes };

verdict judge_entry(const test& t, const frame_record_data& r, const record_entry& e) {
    for (const source& s : t.sources) {
        if (!same_key(e.key, s.key)) continue;
        bool numeric = false, boolean = false;
        wide n;
        std::string_view text;
        switch (s.how) {
            case source_kind::plain:
                switch (e.kind) {
                    case entry_kind::number:
                    case entry_kind::list_number:
                        numeric = true;
                        n = from_signed(e.number);
                        break;
                    case entry_kind::unsigned_number:
                        numeric = true;
                        n.magnitude = static_cast<uint64_t>(e.number);
                        break;
                    case entry_kind::boolean:
                        numeric = boolean = true;
                        n.magnitude = e.number != 0;
                        break;
                    case entry_kind::text:
                    case entry_kind::list_text: text = entry_text(r, e); break;
                    case entry_kind::item:
                        if (t.o == op::present) return verdict::yes;
                        continue;
                    default: continue;
                }
                break;
            case source_kind::name:
                if (e.kind != entry_kind::name) continue;
                text = entry_text(r, e);
                if (text == "unknown" || text == "Unknown") continue;  // left out of JSON too
                break;
            case source_kind::verdict_ok:
                if (e.kind != entry_kind::verdict) continue;
                numeric = boolean = true;
                n.magnitude = e.text_at != 0;
                break;
            case source_kind::verdict_expected:
                if (e.kind != entry_kind::verdict) continue;
                numeric = true;
                n = from_signed(e.number);
                break;
            case source_kind::offloaded:
                if (e.kind != entry_kind::offloaded) continue;
                numeric = boolean = true;
                n.magnitude = 1;
                break;
        }
        if (t.o == op::present) return verdict::yes;
        bool ok = numeric ? number_test(t, n, boolean) : text_test(t, text);
        return ok ? verdict::yes : verdict::no;
    }
    return verdict::not_a_value;
}

// Walks one object's entries [begin, end) at one level, into the test's
// arrays of objects; `found` notes that the key had a value at all.
bool walk(const test& t, const frame_record_data& r, size_t begin, size_t end, size_t depth, bool& found) {
    const std::vector<record_entry>& entries = r.entries;
    for (size_t i = begin; i < end;) {
        const record_entry& e = entries[i];
        if (e.kind == entry_kind::item) {
            // A key is found at any depth below the arrays the path names.
            size_t next = after_item(entries, i, end);
            if (depth == t.items.size() && judge_entry(t, r, e) == verdict::yes) return true;
            bool named = depth < t.items.size() && same_key(e.key, t.items[depth]);
            if (walk(t, r, i + 1, next, named ? depth + 1 : depth, found)) return true;
            i = next;
            continue;
        }
        if (depth == t.items.size()) {
            verdict v = judge_entry(t, r, e);
            if (v != verdict::not_a_value) found = true;
            if (v == verdict::yes) return true;
        }
        ++i;
    }
    return false;
}

wide frame_value(const test& t, const frame_record_data& r) {
    wide w;
    switch (t.frame) {
        case frame_key::number: w.magnitude = r.number; break;
        case frame_key::captured_length: w.magnitude = r.captured_length; break;
        case frame_key::wire_length: w.magnitude = r.wire_length; break;
        case frame_key::link_type: w = from_signed(r.link_type); break;
        case frame_key::truncated: w.magnitude = r.truncated; break;
        case frame_key::malformed: w.magnitude = r.malformed; break;
        case frame_key::none: break;
    }
    return w;
}

bool test_frame(const test& t, const frame_record_data& r) {
    if (t.frame != frame_key::none) {
        bool boolean = t.type == where_type::boolean;
        if (t.o == op::present) return !boolean || frame_value(t, r).magnitude != 0;
        // For != the test reports equality, as for ==.
        bool result = number_test(t, frame_value(t, r), boolean);
        return t.o == op::ne ? !result : result;
    }
    const std::vector<record_entry>& entries = r.entries;
    bool found = false, seen_first = false;
    for (size_t i = 0; i < entries.size(); ++i) {
        const record_entry& e = entries[i];
        if (e.kind != entry_kind::layer || !same_key(e.key, t.proto)) continue;
        if (t.inner_only && !seen_first) {
            seen_first = true;
            continue;
        }
        seen_first = true;
        if (t.sources.empty()) return true;
        size_t end = i + 1;
        while (end < entries.size() && entries[end].kind != entry_kind::layer) ++end;
        if (walk(t, r, i + 1, end, 0, found)) return t.o != op::ne ? true : false;
        i = end - 1;
    }
    // != holds when the key has values and none of them is the literal.
    return t.o == op::ne && found;
}

bool evaluate(const node& n, const frame_record_data& r) {
    switch (n.kind) {
        case node::all:
            for (const node& c : n.children)
                if (!evaluate(c, r)) return false;
            return true;
        case node::any:
            for (const node& c : n.children)
                if (evaluate(c, r)) return true;
            return false;
        case node::negate: return !evaluate(n.children[0], r);
        case node::leaf: return test_frame(n.t, r);
    }
    return false;
}

}  // namespace

where_program where_compile(const char* text, std::string& error) {
    where_program e(new where_expression);
    try {
        parser p(text, *e);
        e->root = p.parse();
    } catch (const parse_error& failure) {
        error = failure.message + " at column " + std::to_string(failure.column);
        if (!failure.hint.empty()) error += "; " + failure.hint;
        return nullptr;
    }
    return e;
}

bool where_matches(const where_expression& e, const frame_record_data& r) { return evaluate(e.root, r); }

bool where_needs_lookups(const where_expression& e) { return e.lookups; }

namespace {

// The keys that identify a direction of a conversation, by protocol; an
// empty list: the protocol's presence only.
struct early_row {
    const char* proto;
    std::initializer_list<const char*> keys;
};
const early_row early_keys[] = {
    {"ethernet", {"src", "dst"}}, {"vlan", {"vlan_id"}},           {"ipv4", {"src", "dst", "protocol"}},
    {"ipv6", {"src", "dst", "next_header"}}, {"tcp", {"src_port", "dst_port"}}, {"udp", {"src_port", "dst_port"}},
};

bool settles_early(const node& n) {
    if (n.kind != node::leaf) {
        for (const node& c : n.children)
            if (!settles_early(c)) return false;
        return true;
    }
    const test& t = n.t;
    switch (t.frame) {
        case frame_key::number:
        case frame_key::captured_length:
        case frame_key::wire_length:
        case frame_key::link_type: return true;
        case frame_key::truncated:
        case frame_key::malformed: return false;
        case frame_key::none: break;
    }
    if (!t.items.empty()) return false;
    for (const early_row& row : early_keys) {
        if (t.proto != row.proto) continue;
        for (const source& s : t.sources) {
            if (s.how != source_kind::plain) return false;
            bool known = false;
            for (const char* key : row.keys) known = known || s.key == key;
            if (!known) return false;
        }
        return true;
    }
    return false;
}

}  // namespace

bool where_settles_early(const where_expression& e) { return settles_early(e.root); }

const where_expression* where_filter = nullptr;
bool where_early = false;

void start_where_filter() {
    if (!settings.where) return;
    std::string error;
    static where_program program;
    program = where_compile(settings.where, error);
    if (!program) {
        fprintf(stderr, "nodrix: --where: %s\n", error.c_str());
        exit(1);
    }
    where_filter = program.get();
    where_early = where_settles_early(*program);
    settings.where_lookups = where_needs_lookups(*program);
}
