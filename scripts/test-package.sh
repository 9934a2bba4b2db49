#!/usr/bin/env bash
# The Debian package from end to end, as root (the test command runs it as CI does):
#   1. builds it (scripts/package.sh; a Release build that must print no compiler warning)
#      and checks it with lintian: no errors; warnings listed
#   2. installs it with apt-get install ./<file>.deb
#   3. as a new user with an empty home and a clean environment (nothing of the build tree on
#      any path), through the installed files only:
#        LyxGlance --version (offscreen), the simulator with lyx-monitor against it, and a
#        program built against the installed headers and pkg-config files that creates the
#        component by its programmatic identifier, which the system registry resolves;
#        lyx, the Python module, and the MQTT gateway against a private mosquitto broker
#   4. lists the package's files (dpkg -L), removes it with apt-get remove --purge, and
#      checks that none of them is left; removes the user
# Ends with "package test: passed" or "package test: FAILED (<step>)", status 0 or 1.
# Not root: says so and exits 0 without testing.
set -uo pipefail
cd "$(dirname "$0")/.."

if [ "$(id -u)" -ne 0 ]; then
    echo "package test: skipped, it installs a package and adds a user and needs root"
    exit 0
fi

package=lyx-telemetry
work=$(mktemp -d /tmp/lyx-package-test.XXXXXX)
chmod 755 "$work"
user=""
installed=no

fail() {
    echo "package test: FAILED ($1)"
    exit 1
}

