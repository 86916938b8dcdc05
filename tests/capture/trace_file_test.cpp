// The iptrace and snoop readers, run in-process on files written by the
// test, plain and gzip-compressed.
#include <gtest/gtest.h>

#include <random>

#include "capture/iptrace.h"
#include "capture/snoop.h"
#include "support.h"
#include "trace_files.h"

using namespace trace;
using test::bytes;

namespace {

using reader = trace_outcome (*)(int);

struct read_result {
    trace_outcome outcome;
    std::string out;
};

read_result read_trace(reader read, const bytes& file, int max_packets = -1, bool compressed = false) {
    test::reset();
    test::temp_dir dir;
    std::string path = dir.file("trace");
    test::write_file(path, compressed ? gzip(file) : file);
    EXPECT_TRUE(open_trace_file(path.c_str()));
    read_result r{};
    r.out = test::capture_output([&] { r.outcome = read(max_packets); });
    close_trace_file();
    return r;
}

const char* outcome_name(trace_outcome o) {
    switch (o) {
        case trace_outcome::finished: return "finished";
        case trace_outcome::header_unreadable: return "header_unreadable";
        case trace_outcome::truncated: return "truncated";
        case trace_outcome::stopped: return "stopped";
    }
    return "?";
}

const std::string ethernet = "\n- Ethernet Header -\n";
std::string short_ethernet(unsigned captured) {
    return "\n- Ethernet Header -\nError: Captured data length(" + std::to_string(captured) +
           " bytes) < Ethernet packet header length.\n";
}
const std::string iptrace_head = "File type is iptrace version 2.0.\n";
const std::string iptrace_done = "\nRead iptrace dump file completed.\n";
const std::string snoop_done = "\nRead snoop dump file completed.\n";

std::string iptrace_line(unsigned n, unsigned length, const char* time = "12:34:56") {
    return "\n" + std::string(time) + " - Read frame " + std::to_string(n) + "(" + std::to_string(length) +
           " bytes length)...\n";
}

std::string snoop_line(unsigned n, unsigned included, unsigned wire, const char* time = "12:34:56") {
    return "\n" + std::string(time) + " - Read frame " + std::to_string(n) + "(" + std::to_string(included) + "/" +
           std::to_string(wire) + " bytes length)...\n";
}

struct reader_case {
    const char* name;
    reader read;
    bytes file;
    int max_packets;
    trace_outcome outcome;
    std::string out;
};

// Every case reads the same from the plain file and from its gzip form.
void check_cases(const std::vector<reader_case>& cases) {
    for (const auto& c : cases) {
        for (bool compressed : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (compressed ? " (gzip)" : " (plain)"));
            read_result r = read_trace(c.read, c.file, c.max_packets, compressed);
            EXPECT_STREQ(outcome_name(c.outcome), outcome_name(r.outcome));
            EXPECT_EQ(c.out, r.out);
        }
    }
}

TEST(IptraceReader, RecordsEndsAndDamage) {
    bytes frame = ethernet_frame();
    bytes record = iptrace_record(frame);
    std::string one = iptrace_line(1, 60) + ethernet;
    check_cases({
        {"two records, big-endian time stamps modulo a day", read_iptrace,
         iptrace_file({record, iptrace_record(frame, 7, 86400 + 3723)}), -1, trace_outcome::finished,
         iptrace_head + one + iptrace_line(2, 60, "01:02:03") + ethernet + iptrace_done},
        {"header only", read_iptrace, iptrace_file({}), -1, trace_outcome::finished, iptrace_head + iptrace_done},
        {"empty record counts towards the maximum", read_iptrace, iptrace_file({record, iptrace_record({}), record}), 2,
         trace_outcome::finished, iptrace_head + one + iptrace_done},
        {"maximum reached before the end", read_iptrace, iptrace_file({record, record, record}), 2,
         trace_outcome::finished, iptrace_head + one + iptrace_line(2, 60) + ethernet + iptrace_done},
        {"unknown interface type is skipped", read_iptrace, iptrace_file({iptrace_record(frame, 23), record}), -1,
         trace_outcome::finished,
         iptrace_head + iptrace_line(1, 60) + "\n- Not support packet type -\n" + iptrace_line(2, 60) + ethernet +
             iptrace_done},
        {"eleventh character not compared", read_iptrace, iptrace_file({record}, "iptrace 2.x"), -1,
         trace_outcome::finished, iptrace_head + one + iptrace_done},
        {"version 1.0", read_iptrace, iptrace_file({record}, "iptrace 1.0"), -1, trace_outcome::finished,
         "File type is iptrace version 1.0. Not supported @ the moment!\n"},
        {"unknown version", read_iptrace, iptrace_file({record}, "iptrace 3.0"), -1, trace_outcome::finished,
         "Unknown iptrace file format.\n"},
        {"shorter than the version text", read_iptrace, bytes{'i', 'p', 't', 'r', 'a', 'c', 'e', ' ', '2', '.'}, -1,
         trace_outcome::header_unreadable, ""},
        {"frame bytes missing", read_iptrace, iptrace_file({record, prefix(record, 40)}), -1, trace_outcome::truncated,
         iptrace_head + one},
        {"record header cut short", read_iptrace, iptrace_file({record, prefix(record, 20)}), -1,
         trace_outcome::truncated, iptrace_head + one},
        {"record length below 32", read_iptrace, iptrace_file({record, iptrace_record(frame, 6, 0, 31)}), -1,
         trace_outcome::truncated, iptrace_head + one},
        {"record length 0", read_iptrace, iptrace_file({iptrace_record(frame, 6, 0, 0)}), -1, trace_outcome::truncated,
         iptrace_head},
        // The frame is decoded as far as the file holds it, and no further.
        {"frame cut short by the end of the file", read_iptrace, iptrace_file({prefix(record, 40 + 30)}), -1,
         trace_outcome::finished, iptrace_head + iptrace_line(1, 60) + ethernet + iptrace_done},
        {"absurd record length", read_iptrace, iptrace_file({iptrace_record(prefix(frame, 10), 6, 45296, 0xffffffff)}),
         -1, trace_outcome::finished,
         iptrace_head + iptrace_line(1, 0xffffffffu - 32) + short_ethernet(10) + iptrace_done},
    });
}

