#include "decode/app/ntp.h"

#include <cstdio>
#include <ctime>
#include <string>

#include "decode/app/message.h"
#include "decode/decoder.h"
#include "decode/ip/ipv4.h"

namespace {

constexpr const char* modes[] = {"reserved", "symmetric active", "symmetric passive", "client",
                                 "server",   "broadcast",        "control",           "private"};

constexpr size_t header_length = 48;
// Seconds from 1900 (NTP era 0) to 1970.
constexpr int64_t unix_epoch = 2208988800LL;

// A 64-bit time stamp as "YYYY-MM-DD hh:mm:ss.uuuuuu UTC"; "0" when unset.
// Seconds with the top bit clear belong to era 1 (from 2036 on).
std::string time_text(uint32_t seconds, uint32_t fraction, bool iso) {
    char text[48];
    if (seconds == 0 && fraction == 0) return "0";
    int64_t since_1900 = seconds;
    if (!(seconds & 0x80000000u)) since_1900 += int64_t{1} << 32;
    time_t t = static_cast<time_t>(since_1900 - unix_epoch);
    struct tm parts;
    gmtime_r(&t, &parts);
    char date[32];
    strftime(date, sizeof date, iso ? "%Y-%m-%dT%H:%M:%S" : "%Y-%m-%d %H:%M:%S", &parts);
    auto micro = static_cast<unsigned>((uint64_t{fraction} * 1000000) >> 32);
    snprintf(text, sizeof text, iso ? "%s.%06uZ" : "%s.%06u UTC", date, micro);
    return text;
}

void print_time(decode_context& cx, const message& m, size_t at, const char* label, const char* key) {
    uint32_t seconds = m.be32(at);
    uint32_t fraction = m.be32(at + 4);
    zelk_printf(cx.out, "  %s: %s\n", label, time_text(seconds, fraction, false).c_str());
    if (recording()) record_text(cx, key, time_text(seconds, fraction, true));
}

// A 16.16 fixed-point duration in seconds, to the microsecond.
void print_short_time(decode_context& cx, uint32_t value, const char* label, const char* key) {
    auto micro = static_cast<unsigned>((uint64_t{value & 0xffff} * 1000000) >> 16);
    zelk_printf(cx.out, "%s%u.%06u", label, value >> 16, micro);
    record_number(cx, key, static_cast<long long>((uint64_t{value} * 1000000) >> 16));
}

void decode(decode_context& cx, const message& m) {
    uint8_t first = m.u8(0);
    unsigned leap = first >> 6;
    unsigned version = (first >> 3) & 7;
    unsigned mode = first & 7;
    field(cx, "leap", "  Leap: %u", leap);
    field(cx, "version", ", Version: %u", version);
    field(cx, "mode", ", Mode: %u", mode);
    print_name(cx, "mode", modes[mode]);
    zelk_printf(cx.out, "\n");
    if (mode == 6 || mode == 7) {
        // Control and private messages have a layout of their own.
        size_t rest = m.length - 1;
        field(cx, "data_length", "  Data: %u bytes\n", static_cast<unsigned>(rest));
        summary_note(cx, "%s", modes[mode]);
        return;
    }
    m.at(0, header_length);
    uint8_t stratum = m.u8(1);
    field(cx, "stratum", "  Stratum: %u", stratum);
    field(cx, "poll", ", Poll: %d", static_cast<int8_t>(m.u8(2)));
    field(cx, "precision", ", Precision: %d\n", static_cast<int8_t>(m.u8(3)));
    if (expanded(settings.expand_all)) {
        print_short_time(cx, m.be32(4), "  Root delay: ", "root_delay_us");
        print_short_time(cx, m.be32(8), ", Root dispersion: ", "root_dispersion_us");
        zelk_printf(cx.out, "\n");
        const uint8_t* id = m.at(12, 4);
        // Stratum 0 and 1 carry four ASCII characters (a kiss code or a
        // clock source); higher strata the address of their server.
        if (stratum <= 1) {
            size_t n = 0;
            while (n < 4 && id[n]) ++n;
            field(cx, "reference_id", "  Reference ID: \"%s\"\n", printable_text(cx, id, n));
        } else {
            field(cx, "reference_id", "  Reference ID: %s\n", ipv4_text(cx, id));
        }
        print_time(cx, m, 16, "Reference time", "reference_time");
        print_time(cx, m, 24, "Origin time", "origin_time");
        print_time(cx, m, 32, "Receive time", "receive_time");
    }
    print_time(cx, m, 40, "Transmit time", "transmit_time");
    if (m.length > header_length) {
        size_t rest = m.length - header_length;
        field(cx, "extension_length", "  Extensions and MAC: %u bytes\n", static_cast<unsigned>(rest));
    }
    summary_note(cx, "%s, stratum %u", modes[mode], stratum);
}

}  // namespace

int decode_ntp(decode_context& cx, const frame_lengths*, const uint8_t* frame, unsigned offset) {
    layer(cx, "ntp", "- NTP Header -\n");
    bump(cx.counters.ntp);
    try {
        decode(cx, payload_message(cx, frame, offset));
    } catch (const malformed_message& e) {
        report_malformed(cx, e);
    }
    return 0;
}
