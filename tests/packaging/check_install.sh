#!/usr/bin/env bash
# Installs the build into a scratch prefix and builds the CPack packages (those of the cross
# builds; debian/ makes the native ones); checks what each carries and needs: fennwick-cli
# without Qt, runnable from its own files alone, and the window's package depending on it.
set -euo pipefail
build=$1
gui=$2
emulator=${3:-}  # runs the installed program of a cross build
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "$*"; exit 1; }

cli_files=(bin/fennwick-cli bin/fennwick-mcu-sim share/bash-completion/completions/fennwick-cli
           lib/udev/rules.d/60-fennwick-serial.rules)
window_files=(bin/fennwick share/applications/fennwick.desktop share/icons/hicolor/32x32/apps/fennwick.png
              share/icons/hicolor/16x16/apps/fennwick.png
              bin/fennwick-kiosk-session lib/systemd/system/fennwick-kiosk.service lib/sysusers.d/fennwick-kiosk.conf
              lib/tmpfiles.d/fennwick-kiosk.conf share/man/man1/fennwick-kiosk-session.1)
# A cross build has no man pages: help2man cannot run the target's programs.
if [[ -z $emulator ]]; then
  cli_files+=(share/man/man1/fennwick-cli.1 share/man/man1/fennwick-mcu-sim.1)
  window_files+=(share/man/man1/fennwick.1)
fi

cmake --install "$build" --prefix "$work/prefix" >/dev/null
expect=("${cli_files[@]}")
[[ $gui == ON ]] && expect+=("${window_files[@]}")
for f in "${expect[@]}"; do
  [[ -s $work/prefix/$f ]] || fail "install lacks $f"
done
if [[ -z $emulator ]]; then
  grep -q '^\.TH FENNWICK-CLI' "$work/prefix/share/man/man1/fennwick-cli.1" || fail "fennwick-cli.1 is no man page"
  grep -q 'program' "$work/prefix/share/man/man1/fennwick-cli.1" || fail "fennwick-cli.1 lacks the commands"
  for section in '"EXIT STATUS"' ENVIRONMENT FILES EXAMPLES; do
    grep -q "^\.SH $section" "$work/prefix/share/man/man1/fennwick-cli.1" || fail "fennwick-cli.1 lacks $section"
  done
  grep -q -- 'block\\-timeout' "$work/prefix/share/man/man1/fennwick-cli.1" || fail "fennwick-cli.1 lacks program's options"
fi
$emulator "$work/prefix/bin/fennwick-cli" --help >/dev/null

(cd "$build" && cpack -G DEB -B "$work/pkg" >/dev/null)
version=$($emulator "$work/prefix/bin/fennwick-cli" --version | awk '{print $2}')
cli_deb=$(ls "$work"/pkg/fennwick-cli_*.deb)
listing=$(dpkg-deb -c "$cli_deb")
for f in "${cli_files[@]}"; do
  grep -q "\./usr/$f\$" <<<"$listing" || fail "fennwick-cli package lacks /usr/$f"
done
grep -q 'bin/fennwick$' <<<"$listing" && fail "fennwick-cli package carries the window"
[[ $(dpkg-deb -f "$cli_deb" Version) == "$version" ]] || fail "package version is not the program's $version"
depends=$(dpkg-deb -f "$cli_deb" Depends)
grep -qi 'qt' <<<"$depends" && fail "fennwick-cli depends on Qt: $depends"
echo "fennwick-cli Depends: $depends"

# As on a line PC: the package's files alone, unpacked into a scratch root, make a working command.
dpkg-deb -x "$cli_deb" "$work/root"
$emulator "$work/root/usr/bin/fennwick-cli" --version | grep -qx "fennwick-cli $version" || fail "unpacked --version"
$emulator "$work/root/usr/bin/fennwick-cli" --help | grep -q '^Exit status:$' || fail "unpacked --help"
if ldd "$work/root/usr/bin/fennwick-cli" | grep -qi 'qt'; then fail "fennwick-cli links Qt"; fi

if [[ $gui == ON ]]; then
  window_deb=$(ls "$work"/pkg/fennwick_*.deb)
  listing=$(dpkg-deb -c "$window_deb")
  for f in "${window_files[@]}"; do
    grep -q "\./usr/$f\$" <<<"$listing" || fail "fennwick package lacks /usr/$f"
  done
  grep -q 'bin/fennwick-cli$' <<<"$listing" && fail "fennwick package carries the command line too"
  depends=$(dpkg-deb -f "$window_deb" Depends)
  grep -q "fennwick-cli (= $version)" <<<"$depends" || fail "fennwick does not depend on fennwick-cli: $depends"
  echo "fennwick Depends: $depends"
fi
echo "install and packages ok"
