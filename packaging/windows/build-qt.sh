#!/usr/bin/env bash
# Builds Qt for Windows (Debian's own Qt 6 source, cross-compiled with MinGW-w64) into PREFIX, once:
# a prefix whose stamp matches this recipe is reused as it is. The host's moc, rcc and uic (Debian's
# qt6-base-dev-tools, the same version) serve the cross build.
# Usage: build-qt.sh PREFIX
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
prefix="$1"
work="${prefix}.build"

# The stamp names the recipe: changing an option or the toolchain builds Qt again.
stamp_text="$(cat "$here/build-qt.sh" "$here/qt-options.txt" "$here/toolchain-mingw64.cmake" | sha256sum | cut -d' ' -f1)"
if [ -f "$prefix/.veltra-stamp" ] && [ "$(cat "$prefix/.veltra-stamp")" = "$stamp_text" ]; then
    echo "Qt for Windows: reusing $prefix"
    exit 0
fi

rm -rf "$work" "$prefix"
mkdir -p "$work"
cd "$work"
echo "Qt for Windows: fetching Debian's qt6-base source"
apt-get source --download-only qt6-base
dpkg-source -x qt6-base_*.dsc src >/dev/null
mapfile -t options < <(grep -v -e '^#' -e '^$' "$here/qt-options.txt")

start=$(date +%s)
cmake -S src -B build -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$here/toolchain-mingw64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    "${options[@]}" >configure.log || { tail -40 configure.log; exit 1; }
cmake --build build
cmake --install build >/dev/null
echo "$stamp_text" >"$prefix/.veltra-stamp"
echo "Qt for Windows: built in $(( ($(date +%s) - start) / 60 )) minutes into $prefix"
cd /
rm -rf "$work"
