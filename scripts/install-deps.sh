#!/usr/bin/env bash
# Installs the Debian 12 packages Pellwick needs to build, test and run. Idempotent: asks apt
# only for what is missing, so a second run does nothing.
set -euo pipefail

packages=(
    g++ cmake ninja-build pkg-config    # compiler and build
    clang-14 libclang-rt-14-dev         # second compiler; libFuzzer and sanitizer runtimes
    clang-format-14                     # the formatting every C++ file must have
    qt6-base-dev                        # windowing toolkit: Core, Gui, Widgets, Test
    libjpeg62-turbo-dev                 # about box picture (decoded with libjpeg's API)
    libgtest-dev libgmock-dev           # logic tests
    libbenchmark-dev                    # micro-benchmarks
    xvfb xauth xdotool                  # real-window smoke runs and screenshots
    fonts-dejavu-core                   # a fixed-pitch font for the terminal in headless runs
    dpkg-dev file lintian               # the Debian package: shlibdeps, its checks
    fonts-noto-mono                     # second font set-up: monospace not marked fixed-pitch
    fontconfig                          # fc-match: the test run checks each font set-up took
    tio picocom minicom                 # lock test against the peers that run beside us
    libgensio-dev                       # serial ports on the network: RFC 2217 and raw TCP
    ser2net                             # the device server the network port tests run against
    strace                              # a break reaching that server's line, seen as its call
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    echo "install-deps: all ${#packages[@]} packages present"
    exit 0
fi

echo "install-deps: installing ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
