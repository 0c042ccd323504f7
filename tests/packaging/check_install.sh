#!/usr/bin/env bash
# Installs the build into a scratch prefix and builds the Debian package; checks that both
# carry the programs, the icon and the desktop file.
set -euo pipefail
build=$1
gui=$2
emulator=${3:-}  # runs the installed program of a cross build
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/prefix" >/dev/null
expect=(bin/fennwick-cli bin/fennwick-mcu-sim)
if [[ $gui == ON ]]; then
  expect+=(bin/fennwick share/applications/fennwick.desktop share/icons/hicolor/32x32/apps/fennwick.png
           share/icons/hicolor/16x16/apps/fennwick.png
           bin/fennwick-kiosk-session lib/systemd/system/fennwick-kiosk.service lib/sysusers.d/fennwick-kiosk.conf)
fi
for f in "${expect[@]}"; do
  [[ -e $work/prefix/$f ]] || { echo "install lacks $f"; exit 1; }
done
$emulator "$work/prefix/bin/fennwick-cli" --help >/dev/null

(cd "$build" && cpack -G DEB -B "$work/pkg" >/dev/null)
deb=$(ls "$work"/pkg/*.deb)
listing=$(dpkg-deb -c "$deb")
for f in "${expect[@]}"; do
  grep -q "\./usr/$f\$" <<<"$listing" || { echo "package lacks /usr/$f"; exit 1; }
done
dpkg-deb -f "$deb" Package Depends
echo "install and package ok"
