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
