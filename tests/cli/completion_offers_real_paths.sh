#!/usr/bin/env bash
# The bash completion of torvane-cli offers only what exists: `--path`
# completes to hidraw nodes that are there, never to a literal pattern.
#   completion_offers_real_paths.sh COMPLETION TORVANE-CLI
set -uo pipefail  # not -e: completion functions run without it
# bash-completion's helper, reduced to what the completion uses.
_init_completion() {
  words=("${COMP_WORDS[@]}")
  cword=$COMP_CWORD
  cur=${COMP_WORDS[COMP_CWORD]}
  prev=${COMP_WORDS[COMP_CWORD - 1]}
}
# shellcheck source=/dev/null
source "$1"
status=0
for cur in "" /dev/hid; do
  COMP_WORDS=("$2" flash --path "$cur")
  COMP_CWORD=3
  COMPREPLY=()
  _torvane_cli
  for reply in "${COMPREPLY[@]}"; do
    if [[ ! -e $reply ]]; then
      echo "--path '$cur' offers '$reply', which does not exist" >&2
      status=1
    fi
  done
done
# The completion still works: `--address` offers auto.
COMP_WORDS=("$2" flash --address "")
COMP_CWORD=3
_torvane_cli
[[ "${COMPREPLY[*]}" == auto ]] || { echo "--address offers '${COMPREPLY[*]}'" >&2; status=1; }
exit $status
