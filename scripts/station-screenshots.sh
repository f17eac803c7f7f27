#!/bin/bash
# Screenshots of the station window with 8 slots in mixed states, under Xvfb without a window
# manager and with openbox: station-nowm.png and station-openbox.png in the folder given
# (default: the current folder). Needs a default build (pellwick-station, pellwick-devsim).
set -euo pipefail
out=$(realpath "${1:-.}")
top=$(cd "$(dirname "$0")/.." && pwd)
station=$top/build/src/station/pellwick-station
devsim=$top/build/tools/devsim/pellwick-devsim
work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

head -c 16384 /dev/urandom > "$work/app.bin"
head -c 4096 /dev/urandom > "$work/cfg.bin"
printf '_TC "UL^M"\n_TC "SN^M"\n_LV 1.0\n_LA 00020000\n_LF app.bin\n_LD\n_LA 00080000\n_LF cfg.bin\n_LD\n' \
    > "$work/flash.sld"
: > "$work/not-a-tty"

# One simulator per slot, each with what puts its row in another state by the time of the shot.
sim() { "$devsim" --link "$work/$1" --command "SN=B-$1" "${@:2}" > /dev/null & pids+=($!); }
shoot() { # name, display, with window manager
    local name=$1 display=$2 wm=$3
    rm -f "$work"/tty* "$work/station.log" "$work/t3"
    sim tty1 --baud 115200                          # passes
    sim tty2 --baud 115200 --corrupt-at 10          # refused at the verification
    sim tty4 --baud 115200 --verify-delay 60000     # verifying
    sim tty5 --baud 115200 --unplug-after-bytes 3000 # goes away while loading
    # tty6 never appears: waiting for a board
    sim tty7 --baud 115200                          # a button slot, taken out of service
    cat > "$work/station.ini" <<INI
[Station]
Script=flash.sld
Start=appear
[Board]
Id Line=2
[Slots]
Slot1=$work/tty1
Slot2=$work/tty2
Slot3=$work/tty3
Slot4=$work/tty4
Slot5=$work/tty5
Slot6=$work/tty6
Slot7=$work/tty7
Start7=button
Slot8=COM8
Start8=button
[Ports]
Scan=0
COM8=$work/not-a-tty
[RS232Settings]
Baud Rate=115200
Use RTS=0
Require CTS=0
[Upload Settings]
Delay=100
INI
    sleep 0.5
    Xvfb ":$display" -screen 0 1280x900x24 -nolisten tcp > /dev/null 2>&1 & pids+=($!)
    sleep 1
    if [ "$wm" = yes ]; then DISPLAY=":$display" openbox > /dev/null 2>&1 & pids+=($!); sleep 1; fi
    DISPLAY=":$display" "$station" "$work" > "$work/station.out" 2>&1 & pids+=($!)
    sleep 3
    local window
    window=$(DISPLAY=":$display" xdotool search --name "Pellwick Station" | head -1)
    DISPLAY=":$display" xdotool windowactivate --sync "$window" 2>/dev/null ||
        DISPLAY=":$display" xdotool windowfocus --sync "$window"
    # Slot 7 out of service; in the openbox shot the settings are locked too.
    DISPLAY=":$display" xdotool key 7
    sleep 0.2 # a key alone waits a moment to be sure it is no scanner's
    DISPLAY=":$display" xdotool key ctrl+o
    if [ "$wm" = yes ]; then DISPLAY=":$display" xdotool key ctrl+l; fi
    # A scanner's label for slot 6's next board, typed as fast as a scanner types.
    DISPLAY=":$display" xdotool key 6
    sleep 0.2
    DISPLAY=":$display" xdotool type --delay 4 "SN2024-0413M"
    DISPLAY=":$display" xdotool key --delay 4 Return
    DISPLAY=":$display" xdotool key 3
    # Slot 3's board comes last and is shot while its first file goes out.
    : > "$work/t3"
    sim tty3 --baud 115200 --transcript "$work/t3"  # loading
    for _ in $(seq 100); do grep -q "header:" "$work/t3" && break; sleep 0.05; done
    sleep 0.7
    DISPLAY=":$display" import -window root "$out/station-$name.png"
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    pids=()
}
shoot nowm 91 no
shoot openbox 92 yes
echo "$out/station-nowm.png $out/station-openbox.png"
