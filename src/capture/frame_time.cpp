#include "capture/frame_time.h"

#include <cinttypes>
#include <cstdio>
#include <ctime>

#include "driver/settings.h"

namespace {

// The reader's memory of the first and the previous frame; only the thread
// that reads the frames calls frame_time_text.
struct frame_time_state {
    bool have_first;
    int64_t first_us;
    int64_t previous_us;
    char* text;
    size_t size;
};
frame_time_state state;

// Seconds with six decimals; the sign belongs to the whole value, so that
// a frame stamped before its predecessor shows -0.250000, not 0.-250000.
void print_interval(int64_t us) {
    const char* sign = us < 0 ? "-" : "";
    uint64_t magnitude = us < 0 ? 0 - static_cast<uint64_t>(us) : static_cast<uint64_t>(us);
    snprintf(state.text, state.size, "%s%" PRIu64 ".%06u", sign, magnitude / 1000000,
             static_cast<unsigned>(magnitude % 1000000));
}

// The calendar text of the last whole second: frames come many a second,
// and the conversion through the time zone is the costly part.
struct calendar_cache {
    bool valid;
    long seconds;
    bool with_date;
    bool ok;
    char whole[40];
};
calendar_cache calendar;

void print_calendar(long seconds, unsigned microseconds, bool with_date) {
    if (!calendar.valid || calendar.seconds != seconds || calendar.with_date != with_date) {
        time_t t = seconds;
        tm parts{};
        calendar.ok = settings.utc ? gmtime_r(&t, &parts) != nullptr : localtime_r(&t, &parts) != nullptr;
        if (calendar.ok)
            strftime(calendar.whole, sizeof calendar.whole, with_date ? "%Y-%m-%d %H:%M:%S" : "%H:%M:%S", &parts);
        calendar.valid = true;
        calendar.seconds = seconds;
        calendar.with_date = with_date;
    }
    if (!calendar.ok) {
        snprintf(state.text, state.size, "%ld.%06u", seconds, microseconds);
        return;
    }
    snprintf(state.text, state.size, "%s.%06u", calendar.whole, microseconds);
}

}  // namespace

void frame_time_text(long seconds, unsigned microseconds, char* text, size_t size) {
    state.text = text;
    state.size = size;
    // A damaged time stamp may lie far outside what microseconds in 64 bits
    // hold: it is clamped rather than overflowed.
    __int128 exact = static_cast<__int128>(seconds) * 1000000 + microseconds;
    constexpr __int128 largest = INT64_MAX / 2, smallest = INT64_MIN / 2;
    int64_t now_us = static_cast<int64_t>(exact > largest ? largest : exact < smallest ? smallest : exact);
    if (!state.have_first) {
        state.have_first = true;
        state.first_us = now_us;
        state.previous_us = now_us;
    }
    int64_t previous_us = state.previous_us;
    state.previous_us = now_us;

    switch (settings.time_format) {
        case frame_time_format::time_of_day: {
            long day = seconds % 86400;
            if (day < 0) day += 86400;
            // Printed for every frame: no format parser.
            if (microseconds < 1000000) {
                auto two = [](char* out, long v) {
                    out[0] = static_cast<char>('0' + v / 10);
                    out[1] = static_cast<char>('0' + v % 10);
                };
                char* t = state.text;
                two(t, day / 3600);
                t[2] = ':';
                two(t + 3, day % 3600 / 60);
                t[5] = ':';
                two(t + 6, day % 60);
                t[8] = '.';
                unsigned us = microseconds;
                for (int i = 14; i >= 9; --i) {
                    t[i] = static_cast<char>('0' + us % 10);
                    us /= 10;
                }
                t[15] = 0;
            } else {
                snprintf(state.text, state.size, "%02d:%02d:%02d.%06u", static_cast<int>(day / 3600),
                         static_cast<int>(day % 3600 / 60), static_cast<int>(day % 60), microseconds);
            }
            break;
        }
        case frame_time_format::absolute: print_calendar(seconds, microseconds, false); break;
        case frame_time_format::date: print_calendar(seconds, microseconds, true); break;
        case frame_time_format::epoch: snprintf(state.text, state.size, "%ld.%06u", seconds, microseconds); break;
        case frame_time_format::relative: print_interval(now_us - state.first_us); break;
        case frame_time_format::delta: print_interval(now_us - previous_us); break;
    }
}

bool frame_time_is_time_of_day() { return settings.time_format == frame_time_format::time_of_day; }

void frame_time_reset() {
    state = frame_time_state{};
    calendar = calendar_cache{};
}
