#!/usr/bin/env bash
# The README's command table and exit-code table (section "torvane-cli")
# list exactly the commands and exit codes that `torvane-cli --help` lists.
#   readme_matches_help.sh README.md TORVANE-CLI
set -euo pipefail
readme=$1
tool=$2

section=$(awk '/^## torvane-cli/ { on = 1; next } /^## / { on = 0 } on' "$readme")
# "| `flash [IMAGE]` | ..." -> flash;  "| 6 | ..." -> 6
readme_commands=$(grep -oE '^\| `[a-z][a-z-]*' <<<"$section" | cut -c4- | sort -u)
readme_codes=$(grep -oE '^\| [0-9]+ \|' <<<"$section" | grep -oE '[0-9]+' | sort -un)

help=$("$tool" --help)
help_commands=$(awk '/^Subcommands:/ { on = 1; next } on && /^  [a-z]/ { print $1 } on && /^$/ { on = 0 }' <<<"$help" | sort -u)
# "Exit codes: 0 success, 1 file error, ..." (possibly over several lines)
help_codes=$(awk '/^Exit codes:/ { on = 1 } on' <<<"$help" | tr '\n' ' ' | sed 's/^Exit codes://' |
  grep -oE '(^|, ) *[0-9]+ ' | grep -oE '[0-9]+' | sort -un)

status=0
compare() {
  if [[ "$2" != "$3" ]]; then
    echo "README and --help list different $1:" >&2
    diff <(echo "$2") <(echo "$3") | sed 's/^</  README:/; s/^>/  --help:/' | grep -E 'README|help' >&2
    status=1
  fi
}
[[ -n "$readme_commands" && -n "$help_commands" ]] || { echo "no commands found" >&2; exit 1; }
[[ -n "$readme_codes" && -n "$help_codes" ]] || { echo "no exit codes found" >&2; exit 1; }
compare commands "$readme_commands" "$help_commands"
compare "exit codes" "$readme_codes" "$help_codes"
((status == 0)) && echo "README and --help agree: $(echo $readme_commands); exit codes $(echo $readme_codes)"
exit $status
