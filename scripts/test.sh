#!/usr/bin/env bash
# One command from a fresh clone to a full test run: installs what is missing, builds with
# Ninja and runs every test (logic, engine on pseudo-terminals, windows offscreen, end to end).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
extra=()
[ "${CI:-}" = "true" ] && extra+=(-DPELLWICK_WERROR=ON)
cmake --preset default "${extra[@]}"
cmake --build --preset default
QT_QPA_PLATFORM=offscreen ctest --preset default
# The terminal and the windows again under two font set-ups of their own: a monospace font that
# Qt does not mark fixed-pitch (as on many desktops) and one that it does.
for fonts in noto-mono dejavu-mono; do
    echo "== terminal and window tests with the font set-up $fonts"
    FONTCONFIG_FILE="$PWD/tests/fonts/$fonts.conf" QT_QPA_PLATFORM=offscreen \
        ctest --preset default -R '^(terminal_control|terminal_form|app_info_windows|app_main_window)_test$'
done
