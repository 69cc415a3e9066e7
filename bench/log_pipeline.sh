#!/bin/sh
# The log pipeline's stages on generated output, and the two parsers it is held
# against, measured in the same run: Python's json.loads and QJsonDocument.
#   bench/log_pipeline.sh BUILD_DIR [ENTRIES]
set -eu
build=${1:-build}
entries=${2:-1000000}
bench="$build/bin/bench_log_pipeline"
data="$build/bench-data/log-$entries.json"
mkdir -p "$build/bench-data"
[ -s "$data" ] || "$bench" --generate "$entries" "$data"

ours=$("$bench" "$data")
echo "$ours"
qjson=$("$bench" --qjson "$data")
echo "$qjson"
python=$(python3 -c '
import json, sys, time
data = open(sys.argv[1], "rb").read()
start = time.perf_counter()
entries = json.loads(data)
print("python_json_loads seconds=%.4f entries=%d" % (time.perf_counter() - start, len(entries)))' "$data")
echo "$python"

seconds() { echo "$1" | sed -n "s/^$2 seconds=\([0-9.]*\).*/\1/p"; }
parse=$(seconds "$ours" parse)
echo "$parse $(seconds "$python" python_json_loads) $(seconds "$qjson" qjson_parse)" |
    awk '{ printf "parse_vs_python=%.1fx faster\nparse_vs_qjson=%.1fx faster\n", $2 / $1, $3 / $1 }'
echo "$ours" | awk -F= '/^file_mb/ { f = $2 } /^peak_rss_mb/ { r = $2 } END { printf "peak_rss_vs_file=%.2f\n", r / f }'
