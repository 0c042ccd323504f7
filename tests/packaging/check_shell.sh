#!/usr/bin/env bash
# Our shell scripts (those of scripts/, tests/, bench/, res/ and
# CI, found by their first line) and the bash completion are clean for shellcheck.
# Usage: check_shell.sh SOURCE_DIR
set -euo pipefail
cd "$1"
command -v shellcheck >/dev/null || { echo "shellcheck is not installed"; exit 77; }
scripts=()
while IFS= read -r -d '' f; do
  if head -n1 "$f" | grep -qE '^#!.*[/ ](ba)?sh( |$)'; then scripts+=("$f"); fi
done < <(find scripts tests bench res .ci -type f -print0)
((${#scripts[@]} > 5)) || { echo "only ${#scripts[@]} scripts found"; exit 1; }
shellcheck -x "${scripts[@]}"
shellcheck -s bash res/completion/fennwick-cli
echo "shellcheck: ${#scripts[@]} scripts and the completion clean"
