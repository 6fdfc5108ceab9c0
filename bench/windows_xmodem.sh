#!/usr/bin/env bash
# The firmware upload by XModem through Wine's serial layer against the same upload by the Linux build,
# in one run: each sends the same image (SIZE bytes, default 512 KiB) to the simulator on a
# pseudo-terminal, where no baud rate limits the line, so the figures measure the serial layers' own
# cost. Prints "name: value unit" lines and the ratio. Needs build/ and build-windows/ (scripts/windows).
set -euo pipefail
cd "$(dirname "$0")/.."
size="${1:-524288}"
work="$(mktemp -d /tmp/veltra_xmodem_bench.XXXXXX)"
trap 'kill $(jobs -p) 2>/dev/null; rm -rf "$work"' EXIT
head -c "$size" /dev/urandom >"$work/image.bin"
prefix="$PWD/build-windows/wine-prefix"

# One upload: the simulator on a new pty, the program given by the rest of the arguments; prints the
# bytes per second.
upload() {
    local link="$work/port.$1"
    shift
    build/tools/devsim/veltra_devsim --firmware-out "$work/received.bin" --link-file "$link" >/dev/null 2>&1 &
    local sim=$!
    for _ in $(seq 50); do [ -s "$link" ] && break; sleep 0.1; done
    ln -sfn "$(cat "$link")" "$prefix/dosdevices/com12"
    local start end
    start=$(date +%s.%N)
    "$@" com_ports=12 "com12=$(cat "$link")" "log_dir=$work/logs" firmware "$work/image.bin" >/dev/null 2>&1
    end=$(date +%s.%N)
    kill "$sim"
    wait "$sim" 2>/dev/null || true
    cmp -s -n "$size" "$work/image.bin" "$work/received.bin" || { echo "the image did not arrive intact" >&2; exit 1; }
    echo "$size / ($end - $start)" | bc -l
}

linux=$(upload linux build/tools/cli/veltra_cli)
windows=$(upload windows build-windows/wine-run build-windows/tools/cli/veltra_cli.exe)
printf 'xmodem_linux: %.0f bytes/s\n' "$linux"
printf 'xmodem_wine: %.0f bytes/s\n' "$windows"
printf 'xmodem_wine_vs_linux: %.2f ratio\n' "$(echo "$windows / $linux" | bc -l)"
