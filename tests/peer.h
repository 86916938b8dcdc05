// Comparing with a peer decoder: tshark's field values per frame, and a
// field of nodrix's JSON lines.
#pragma once

#include <string>
#include <vector>

namespace test {

bool tshark_available();
// tshark -r pcap -T fields -e f1 -e f2 ...: one row per frame, one string per
// field (several occurrences joined by ','); empty when tshark failed.
std::vector<std::vector<std::string>> tshark_fields(const std::string& pcap, const std::vector<std::string>& fields,
                                                    const std::string& display_filter = "",
                                                    const std::vector<std::string>& options = {});
// The lines of `nodrix -P pcap --json args...`.
std::vector<std::string> nodrix_json_lines(const std::string& pcap, const std::vector<std::string>& args = {});
// The first value of key in the n-th header of `proto` (0: the outermost,
// the object <proto>; then the elements of <proto>_inner), as text: strings
// without their quotes, numbers and arrays as written; "" when absent.
std::string json_field(const std::string& line, const std::string& proto, const std::string& key, int n = 0);
// The text of the n-th header of `proto` (as for json_field); "" when absent.
std::string json_layer(const std::string& line, const std::string& proto, int n = 0);
// How many headers of `proto` the line holds.
int json_layers(const std::string& line, const std::string& proto);
// Values of a JSON line in document order, as text (strings without their
// quotes). `paths` names them: "proto/key" a member of the header proto
// (and of each element of proto_inner), "proto/key/sub" member sub of the
// object, or of each object of the array, key; an array of values gives
// its elements. Several paths are separated by '|'.
std::vector<std::string> json_values(const std::string& line, const std::string& paths);
// A value of tshark's and one of ours agree: the same text, or numbers of
// the same value (tshark writes some in hex).
bool same_value(const std::string& theirs, const std::string& ours);
// Runs a python3 script (e.g. one that builds frames with scapy and writes a
// pcap file); true when it exited 0.
bool run_python(const std::string& script);
bool scapy_available();
// The python3 that has Debian's packages (scapy).
std::string python();

}  // namespace test
