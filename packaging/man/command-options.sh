#!/usr/bin/env bash
# Writes a help2man include section with the positionals and options of
# each torvane-cli command, read from `torvane-cli COMMAND --help`.
#   command-options.sh TOOL > FILE.h2m
set -euo pipefail
tool=$1
commands=$("$tool" --help | awk '/^Subcommands:/ { on = 1; next } on && /^  [a-z]/ { print $1 } on && /^$/ { on = 0 }')
echo "[COMMAND OPTIONS]"
for command in $commands; do
  echo ".SS $command"
  "$tool" "$command" --help | awk '
    function roff(text) { gsub(/\\/, "\\e", text); sub(/^[.'"'"']/, "\\\\&&", text); return text }
    /^(Positionals|Options):/ { on = 1; next }
    on && /^  [^ ]/ {
      line = substr($0, 3)
      split_at = match(line, /  +/)
      name = split_at ? substr(line, 1, split_at - 1) : line
      text = split_at ? substr(line, split_at + RLENGTH) : ""
      if (name ~ /^-h,--help/) { skip = 1; next }
      skip = 0
      print ".TP"; print ".B " roff(name)
      if (text != "") print roff(text)
      next
    }
    on && /^   +[^ ]/ && !skip { t = $0; sub(/^ +/, "", t); print roff(t); next }
    /^$/ { skip = 0 }'
done
