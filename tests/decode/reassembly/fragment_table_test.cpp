// The fragment table on its own: orders, overlaps, lengths, time and memory.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <string>
#include <vector>

#include "decode/reassembly/ip_fragments.h"
#include "driver/settings.h"
#include "stats/counters.h"

namespace {

struct piece {
    uint32_t offset;
    uint32_t length;
    bool more;
    uint8_t salt = 0;  // added to every byte: a copy that differs
};

fragment_key key_of(uint8_t version, uint32_t id = 7) {
    fragment_key key{};
    key.version = version;
    key.protocol = 17;
    key.id = id;
    key.source[0] = 10;
    key.destination[0] = 11;
    return key;
}

// Byte i of the datagram is i * 7 (mod 256), plus the piece's salt.
std::vector<uint8_t> bytes_of(const piece& p) {
    std::vector<uint8_t> b(p.length);
    for (uint32_t i = 0; i < p.length; ++i) b[i] = static_cast<uint8_t>((p.offset + i) * 7 + p.salt);
    return b;
}

std::vector<uint8_t> datagram_of(uint32_t length) { return bytes_of({0, length, false}); }

struct run_result {
    std::string verdicts;  // one letter per piece
    std::vector<uint8_t> datagram;
    std::vector<unsigned long> frames;
};

char letter(fragment_verdict v) {
    switch (v) {
        case fragment_verdict::held: return 'h';
        case fragment_verdict::completed: return 'C';
        case fragment_verdict::duplicate: return 'd';
        case fragment_verdict::overlap: return 'o';
        case fragment_verdict::overlap_drop: return 'X';
        case fragment_verdict::too_long: return 'L';
        case fragment_verdict::bad_length: return 'B';
        case fragment_verdict::odd_length: return '8';
        case fragment_verdict::after_drop: return 'x';
        case fragment_verdict::not_kept: return 'n';
    }
    return '?';
}

run_result run(fragment_table& table, uint8_t version, const std::vector<piece>& pieces, uint32_t limit = 65515,
               protocol_counters* counters_out = nullptr) {
    protocol_counters local{};
    protocol_counters& c = counters_out ? *counters_out : local;
    fragment_limits limits;
    run_result r;
    unsigned long frame = 1;
    for (const piece& p : pieces) {
        auto b = bytes_of(p);
        fragment_result f =
            table.add(key_of(version), p.offset, b.data(), p.length, p.more, limit, frame++, 0, limits, c);
        r.verdicts += letter(f.verdict);
        if (f.verdict == fragment_verdict::completed) {
            r.datagram = f.datagram;
            r.frames = f.frames;
        }
    }
    return r;
}

TEST(FragmentTable, EveryOrderGivesTheSameDatagramAtTheLastFragment) {
    settings = run_settings{};
    const std::vector<piece> pieces = {{0, 512, true}, {512, 256, true}, {768, 8, true}, {776, 100, false}};
    std::vector<size_t> order(pieces.size());
    std::iota(order.begin(), order.end(), 0);
    int orders = 0;
    do {
        for (uint8_t version : {4, 6}) {
            fragment_table table;
            std::vector<piece> permuted;
            for (size_t i : order) permuted.push_back(pieces[i]);
            run_result r = run(table, version, permuted);
            EXPECT_EQ(r.verdicts, "hhhC") << "order " << orders;
            EXPECT_EQ(r.datagram, datagram_of(876));
            EXPECT_EQ(r.frames, (std::vector<unsigned long>{1, 2, 3, 4}));
            EXPECT_EQ(table.held_sets(), 0u);
            EXPECT_EQ(table.held_bytes(), 0u);
        }
        ++orders;
    } while (std::next_permutation(order.begin(), order.end()));
    EXPECT_EQ(orders, 24);
}

struct anomaly_case {
    const char* name;
    uint8_t version;
    std::vector<piece> pieces;
    const char* verdicts;
    uint32_t datagram_length;  // of a completed datagram; its bytes are those of the later copies
    uint8_t salt_from = 0, salt_to = 0, salt = 0;  // datagram bytes [from, to) carry this salt
};

TEST(FragmentTable, OverlapsDuplicatesAndLengthsFollowTheRfcs) {
    settings = run_settings{};
    const anomaly_case cases[] = {
        {"exact duplicate is ignored", 4, {{0, 16, true}, {0, 16, true}, {16, 8, false}}, "hdC", 24},
        {"duplicate last fragment", 4, {{0, 16, true}, {16, 8, false}, {16, 8, false}}, "hCh", 24},
        {"same bytes overlapping pass quietly", 4, {{0, 16, true}, {8, 16, false}}, "hC", 24},
        {"IPv4 overlap: the later copy wins", 4, {{0, 24, true}, {8, 8, true, 1}, {24, 8, false}}, "hoC", 32, 8, 16,
         1},
        {"IPv6 overlap drops the datagram", 6, {{0, 16, true}, {8, 16, false}, {0, 8, true}}, "hXx", 0},
        {"IPv6 exact duplicate drops it too", 6, {{0, 16, true}, {0, 16, true}}, "hX", 0},
        {"past 65,535 bytes", 4, {{0, 16, true}, {65512, 16, false}, {16, 8, false}}, "hLx", 0},
        {"two different ends", 4, {{16, 8, false}, {24, 8, false}}, "hB", 0},
        {"bytes behind the end", 4, {{24, 8, true}, {0, 16, false}}, "hB", 0},
        {"a middle piece behind a known end", 6, {{8, 8, false}, {16, 8, true}}, "hB", 0},
        {"more to come, length not a multiple of 8", 4, {{0, 12, true}, {0, 16, true}, {16, 1, false}}, "8hC", 17},
        {"an empty last fragment ends it", 4, {{0, 16, true}, {16, 0, false}}, "hC", 16},
    };
    for (const anomaly_case& c : cases) {
        fragment_table table;
        protocol_counters counted{};
        settings.statistic = true;
        run_result r = run(table, c.version, c.pieces, 65515, &counted);
        settings.statistic = false;
        EXPECT_EQ(r.verdicts, c.verdicts) << c.name;
        if (c.datagram_length) {
            std::vector<uint8_t> expected = datagram_of(c.datagram_length);
            for (uint32_t i = c.salt_from; i < c.salt_to; ++i) expected[i] = static_cast<uint8_t>(expected[i] + c.salt);
            EXPECT_EQ(r.datagram, expected) << c.name;
        }
        bool dropped = std::string(c.verdicts).find_first_of("XLB") != std::string::npos;
        EXPECT_EQ(counted.ip_fragments_dropped, dropped ? 1u : 0u) << c.name;
        // A dropped datagram keeps no bytes, only its mark.
        if (dropped) {
            EXPECT_EQ(table.held_bytes(), fragment_table::set_overhead) << c.name;
        }
    }
}

TEST(FragmentTable, SetsTimeOutByCaptureTimeAndCountAsIncomplete) {
    settings = run_settings{};
    settings.statistic = true;
    protocol_counters c{};
    fragment_limits limits;
    std::vector<uint8_t> b(16, 1);
    for (uint8_t version : {4, 6}) {
        fragment_table table;
        int64_t timeout = version == 4 ? limits.ipv4_timeout_us : limits.ipv6_timeout_us;
        c = {};
        ASSERT_EQ(table.add(key_of(version), 0, b.data(), 16, true, 65515, 1, 0, limits, c).verdict,
                  fragment_verdict::held);
        // Just in time: completes.
        EXPECT_EQ(table.add(key_of(version), 16, b.data(), 16, false, 65515, 2, timeout, limits, c).verdict,
                  fragment_verdict::completed);
        // Too late: the rest starts a set of its own, the old one is incomplete.
        table.add(key_of(version), 0, b.data(), 16, true, 65515, 3, 0, limits, c);
        EXPECT_EQ(table.add(key_of(version), 16, b.data(), 16, false, 65515, 4, timeout + 1, limits, c).verdict,
                  fragment_verdict::held);
        EXPECT_EQ(c.ip_fragments_incomplete, 1u);
        // Another datagram's fragment much later sweeps the idle set away.
        table.add(key_of(version, 8), 0, b.data(), 16, true, 65515, 5, 3 * timeout, limits, c);
        EXPECT_EQ(c.ip_fragments_incomplete, 2u);
        EXPECT_EQ(table.held_sets(), 1u);
        table.finish(c);
        EXPECT_EQ(c.ip_fragments_incomplete, 3u);
        EXPECT_EQ(table.held_sets(), 0u);
        EXPECT_EQ(table.held_bytes(), 0u);
    }
    settings.statistic = false;
}

TEST(FragmentTable, MemoryStaysWithinItsBoundByDroppingTheLeastRecentlyUsed) {
    settings = run_settings{};
    settings.statistic = true;
    protocol_counters c{};
    fragment_limits limits;
    limits.memory = 64 * 1024;
    fragment_table table;
    std::vector<uint8_t> b(1024, 2);
    size_t most = 0;
    // 1,000 datagrams whose first fragment never comes.
    for (uint32_t id = 0; id < 1000; ++id) {
        table.add(key_of(4, id), 1024, b.data(), 1024, true, 65515, id + 1, 0, limits, c);
        most = std::max(most, table.held_bytes());
    }
    EXPECT_LE(most, limits.memory);
    EXPECT_GT(c.reassembly_evicted, 900u);
    // The most recent ones are still there and complete.
    std::vector<uint8_t> first(1024, 2);
    EXPECT_EQ(table.add(key_of(4, 999), 0, first.data(), 1024, false, 65515, 1001, 0, limits, c).verdict,
              fragment_verdict::bad_length);
    fragment_result r = table.add(key_of(4, 998), 0, first.data(), 1024, true, 65515, 1002, 0, limits, c);
    EXPECT_EQ(r.verdict, fragment_verdict::held);
    r = table.add(key_of(4, 998), 2048, first.data(), 8, false, 65515, 1003, 0, limits, c);
    EXPECT_EQ(r.verdict, fragment_verdict::completed);
    EXPECT_EQ(r.datagram.size(), 2056u);
    // A datagram larger than the whole bound is not kept at all.
    limits.memory = 1000;
    fragment_table small;
    EXPECT_EQ(small.add(key_of(4), 1024, b.data(), 1024, true, 65515, 1, 0, limits, c).verdict,
              fragment_verdict::not_kept);
    EXPECT_EQ(small.held_bytes(), 0u);
    EXPECT_EQ(small.held_sets(), 0u);
    // Many tiny sets, and the marks of dropped ones, count their entries:
    // their number is bounded too.
    limits.memory = 64 * 1024;
    for (bool dropping : {false, true}) {
        fragment_table tiny;
        for (uint32_t id = 0; id < 100000; ++id) {
            if (dropping) tiny.add(key_of(4, id), 0, b.data(), 8, true, 4, id + 1, 0, limits, c);
            tiny.add(key_of(4, id), 8, b.data(), 8, true, 65515, id + 1, 0, limits, c);
            ASSERT_LE(tiny.held_bytes(), limits.memory);
        }
        EXPECT_LE(tiny.held_sets(), limits.memory / fragment_table::set_overhead) << dropping;
    }
    settings.statistic = false;
}

}  // namespace
