#!/usr/bin/env bash
# Builds nodrix when needed and runs it; with no arguments it decodes the
# bundled sample capture.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
"$here/scripts/deps.sh"
if [ ! -f "$here/build/build.ninja" ]; then
  cmake -S "$here" -B "$here/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$here/build" --target nodrix >/dev/null
if [ $# -eq 0 ]; then
  set -- -P "$here/samples/sample.pcap" --expand-all --verbose --calc-checksums
fi
exec "$here/build/nodrix" "$@"
