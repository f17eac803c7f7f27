#!/usr/bin/env bash
# The main command: from a fresh clone to an upload into the bundled device simulator.
# Installs what is missing, builds, starts pellwick-devsim on a pseudo-terminal, prepares a demo
# folder (loader.ini pointing COM1 at the simulator, an example loader.sld and the files it
# uploads) and starts Pellwick there. With a display the window opens: click "Start File
# Upload". Without one the same demo runs through the headless runner and the outcome is
# printed.
#
# PELLWICK_DEMO_DIR=<folder> uses that folder instead of a new one under /tmp.
# PELLWICK_BIN_DIR=<folder> takes the programs from that folder (an installed or unpacked
# package) and builds nothing.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

bin_dir="${PELLWICK_BIN_DIR:-}"
have_runner=1
if [ -z "$bin_dir" ]; then
    bash scripts/install-deps.sh
    cmake --preset default >/dev/null
    targets=(pellwick pellwick-devsim)
    have_runner=0
    if cmake --build --preset default --target help | grep -q '^pellwick-run:'; then
        targets+=(pellwick-run)
        have_runner=1
    fi
    cmake --build --preset default --target "${targets[@]}"
    bin_dir="$root/build"
fi

bin() { find "$bin_dir" -type f -perm -u+x -name "$1" -print -quit; }
program="$(bin pellwick)"
devsim="$(bin pellwick-devsim)"
runner=""
[ "$have_runner" = 1 ] && runner="$(bin pellwick-run)"

demo="${PELLWICK_DEMO_DIR:-$(mktemp -d /tmp/pellwick-demo.XXXXXX)}"
mkdir -p "$demo/device"
rm -f "$demo"/device/*.bin "$demo/loader.log"

# The simulator prints the path of its line on the first line of its output.
"$devsim" --store "$demo/device" --transcript "$demo/device.log" --baud 115200 \
    >"$demo/devsim.out" 2>"$demo/devsim.err" &
devsim_pid=$!
cleanup() { kill "$devsim_pid" 2>/dev/null || true; wait "$devsim_pid" 2>/dev/null || true; }
trap cleanup EXIT
pty=""
for _ in $(seq 1 200); do
    pty="$(head -n 1 "$demo/devsim.out" 2>/dev/null || true)"
    [ -n "$pty" ] && break
    kill -0 "$devsim_pid" 2>/dev/null || { cat "$demo/devsim.err" >&2; exit 1; }
    sleep 0.05
done
[ -n "$pty" ] || { echo "demo: the device simulator did not start" >&2; exit 1; }

# A pseudo-terminal has no CTS line, so hardware flow control stays off.
cat >"$demo/loader.ini" <<INI
[Ports]
Scan=0
COM1=$pty

[RS232Settings]
Comm Port=COM1
Baud Rate=115200
Data Bits=8
Parity=0
Stop Bit=1
Use DTR=0
Use RTS=0
Require DSR=0
Require CTS=0

[Upload Settings]
Default Script=loader.sld
Default Path=$demo
Delay=200
Upload Method=AUTOMATIC
INI

cat >"$demo/loader.sld" <<'SLD'
Pellwick demo script. Lines that do not begin with an underscore are comments.
Switch the device to upload mode, then ask for its firmware version.
_SC "UL^M"
_DY 20
_TC "VER^M"
Three files, each announced with its address and version, sent and verified.
_LA 00020000
_LV 1.02
_LF boot.bin
_LD
_LA 00040000
_LV DATE
_LF app.bin
_LD
_LA 00060000
_LV 1.00
_LF table.txt
_LD
Back to normal mode.
_SC "GO^M"
_DY 10
_DM "Demo finished: three files loaded into the device."
SLD

# Example files: a small boot block, a larger image with every byte value, a text table.
LC_ALL=C awk 'BEGIN { for (i = 0; i < 2048; i++) printf "%c", (i * 7 + 3) % 256 }' >"$demo/boot.bin"
LC_ALL=C awk 'BEGIN { for (i = 0; i < 24576; i++) printf "%c", (i * 31 + int(i / 256)) % 256 }' >"$demo/app.bin"
{
    echo "# address  value"
    for i in $(seq 0 63); do printf '%04X       %d\n' $((i * 16)) $((i * i)); done
} >"$demo/table.txt"

echo "demo: device simulator on $pty, demo folder $demo"
cd "$demo"

report() {
    local failed=0
    for pair in boot.bin:00020000.bin app.bin:00040000.bin table.txt:00060000.bin; do
        local file="${pair%%:*}" stored="device/${pair##*:}"
        if [ -f "$stored" ] && cmp -s "$file" "$stored"; then
            echo "demo: $file ($(stat -c %s "$file") bytes) arrived intact as $stored"
        else
            echo "demo: $file did not arrive"
            failed=1
        fi
    done
    [ -f loader.log ] && { echo "--- loader.log"; cat loader.log; echo "---"; }
    return $failed
}

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    echo "demo: starting Pellwick; click \"Start File Upload\", then close the window"
    "$program" || true
    report || true
elif [ -n "$runner" ]; then
    echo "demo: no display; running the demo with the headless runner"
    status=0
    "$runner" || status=$?
    echo "demo: pellwick-run finished with status $status"
    report
    exit "$status"
else
    echo "demo: no display, and this build has no headless runner (pellwick-run) yet." >&2
    echo "demo: start a desktop session (or Xvfb) and run this command again to see the upload." >&2
    exit 2
fi
