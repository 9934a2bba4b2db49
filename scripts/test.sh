#!/usr/bin/env bash
# Builds the project in three configurations and runs the tests of each:
#   build/ci    optimised with debug info, warnings as errors: every test
#   build/asan  address + undefined-behaviour sanitizers: every test but the end-to-end ones
#               (the real programs in a desktop session; they run in build/ci)
#   build/tsan  thread sanitizer: the tests labelled "threads"
# then the Debian package test (scripts/test-package.sh: build/package, a Release build; as
# root only, since it installs the package and adds a user), counted as one test.
# Ends with one summary line over all four.
set -uo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh || exit 1

jobs=${LYX_JOBS:-2}
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}

total=0
failed=0
failures=()

# Minutes and seconds since the script started, for the phases' lines.
elapsed() { printf '%d:%02d' $((SECONDS / 60)) $((SECONDS % 60)); }

# run_config NAME LABEL EXCLUDE TARGETS CMAKE-ARGS...: TARGETS empty builds everything.
run_config() {
    local name=$1 label=$2 exclude=$3 targets=$4; shift 4
    local dir=build/$name
    echo "=== configuration $name (at $(elapsed)) ==="
    if ! cmake -S . -B "$dir" -G Ninja "$@" >"$dir.configure.log" 2>&1; then
        cat "$dir.configure.log"; failures+=("$name: configure"); failed=$((failed + 1)); return
    fi
    local build=(--build "$dir" -j "$jobs")
    # shellcheck disable=SC2206  # the target names are words on purpose
    [ -n "$targets" ] && build+=(--target $targets)
    if ! cmake "${build[@]}"; then
        failures+=("$name: build"); failed=$((failed + 1)); return
    fi
    echo "=== configuration $name built (at $(elapsed)) ==="
    local args=(--test-dir "$dir" --output-on-failure -j "$jobs")
    [ -n "$label" ] && args+=(-L "$label")
    [ -n "$exclude" ] && args+=(-LE "$exclude")
    ctest "${args[@]}" | tee "$dir.ctest.log"
    local line n f
    line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$dir.ctest.log" | tail -n 1)
    if [ -z "$line" ]; then
        failures+=("$name: no test summary"); failed=$((failed + 1)); return
    fi
    n=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
    f=$(sed -E 's/.*, ([0-9]+) tests failed.*/\1/' <<<"$line")
    total=$((total + n)); failed=$((failed + f))
    [ "$f" -ne 0 ] && failures+=("$name: $f failed")
}

mkdir -p build
# Debug information as line tables only (-g1): stack traces, sanitizer reports and gdb's
# backtraces keep their files and lines, and the three builds take about a quarter less time
# than with full debug information.
lines_only=(-DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG"
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG")
# The benchmarks are built by `scripts/run.sh bench`, not here: the three builds and their
# tests must stay well within CI's time.
run_config ci "" "" "" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${lines_only[@]}" -DLYX_WERROR=ON \
    -DLYX_BUILD_GUI=ON -DLYX_BUILD_BENCHMARKS=OFF
run_config asan "" e2e "" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_FLAGS_DEBUG=-g1 -DCMAKE_CXX_FLAGS_DEBUG=-g1 \
    -DLYX_WERROR=ON "-DLYX_SANITIZE=address,undefined" -DLYX_BUILD_GUI=ON -DLYX_BUILD_BENCHMARKS=OFF
# The thread sanitizer runs the tests labelled "threads": only their programs, and the
# libraries and tools these load and start, are built.
tsan_targets="LyxPlatform LyxDrv LyxDataProviderCOM lyx_test_server lyx-regsvr lyx-monitor \
    lyx lyx-basestation-sim platform_tests receive_engine_tests driver_library_tests \
    driver_port_tests driver_command_tests driver_simulator_tests sim_driver_tests \
    sim_program_tests sim_runtime_tests dataprovider_routing_tests \
    dataprovider_component_tests dataprovider_command_tests dataprovider_end_to_end_tests \
    cli_mqtt_thread_tests"
run_config tsan threads "" "$tsan_targets" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${lines_only[@]}" -DLYX_WERROR=ON \
    -DLYX_SANITIZE=thread -DLYX_BUILD_BENCHMARKS=OFF -DLYX_BUILD_GUI=OFF

echo "=== package (at $(elapsed)) ==="
package_note=""
if [ "$(id -u)" -eq 0 ]; then
    total=$((total + 1))
    if ! bash scripts/test-package.sh 2>&1 | tee build/package-test.log; then
        failures+=("package: test failed (build/package-test.log)"); failed=$((failed + 1))
    fi
else
    package_note="package test skipped: it needs root (it installs the package and adds a user)"
    echo "$package_note"
fi

echo
echo "=== summary over ci, asan, tsan and the package (after $(elapsed)) ==="
[ -n "$package_note" ] && echo "$package_note"
for f in "${failures[@]}"; do echo "FAILED $f"; done
passed=$((total - failed))
pct=0
[ "$total" -gt 0 ] && pct=$((100 * (passed < 0 ? 0 : passed) / total))
echo "${pct}% tests passed, ${failed} tests failed out of ${total}"
[ ${#failures[@]} -eq 0 ]
