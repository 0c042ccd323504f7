#!/usr/bin/env bash
# The Windows program under wine64 against the Linux simulator: the wine prefix's COM ports
# are links to the simulators' pseudo-terminals, so fennwick-cli.exe opens "COM2:" as it would
# on a line PC.
#
# Usage: check_windows_e2e.sh BUILD_DIR
#   BUILD_DIR     the Windows build (bin/fennwick-cli.exe, samples/)
#   FENNWICK_SIM  the Linux simulator (default: build/bin/fennwick-mcu-sim of the source tree)
set -uo pipefail
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
sim=${FENNWICK_SIM:-$here/../../build/bin/fennwick-mcu-sim}
exe=$build/bin/fennwick-cli.exe
samples=$build/samples
export WINEPREFIX=${WINEPREFIX:-$build/wineprefix} WINEDEBUG=-all
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
for f in "$exe" "$sim" "$samples/fennwick-sample.s19"; do
  [[ -e $f ]] || { echo "windows e2e: $f is missing" >&2; exit 1; }
done
[[ -d $WINEPREFIX/dosdevices ]] || "$wine" wineboot -i >/dev/null 2>&1

work=$(mktemp -d)
# A server of our own for the prefix, whose chatter stays in a file: it takes each terminal
# that a COM port opens as its own, and writes a report when a simulator hangs that up.
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
"$wineserver" -k 2>/dev/null
"$wineserver" -p >"$work/wineserver.log" 2>&1
sims=()
stop_sims() {
  for p in "${sims[@]}"; do kill "$p" 2>/dev/null; done
  for p in "${sims[@]}"; do wait "$p" 2>/dev/null; done
  sims=()
  rm -f "$WINEPREFIX"/dosdevices/com{2,3,4}
}
trap 'stop_sims; "$wineserver" -k 2>/dev/null; rm -rf "$work"' EXIT

failures=0
pass() { echo "ok    $1"; }
fail() { echo "FAIL  $1: $2" >&2; failures=$((failures + 1)); }

# Starts a simulator with the given arguments and links COM<n> to its terminal.
start_sim() {
  local n=$1
  shift
  # The last simulator's output goes first: the wait below could see it before the new one's
  # redirection empties the file.
  rm -f "$work/sim$n.out"
  "$sim" --baud 0 "$@" >"$work/sim$n.out" 2>"$work/sim$n.err" &
  sims+=($!)
  # A loaded machine may take seconds to start it.
  for _ in $(seq 400); do
    [[ -s $work/sim$n.out ]] && break
    sleep 0.05
  done
  [[ -s $work/sim$n.out ]] || { echo "windows e2e: the simulator for COM$n did not start: $(cat "$work/sim$n.err")" >&2; }
  ln -sfn "$(head -1 "$work/sim$n.out")" "$WINEPREFIX/dosdevices/com$n"
}

# Runs the program; its output in $work/out and $work/err, its exit code in $code.
run() {
  "$wine" "$exe" "$@" >"$work/out" 2>"$work/err"
  code=$?
}

