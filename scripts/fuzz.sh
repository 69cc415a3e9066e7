#!/bin/sh
# Runs every fuzz target of a fuzz build for the given number of seconds each,
# starting from the checked-in seeds and regressions in fuzz/corpus/NAME.
set -eu
build=$1
seconds=$2
root=$(cd "$(dirname "$0")/.." && pwd)
status=0
for target in "$build"/bin/fuzz_*; do
    [ -x "$target" ] || continue
    name=${target##*/fuzz_}
    seeds="$root/fuzz/corpus/$name"
    work=$(mktemp -d)
    [ -d "$seeds" ] && cp -r "$seeds"/. "$work"/ 2>/dev/null || true
    echo "fuzz $name: ${seconds}s"
    if ! "$target" -max_total_time="$seconds" -print_final_stats=0 -artifact_prefix="$build/" "$work" >"$build/fuzz_$name.log" 2>&1; then
        tail -n 40 "$build/fuzz_$name.log"
        echo "fuzz $name: FAILED (crash input kept in $build/)"
        status=1
    else
        echo "fuzz $name: ok ($(grep -c . "$build/fuzz_$name.log") log lines)"
    fi
    rm -rf "$work"
done
exit $status
