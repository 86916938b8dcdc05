#!/bin/sh
# Loads nodrix JSON Lines into a PostgreSQL table frames(j jsonb), one line
# a row. Connection options go to psql.
#
# usage: scripts/recipes/postgresql.sh FRAMES.jsonl [PSQL-OPTIONS...]
set -eu
[ $# -ge 1 ] || { echo "usage: $0 FRAMES.jsonl [PSQL-OPTIONS...]" >&2; exit 2; }
file=$1
shift
case $file in *"'"*) echo "$0: the file name must not hold a quote" >&2; exit 2 ;; esac
# CSV with a quote and a delimiter that never occur in a line (nodrix writes
# control bytes as \u00XX), so COPY takes each line whole and leaves its
# backslashes alone, which the text format would not.
psql -X -q -v ON_ERROR_STOP=1 "$@" <<SQL
CREATE TABLE IF NOT EXISTS frames (j jsonb NOT NULL);
\copy frames (j) FROM '$file' WITH (FORMAT csv, QUOTE E'\x01', DELIMITER E'\x02')
CREATE INDEX IF NOT EXISTS frames_tcp_dst_port ON frames (((j->'tcp'->>'dst_port')::bigint));
ANALYZE frames;
SQL