cleanup() {
    if [ "$installed" = yes ]; then
        DEBIAN_FRONTEND=noninteractive apt-get remove --purge -y -q "$package" >/dev/null 2>&1
    fi
    # The user's programs end their simulator; should the run itself have been cut short,
    # it is ended here by the PID it wrote down.
    local pid_file
    for pid_file in "$work"/home/*.pid; do
        [ -s "$pid_file" ] && kill -KILL "$(cat "$pid_file")" 2>/dev/null
    done
    [ -n "$user" ] && userdel "$user" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

step() { echo "--- $*"; }

# ---------------------------------------------------------------------------------------------
# Run as the new user, in its empty home, with nothing but these variables set. Each function
# prints what it checked; the first failure ends the run with status 1.

user_programs() {
    set -euo pipefail
    cd "$HOME"
    export TMPDIR=$HOME/tmp
    mkdir -p "$TMPDIR"

    check_viewer
    start_simulator
    check_monitor
    check_component_by_progid
    check_command_line_tool
    check_python_module
    check_mqtt_gateway
    stop_simulator

    # Nothing was registered for this user: the component came from the system registry.
    if [ -e "$HOME/.local/share/lyx/classes.ini" ]; then
        echo "the user's registry was written"
        return 1
    fi
}

check_viewer() {
    local version
    version=$(QT_QPA_PLATFORM=offscreen LyxGlance --version)
    [[ $version =~ ^LyxGlance\ [0-9]+\.[0-9]+\.[0-9]+$ ]] || {
        echo "LyxGlance --version printed: $version"
        return 1
    }
    echo "LyxGlance --version: $version"
}

# The simulator serves the demonstration's USB base station on a private virtual bus; it is
# ready once it says so.
start_simulator() {
    export LYX_VHID_DIR=$HOME/vhid
    mkdir -p "$LYX_VHID_DIR"
    exec {sim_out}< <(exec lyx-basestation-sim --vhid-dir "$LYX_VHID_DIR" --no-stdin --quiet \
        /usr/share/lyx/scenarios/demo.scn 2>&1)
    sim_pid=$!
    echo "$sim_pid" >"$HOME/sim.pid"
    trap stop_simulator EXIT
    local line
    while IFS= read -r -t 20 -u "$sim_out" line; do
        [ "$line" = ready ] && { echo "lyx-basestation-sim: ready (pid $sim_pid)"; return 0; }
    done
    echo "lyx-basestation-sim did not get ready"
    return 1
}

stop_simulator() {
    trap - EXIT
    kill -TERM "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
    exec {sim_out}<&-
    rm -f "$HOME/sim.pid"
}

check_monitor() {
    local out frames
    out=$(lyx-monitor --count 3 --seconds 20 2>"$HOME/monitor.err")
    frames=$(grep -c ' tag ' <<<"$out" || true)
    if [ "$frames" -ne 3 ] || ! grep -q '1 base station(s) found' "$HOME/monitor.err"; then
        echo "lyx-monitor printed:"
        printf '%s\n' "$out"
        cat "$HOME/monitor.err"
        return 1
    fi
    echo "lyx-monitor: 3 data frames, e.g. ${out%%$'\n'*}"
}

check_component_by_progid() {
    # shellcheck disable=SC2046  # pkg-config prints several words on purpose
    g++ -std=c++20 -O1 -o progid_client progid_client.cpp $(pkg-config --cflags --libs lyx-dataprovider)
    ./progid_client 1234 20
}

# ====== The lyx command-line tool (cli/) =====================================================
check_command_line_tool() {
    local version out packets
    version=$(lyx --version)
    grep -q '^DataProvider component [0-9]' <<<"$version" || {
        echo "lyx --version printed: $version"
        return 1
    }
    echo "lyx --version: ${version//$'\n'/, }"
    out=$(lyx station)
    [ "$out" = "base station 1: ID 0x001234 (4660), channel 1" ] || {
        echo "lyx station printed: $out"
        return 1
    }
    echo "lyx station: $out"
    # Five seconds of the load cell's packets, ended by SIGINT as Ctrl-C would.
    timeout -s INT 5 lyx monitor --json --tag 1234 >"$HOME/lyx-monitor.out" \
        2>"$HOME/lyx-monitor.err" || [ $? -eq 124 ]
    packets=$(grep -c '"tag":1234,' "$HOME/lyx-monitor.out" || true)
    if [ "$packets" -lt 3 ] || ! grep -q "^lyx: $packets packets (tag 1234: $packets)" \
        "$HOME/lyx-monitor.err"; then
        echo "lyx monitor printed:"
        cat "$HOME/lyx-monitor.out" "$HOME/lyx-monitor.err"
        return 1
    fi
    echo "lyx monitor: $packets packets of tag 1234, e.g. $(head -n 1 "$HOME/lyx-monitor.out")"
}

# The Python module from the system's site folder, the component from the system registry.
check_python_module() {
    local out
    out=$(/usr/bin/python3 -c '
import lyx
with lyx.DataProvider() as dp:
    dp.Initialise(0, 0)
    packet = next(dp.packets(timeout=20))
    print(lyx.__file__, packet.tag, packet.number is not None)
')
    [[ $out =~ ^/usr/lib/python3/dist-packages/lyx\..*\.so\ [0-9]+\ True$ ]] || {
        echo "the Python module printed: $out"
        return 1
    }
    echo "python3 import lyx: $out"
}

# The gateway as its service starts it, against a mosquitto broker of this user's own on
# 127.0.0.1: a subscriber sees the retained "online", a packet of the load cell, and
# "offline" once SIGTERM has stopped the gateway cleanly.
check_mqtt_gateway() {
    local port out status
    port=$(/usr/bin/python3 -c 'import socket
s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    printf 'listener %s 127.0.0.1\nallow_anonymous true\n' "$port" >"$HOME/mosquitto.conf"
    /usr/sbin/mosquitto -c "$HOME/mosquitto.conf" >"$HOME/mosquitto.log" 2>&1 &
    echo $! >"$HOME/mosquitto.pid"
    local tries=0
    until mosquitto_pub -h 127.0.0.1 -p "$port" -t probe -n 2>/dev/null; do
        tries=$((tries + 1))
        [ "$tries" -lt 50 ] || { echo "mosquitto did not start"; cat "$HOME/mosquitto.log"; return 1; }
        sleep 0.1
    done
    lyx mqtt --broker "mqtt://127.0.0.1:$port" --client-id pkgtest 2>"$HOME/mqtt.err" &
    echo $! >"$HOME/mqtt.pid"
    out=$(mosquitto_sub -h 127.0.0.1 -p "$port" -v -C 2 -W 20 \
        -t lyx/gateway/pkgtest/status -t 'lyx/+/1234/packet' || true)
    kill -TERM "$(cat "$HOME/mqtt.pid")"
    status=0
    wait "$(cat "$HOME/mqtt.pid")" || status=$?
    rm -f "$HOME/mqtt.pid"
    local after
    after=$(mosquitto_sub -h 127.0.0.1 -p "$port" -v -C 1 -W 5 -t lyx/gateway/pkgtest/status || true)
    kill -TERM "$(cat "$HOME/mosquitto.pid")"
    wait "$(cat "$HOME/mosquitto.pid")" 2>/dev/null || true
    rm -f "$HOME/mosquitto.pid"
    if ! grep -q '^lyx/gateway/pkgtest/status online$' <<<"$out" ||
        ! grep -q '^lyx/001234/1234/packet {.*"tag":1234,' <<<"$out" ||
        [ "$after" != "lyx/gateway/pkgtest/status offline" ] || [ "$status" -ne 0 ]; then
        echo "lyx mqtt: the subscriber saw:"
        printf '%s\n' "$out" "$after"
        echo "exit status $status; its standard error:"
        cat "$HOME/mqtt.err"
        return 1
    fi
    echo "lyx mqtt: online, ${out#*$'\n'}, offline after SIGTERM"
}
# =============================================================================================

# ---------------------------------------------------------------------------------------------

step "building the package"
out=$(scripts/package.sh) || { echo "$out"; fail "build"; }
deb=$(sed -n 's/^package: //p' <<<"$out" | tail -n 1)
[ -f "$deb" ] || fail "build: no package file"
echo "$deb ($(du -k "$deb" | cut -f1) KiB)"
# A Release build, as a newcomer makes one, prints no compiler warning. (Only what is
# compiled in this run is seen: CI builds afresh, and ccache replays cached warnings.)
if grep -E '^[^ ]+:[0-9]+:[0-9]+: warning: ' <<<"$out"; then fail "build: compiler warnings"; fi

step "lintian"
lintian --info --display-info "$deb" >"$work/lintian.txt" 2>&1
grep -E '^[EW]: ' "$work/lintian.txt"
if grep -q '^E: ' "$work/lintian.txt"; then fail "lintian errors"; fi
warnings=$(grep -c '^W: ' "$work/lintian.txt" || true)
infos=$(grep -c '^I: ' "$work/lintian.txt" || true)
echo "lintian: no errors, $warnings warning(s), $infos note(s)"

step "metainfo"
metainfo=$(dpkg-deb -c "$deb" | grep -o '\./usr/share/metainfo/.*\.metainfo\.xml' || true)
[ -n "$metainfo" ] || fail "no metainfo file"
dpkg-deb -x "$deb" "$work/root"
appstreamcli validate --no-net "$work/root/${metainfo#./}" || fail "metainfo"

step "installing"
if dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    fail "install: $package is already installed on this machine; remove it first"
fi
installed=yes
DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$deb" >"$work/apt-install.log" 2>&1 || {
    cat "$work/apt-install.log"
    fail "apt-get install"
}
dpkg -L "$package" | sort >"$work/files.txt"
echo "$(wc -l <"$work/files.txt") paths installed"
[ -s /usr/share/lyx/classes.ini ] || fail "install: no system registry entry"
# The gateway's service unit as systemd reads it, with the installed programs and registry.
unit=/usr/lib/systemd/system/lyx-mqtt@.service
grep -q '^ExecStart=/usr/bin/lyx mqtt ' "$unit" && grep -q '^Environment=XDG_DATA_DIRS=/usr/share:' "$unit" ||
    fail "install: $unit does not name /usr/bin/lyx and /usr/share"
if command -v systemd-analyze >/dev/null; then
    verify=$(systemd-analyze verify --man=no "${unit%@.service}@broker.example.service" 2>&1)
    [ -z "$verify" ] || { echo "$verify"; fail "install: systemd-analyze verify $unit"; }
fi
# No installed file names the source or build tree (a run path, a registry entry, a
# pkg-config file).
while IFS= read -r path; do
    [ -f "$path" ] && grep -q -F "$PWD" "$path" && fail "install: $path names $PWD"
done <"$work/files.txt"

step "as a new user"
user=lyxpkg$$
home=$work/home
mkdir -p "$home"
useradd --home-dir "$home" --no-create-home --shell /bin/bash --user-group "$user" ||
    fail "useradd"
cp packaging/test/progid_client.cpp "$home/"
chown -R "$user:$user" "$home"
runuser -u "$user" -- env -i HOME="$home" USER="$user" LOGNAME="$user" PATH=/usr/bin:/bin \
    LANG=C.UTF-8 timeout 300 bash -c "$(declare -f user_programs check_viewer start_simulator \
        stop_simulator check_monitor check_component_by_progid check_command_line_tool \
        check_python_module check_mqtt_gateway)
        user_programs" || fail "programs as a new user"
userdel "$user" || fail "userdel"
user=""

step "removing"
DEBIAN_FRONTEND=noninteractive apt-get remove --purge -y -q "$package" >"$work/apt-remove.log" 2>&1 || {
    cat "$work/apt-remove.log"
    fail "apt-get remove --purge"
}
installed=no
left=()
while IFS= read -r path; do
    [ -e "$path" ] || [ -L "$path" ] || continue
    # Folders other packages own, or that hold other files, stay.
    if [ -d "$path" ] && ! [ -L "$path" ]; then
        dpkg-query -S "$path" >/dev/null 2>&1 && continue
        [ -n "$(ls -A "$path")" ] && continue
    fi
    left+=("$path")
done <"$work/files.txt"
if [ ${#left[@]} -ne 0 ]; then
    printf 'left behind: %s\n' "${left[@]}"
    fail "files left after removal"
fi
echo "nothing of the package is left"

echo "package test: passed"
