#!/usr/bin/env bash
# Runs the sanitized test builds of `make sanitize`: unit and end-to-end tests from build/asan
# (AddressSanitizer + UndefinedBehaviorSanitizer), and the tests that run threads from
# build/tsan (ThreadSanitizer). Every sanitized process, the receivers the end-to-end tests
# start included, writes its reports to <build>/sanitizer-logs/; any report fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."

# Tests that run code on several threads at once: the log queue and delivery lock, the
# connection places, the server's restarts, deadlines and TLS streams, the loaded receiver, and
# kept connections given up across event loops.
CONCURRENCY_TESTS='^(LogQueue|Delivery|ConnectionSlot|StartServer|ConnectionDeadline|TlsSessionEnd|ReceiverLoad|ReceiverConnections)\.'

failed=0
run() {  # build-dir ctest-arguments...
    local build=$1
    shift
    local logs=$PWD/$build/sanitizer-logs
    rm -rf "$logs"
    mkdir -p "$logs"
    echo "== $build: ctest $*"
    ASAN_OPTIONS="detect_leaks=1:log_path=$logs/asan" \
        UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:log_path=$logs/ubsan" \
        TSAN_OPTIONS="second_deadlock_stack=1:log_path=$logs/tsan" \
        ctest --test-dir "$build" --output-on-failure --timeout 900 "$@" || failed=1
    if compgen -G "$logs/*" >/dev/null; then
        for report in "$logs"/*; do
            echo "---- $report"
            cat "$report"
        done
        echo "sanitizer reports in $logs" >&2
        failed=1
    fi
}

run build/asan -L 'unit|e2e'
run build/tsan -R "$CONCURRENCY_TESTS"
if [ $failed -ne 0 ]; then
    echo "make sanitize: FAILED" >&2
    exit 1
fi
echo "make sanitize: unit and end-to-end tests clean under ASan+UBSan, concurrency tests clean under TSan"
