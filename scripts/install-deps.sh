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
    libqt6sql6-sqlite libqt6sql6-psql   # the station's database: SQLite and PostgreSQL drivers
    postgresql-15                       # the database tests start a private server
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
# The tests run a PostgreSQL server of their own: the package is not to make and start a
# system cluster on port 5432. The setting must be there before postgresql-common installs.
if printf '%s\n' "${missing[@]}" | grep -qx postgresql-15 &&
    [ ! -e /etc/postgresql-common/createcluster.conf ]; then
    "${sudo_cmd[@]}" mkdir -p /etc/postgresql-common
    echo "create_main_cluster = false" |
        "${sudo_cmd[@]}" tee /etc/postgresql-common/createcluster.conf >/dev/null
fi
"${sudo_cmd[@]}" apt-get update -qq
# A configuration file already there (the one above) is kept without a question.
"${sudo_cmd[@]}" env UCF_FORCE_CONFFOLD=1 apt-get install -y -qq --no-install-recommends \
    -o Dpkg::Options::=--force-confdef -o Dpkg::Options::=--force-confold "${missing[@]}"
