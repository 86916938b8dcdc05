// The tables of the statistics views, written as aligned text or as one
// JSON object a view.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum class cell_kind : uint8_t { text, number, real };

struct stats_column {
    const char* title;  // null: a column of the JSON rows only
    const char* key;    // the JSON key; null: a column of the text only
    cell_kind kind;
};

struct stats_table {
    const char* title = "";  // empty: the view's only table, no title line
    const char* key = "";    // the JSON array that holds the rows
    std::vector<stats_column> columns;
    std::vector<std::vector<std::string>> rows;
    // Frames not counted because the table was full.
    uint64_t over_limit = 0;
};

struct stats_view {
    const char* name;   // "conversations": the JSON "stats" value
    const char* title;  // "Conversations": the text banner
    std::vector<stats_table> tables;
};

// Text: a banner, each table's title, its header and rows; under --json
// one line {"stats":"<name>","<table key>":[{...}],...}.
void print_stats_view(const stats_view& view);

// Appends text as a JSON string; bytes outside printable ASCII as \u00XX.
void append_json_text(std::string& out, const std::string& text);

// "2026-12-07 10:00:00.120000": local time, or UTC under --utc.
void capture_time_text(int64_t microseconds_since_1970, char* text, size_t size);

// The key that names a conversation whichever way its frame goes.
std::string conversation_key(const std::string& src, uint16_t src_port, const std::string& dst, uint16_t dst_port);