TEST(IptraceReader, InterfaceTypeChoosesTheLinkHeader) {
    // Loopback records carry IP behind a 4-byte link header.
    bytes frame = ethernet_frame();
    for (auto [type, header_length] : {std::pair{6, 14u}, {7, 14u}, {9, 14u}, {24, 4u}}) {
        read_result r = read_trace(read_iptrace, iptrace_file({iptrace_record(frame, static_cast<uint8_t>(type))}));
        EXPECT_EQ(header_length, capture.link_header_length) << type;
        EXPECT_EQ(1u, capture.frame_counter) << type;
    }
}

TEST(SnoopReader, RecordsEndsAndDamage) {
    bytes frame = ethernet_frame(61);
    bytes record = snoop_record(frame);
    std::string one = snoop_line(1, 61, 61) + ethernet;
    check_cases({
        {"padded records, time of day", read_snoop, snoop_file({record, snoop_record(frame, 86400 + 3723)}), -1,
         trace_outcome::finished, one + snoop_line(2, 61, 61, "01:02:03") + ethernet + snoop_done},
        {"included below untruncated", read_snoop, snoop_file({snoop_record(ethernet_frame(1514), 45296, 60)}), -1,
         trace_outcome::finished, snoop_line(1, 60, 1514) + ethernet + snoop_done},
        {"IEEE 802.3 and every version", read_snoop, snoop_file({record}, 0, 5), -1, trace_outcome::finished,
         one + snoop_done},
        {"maximum", read_snoop, snoop_file({record, record, record}), 2, trace_outcome::finished,
         one + snoop_line(2, 61, 61) + ethernet + snoop_done},
        {"header only", read_snoop, snoop_file({}), -1, trace_outcome::finished, snoop_done},
        {"unsupported datalink type", read_snoop, snoop_file({record, record}, 3), -1, trace_outcome::finished,
         snoop_line(1, 61, 61) + "\n- Not support packet type -\n" + snoop_line(2, 61, 61) +
             "\n- Not support packet type -\n" + snoop_done},
        {"version 1", read_snoop, snoop_file({record}, 4, 1), -1, trace_outcome::finished,
         "Unknown snoop version 1.\n"},
        {"version 6", read_snoop, snoop_file({record}, 4, 6), -1, trace_outcome::finished,
         "Unknown snoop version 6.\n"},
        {"wrong magic", read_snoop, snoop_file({record}, 4, 2, test::hex("736e6f6f70790000")), -1,
         trace_outcome::finished, "Unknown snoop file format(wrong magic).\n"},
        {"bytes after the magic's NUL do not matter", read_snoop,
         snoop_file({record}, 4, 2, test::hex("736e6f6f70007879")), -1, trace_outcome::finished, one + snoop_done},
        {"file header cut short", read_snoop, prefix(snoop_file({}), 15), -1, trace_outcome::header_unreadable, ""},
        {"record data missing", read_snoop, snoop_file({record, prefix(record, 24)}), -1, trace_outcome::truncated,
         one},
        {"record header cut short", read_snoop, snoop_file({record, prefix(record, 10)}), -1, trace_outcome::truncated,
         one},
        {"record length below 24", read_snoop, snoop_file({snoop_record(frame, 45296, -1, -1, 23), record}), -1,
         trace_outcome::truncated, ""},
        {"included length beyond the record", read_snoop,
         snoop_file({snoop_record(frame, 45296, -1, -1, 24 + 60), record}), -1, trace_outcome::truncated, ""},
        {"absurd included and record lengths", read_snoop,
         snoop_file({snoop_record(prefix(frame, 16), 45296, 0xffffff00, -1, 0xffffffff)}), -1, trace_outcome::finished,
         snoop_line(1, 0xffffff00, 16) + ethernet + snoop_done},
        // A record without data is an empty frame; reading goes on behind it.
        {"record without data", read_snoop, snoop_file({snoop_record({}), record}), -1, trace_outcome::finished,
         snoop_line(1, 0, 0) + short_ethernet(0) + snoop_line(2, 61, 61) + ethernet + snoop_done},
        {"record data cut short", read_snoop, snoop_file({prefix(record, 24 + 20)}), -1, trace_outcome::finished,
         snoop_line(1, 61, 61) + ethernet + snoop_done},
    });
}

