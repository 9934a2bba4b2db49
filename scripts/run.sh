#!/usr/bin/env bash
# The main job: installs what is needed, builds everything in build/release and shows the
# viewer working without hardware: the base-station simulator serves a USB base station with
# a few modules (sim/scenarios/demo.scn) on a private virtual bus, and LyxGlance opens on it.
# Closing the window ends both.
#
# Without a display (DISPLAY and WAYLAND_DISPLAY unset) the viewer runs in a private X
# server for 15 seconds; a screenshot of its window is saved and its path printed.
#
#   scripts/run.sh            the demonstration
#   scripts/run.sh bench      the benchmarks instead (several minutes)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release -j "${LYX_JOBS:-2}"

bin=$PWD/build/release/bin
lib=$PWD/build/release/lib
if [ "${1:-}" = bench ]; then
    for b in lyx_bench lyx_sim_bench dataprovider_bench dataprovider_reception_bench \
        lyx_controls_bench lyxglance_bench lyxglance_window_bench; do
        if [ -x "$bin/$b" ]; then "$bin/$b"; fi
    done
    "$bin/lyxglance_load_bench" 30
    /usr/bin/python3 cli/bench/log_bench.py --bin "$bin" --lib "$lib" --seconds 60
    /usr/bin/python3 cli/bench/log_bench.py --bin "$bin" --lib "$lib" --seconds 60 --rate 4000
    /usr/bin/python3 python/bench/loss_bench.py --build build/release --seconds 60
    /usr/bin/python3 sim/bench/replay_bench.py --bin "$bin" --lib "$lib"
    /usr/bin/python3 python/bench/callback_bench.py --build build/release
    /usr/bin/python3 python/bench/sim_bench.py --build build/release --seconds 30
    /usr/bin/python3 cli/bench/mqtt_bench.py --bin "$bin" --lib "$lib" --seconds 60
    /usr/bin/python3 cli/bench/spool_bench.py --bin "$bin" --lib "$lib" --seconds 30 --outage 60
    scripts/desktop-session -- /usr/bin/python3 viewer/bench/startup_bench.py \
        --bin "$bin" --lib "$lib" --scenarios sim/scenarios
    scripts/desktop-session -- /usr/bin/python3 viewer/bench/load_bench.py \
        --bin "$bin" --lib "$lib" --seconds 30
    scripts/desktop-session -- /usr/bin/python3 viewer/bench/load_bench.py \
        --bin "$bin" --lib "$lib" --seconds 30 --logging
    scripts/desktop-session -- /usr/bin/python3 viewer/bench/modules_bench.py \
        --bin "$bin" --lib "$lib" --seconds 30
    exit 0
fi

# A private bus, class registry and driver-copy folder, so the demonstration touches nothing
# of the user's own set-up but the viewer's window place.
work=$(mktemp -d "${TMPDIR:-/tmp}/lyx-demo.XXXXXX")
sim=""
cleanup() {
    [ -n "$sim" ] && kill "$sim" 2>/dev/null && wait "$sim" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/vhid" "$work/tmp"
export LYX_VHID_DIR=$work/vhid LYX_REGISTRY=$work/classes.ini TMPDIR=$work/tmp
"$bin/lyx-regsvr" "$lib/libLyxDataProviderCOM.so" >/dev/null

"$bin/lyx-basestation-sim" --vhid-dir "$work/vhid" --no-stdin --quiet sim/scenarios/demo.scn &
sim=$!
for _ in $(seq 100); do
    compgen -G "$work/vhid/*.sock" >/dev/null && break
    sleep 0.1
done

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    echo "LyxGlance on the simulated base station; close the window to end."
    "$bin/LyxGlance"
    exit 0
fi

# No display: a private X server, 15 seconds, a screenshot.
shot=$PWD/build/release/lyxglance-demo.png
export XDG_CONFIG_HOME=$work/config
scripts/desktop-session -- bash -c '
    "$1" & viewer=$!
    window=$(xdotool search --sync --onlyvisible --pid "$viewer" | head -n 1)
    sleep 15
    import -window "$window" "$2"
    kill -TERM "$viewer"
    wait "$viewer"
' demo "$bin/LyxGlance" "$shot"
echo "No display: LyxGlance ran for 15 seconds in a private X server."
echo "Screenshot of its window: $shot"
