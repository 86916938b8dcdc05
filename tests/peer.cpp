#include "peer.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "support.h"

namespace test {

namespace {

std::string quoted(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::string read_command(const std::string& command) {
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (!p) return out;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
    pclose(p);
    return out;
}

}  // namespace

bool tshark_available() { return system("command -v tshark >/dev/null 2>&1") == 0; }

// Debian's interpreter, where Debian's scapy lives, ahead of any other
// python3 on the path.
std::string python() { return access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3"; }

bool scapy_available() { return system((python() + " -c 'import scapy.all' >/dev/null 2>&1").c_str()) == 0; }

std::vector<std::vector<std::string>> tshark_fields(const std::string& pcap, const std::vector<std::string>& fields,
                                                    const std::string& display_filter,
                                                    const std::vector<std::string>& options) {
    std::string command = "tshark -n -r " + quoted(pcap) + " -T fields -E separator=/t -E occurrence=a -E aggregator=,";
    for (const auto& o : options) command += " " + quoted(o);
    if (!display_filter.empty()) command += " -Y " + quoted(display_filter);
    for (const auto& f : fields) command += " -e " + quoted(f);
    command += " 2>/dev/null";
    std::vector<std::vector<std::string>> rows;
    std::istringstream lines(read_command(command));
    std::string line;
    while (std::getline(lines, line)) {
        std::vector<std::string> row;
        size_t start = 0;
        for (;;) {
            size_t tab = line.find('\t', start);
            row.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
            if (tab == std::string::npos) break;
            start = tab + 1;
        }
        row.resize(fields.size());
        rows.push_back(row);
    }
    return rows;
}

std::vector<std::string> nodrix_json_lines(const std::string& pcap, const std::vector<std::string>& args) {
    std::vector<std::string> all = {"-P", pcap, "--json"};
    all.insert(all.end(), args.begin(), args.end());
    run_result r = run_nodrix(all);
    std::vector<std::string> lines;
    std::istringstream in(r.out);
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

namespace {

// One past the JSON value that starts at i.
size_t skip_value(const std::string& s, size_t i) {
    auto skip_text = [&s](size_t at) {
        for (++at; at < s.size() && s[at] != '"'; ++at)
            if (s[at] == '\\') ++at;
        return at;
    };
    if (i < s.size() && s[i] == '"') return skip_text(i) + 1;
    if (i < s.size() && (s[i] == '{' || s[i] == '[')) {
        int depth = 0;
        for (; i < s.size(); ++i) {
            char c = s[i];
            if (c == '"')
                i = skip_text(i);
            else if (c == '{' || c == '[')
                ++depth;
            else if ((c == '}' || c == ']') && --depth == 0)
                return i + 1;
        }
        return s.size();
    }
    while (i < s.size() && s[i] != ',' && s[i] != '}' && s[i] != ']') ++i;
    return i;
}

// [begin, end) of the value of the top-level member key; npos when absent.
std::pair<size_t, size_t> top_member(const std::string& line, const std::string& key) {
    size_t i = 1;
    while (i < line.size() && line[i] == '"') {
        size_t close = line.find('"', i + 1);
        if (close == std::string::npos) break;
        size_t v = close + 2;
        size_t end = skip_value(line, v);
        if (line.compare(i + 1, close - i - 1, key) == 0) return {v, end};
        i = end + 1;
    }
    return {std::string::npos, std::string::npos};
}

// [begin, end) of the n-th header of proto: the object <proto>, then the
// elements of <proto>_inner.
std::pair<size_t, size_t> layer_object(const std::string& line, const std::string& proto, int n) {
    if (n == 0) return top_member(line, proto);
    auto inner = top_member(line, proto + "_inner");
    if (inner.first == std::string::npos) return inner;
    size_t i = inner.first + 1;
    for (int k = 1; i < inner.second && line[i] == '{'; ++k) {
        size_t end = skip_value(line, i);
        if (k == n) return {i, end};
        i = end + 1;
    }
    return {std::string::npos, std::string::npos};
}

}  // namespace

std::string json_layer(const std::string& line, const std::string& proto, int n) {
    auto [at, end] = layer_object(line, proto, n);
    return at == std::string::npos ? std::string() : line.substr(at, end - at);
}

int json_layers(const std::string& line, const std::string& proto) {
    int n = 0;
    while (layer_object(line, proto, n).first != std::string::npos) ++n;
    return n;
}

std::string json_field(const std::string& line, const std::string& proto, const std::string& key, int n) {
    auto [at, end] = layer_object(line, proto, n);
    if (at == std::string::npos) return "";
    std::string wanted = "\"" + key + "\":";
    size_t k = at;
    for (;;) {
        k = line.find(wanted, k + 1);
        if (k == std::string::npos || k >= end) return "";
        if (line[k - 1] == '{' || line[k - 1] == ',') break;
    }
    size_t v = k + wanted.size();
    if (line[v] == '"') {
        std::string text;
        for (size_t i = v + 1; i < line.size() && line[i] != '"'; ++i) {
            if (line[i] == '\\' && i + 1 < line.size()) ++i;
            text += line[i];
        }
        return text;
    }
    return line.substr(v, skip_value(line, v) - v);
}

namespace {

// Walks the JSON value at i, whose path is `path`, collecting the scalars
// whose path is wanted; returns one past the value.
struct value_walker {
    const std::string& s;
    const std::vector<std::string>& wanted;
    std::vector<std::string>& out;

    size_t walk(size_t i, const std::string& path) {
        if (i >= s.size()) return i;
        if (s[i] == '{') {
            for (++i; i < s.size() && s[i] != '}';) {
                if (s[i] == ',') ++i;
                size_t close = s.find('"', i + 1);
                if (s[i] != '"' || close == std::string::npos) return s.size();
                std::string key = s.substr(i + 1, close - i - 1);
                // The further headers of a protocol count as that protocol.
                if (path.empty() && key.size() > 6 && key.compare(key.size() - 6, 6, "_inner") == 0)
                    key.resize(key.size() - 6);
                i = walk(close + 2, path.empty() ? key : path + "/" + key);
            }
            return i + 1;
        }
        if (s[i] == '[') {
            for (++i; i < s.size() && s[i] != ']';) {
                if (s[i] == ',') ++i;
                i = walk(i, path);
            }
            return i + 1;
        }
        size_t end = skip_value(s, i);
        if (std::find(wanted.begin(), wanted.end(), path) != wanted.end()) {
            std::string text;
            if (s[i] == '"') {
                for (size_t k = i + 1; k + 1 < end; ++k) {
                    if (s[k] == '\\' && k + 2 < end) ++k;
                    text += s[k];
                }
            } else {
                text = s.substr(i, end - i);
            }
            out.push_back(text);
        }
        return end;
    }
};

}  // namespace

std::vector<std::string> json_values(const std::string& line, const std::string& paths) {
    std::vector<std::string> wanted, out;
    for (size_t start = 0;;) {
        size_t bar = paths.find('|', start);
        wanted.push_back(paths.substr(start, bar - start));
        if (bar == std::string::npos) break;
        start = bar + 1;
    }
    value_walker{line, wanted, out}.walk(0, "");
    return out;
}

bool same_value(const std::string& theirs, const std::string& ours) {
    if (theirs == ours) return true;
    if (theirs.empty() || ours.empty()) return false;
    errno = 0;
    char *a_end, *b_end;
    unsigned long long a = strtoull(theirs.c_str(), &a_end, 0), b = strtoull(ours.c_str(), &b_end, 10);
    return errno == 0 && *a_end == 0 && *b_end == 0 && a == b && isdigit(static_cast<unsigned char>(theirs[0])) &&
           isdigit(static_cast<unsigned char>(ours[0]));
}

bool run_python(const std::string& script) {
    temp_dir dir;
    std::string path = dir.file("script.py");
    FILE* f = fopen(path.c_str(), "w");
    if (!f) return false;
    fputs(script.c_str(), f);
    fclose(f);
    std::string command = python() + " " + quoted(path) + " >/dev/null 2>&1";
    return system(command.c_str()) == 0;
}

}  // namespace test
