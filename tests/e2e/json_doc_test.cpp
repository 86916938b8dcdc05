// docs/json.md is generated from the field-API calls: the committed page
// must list every proto and key the generator finds in today's source, and
// every proto the sample capture produces.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <regex>
#include <set>
#include <sstream>
#include <tuple>
#include <vector>

#include "support.h"

namespace {

const char* const regenerate = "run `python3 tools/gen_json_doc.py --examples build > docs/json.md`";

std::string as_text(const test::bytes& b) { return std::string(b.begin(), b.end()); }

// (source file, proto, table row) for every key row of the page; proto is
// empty for the keys a file records for all its protocols.
using key_row = std::tuple<std::string, std::string, std::string>;

std::set<key_row> key_rows(const std::string& page) {
    std::set<key_row> rows;
    std::istringstream in(page);
    std::string line, file, proto;
    while (std::getline(in, line)) {
        if (line.rfind("## ", 0) == 0 || line.rfind("### ", 0) == 0) {
            file = line;
            proto.clear();
        } else if (line.rfind("#### ", 0) == 0) {
            proto = line;
        } else if (line.rfind("| `", 0) == 0 && file.find("src/") != std::string::npos) {
            rows.insert({file, proto, line});
        }
    }
    return rows;
}

std::string generated_without_examples(const test::temp_dir& dir) {
    std::string python = access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3";
    std::string out = dir.file("json.md");
    std::string command = python + " " + NODRIX_SOURCE_DIR + "/tools/gen_json_doc.py > " + out;
    EXPECT_EQ(system(command.c_str()), 0) << command;
    return as_text(test::read_file(out));
}

TEST(JsonDoc, CommittedPageListsEveryProtoAndKeyOfTheSource) {
    test::temp_dir dir;
    std::set<key_row> generated = key_rows(generated_without_examples(dir));
    std::set<key_row> committed = key_rows(as_text(test::read_file(std::string(NODRIX_SOURCE_DIR) + "/docs/json.md")));

    // The generator itself still finds the field calls.
    ASSERT_GT(generated.size(), 300u);
    EXPECT_TRUE(generated.count({"### src/decode/ip/ipv4.cpp (`ipv4`)", "#### `ipv4`", "| `ttl` | number |"}));
    EXPECT_TRUE(generated.count(
        {"### src/decode/app/dns.cpp (`dns`, `llmnr`, `mdns`)", "", "| `questions` | array of objects |"}));

    for (const key_row& row : generated)
        EXPECT_TRUE(committed.count(row)) << "docs/json.md lacks " << std::get<0>(row) << " " << std::get<1>(row) << " "
                                          << std::get<2>(row) << ": " << regenerate;
    EXPECT_EQ(generated.size(), committed.size()) << "docs/json.md lists keys the code no longer has: " << regenerate;
}

TEST(JsonDoc, EveryProtoOfTheSampleIsDocumented) {
    std::string page = as_text(test::read_file(std::string(NODRIX_SOURCE_DIR) + "/docs/json.md"));
    std::set<std::string> headed;  // protos named in the file headings
    std::istringstream in(page);
    std::string line;
    const std::regex name("`([a-z0-9_]+)`");
    while (std::getline(in, line))
        if (line.rfind("### src/", 0) == 0)
            for (std::sregex_iterator m(line.begin(), line.end(), name), end; m != end; ++m) headed.insert((*m)[1]);

    auto r = test::run_nodrix({"-P", std::string(NODRIX_SOURCE_DIR) + "/samples/sample.pcap", "--json"});
    ASSERT_EQ(r.status, 0);
    // The protocols of every "stack".
    const std::regex stack("\"stack\":\\[([^\\]]*)\\]"), proto("\"([a-z0-9_]+)\"");
    std::set<std::string> seen;
    for (std::sregex_iterator m(r.out.begin(), r.out.end(), stack), end; m != end; ++m) {
        std::string names = (*m)[1];
        for (std::sregex_iterator p(names.begin(), names.end(), proto); p != end; ++p) seen.insert((*p)[1]);
    }
    EXPECT_GE(seen.size(), 5u);
    for (const std::string& p : seen) EXPECT_TRUE(headed.count(p)) << "proto " << p << " undocumented: " << regenerate;
}

// The schema is generated from the same calls; the committed file must be
// what the generator writes today.
TEST(JsonDoc, CommittedSchemaIsCurrent) {
    test::temp_dir dir;
    std::string python = access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3";
    std::string out = dir.file("schema.json");
    std::string command = python + " " + NODRIX_SOURCE_DIR + "/tools/gen_json_doc.py --schema > " + out;
    ASSERT_EQ(system(command.c_str()), 0) << command;
    std::string generated = as_text(test::read_file(out));
    EXPECT_NE(generated.find("\"tcp\": {"), std::string::npos);
    // Layers the line-protocol engine names at run time are there too.
    for (const char* proto : {"ftp", "smtp", "pop3", "imap"})
        EXPECT_NE(generated.find("\"" + std::string(proto) + "\": {"), std::string::npos) << proto;
    EXPECT_TRUE(generated == as_text(test::read_file(std::string(NODRIX_SOURCE_DIR) + "/docs/nodrix.schema.json")))
        << "docs/nodrix.schema.json is not current: run `python3 tools/gen_json_doc.py --schema > "
           "docs/nodrix.schema.json`";
}

// The generator on small source trees of its own: a layer an engine names
// from a constant it is handed, and a key recorded with two JSON types.
TEST(JsonDoc, GeneratorFollowsEngineLayersAndRefusesMixedTypes) {
    const char* const engine_h =
        "struct engine_protocol {\n    const char* banner;\n    const char* proto;\n"
        "    bool (*line)(decode_context& cx, int n);\n};\n";
    const char* const engine_cpp =
        "void run(decode_context& cx, const engine_protocol& protocol) {\n"
        "    layer(cx, protocol.proto, protocol.banner);\n    field(cx, \"line_count\", \" %u\", 1u);\n}\n";
    const char* const alpha_cpp =
        "bool alpha_line(decode_context& cx, int n) { field(cx, \"alpha_key\", \" %s\", \"a\"); return n; }\n"
        "void decode_alpha(decode_context& cx) {\n"
        "    static constexpr engine_protocol alpha{\"- A -\", \"alpha\", alpha_line};\n    run(cx, alpha);\n}\n";
    const char* const mixed_cpp =
        "void decode_mixed(decode_context& cx, unsigned n) {\n    layer(cx, \"mixed\", \"- M -\");\n"
        "    if (n) field(cx, \"value\", \" %u\", n);\n    else field(cx, \"value\", \" %s\", \"none\");\n}\n";
    const struct {
        const char* name;
        std::vector<std::pair<const char*, const char*>> files;
        bool succeeds;
        std::vector<std::string> parts;  // of standard output, or of the error
    } cases[] = {
        {"engine layer",
         {{"engine.h", engine_h}, {"engine.cpp", engine_cpp}, {"alpha.cpp", alpha_cpp}},
         true,
         {"\"alpha\": {", "\"alpha_key\": {", "\"line_count\": {"}},
        {"key of two types", {{"mixed.cpp", mixed_cpp}}, false, {"mixed.value (number or text)"}},
    };
    std::string python = access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3";
    for (const auto& c : cases) {
        test::temp_dir dir;
        ASSERT_EQ(system(("mkdir -p " + dir.file("src/decode/app") + " " + dir.file("src/output") + " " +
                          dir.file("src/stats"))
                             .c_str()),
                  0);
        test::write_file(dir.file("src/output/json.cpp"), {});
        test::write_file(dir.file("src/stats/counters.h"), {});
        for (const auto& [name, text] : c.files)
            test::write_file(dir.file(std::string("src/decode/app/") + name),
                             test::bytes(text, text + strlen(text)));
        std::string command = python + " " + NODRIX_SOURCE_DIR + "/tools/gen_json_doc.py --schema --root " +
                              dir.path + " > " + dir.file("out") + " 2> " + dir.file("err");
        int status = system(command.c_str());
        EXPECT_EQ(status == 0, c.succeeds) << c.name;
        std::string text = as_text(test::read_file(dir.file(c.succeeds ? "out" : "err")));
        for (const auto& part : c.parts) EXPECT_NE(text.find(part), std::string::npos) << c.name << "\n" << text;
    }
}

// --where checks key paths against a table generated from the same calls;
// the committed table must be what the generator writes today.
TEST(JsonDoc, CommittedWhereKeyTableIsCurrent) {
    test::temp_dir dir;
    std::string python = access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3";
    std::string out = dir.file("where_keys.inc");
    std::string command = python + " " + NODRIX_SOURCE_DIR + "/tools/gen_json_doc.py --where-keys > " + out;
    ASSERT_EQ(system(command.c_str()), 0) << command;
    std::string generated = as_text(test::read_file(out));
    EXPECT_NE(generated.find("{\"tcp\", \"dst_port\", where_type::integer},"), std::string::npos);
    EXPECT_NE(generated.find("{\"ipv4\", \"src\", where_type::address},"), std::string::npos);
    EXPECT_TRUE(generated == as_text(test::read_file(std::string(NODRIX_SOURCE_DIR) + "/src/filter/where_keys.inc")))
        << "src/filter/where_keys.inc is not current: run `python3 tools/gen_json_doc.py --where-keys > "
           "src/filter/where_keys.inc`";
}

}  // namespace
