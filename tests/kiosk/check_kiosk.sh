#!/usr/bin/env bash
# The window under the kiosk compositor at one screen size: full-screen, every control where
# the grid puts it, the MCU identified in the log, and a picture of the output's size.
# Usage: check_kiosk.sh SOURCE_DIR BUILD_DIR WxH [EMULATOR]. Exit 77 (skipped) where no
# compositor runs.
set -euo pipefail
source_dir=$1
build=$2
size=$3
emulator=()
[[ -n ${4:-} ]] && emulator=(--emulator "$4")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

rc=0
"$source_dir/scripts/kiosk-run" --build "$build" --size "$size" --state "$work/state" --screenshot "$work/shot.png" \
  "${emulator[@]}" || rc=$?
((rc == 0)) || exit "$rc"

fail=0
expect_line() {
  grep -qxF -- "$1" "$work/state" || { echo "missing: $1"; fail=1; }
}
w=${size%x*}
h=${size#*x}
expect_line "screen $w $h"
expect_line "window $w $h fullscreen"
# The grid's places at the device's two screen sizes.
case $size in
  800x480)
    expect_line "control IDC_TITLE 3 4 775 56 shown enabled"
    expect_line "control IDC_LOG 3 60 764 340 shown enabled"
    expect_line "control IDC_PROGRESS 3 400 764 20 shown enabled"
    expect_line "control IDC_SNBOOT 0 420 106 60 hidden enabled"
    expect_line "control IDC_BOOTER 106 420 106 60 hidden enabled"
    expect_line "control IDC_LOGO 212 420 106 60 hidden enabled"
    expect_line "control IDC_NK 318 420 106 60 hidden enabled"
    expect_line "control IDC_OPEN 424 420 120 60 shown enabled"
    expect_line "control IDC_START 544 420 120 60 shown disabled"
    expect_line "control IDOK 664 420 120 60 shown enabled" ;;
  320x240)
    expect_line "control IDC_TITLE 1 2 310 28 shown enabled"
    expect_line "control IDC_LOG 1 30 305 170 shown enabled"
    expect_line "control IDC_PROGRESS 1 200 305 10 shown enabled"
    expect_line "control IDC_SNBOOT 0 210 42 30 hidden enabled"
    expect_line "control IDC_BOOTER 42 210 42 30 hidden enabled"
    expect_line "control IDC_LOGO 84 210 42 30 hidden enabled"
    expect_line "control IDC_NK 126 210 42 30 hidden enabled"
    expect_line "control IDC_OPEN 168 210 48 30 shown enabled"
    expect_line "control IDC_START 216 210 48 30 shown disabled"
    expect_line "control IDOK 264 210 48 30 shown enabled" ;;
esac
# The identification, as the log shows it (its lines end in CR LF).
log=$(sed -n '/^log$/,$p' "$work/state" | tr -d '\r')
grep -qxF "========Current MCU Information========" <<<"$log" || { echo "no identification header in the log"; fail=1; }
grep -qxF "Version: FNW-107 Fennwick simulated MCU" <<<"$log" || { echo "no version line in the log"; fail=1; }

# The picture has the output's size: PNG width and height are the big-endian words at 16 and 20.
read -r pw ph < <(od -An -tu1 -j16 -N8 "$work/shot.png" |
  awk '{ print $1*16777216 + $2*65536 + $3*256 + $4, $5*16777216 + $6*65536 + $7*256 + $8 }')
[[ "$pw $ph" == "$w $h" ]] || { echo "picture is ${pw}x${ph}, not $size"; fail=1; }

if ((fail)); then
  cat "$work/state"
  exit 1
fi
echo "kiosk at $size: full-screen, laid out on the grid, MCU identified"
