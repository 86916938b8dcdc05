#include "peer.h"

#include <sys/wait.h>
#include <unistd.h>

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

std::string json_field(const std::string& line, const std::string& proto, const std::string& key, int n) {
    std::string marker = "{\"proto\":\"" + proto + "\"";
    size_t at = 0;
    for (int i = 0; i <= n; ++i) {
        at = line.find(marker, i == 0 ? 0 : at + 1);
        if (at == std::string::npos) return "";
    }
    size_t end = line.find("{\"proto\":", at + 1);
    std::string wanted = ",\"" + key + "\":";
    size_t k = line.find(wanted, at);
    if (k == std::string::npos || (end != std::string::npos && k > end)) return "";
    size_t v = k + wanted.size();
    if (line[v] == '"') {
        std::string text;
        for (size_t i = v + 1; i < line.size() && line[i] != '"'; ++i) {
            if (line[i] == '\\' && i + 1 < line.size()) ++i;
            text += line[i];
        }
        return text;
    }
    int depth = 0;
    size_t i = v;
    for (; i < line.size(); ++i) {
        char c = line[i];
        if (c == '[' || c == '{') ++depth;
        if (c == ']' || c == '}') {
            if (depth == 0) break;
            --depth;
        }
        if (c == ',' && depth == 0) break;
    }
    return line.substr(v, i - v);
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