TEST(SnoopReader, DatalinkTypeChoosesTheLinkHeader) {
    for (auto [type, header_length] : {std::pair{0u, 14u}, {2u, 14u}, {4u, 14u}, {8u, 21u}}) {
        read_trace(read_snoop, snoop_file({snoop_record(ethernet_frame())}, type));
        EXPECT_EQ(header_length, capture.link_header_length) << type;
    }
}

// Whatever the damage, a reader ends in one of its orderly ways and never
// reads outside what it was given; the sanitizer build checks the latter.
TEST(TraceReaders, EveryPrefixAndDamagedHeaders) {
    bytes frame = ethernet_frame(64, 0x5a);
    struct {
        reader read;
        bytes file;
        std::vector<size_t> length_fields;  // offsets of length fields to damage
    } formats[] = {
        {read_iptrace, iptrace_file({iptrace_record(frame), iptrace_record({}), iptrace_record(frame, 24)}), {11, 115}},
        {read_snoop,
         snoop_file({snoop_record(frame), snoop_record(frame, 1, 10, 1514), snoop_record({})}),
         {16, 20, 24, 104, 108, 112}},
    };
    for (const auto& f : formats) {
        for (bool compressed : {false, true}) {
            for (size_t n = 0; n <= f.file.size(); ++n) {
                read_result r = read_trace(f.read, prefix(f.file, n), -1, compressed);
                EXPECT_NE(trace_outcome::stopped, r.outcome) << n;
            }
        }
        std::mt19937 random(7);
        for (size_t at : f.length_fields) {
            for (uint32_t value : {0u, 1u, 23u, 24u, 31u, 32u, 33u, 0x7fffffffu, 0xffffffffu,
                                   static_cast<uint32_t>(random()), static_cast<uint32_t>(random())}) {
                bytes damaged = f.file;
                put_be32(damaged, at, value);
                read_result r = read_trace(f.read, damaged);
                EXPECT_NE(trace_outcome::stopped, r.outcome) << at << " " << value;
            }
        }
    }
}

TEST(TraceReaders, DamagedGzipStreams) {
    bytes record = iptrace_record(ethernet_frame());
    bytes file = iptrace_file({record, record});
    test::temp_dir dir;
    auto read_gz = [&](const bytes& gz) {
        test::reset();
        std::string path = dir.file("t.gz");
        test::write_file(path, gz);
        EXPECT_TRUE(open_trace_file(path.c_str()));
        read_result r{};
        r.out = test::capture_output([&] { r.outcome = read_iptrace(-1); });
        close_trace_file();
        return r;
    };

    // A compressed file cut short is truncated, even when its data ends
    // between two records.
    bytes gz = gzip(file);
    read_result cut = read_gz(prefix(gz, gz.size() - 4));
    EXPECT_EQ(trace_outcome::truncated, cut.outcome);
    EXPECT_EQ(iptrace_head + iptrace_line(1, 60) + ethernet + iptrace_line(2, 60) + ethernet, cut.out);

    // A stream error is reported and ends the reading in order.
    bytes big;
    for (int i = 0; i < 20000; ++i) big.insert(big.end(), record.begin(), record.end());
    bytes damaged = gzip(test::concat({bytes{'i', 'p', 't', 'r', 'a', 'c', 'e', ' ', '2', '.', '0'}, big}));
    damaged[damaged.size() - 6] ^= 0xff;  // the data check
    read_result bad = read_gz(damaged);
    EXPECT_EQ(trace_outcome::finished, bad.outcome);
    EXPECT_NE(std::string::npos, bad.out.find("Error: Read packet failed")) << bad.out.substr(bad.out.size() - 200);
}

}  // namespace