windows_path() { local p=${1//\//\\}; echo "Z:$p"; }
sample=$(windows_path "$samples/fennwick-sample.s19")
image=$samples/fennwick-sample.bin
identified=$'========Current MCU Information========\r\nVersion: FNW-107 Fennwick simulated MCU\r\nFennwick MCU simulator, 128 KiB flash at 0x8000\r\n'

# The default port, the exact text: Unix text on standard output, the device's own with --raw.
start_sim 2
run identify
if [[ $code -eq 0 && $(cat "$work/out"; echo x) == "${identified//$'\r'/}x" ]]; then pass "identify on the default port"
else fail "identify on the default port" "exit $code, output: $(cat -A "$work/out")"; fi
run --raw identify
if [[ $code -eq 0 && $(cat "$work/out"; echo x) == "${identified}x" ]]; then pass "identify --raw"
else fail "identify --raw" "exit $code, output: $(cat -A "$work/out")"; fi

# Other spellings of the same port.
for port in COM2 'COM2:' '\\.\COM2'; do
  run --port "$port" identify
  if [[ $code -eq 0 ]]; then pass "identify --port $port"; else fail "identify --port $port" "exit $code $(cat "$work/err")"; fi
done

run examine "$sample"
if [[ $code -eq 0 ]] && grep -q "Fennwick" "$work/out"; then pass "examine"
else fail "examine" "exit $code $(cat "$work/out" "$work/err")"; fi
stop_sims

# Programming: the simulator's flash equals the file's image, byte for byte.
# A quiet dry run first: nothing on standard output, and no IAP request (no dump).
# Then the file from standard input, which must come through unchanged (binary mode).
start_sim 2 --flash-ms 0 --dump "$work/flash2.bin"
run -q program --dry-run "$sample"
sleep 0.3
if [[ $code -eq 0 && ! -s $work/out && ! -e $work/flash2.bin ]] && grep -q "dry run" "$work/err"; then pass "-q program --dry-run"
else fail "-q program --dry-run" "exit $code $(head -c 300 "$work/out") $(tail -3 "$work/err")"; fi
"$wine" "$exe" program - <"$samples/fennwick-sample.s19" >"$work/out" 2>"$work/err"
code=$?
sleep 0.5
if [[ $code -eq 0 ]] && cmp -s "$work/flash2.bin" "$image"; then pass "program - (standard input)"
else fail "program - (standard input)" "exit $code $(tail -3 "$work/err")"; fi
stop_sims

# Three COM ports at once, with one JSON document for them all.
for n in 2 3 4; do start_sim "$n" --flash-ms 0 --dump "$work/gang$n.bin"; done
run --port COM2 --port COM3 --port COM4 --json program "$sample"
sleep 0.5
ok=1
for n in 2 3 4; do cmp -s "$work/gang$n.bin" "$image" || ok=0; done
if [[ $code -eq 0 && $ok -eq 1 ]]; then pass "three ports at once"
else fail "three ports at once" "exit $code $(tail -3 "$work/err")"; fi
if python3 -c 'import json,sys; d=json.load(sys.stdin); assert d["result"] == "ok" and d["exit_code"] == 0 and len(d["ports"]) == 3' \
     <"$work/out"; then pass "--json: one valid document"
else fail "--json: one valid document" "$(head -c 400 "$work/out")"; fi
stop_sims

# A silent MCU: two time-outs, exit 4.
start_sim 2 --silent
run identify
if [[ $code -eq 4 ]]; then pass "silent MCU"; else fail "silent MCU" "exit $code"; fi
stop_sims

# The port vanishes in the middle of the run: exit 10.
start_sim 2 --flash-ms 0 --hangup-after 100
run program "$sample"
if [[ $code -eq 10 ]]; then pass "vanished port"; else fail "vanished port" "exit $code $(tail -3 "$work/err")"; fi
stop_sims

# Ctrl+C (SIGINT, which wine hands to the console's handler): stops after the block in
# flight, exit 14; a second one ends the run at once, with exit 14 as well, and the log file
# gets the run's record all the same.
# A stop ends the wait for a reply at once, so the second signal follows the first at once
# and may find the run already ended: either way exit 14 and a record.
for signals in 1 2; do
  start_sim 2 --flash-ms 20
  rm -f "$work/stop$signals.log"
  "$wine" "$exe" --log-file "$(windows_path "$work/stop$signals.log")" program "$sample" >"$work/out" 2>"$work/err" &
  cli=$!
  sleep 4
  kill -INT "$cli"
  ((signals == 2)) && kill -INT "$cli" 2>/dev/null
  wait "$cli"
  code=$?
  said="stopping; a block in flight is the last"
  closing=$([[ $signals == 1 ]] && echo "result: interrupted after block" || echo "result: interrupted")
  if [[ $code -eq 14 ]] && grep -q "$said" "$work/err" && grep -qF "$closing" "$work/stop$signals.log"; then
    pass "interrupted run ($signals signals)"
  else fail "interrupted run ($signals signals)" "exit $code $(tail -3 "$work/err") $(tail -2 "$work/stop$signals.log")"; fi
  stop_sims
done

# Names beyond the ANSI code page: a firmware file and a log file.
cp "$samples/fennwick-sample.s19" "$work/fw-é€中.s19"
run --log-file "$(windows_path "$work/runs-é中.log")" --port COM9 examine "$(windows_path "$work/fw-é€中.s19")"
if [[ $code -eq 3 ]] && grep -q "^=====.*examine" "$work/runs-é中.log" 2>/dev/null; then pass "Unicode file names"
else fail "Unicode file names" "exit $code $(cat "$work/err")"; fi

# A port that does not exist.
run --port COM9 identify
if [[ $code -eq 3 ]]; then pass "missing port"; else fail "missing port" "exit $code"; fi

run --syslog identify
if [[ $code -eq 2 ]] && grep -qi "syslog" "$work/err"; then pass "--syslog refused"
else fail "--syslog refused" "exit $code $(cat "$work/err")"; fi

((failures == 0)) || { echo "windows e2e: $failures failed" >&2; exit 1; }
echo "windows e2e: all passed"
