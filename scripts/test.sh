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
# PELLWICK_FONT_CONFS names another folder of the two files (one that adds a private font folder).
confs="${PELLWICK_FONT_CONFS:-$PWD/tests/fonts}"
for setup in "noto-mono:Noto Sans Mono" "dejavu-mono:DejaVu Sans Mono"; do
    fonts="${setup%%:*}"
    want="${setup#*:}"
    # A set-up whose font is missing falls back to some other font and would prove nothing.
    got="$(FONTCONFIG_FILE="$confs/$fonts.conf" fc-match -f '%{family}' monospace)"
    case ",$got," in
        *",$want,"*) ;;
        *) echo "test.sh: font set-up $fonts gives monospace '$got', not '$want'" >&2; exit 1 ;;
    esac
    echo "== terminal and window tests with the font set-up $fonts ($want)"
    FONTCONFIG_FILE="$confs/$fonts.conf" QT_QPA_PLATFORM=offscreen \
        ctest --preset default -R '^(terminal_control|terminal_form|app_info_windows|app_main_window)_test$'
done
