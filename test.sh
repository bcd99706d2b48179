#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UBSan into build-test/ and runs every test; then builds
# the thread tests (engine, device link, demo sensor, every experiment's window) with ThreadSanitizer
# into build-tsan/ and runs them. Any failure or sanitizer report fails the run.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"
scripts/install-deps.sh
jobs=$(nproc)

start=$SECONDS
cmake -S . -B build-test -DCMAKE_BUILD_TYPE=Debug -DZELKOR2D_SANITIZE=ON -DZELKOR2D_TESTS=ON -DZELKOR2D_BENCH=ON
cmake --build build-test --parallel "$jobs"
(cd build-test && ctest --output-on-failure --timeout 300 -j "$jobs")
echo "AddressSanitizer/UBSan build and tests: $((SECONDS - start)) s"

# Only the targets of the thread tests are built. The 30-second pauses of the paced demo walks run
# the same threads as their shorter pauses, at twice the time, so they are left to the suite above.
start=$SECONDS
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DZELKOR2D_TSAN=ON -DZELKOR2D_TESTS=ON
cmake --build build-tsan --parallel "$jobs" --target thread_tests
echo "ThreadSanitizer build: $((SECONDS - start)) s"
cd build-tsan
ctest -L threads -E 'pause30s' --output-on-failure --timeout 600 -j "$jobs"
