#!/usr/bin/env bash
# Builds everything and runs every test: tools/test.sh [BUILD_DIR [CMAKE_OPTIONS...]]
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
shift || true
cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
cmake --build "$dir"
ctest --test-dir "$dir" --output-on-failure -j2
