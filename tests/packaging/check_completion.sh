#!/usr/bin/env bash
# The bash completion of fennwick-cli offers its commands, every option that each command's
# help lists, the formats, file names with spaces as one word each, and ports.
# Usage: check_completion.sh COMPLETION [FENNWICK-CLI]
set -uo pipefail
# shellcheck source=/dev/null
source "$1"
cli=${2:-}
status=0
complete_at() {  # words..., the last one being completed; prints one reply a line
  COMP_WORDS=("$@")
  COMP_CWORD=$(($# - 1))
  COMPREPLY=()
  _fennwick_cli fennwick-cli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  printf '%s\n' "${COMPREPLY[@]}"
}
offers() {  # what, wanted reply, words...
  local what=$1 wanted=$2
  shift 2
  if ! complete_at "$@" | grep -qxF -- "$wanted"; then
    echo "$what: '$*' does not offer '$wanted'"
    status=1
  fi
}
lacks() {  # what, unwanted reply, words...
  local what=$1 unwanted=$2
  shift 2
  if complete_at "$@" | grep -qxF -- "$unwanted"; then
    echo "$what: '$*' offers '$unwanted'"
    status=1
  fi
}

offers "command" program fennwick-cli pro
offers "command after a global option" identify fennwick-cli -p /dev/null i
offers "command after an option's value that looks like one" examine fennwick-cli --unit program e
offers "command's own option" --force fennwick-cli program --f
offers "global option after the command" --json fennwick-cli program --j
offers "short option" -p fennwick-cli program -
offers "examine's own option" --offline fennwick-cli examine --off
offers "format" bin fennwick-cli --format b
offers "format after =" hex fennwick-cli --format = h
lacks "another command's option" --force fennwick-cli check --f
lacks "a value taken for the command" --offline fennwick-cli --station examine --off

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
touch "$work/new firmware.s19" "$work/other.hex"
offers "file name with a space" "$work/new firmware.s19" fennwick-cli program "$work/new"
offers "file name with a space, as the log file" "$work/new firmware.s19" fennwick-cli --log-file "$work/new"
cat >"$work/fennwick-cli" <<'FAKE'
#!/bin/sh
[ "$1 $2" = "ports --names" ] && printf '/dev/ttyAMA0\n/dev/my port\n'
FAKE
chmod +x "$work/fennwick-cli"
PATH=$work:$PATH offers "port that the program lists" "/dev/my port" fennwick-cli -p /dev/my

# Every option that the program's help lists, of every command, is offered.
if [[ -n $cli ]]; then
  for command in "" identify examine program check ports; do
    # shellcheck disable=SC2086 # no command is no word
    help=$("$cli" $command --help) || { echo "$command --help failed"; status=1; continue; }
    for option in $(grep -E '^ +-' <<<"$help" | awk '{print $1}' | tr ',' '\n' | sed 's/[:=].*//' | sort -u); do
      # shellcheck disable=SC2086
      offers "option of '${command:-fennwick-cli}'" "$option" fennwick-cli $command "$option"
    done
  done
fi
exit $status
