#include "stats/views_table.h"

#include <cstdio>
#include <ctime>

#include "driver/settings.h"
#include "output/record.h"
#include "zelk.h"

void append_json_text(std::string& out, const std::string& text) {
    static const char digits[] = "0123456789abcdef";
    out.push_back('"');
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(static_cast<char>(c));
        } else if (c < 0x20 || c >= 0x7f) {
            // ASCII only, as in the frame lines.
            out.append("\\u00");
            out.push_back(digits[c >> 4]);
            out.push_back(digits[c & 0x0f]);
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    out.push_back('"');
}

namespace {

void print_json(const stats_view& view) {
    std::string out = "{\"stats\":\"";
    out.append(view.name);
    // The tables in an object of their own: a table named like a protocol
    // ("ipv4") must not share a key path with the frame lines' objects.
    out.append("\",\"tables\":{");
    for (const stats_table& t : view.tables) {
        if (&t != &view.tables.front()) out.push_back(',');
        out.append("\"").append(t.key).append("\":[");
        for (size_t r = 0; r < t.rows.size(); ++r) {
            out.append(r ? ",{" : "{");
            bool first = true;
            for (size_t c = 0; c < t.columns.size(); ++c) {
                if (!t.columns[c].key) continue;
                if (!first) out.push_back(',');
                first = false;
                out.push_back('"');
                out.append(t.columns[c].key).append("\":");
                if (t.columns[c].kind == cell_kind::text)
                    append_json_text(out, t.rows[r][c]);
                else
                    out.append(t.rows[r][c]);
            }
            out.push_back('}');
        }
        out.push_back(']');
    }
    out.append("},\"over_limit\":{");
    for (const stats_table& t : view.tables) {
        if (&t != &view.tables.front()) out.push_back(',');
        out.append("\"").append(t.key).append("\":").append(std::to_string(t.over_limit));
    }
    out.append("}}\n");
    write_record_line(zelk_main_text(), out.data(), out.size());
}

void print_text(const stats_view& view) {
    std::string out = "\n---------- ";
    out.append(view.title).append(" ----------\n");
    for (const stats_table& t : view.tables) {
        out.push_back('\n');
        if (*t.title) out.append(t.title).append(":\n");
        if (t.rows.empty()) {
            out.append("  (none)\n");
        } else {
            std::vector<size_t> width(t.columns.size());
            for (size_t c = 0; c < t.columns.size(); ++c) {
                if (!t.columns[c].title) continue;
                width[c] = std::string(t.columns[c].title).size();
                for (const auto& row : t.rows) width[c] = std::max(width[c], row[c].size());
            }
            auto line = [&](auto cell_of) {
                std::string text = " ";
                bool first = true;
                for (size_t c = 0; c < t.columns.size(); ++c) {
                    if (!t.columns[c].title) continue;
                    std::string cell = cell_of(c);
                    std::string pad(width[c] - cell.size(), ' ');
                    text.push_back(' ');
                    if (!first) text.push_back(' ');
                    first = false;
                    text.append(t.columns[c].kind == cell_kind::text ? cell + pad : pad + cell);
                }
                while (!text.empty() && text.back() == ' ') text.pop_back();
                out.append(text).push_back('\n');
            };
            line([&](size_t c) { return std::string(t.columns[c].title); });
            for (const auto& row : t.rows) line([&](size_t c) { return row[c]; });
        }
        if (t.over_limit)
            out.append("  ").append(std::to_string(t.over_limit)).append(" frames not counted: the table was full\n");
    }
    zelk_write(out.data(), out.size());
}

}  // namespace

void print_stats_view(const stats_view& view) {
    if (settings.json)
        print_json(view);
    else
        print_text(view);
}

void capture_time_text(int64_t us, char* text, size_t size) {
    int64_t whole = us >= 0 ? us / 1000000 : -((-us + 999999) / 1000000);
    auto fraction = static_cast<unsigned>(us - whole * 1000000);
    time_t t = static_cast<time_t>(whole);
    struct tm parts {};
    bool ok = settings.utc ? gmtime_r(&t, &parts) != nullptr : localtime_r(&t, &parts) != nullptr;
    char day[32];
    if (!ok || strftime(day, sizeof day, "%Y-%m-%d %H:%M:%S", &parts) == 0) {
        snprintf(text, size, "%lld.%06u", static_cast<long long>(whole), fraction);
        return;
    }
    snprintf(text, size, "%s.%06u", day, fraction);
}
