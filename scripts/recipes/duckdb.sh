#!/bin/sh
# Runs scripts/recipes/duckdb.js, installing DuckDB's node package on first
# use into NODRIX_NPM_DIR (default ~/.cache/nodrix/npm), outside the
# repository.
#
# usage: scripts/recipes/duckdb.sh FRAMES.jsonl OUT.parquet
set -eu
dir=${NODRIX_NPM_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/nodrix/npm}
if [ ! -d "$dir/node_modules/@duckdb/node-api" ]; then
    mkdir -p "$dir"
    npm install --silent --no-audit --no-fund --prefix "$dir" @duckdb/node-api >&2
fi
NODE_PATH="$dir/node_modules" exec node "$(dirname "$0")/duckdb.js" "$@"
