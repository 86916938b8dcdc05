// The iptrace and snoop readers in-process, on plain and gzip files: what
// they print, how they end, and that damage never makes them read or
// allocate beyond what the file holds (the sanitizer build checks).
#include <gtest/gtest.h>

#include "capture/iptrace.h"
#include "capture/snoop.h"
#include "trace_files.h"

using namespace trace;

namespace {

using reader = trace_outcome (*)(int);

std::pair<trace_outcome, std::string> read_trace(reader read, const bytes& file, int max_packets = -1) {
    test::reset();
    test::temp_dir dir;
    std::string path = dir.file("trace");
    test::write_file(path, file);
    EXPECT_TRUE(open_trace_file(path.c_str()));
    trace_outcome outcome{};
    std::string out = test::capture_output([&] { outcome = read(max_packets); });
    close_trace_file();
    return {outcome, out};
}

const std::string ethernet = "\n- Ethernet Header -\n";
const std::string short_ethernet =
    "\n- Ethernet Header -\nError: Captured data length(%u bytes) < Ethernet packet header length.\n";
const std::string iptrace_head = "File type is iptrace version 2.0.\n";
const std::string iptrace_done = "\nRead iptrace dump file completed.\n";
const std::string snoop_done = "\nRead snoop dump file completed.\n";

std::string frame_line(unsigned n, const std::string& lengths, const char* time = "12:34:56") {
    return "\n" + std::string(time) + " - Read frame " + std::to_string(n) + "(" + lengths + " bytes length)...\n";
}

std::string with_number(std::string text, unsigned n) { return text.replace(text.find("%u"), 2, std::to_string(n)); }

struct reader_case {
    const char* name;
    reader read;
    bytes file;
    int max_packets;
    trace_outcome outcome;
    std::string out;
};

TEST(TraceReaders, RecordsEndsAndDamage) {
    using o = trace_outcome;
    bytes frame = ethernet_frame();
    bytes ipt = iptrace_record(frame);
    std::string ipt_one = iptrace_head + frame_line(1, "60") + ethernet;
    bytes snp = snoop_record(ethernet_frame(61));
    std::string snp_one = frame_line(1, "61/61") + ethernet;
    const reader_case cases[] = {
        {"iptrace: big-endian time stamps, modulo a day", read_iptrace,
         iptrace_file({ipt, iptrace_record(frame, 7, 86400 + 3723)}), -1, o::finished,
         ipt_one + frame_line(2, "60", "01:02:03") + ethernet + iptrace_done},
        {"iptrace: an empty record counts towards the maximum", read_iptrace,
         iptrace_file({ipt, iptrace_record({}), ipt}), 2, o::finished, ipt_one + iptrace_done},
        {"iptrace: unknown interface type", read_iptrace, iptrace_file({iptrace_record(frame, 23)}), -1, o::finished,
         iptrace_head + frame_line(1, "60") + "\n- Not support packet type -\n" + iptrace_done},
        {"iptrace: frame bytes missing", read_iptrace, iptrace_file({ipt, prefix(ipt, 40)}), -1, o::truncated, ipt_one},
        {"iptrace: record header cut short", read_iptrace, iptrace_file({ipt, prefix(ipt, 20)}), -1, o::truncated,
         ipt_one},
        {"iptrace: record length below 32", read_iptrace, iptrace_file({ipt, iptrace_record(frame, 6, 0, 31)}), -1,
         o::truncated, ipt_one},
        // A cut final record is decoded as far as it goes, and the file is damaged.
        {"iptrace: frame cut short is decoded as far as it goes", read_iptrace, iptrace_file({prefix(ipt, 40 + 30)}),
         -1, o::truncated, iptrace_head + frame_line(1, "60") + ethernet},
        // No link type carries more than 262144 bytes: a longer record is damaged.
        {"iptrace: absurd record length", read_iptrace,
         iptrace_file({iptrace_record(prefix(frame, 10), 6, 45296, 0xffffffff)}), -1, o::truncated, iptrace_head},
        {"iptrace: one byte over the largest frame", read_iptrace,
         iptrace_file({iptrace_record(prefix(frame, 10), 6, 45296, 32 + 262145)}), -1, o::truncated, iptrace_head},
        {"iptrace: the largest frame, cut", read_iptrace,
         iptrace_file({iptrace_record(prefix(frame, 10), 6, 45296, 32 + 262144)}), -1, o::truncated,
         iptrace_head + frame_line(1, "262144") + with_number(short_ethernet, 10)},
        {"snoop: padded records, time of day", read_snoop, snoop_file({snp, snoop_record(frame, 86400 + 3723)}), -1,
         o::finished, snp_one + frame_line(2, "60/60", "01:02:03") + ethernet + snoop_done},
        {"snoop: unsupported datalink type", read_snoop, snoop_file({snp}, 3, 5), -1, o::finished,
         frame_line(1, "61/61") + "\n- Not support packet type -\n" + snoop_done},
        {"snoop: version 6", read_snoop, snoop_file({snp}, 4, 6), -1, o::unreadable, "Unknown snoop version 6.\n"},
        {"snoop: wrong magic", read_snoop, bytes(40, 0), -1, o::unreadable,
         "Unknown snoop file format(wrong magic).\n"},
        {"snoop: record data missing", read_snoop, snoop_file({snp, prefix(snp, 24)}), -1, o::truncated, snp_one},
        {"snoop: record length below 24", read_snoop, snoop_file({snoop_record(frame, 0, -1, 23)}), -1, o::truncated,
         ""},
        {"snoop: included length beyond the record", read_snoop, snoop_file({snoop_record(frame, 0, -1, 24 + 56)}), -1,
         o::truncated, ""},
        {"snoop: absurd lengths", read_snoop,
         snoop_file({snoop_record(prefix(frame, 16), 45296, 0xffffff00, 0xffffffff)}), -1, o::truncated, ""},
        // An empty record is an empty frame; the reading goes on behind it.
        {"snoop: record without data", read_snoop, snoop_file({snoop_record({}), snp}), -1, o::finished,
         frame_line(1, "0/0") + with_number(short_ethernet, 0) + frame_line(2, "61/61") + ethernet + snoop_done},
        {"snoop: record data cut short", read_snoop, snoop_file({prefix(snp, 24 + 20)}), -1, o::truncated, snp_one},
    };
    for (const auto& c : cases) {
        for (bool compressed : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (compressed ? " (gzip)" : ""));
            auto [outcome, out] = read_trace(c.read, compressed ? gzip(c.file) : c.file, c.max_packets);
            EXPECT_EQ(static_cast<int>(c.outcome), static_cast<int>(outcome));
            EXPECT_EQ(c.out, out);
        }
    }
}

