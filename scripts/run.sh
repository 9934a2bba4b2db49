#!/usr/bin/env bash
# The main job: installs what is needed, builds everything in build/release and
# shows the system working without hardware: the base-station simulator serves
# a USB base station with a few modules (sim/scenarios/demo.scn) and lyx-monitor
# prints every frame the driver delivers from it, for 15 seconds.
#
#   scripts/run.sh            the demonstration
#   scripts/run.sh bench      the benchmarks instead (several minutes)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release -j "${LYX_JOBS:-2}"

bin=build/release/bin
if [ "${1:-}" = bench ]; then
    for b in lyx_bench lyx_sim_bench dataprovider_bench dataprovider_reception_bench lyx_controls_bench; do
        [ -x "$bin/$b" ] && "$bin/$b"
    done
    exit 0
fi

bus=$(mktemp -d "${TMPDIR:-/tmp}/lyx-demo.XXXXXX")
trap 'kill "$sim" 2>/dev/null || true; wait "$sim" 2>/dev/null || true; rm -rf "$bus"' EXIT
"$bin/lyx-basestation-sim" --vhid-dir "$bus" --no-stdin --duration 20s sim/scenarios/demo.scn &
sim=$!
for _ in $(seq 100); do
    compgen -G "$bus/*.sock" >/dev/null && break
    sleep 0.1
done
echo "--- frames delivered by the driver from the simulated base station ---"
LYX_VHID_DIR="$bus" "$bin/lyx-monitor" --usb --seconds 15
