#include "peer.h"

#include <gtest/gtest.h>

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

std::string shell_quoted(const std::string& s) {
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
    std::string command = "tshark -n -r " + shell_quoted(pcap) + " -T fields -E separator=/t -E occurrence=a -E aggregator=,";
    for (const auto& o : options) command += " " + shell_quoted(o);
    if (!display_filter.empty()) command += " -Y " + shell_quoted(display_filter);
    for (const auto& f : fields) command += " -e " + shell_quoted(f);
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

std::string json_values(const std::string& line, const std::string& proto, const std::string& key) {
    std::string layer = json_layer(line, proto);
    std::string wanted = "\"" + key + "\":", joined;
    for (size_t k = layer.find(wanted); k != std::string::npos; k = layer.find(wanted, k + 1)) {
        if (k == 0 || (layer[k - 1] != '{' && layer[k - 1] != ',')) continue;
        size_t v = k + wanted.size();
        std::string value;
        if (layer[v] == '[') {
            // An array: its elements, quotes taken off.
            size_t end = layer.find(']', v);
            for (size_t i = v + 1; i < end; ++i)
                if (layer[i] != '"') value += layer[i];
        } else if (layer[v] == '"') {
            for (size_t i = v + 1; i < layer.size() && layer[i] != '"'; ++i) {
                if (layer[i] == '\\' && i + 1 < layer.size()) ++i;
                value += layer[i];
            }
        } else {
            size_t end = layer.find_first_of(",}]", v);
            value = layer.substr(v, end - v);
        }
        joined += (joined.empty() ? "" : ",") + value;
    }
    return joined;
}

int compare_with_tshark(const std::string& pcap, const std::string& proto, const std::vector<compared>& fields,
                        const std::vector<std::string>& tshark_options) {
    std::vector<std::string> names;
    for (const auto& f : fields) names.push_back(f.tshark);
    auto rows = tshark_fields(pcap, names, "", tshark_options);
    auto lines = nodrix_json_lines(pcap);
    EXPECT_EQ(rows.size(), lines.size());
    int agreed = 0;
    for (size_t i = 0; i < rows.size() && i < lines.size(); ++i)
        for (size_t f = 0; f < fields.size(); ++f) {
            std::string ours = json_values(lines[i], proto, fields[f].key);
            EXPECT_EQ(ours, rows[i][f]) << "frame " << i + 1 << ", " << fields[f].tshark << "\n" << lines[i];
            if (!ours.empty() && ours == rows[i][f]) ++agreed;
        }
    return agreed;
}

std::vector<std::string> json_objects(const std::string& text) {
    std::vector<std::string> objects;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '"') {
            i = skip_value(text, i) - 1;
            continue;
        }
        if (text[i] == '{') objects.push_back(text.substr(i, skip_value(text, i) - i));
    }
    return objects;
}

std::string json_member(const std::string& object, const std::string& key) {
    auto [at, end] = top_member(object, key);
    if (at == std::string::npos) return "";
    std::string value;
    bool array = object[at] == '[';
    for (size_t i = at + (array ? 1 : 0); i < end - (array ? 1 : 0); ++i) {
        if (object[i] == '"') {
            for (++i; i < end && object[i] != '"'; ++i) {
                if (object[i] == '\\' && i + 1 < end) ++i;
                value += object[i];
            }
            continue;
        }
        value += object[i];
    }
    return value;
}

bool have(const std::string& program) { return shell("command -v " + program + " >/dev/null").status == 0; }

bool run_python(const std::string& script) {
    temp_dir dir;
    std::string path = dir.file("script.py");
    FILE* f = fopen(path.c_str(), "w");
    if (!f) return false;
    fputs(script.c_str(), f);
    fclose(f);
    std::string command = python() + " " + shell_quoted(path) + " >/dev/null 2>&1";
    return system(command.c_str()) == 0;
}

}  // namespace test
