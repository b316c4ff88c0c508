#!/usr/bin/env bash
# Installs what is missing, then configures and builds everything into build/ (binaries in build/dist).
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
cmake --build build
