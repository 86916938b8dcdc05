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
    bool have_previous;
    int64_t first_us;
    int64_t previous_us;
    // The nanoseconds past the microsecond (0-999) of the same frames.
    unsigned first_rest;
    unsigned previous_rest;
    char* text;
    size_t size;
};
frame_time_state state;

// Seconds with six decimals (nine with nanoseconds); the sign belongs to the
// whole value, so that a frame stamped before its predecessor shows
// -0.250000, not 0.-250000.
void print_interval(int64_t us, int rest) {
    __int128 value = settings.time_nanoseconds ? static_cast<__int128>(us) * 1000 + rest : us;
    const char* sign = value < 0 ? "-" : "";
    unsigned __int128 magnitude = value < 0 ? -static_cast<unsigned __int128>(value) : value;
    unsigned __int128 unit = settings.time_nanoseconds ? 1000000000 : 1000000;
    snprintf(state.text, state.size, settings.time_nanoseconds ? "%s%" PRIu64 ".%09u" : "%s%" PRIu64 ".%06u", sign,
             static_cast<uint64_t>(magnitude / unit), static_cast<unsigned>(magnitude % unit));
}

// The decimals of a time stamp: microseconds, or nanoseconds with -ns.
void print_fraction(char* text, size_t size, unsigned microseconds, unsigned rest) {
    if (settings.time_nanoseconds)
        snprintf(text, size, "%06u%03u", microseconds, rest);
    else
        snprintf(text, size, "%06u", microseconds);
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

void print_calendar(long seconds, unsigned microseconds, unsigned rest, bool with_date) {
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
    char fraction[24];
    print_fraction(fraction, sizeof fraction, microseconds, rest);
    if (!calendar.ok) {
        snprintf(state.text, state.size, "%ld.%s", seconds, fraction);
        return;
    }
    snprintf(state.text, state.size, "%s.%s", calendar.whole, fraction);
}

// A damaged time stamp may lie far outside what microseconds in 64 bits
// hold: it is clamped rather than overflowed.
int64_t microseconds_of(long seconds, unsigned microseconds) {
    __int128 exact = static_cast<__int128>(seconds) * 1000000 + microseconds;
    constexpr __int128 largest = INT64_MAX / 2, smallest = INT64_MIN / 2;
    return static_cast<int64_t>(exact > largest ? largest : exact < smallest ? smallest : exact);
}

}  // namespace

void frame_time_text(long seconds, unsigned microseconds, char* text, size_t size, unsigned nano_rest) {
    state.text = text;
    state.size = size;
    int64_t now_us = microseconds_of(seconds, microseconds);
    if (!state.have_first) {
        state.have_first = true;
        state.first_us = now_us;
        state.first_rest = nano_rest;
    }
    if (!state.have_previous) {
        state.have_previous = true;
        state.previous_us = now_us;
        state.previous_rest = nano_rest;
    }
    int64_t previous_us = state.previous_us;
    unsigned previous_rest = state.previous_rest;
    state.previous_us = now_us;
    state.previous_rest = nano_rest;

    switch (settings.time_format) {
        case frame_time_format::time_of_day: {
            long day = seconds % 86400;
            if (day < 0) day += 86400;
            // Printed for every frame: no format parser.
            if (microseconds < 1000000 && !settings.time_nanoseconds) {
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
                char fraction[24];
                print_fraction(fraction, sizeof fraction, microseconds, nano_rest);
                snprintf(state.text, state.size, "%02d:%02d:%02d.%s", static_cast<int>(day / 3600),
                         static_cast<int>(day % 3600 / 60), static_cast<int>(day % 60), fraction);
            }
            break;
        }
        case frame_time_format::absolute: print_calendar(seconds, microseconds, nano_rest, false); break;
        case frame_time_format::date: print_calendar(seconds, microseconds, nano_rest, true); break;
        case frame_time_format::epoch: {
            char fraction[24];
            print_fraction(fraction, sizeof fraction, microseconds, nano_rest);
            snprintf(state.text, state.size, "%ld.%s", seconds, fraction);
            break;
        }
        case frame_time_format::relative:
            print_interval(now_us - state.first_us, static_cast<int>(nano_rest) - static_cast<int>(state.first_rest));
            break;
        case frame_time_format::delta:
            print_interval(now_us - previous_us, static_cast<int>(nano_rest) - static_cast<int>(previous_rest));
            break;
    }
}

bool frame_time_is_time_of_day() { return settings.time_format == frame_time_format::time_of_day; }

void frame_time_reset() {
    state = frame_time_state{};
    calendar = calendar_cache{};
}

void frame_time_set_first(long seconds, unsigned microseconds, unsigned nano_rest) {
    state.have_first = true;
    state.first_us = microseconds_of(seconds, microseconds);
    state.first_rest = nano_rest;
}

void frame_time_set_previous(long seconds, unsigned microseconds, unsigned nano_rest) {
    state.have_previous = true;
    state.previous_us = microseconds_of(seconds, microseconds);
    state.previous_rest = nano_rest;
}
