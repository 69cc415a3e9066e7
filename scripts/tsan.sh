#!/bin/sh
# Runs the threaded tests of a ThreadSanitizer build (make tsan); any report fails the run.
set -eu
build=$1
here=$(cd "$(dirname "$0")/.." && pwd)
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$here/tests/tsan.supp"
export QT_QPA_PLATFORM=offscreen
run() {
    echo "tsan: $*"
    "$build/bin/$@" --gtest_brief=1
}
run concurrency_tests
run signature_tests
run overview_tests
run scan_tests
# The busy-pool case meets in Qt's semaphores, which the detector can't see.
run logs_tests --gtest_filter='LogWalk.*:LogList*:-LogWalk.ABusyPoolLeavesTheWalkToTheCaller'
echo "tsan: no races found"
