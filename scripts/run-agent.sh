#!/usr/bin/env bash
# Builds the agent and its tools.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"
echo "built: $(ls build/bin | tr '\n' ' ')"
