#!/bin/sh
# Writes a help2man include file with a COMMANDS section: each subcommand that `zelvo --help`
# lists, with its usage, arguments and options as `zelvo SUBCOMMAND --help` prints them, so
# that the man page covers every option without a second copy of the help texts.
#
#   man_commands.sh path/to/zelvo OUTPUT
set -eu
zelvo=$1
out=$2

# The subcommands: the first word of each line of the "Subcommands:" block.
commands=$("$zelvo" --help | awk '
  /^Subcommands:/ { inside = 1; next }
  inside && /^  [^ ]/ { print $1; next }
  inside && /^[^ ]/ { inside = 0 }')
if [ -z "$commands" ]; then
  echo "man_commands.sh: $zelvo --help lists no subcommands" >&2
  exit 1
fi

tmp=$out.tmp
{
  echo "[COMMANDS]"
  for command in $commands; do
    "$zelvo" "$command" --help | awk -v command="$command" '
      # roff: backslashes and minus signs escaped, no line taken for a request.
      function roff(text) {
        gsub(/\\/, "\\e", text)
        gsub(/-/, "\\-", text)
        if (text ~ /^[.\047]/) text = "\\&" text
        return text
      }
      # An option or argument: its names in bold, what it takes in roman.
      function term(text,   names, rest, n, i, parts, result) {
        names = text
        rest = ""
        if (match(text, / /)) {
          names = substr(text, 1, RSTART - 1)
          rest = substr(text, RSTART + 1)
        }
        n = split(names, parts, ",")
        result = ""
        for (i = 1; i <= n; i++) result = result (i > 1 ? ", " : "") "\\fB" roff(parts[i]) "\\fR"
        return rest == "" ? result : result " " roff(rest)
      }
      NR == 1 { printf ".SS \"%s\"\n%s\n", "zelvo " command, roff($0); next }
      /^Exit status:/ { exit } # the same for every subcommand: said once, in the main text
      /^Usage: / {
        sub(/^Usage: zelvo [^ ]* ?/, "")
        printf ".PP\n\\fBzelvo %s\\fR %s\n", command, roff($0)
        next
      }
      /^[A-Za-z].*:$/ { printf ".PP\n%s\n", roff($0); next }
      /^  [^ ]/ {
        line = substr($0, 3)
        description = ""
        if (match(line, /   */)) {
          description = substr(line, RSTART + RLENGTH)
          line = substr(line, 1, RSTART - 1)
        }
        skip = line ~ /^-h,--help$/ # every subcommand has it
        if (!skip) printf ".TP\n%s\n", term(line)
        if (!skip && description != "") print roff(description)
        next
      }
      /^    */ { sub(/^ */, ""); if (!skip) print roff($0); next }
      /^$/ { next }
      { print roff($0) }'
  done
} > "$tmp"
mv "$tmp" "$out"
