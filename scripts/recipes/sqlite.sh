#!/bin/sh
# Loads nodrix JSON Lines into an SQLite table frames(j), one line a row,
# for SQLite's JSON functions (j->>'$.tcp.dst_port').
#
# usage: scripts/recipes/sqlite.sh FRAMES.jsonl DATABASE
set -eu
[ $# -eq 2 ] || { echo "usage: $0 FRAMES.jsonl DATABASE" >&2; exit 2; }
case $1 in *"'"*) echo "$0: the file name must not hold a quote" >&2; exit 2 ;; esac
# nodrix writes every control byte inside a string as \u00XX, so the unit
# separator (octal 037) never occurs in a line: in "ascii" mode .import
# takes each line whole, whatever quotes and commas it holds.
sqlite3 -bail "$2" <<SQL
CREATE TABLE IF NOT EXISTS frames (j TEXT NOT NULL CHECK (json_valid(j)));
.mode ascii
.separator "\037" "\n"
.import '$1' frames
CREATE INDEX IF NOT EXISTS frames_tcp_dst_port ON frames (j->>'\$.tcp.dst_port');
SQL
