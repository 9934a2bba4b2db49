#!/usr/bin/env bash
# Builds the Debian package lyx-telemetry from a Release build in build/package (prefix /usr,
# no tests or benchmarks) with CPack (cmake/LyxPackaging.cmake). The last line of its output
# names the package file:
#   package: /path/to/build/package/lyx-telemetry_<version>_<arch>.deb
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

# Files and folders of the package get the usual modes whatever the caller's umask; dates in
# the package (changelog, AppStream release) are the last commit's.
umask 022
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null || date +%s)
fi
export SOURCE_DATE_EPOCH

# Debian's hardening flags: fortified libc calls, stack protector, relocations read-only and
# bound at start-up. No -g: the packaged binaries are stripped.
flags() {
    DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get "$1" | sed -E 's/(^| )-g( |$)/\1/'
}
cflags="$(flags CPPFLAGS) $(flags CFLAGS)"
cxxflags="$(flags CPPFLAGS) $(flags CXXFLAGS)"
ldflags=$(flags LDFLAGS)

dir=build/package
mkdir -p build
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DLYX_BUILD_TESTS=OFF -DLYX_BUILD_BENCHMARKS=OFF -DLYX_BUILD_GUI=ON \
    -DLYX_WERROR=OFF -DLYX_SANITIZE= \
    "-DCMAKE_C_FLAGS=$cflags" "-DCMAKE_CXX_FLAGS=$cxxflags" "-DCMAKE_EXE_LINKER_FLAGS=$ldflags" \
    "-DCMAKE_SHARED_LINKER_FLAGS=$ldflags" "-DCMAKE_MODULE_LINKER_FLAGS=$ldflags" \
    >"$dir.configure.log" 2>&1 || {
    cat "$dir.configure.log"
    exit 1
}
cmake --build "$dir" -j "${LYX_JOBS:-2}"
rm -f "$dir"/lyx-telemetry_*.deb
(cd "$dir" && cpack -G DEB) >"$dir.cpack.log" 2>&1 || {
    cat "$dir.cpack.log"
    exit 1
}
debs=("$dir"/lyx-telemetry_*.deb)
[ -f "${debs[0]}" ] || { echo "package.sh: CPack made no package" >&2; cat "$dir.cpack.log"; exit 1; }
echo "package: $PWD/${debs[0]}"
