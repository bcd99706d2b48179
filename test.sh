#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UBSan into build-test/ and runs every test.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"
scripts/install-deps.sh
cmake -S . -B build-test -DCMAKE_BUILD_TYPE=Debug -DZELKOR2D_SANITIZE=ON -DZELKOR2D_TESTS=ON -DZELKOR2D_BENCH=ON
cmake --build build-test --parallel "$(nproc)"
cd build-test
ctest --output-on-failure --timeout 300 -j "$(nproc)"
