#!/usr/bin/env bash
# Builds the Debian package from the default build, checks it with lintian (errors fail, warnings
# are printed), unpacks it into a temporary root and runs the unpacked programs: each one's
# --version and --help, the desktop entry through desktop-file-validate where present, and the
# demo upload with the unpacked runner against the unpacked simulator.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

bash scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target package
deb="$(ls -t build/pellwick_*.deb | head -n 1)"
echo "package-check: $deb"
dpkg-deb --info "$deb" | sed -n '/Package:/,$p'

echo "== lintian"
lintian_out="$(lintian --tag-display-limit 0 "$deb" || true)"
[ -n "$lintian_out" ] && echo "$lintian_out"
if grep -q '^E:' <<<"$lintian_out"; then
    echo "package-check: lintian reports errors" >&2
    exit 1
fi
echo "package-check: lintian: $(grep -c '^W:' <<<"$lintian_out" || true) warnings, no errors"

unpacked="$(mktemp -d /tmp/pellwick-deb.XXXXXX)"
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb -x "$deb" "$unpacked"
for f in usr/bin/pellwick usr/bin/pellwick-run usr/bin/pellwick-station usr/bin/pellwick-devsim \
         usr/share/applications/pellwick.desktop usr/share/icons/hicolor/128x128/apps/pellwick.png \
         usr/share/mime/packages/pellwick.xml usr/share/man/man1/pellwick.1.gz \
         usr/share/man/man1/pellwick-run.1.gz usr/share/man/man1/pellwick-station.1.gz \
         usr/share/man/man1/pellwick-devsim.1.gz; do
    [ -e "$unpacked/$f" ] || { echo "package-check: $f missing from the package" >&2; exit 1; }
done

# --version and --help need no display; sed reads the whole text: with head the program meets a
# closed pipe once its help is longer than one write.
for program in pellwick pellwick-run pellwick-station pellwick-devsim; do
    echo "== unpacked $program --version, --help"
    DISPLAY='' WAYLAND_DISPLAY='' "$unpacked/usr/bin/$program" --version
    DISPLAY='' WAYLAND_DISPLAY='' "$unpacked/usr/bin/$program" --help | sed -n 1,2p
done
if command -v desktop-file-validate >/dev/null; then
    echo "== desktop-file-validate"
    desktop-file-validate "$unpacked/usr/share/applications/pellwick.desktop"
fi
echo "== headless upload with the unpacked programs"
DISPLAY='' WAYLAND_DISPLAY='' PELLWICK_BIN_DIR="$unpacked/usr/bin" bash scripts/demo.sh
echo "package-check: the unpacked package uploaded the demo files"
