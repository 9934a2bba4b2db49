#!/usr/bin/env bash
# The main job: installs what is needed, builds everything in build/release and
# runs the driver benchmarks (the most useful program until the viewer exists).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release -j "${LYX_JOBS:-2}"
exec build/release/bin/lyx_bench "$@"
