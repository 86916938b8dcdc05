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
// Every value of key inside the first `proto` header of a JSON line, in
// order, joined by ',' as tshark joins several occurrences (the elements of
// an array too, without their quotes).
std::string json_values(const std::string& line, const std::string& proto, const std::string& key);

// Every object inside a JSON text (the text itself too when it is one),
// outer ones before the objects they hold.
std::vector<std::string> json_objects(const std::string& text);
// The value of a member of the object itself (not of an object inside
// it), as json_field gives it: strings without quotes, the elements of an
// array joined by ',' without their quotes; "" when absent.
std::string json_member(const std::string& object, const std::string& key);

// A tshark field and the key of nodrix's JSON that holds the same value.
struct compared {
    const char* tshark;
    const char* key;
};
// Compares a capture's frames with tshark's, field by field: every value
// tshark shows, nodrix shows in the first `proto` header of the same frame,
// and none other. Returns how many (non-empty) values agreed.
int compare_with_tshark(const std::string& pcap, const std::string& proto, const std::vector<compared>& fields,
                        const std::vector<std::string>& tshark_options = {});
// True when the program is on the path.
bool have(const std::string& program);

// Runs a python3 script (e.g. one that builds frames with scapy and writes a
// pcap file); true when it exited 0.
bool run_python(const std::string& script);
bool scapy_available();
// The python3 that has Debian's packages (scapy).
std::string python();

}  // namespace test
