// HPACK: the request and response sequences of RFC 7541 Appendix C, each
// block decoded against the table the earlier ones left, and blocks that
// must be refused without harm to the table.
#include "decode/app/hpack.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support.h"

namespace {

struct block_case {
    std::string block;  // hex
    std::vector<std::pair<std::string, std::string>> headers;
    size_t table_size;  // after the block
    const char* error = nullptr;
};

struct sequence_case {
    const char* name;
    size_t limit;  // SETTINGS_HEADER_TABLE_SIZE
    std::vector<block_case> blocks;
};

const std::string date1 = "Mon, 21 Oct 2013 20:13:21 GMT", date2 = "Mon, 21 Oct 2013 20:13:22 GMT";
const std::string cookie = "foo=ASDJKHQKBZXOQWEOPIUAXQWEOIU; max-age=3600; version=1";

const sequence_case sequences[] = {
    {"requests with Huffman coding (C.4)",
     4096,
     {{"828684418cf1e3c2e5f23a6ba0ab90f4ff",
       {{":method", "GET"}, {":scheme", "http"}, {":path", "/"}, {":authority", "www.example.com"}},
       57},
      {"828684be5886a8eb10649cbf",
       {{":method", "GET"},
        {":scheme", "http"},
        {":path", "/"},
        {":authority", "www.example.com"},
        {"cache-control", "no-cache"}},
       110},
      {"828785bf408825a849e95ba97d7f8925a849e95bb8e8b4bf",
       {{":method", "GET"},
        {":scheme", "https"},
        {":path", "/index.html"},
        {":authority", "www.example.com"},
        {"custom-key", "custom-value"}},
       164}}},
    // A 256-byte table: the third response evicts what the first two added.
    {"responses with eviction (C.6)",
     256,
     {{"3fe101", {}, 0},
      {"488264025885aec3771a4b6196d07abe941054d444a8200595040b8166e082a62d1bff6e919d29ad171863c78f0b97c8e9ae82ae"
       "43d3",
       {{":status", "302"}, {"cache-control", "private"}, {"date", date1}, {"location", "https://www.example.com"}},
       222},
      {"4883640effc1c0bf",
       {{":status", "307"}, {"cache-control", "private"}, {"date", date1}, {"location", "https://www.example.com"}},
       222},
      {"88c16196d07abe941054d444a8200595040b8166e084a62d1bffc05a839bd9ab77ad94e7821dd7f2e6c7b335dfdfcd5b3960d5af"
       "27087f3672c1ab270fb5291f9587316065c003ed4ee5b1063d5007",
       {{":status", "200"},
        {"cache-control", "private"},
        {"date", date2},
        {"location", "https://www.example.com"},
        {"content-encoding", "gzip"},
        {"set-cookie", cookie}},
       215}}},
    // Literal never indexed (C.2.3): shown, not added.
    {"never indexed", 4096, {{"100870617373776f726406736563726574", {{"password", "secret"}}, 0}}},
    {"refused blocks",
     4096,
     {{"be", {}, 0, "an index beyond the tables"},
      {"3fe21f", {}, 0, "a table size above the limit"},
      {"82 3f00", {{":method", "GET"}}, 0, "a table size update after a field"},
      // A Huffman string holding the EOS code, and one padded with zeros.
      {"0085 ffffffff ff 00", {}, 0, "an invalid Huffman code"},
      {"0081 00 00", {}, 0, "an invalid Huffman code"},
      {"0f ffffffffff7f", {}, 0, "an integer too large or cut short"},
      {"0005 6162", {}, 0, "a string runs past the block"}}},
};

TEST(Hpack, Sequences) {
    for (const auto& s : sequences) {
        hpack_table table;
        table.limit = s.limit;
        table.max_size = s.limit;
        for (size_t i = 0; i < s.blocks.size(); ++i) {
            const block_case& b = s.blocks[i];
            test::bytes bytes = test::hex(b.block);
            hpack_result r = hpack_decode(table, bytes.data(), bytes.size());
            std::string where = std::string(s.name) + ", block " + std::to_string(i + 1);
            EXPECT_EQ(r.headers, b.headers) << where;
            EXPECT_EQ(table.size, b.table_size) << where;
            EXPECT_STREQ(r.error ? r.error : "", b.error ? b.error : "") << where;
        }
    }
}

// The dynamic table never grows past what the peer allows, nor past the
// hard cap whatever the peer allows.
TEST(Hpack, TableBounds) {
    hpack_table table;
    table.limit = 1u << 20;
    test::bytes raise = test::hex("3fe1ff07");  // 131072: above the cap
    hpack_result r = hpack_decode(table, raise.data(), raise.size());
    EXPECT_STREQ(r.error, "a table size above the limit");
    // 200 literal fields with incremental indexing, each entry 32 + 2 + 100
    // bytes: the 4096-byte table keeps the newest 30.
    std::string block;
    for (int i = 0; i < 200; ++i) block += "4002" + std::string("6161") + "64" + std::string(200, '6');
    test::bytes many = test::hex(block);
    r = hpack_decode(table, many.data(), many.size());
    EXPECT_EQ(r.error, nullptr);
    EXPECT_LE(table.size, table.max_size);
    EXPECT_EQ(table.entries.size(), 30u);
    EXPECT_EQ(table.size, 30u * 134);
}

}  // namespace
