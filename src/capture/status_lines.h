// Start-up and closing lines ("Read packet(s) from file: ...", "Filter
// rule: ...", the counts at the end) belong on standard output in the text
// mode. While standard output holds summary lines or JSON Lines they go to
// standard error instead, so that a reader of standard output meets nothing
// else. A scope that holds a status_lines sends them there.
#pragma once

#include <cstdio>

#include "driver/settings.h"
#include "zelk.h"

class status_lines {
public:
    status_lines() : active_(settings.record_fields) {
        if (!active_) return;
        // What the output stream holds goes first, so that the two streams
        // read in order when they meet (2>&1).
        zelk_flush(zelk_output());
        previous_ = zelk_output();
        suppressed_ = zelk_main_text().suppressed;
        zelk_set_output(stderr);
        zelk_main_text().suppressed = false;
    }
    ~status_lines() { end(); }
    status_lines(const status_lines&) = delete;
    status_lines& operator=(const status_lines&) = delete;

    // Back to the output stream, before the scope ends.
    void end() {
        if (!active_) return;
        active_ = false;
        zelk_drain_output();
        fflush(stderr);
        zelk_set_output(previous_ == stdout ? nullptr : previous_);
        zelk_main_text().suppressed = suppressed_;
    }

private:
    bool active_;
    bool suppressed_ = false;
    FILE* previous_ = nullptr;
};
