#!/usr/bin/env bash
# Installs the build into a scratch root, all of it and the command line's component alone,
# and checks what each carries and needs: the man pages, and fennwick-cli without Qt and
# runnable from its own component's files alone, as on a headless line PC.
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
# A cross build makes its man pages by running its programs under the emulator.
cli_files+=(share/man/man1/fennwick-cli.1 share/man/man1/fennwick-mcu-sim.1)
window_files+=(share/man/man1/fennwick.1)

# Into a scratch root (DESTDIR): a build may give the udev and systemd folders as absolute
# paths (the Debian packages' build does), which a prefix alone would leave on the machine.
# A file is found under the prefix or, where its folder was absolute, under the root itself.
install_into() {  # ROOT [COMPONENT]
  DESTDIR=$1 cmake --install "$build" --prefix /usr ${2:+--component "$2"} >/dev/null
}
found() {  # ROOT FILE
  [[ -s $1/usr/$2 || -s $1/$2 ]]
}
install_into "$work/root"
expect=("${cli_files[@]}")
[[ $gui == ON ]] && expect+=("${window_files[@]}")
for f in "${expect[@]}"; do
  found "$work/root" "$f" || fail "install lacks $f"
done
grep -q '^\.TH FENNWICK-CLI' "$work/root/usr/share/man/man1/fennwick-cli.1" || fail "fennwick-cli.1 is no man page"
grep -q 'program' "$work/root/usr/share/man/man1/fennwick-cli.1" || fail "fennwick-cli.1 lacks the commands"
for section in '"EXIT STATUS"' ENVIRONMENT FILES EXAMPLES; do
  grep -q "^\.SH $section" "$work/root/usr/share/man/man1/fennwick-cli.1" || fail "fennwick-cli.1 lacks $section"
done
grep -q -- 'block\\-timeout' "$work/root/usr/share/man/man1/fennwick-cli.1" || fail "fennwick-cli.1 lacks program's options"
version=$($emulator "$work/root/usr/bin/fennwick-cli" --version | awk '{print $2}')
[[ -n $version ]] || fail "fennwick-cli --version printed no version"

# As on a headless line PC: the command line's component alone makes a working command
# without Qt.
install_into "$work/cli" cli
for f in "${cli_files[@]}"; do
  found "$work/cli" "$f" || fail "the cli component lacks $f"
done
[[ -e $work/cli/usr/bin/fennwick ]] && fail "the cli component carries the window"
$emulator "$work/cli/usr/bin/fennwick-cli" --version | grep -qx "fennwick-cli $version" || fail "cli component's --version"
$emulator "$work/cli/usr/bin/fennwick-cli" --help | grep -q '^Exit status:$' || fail "cli component's --help"
needed=$(readelf -d "$work/cli/usr/bin/fennwick-cli" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
[[ -n $needed ]] || fail "no libraries listed for fennwick-cli"
if grep -qi 'qt' <<<"$needed"; then fail "fennwick-cli links Qt: $needed"; fi
echo "install ok"
