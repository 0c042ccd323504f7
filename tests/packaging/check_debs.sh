#!/usr/bin/env bash
# Checks the Debian packages that scripts/deb or scripts/cross built: what each carries and
# needs, their maintainer scripts, and (for the build machine's own architecture, where it lets
# root mount an overlay) that installing both makes the kiosk user and its home, and purging
# them leaves nothing of theirs behind.
# Usage: check_debs.sh DIR   (DIR holds the .deb and .ddeb files)
set -euo pipefail
dir=$1
fail() { echo "check_debs: $*" >&2; exit 1; }
one() {  # the one file that matches a pattern
  # shellcheck disable=SC2206 # the pattern is a glob on purpose
  local f=("$dir"/$1)
  [[ -e ${f[0]} && ${#f[@]} == 1 ]] || fail "not exactly one $1"
  echo "${f[0]}"
}
cli_deb=$(one 'fennwick-cli_*.deb')
window_deb=$(one 'fennwick_*.deb')
one 'fennwick-cli-dbgsym_*.*deb' >/dev/null
one 'fennwick-dbgsym_*.*deb' >/dev/null
version=$(dpkg-deb -f "$cli_deb" Version)

# What each package carries (paths as dpkg-deb lists them).
declare -A carries=(
  [$cli_deb]="./usr/bin/fennwick-cli ./usr/bin/fennwick-mcu-sim
    ./usr/share/man/man1/fennwick-cli.1.gz ./usr/share/man/man1/fennwick-mcu-sim.1.gz
    ./usr/share/bash-completion/completions/fennwick-cli ./lib/udev/rules.d/60-fennwick-serial.rules
    ./usr/share/doc/fennwick-cli/copyright ./usr/share/doc/fennwick-cli/changelog.gz
    ./usr/share/doc/fennwick-cli/README.md.gz ./usr/share/doc/fennwick-cli/examples/fennwick.example.ini
    ./usr/share/doc/fennwick-cli/docs/command-line.md.gz ./usr/share/doc/fennwick-cli/docs/screenshot.png"
  [$window_deb]="./usr/bin/fennwick ./usr/bin/fennwick-kiosk-session
    ./usr/share/man/man1/fennwick.1.gz ./usr/share/man/man1/fennwick-kiosk-session.1.gz
    ./usr/share/applications/fennwick.desktop ./usr/share/icons/hicolor/32x32/apps/fennwick.png
    ./lib/systemd/system/fennwick-kiosk.service ./usr/lib/sysusers.d/fennwick-kiosk.conf
    ./usr/lib/tmpfiles.d/fennwick-kiosk.conf ./usr/share/doc/fennwick/copyright"
)
for deb in "$cli_deb" "$window_deb"; do
  listing=$(dpkg-deb -c "$deb" | awk '{print $6}')
  for f in ${carries[$deb]}; do
    grep -qxF "$f" <<<"$listing" || fail "$(basename "$deb") lacks $f"
  done
done
dpkg-deb -c "$window_deb" | grep -q 'bin/fennwick-cli$' && fail "the window's package carries the command line"
depends=$(dpkg-deb -f "$cli_deb" Depends)
grep -qi 'qt' <<<"$depends" && fail "fennwick-cli depends on Qt: $depends"
grep -qF "fennwick-cli (= $version)" <<<"$(dpkg-deb -f "$window_deb" Depends)" ||
  fail "fennwick does not depend on fennwick-cli $version"

# The maintainer scripts make the user and its home at install, and purge removes the home
# and an enabled unit's links (the unit is not enabled by the package itself).
scripts=$(mktemp -d)
trap 'rm -rf "$scripts"' EXIT
dpkg-deb -e "$window_deb" "$scripts"
grep -q 'systemd-sysusers.*fennwick-kiosk.conf' "$scripts/postinst" || fail "postinst does not make the kiosk user"
grep -q 'systemd-tmpfiles.*--create.*fennwick-kiosk.conf' "$scripts/postinst" || fail "postinst does not make its home"
grep -q 'rm -rf /var/lib/fennwick-kiosk' "$scripts/postrm" || fail "purge keeps the kiosk's home"
grep -q 'deb-systemd-helper purge' "$scripts/postrm" || fail "purge keeps the unit's links"
echo "check_debs: contents and maintainer scripts ok"

# Install, use and purge in a throw-away root: an overlay over / in a mount namespace of our
# own, so that the machine itself is untouched and the overlay's upper layer shows every
# file that the packages' life left behind.
arch=$(dpkg-deb -f "$cli_deb" Architecture)
if [[ $arch != "$(dpkg --print-architecture)" ]]; then
  echo "check_debs: install and purge not checked (packages for $arch, not this machine)"
  exit 0
fi
if [[ $(id -u) != 0 ]] || ! unshare -m true 2>/dev/null; then
  echo "check_debs: install and purge not checked (needs root and a mount namespace)"
  exit 0
fi
root=$(mktemp -d)
trap 'rm -rf "$scripts" "$root"' EXIT
mkdir -p "$root"/{upper,work,merged}
status=0
# shellcheck disable=SC2016 # expanded inside the namespace
unshare -m --propagation private bash -euo pipefail -c '
  root=$1
  mount -t overlay overlay -o "lowerdir=/,upperdir=$root/upper,workdir=$root/work" "$root/merged" 2>/dev/null || exit 77
  mount --rbind /dev "$root/merged/dev"
  mount -t proc proc "$root/merged/proc"
  mkdir -p "$root/merged/tmp/debs"
  cp "$2" "$3" "$root/merged/tmp/debs/"
  chroot "$root/merged" bash -euo pipefail -c "
    dpkg -i /tmp/debs/*.deb >/dev/null
    fennwick-cli --version
    getent passwd fennwick-kiosk | grep -q :/var/lib/fennwick-kiosk: || { echo kiosk user or its home missing; exit 1; }
    [ \$(stat -c %U /var/lib/fennwick-kiosk) = fennwick-kiosk ] || { echo the kiosk user does not own its home; exit 1; }
    id -nG fennwick-kiosk | grep -qw dialout || { echo the kiosk user is not in dialout; exit 1; }
    wants=/etc/systemd/system/graphical.target.wants/fennwick-kiosk.service
    [ ! -e \$wants ] || { echo the unit is enabled at install; exit 1; }
    systemctl enable fennwick-kiosk.service 2>/dev/null
    [ -L \$wants ] || { echo systemctl did not enable the unit; exit 1; }
    touch /var/lib/fennwick-kiosk/settings
    dpkg --purge fennwick fennwick-cli >/dev/null
  "
' _ "$root" "$cli_deb" "$window_deb" || status=$?
if ((status == 77)); then
  echo "check_debs: install and purge not checked (no overlay mount here)"
  exit 0
fi
((status == 0)) || fail "install, use or purge failed"
# What stays: dpkg's own records and logs, the caches that the system's triggers rebuild
# (man pages, icons), and the kiosk user (system users are not removed, so that files it may
# own elsewhere keep a known owner).
kept=('var/lib/dpkg/' 'var/log/' 'var/cache/(debconf|man)/' 'usr/share/icons/hicolor/icon-theme\.cache$'
      'etc/(passwd|group|shadow|gshadow)-?$' 'etc/\.pwd\.lock$' 'etc/ld\.so\.cache$' 'tmp/')
kept_pattern=$(IFS='|'; echo "^\./(${kept[*]})")
left=$(cd "$root/upper" && find . ! -type d | grep -vE "$kept_pattern") || true
[[ -z $left ]] || fail "purge left behind: $left"
echo "check_debs: install, use and purge leave nothing behind"