TEST(TraceReaders, EveryPrefixAndDamagedLengths) {
    bytes frame = ethernet_frame(64);
    struct {
        reader read;
        bytes file;
        size_t file_header;
        std::vector<size_t> length_fields;
    } formats[] = {
        {read_iptrace,
         iptrace_file({iptrace_record(frame), iptrace_record({}), iptrace_record(frame, 24)}),
         11,
         {11, 115}},
        {read_snoop,
         snoop_file({snoop_record(frame), snoop_record(frame, 1, 10), snoop_record({})}),
         16,
         {16, 20, 24, 104, 108, 112}},
    };
    for (const auto& f : formats) {
        for (size_t n = 0; n <= f.file.size(); ++n) {
            for (const bytes& file : {prefix(f.file, n), gzip(prefix(f.file, n))}) {
                auto [outcome, out] = read_trace(f.read, file);
                EXPECT_EQ(n < f.file_header, outcome == trace_outcome::header_unreadable) << n;
            }
        }
        for (size_t at : f.length_fields) {
            for (uint32_t value : {0u, 1u, 23u, 24u, 31u, 32u, 33u, 0x7fffffffu, 0xffffffffu}) {
                bytes damaged = f.file;
                put_be32(damaged, at, value);
                read_trace(f.read, damaged);
            }
        }
    }
}

}  // namespace
