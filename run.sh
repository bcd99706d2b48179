#!/usr/bin/env bash
# Builds the programs (Release) into build/ and starts the launcher.
#   ./run.sh --demo     with the emulated sensor
#   ./run.sh            with a real sensor; further arguments go to the launcher
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"
scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DZELKOR2D_TESTS=OFF >/dev/null
cmake --build build --parallel "$(nproc)" --target Zelkor2d kivor
exec build/bin/Zelkor2d "$@"
