#!/usr/bin/env bash
# The bash completion of fennwick-cli offers its commands, each command's options and
# the formats, wherever the cursor stands.
set -uo pipefail
# shellcheck source=/dev/null
source "$1"
status=0
complete_at() {  # words..., the last one being completed
  COMP_WORDS=("$@")
  COMP_CWORD=$(($# - 1))
  COMPREPLY=()
  _fennwick_cli
  echo "${COMPREPLY[*]}"
}
expect() {  # what, got, wanted word
  if [[ " $2 " != *" $3 "* ]]; then
    echo "$1: got '$2', wanted '$3'"
    status=1
  fi
}
expect "verb" "$(complete_at fennwick-cli pro)" program
expect "verb after a global option" "$(complete_at fennwick-cli -p /dev/null i)" identify
expect "verb option" "$(complete_at fennwick-cli program --f)" --force
expect "global option after the verb" "$(complete_at fennwick-cli program --j)" --json
expect "examine's own option" "$(complete_at fennwick-cli examine --off)" --offline
expect "format" "$(complete_at fennwick-cli --format b)" bin
got=$(complete_at fennwick-cli check --f)
[[ " $got " == *" --force "* ]] && { echo "check offers --force: $got"; status=1; }
exit $status
