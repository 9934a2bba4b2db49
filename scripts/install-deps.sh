#!/usr/bin/env bash
# Installs the Debian packages the project builds and tests with.
# Runs apt-get as root, through sudo when the caller is not root.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config
    clang clang-format
    libgtest-dev libgmock-dev libbenchmark-dev
    qt6-base-dev qt6-qpa-plugins qt6-svg-dev
    libhidapi-dev libudev-dev libffi-dev
    # the MQTT gateway: its client library and JSON reader; a broker, clients and
    # openssl for its tests
    libmosquitto-dev nlohmann-json3-dev mosquitto mosquitto-clients openssl
    # its Prometheus endpoint (an HTTP server), the systemd notify protocol and its spool
    libmicrohttpd-dev libsystemd-dev libsqlite3-dev
    # systemd-analyze, which checks the gateway's service unit
    systemd
    # windows under a private X server, read through the accessibility bus as screen
    # readers do, pointer events, screenshots
    xvfb xauth dbus dbus-x11 at-spi2-core python3 python3-pyatspi python3-xlib xdotool
    imagemagick
    # the Debian package: building (dpkg-shlibdeps), checking, its metainfo
    dpkg-dev fakeroot file lintian appstream
    # the Python binding: built with pybind11 for Debian's python3, tested with pytest
    pybind11-dev python3-dev python3-pytest
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

as_root=()
[ "$(id -u)" -ne 0 ] && as_root=(sudo)
echo "Installing: ${missing[*]}"
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
