#!/usr/bin/env bash
# Builds the fuzz targets and the seed generator with clang into BUILD (default build-fuzz).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-fuzz}
cmake -S fuzz -B "$build" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$build" -j2
