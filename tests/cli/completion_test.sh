#!/usr/bin/env bash
# The bash completion of zelvo, sourced as bash-completion would: what it offers for a few
# command lines, and, for every subcommand, every option that `zelvo SUBCOMMAND --help` lists.
# Exits 77 (skipped) when bash-completion is not installed.
#
#   completion_test.sh path/to/zelvo.bash-completion path/to/zelvo
set -u
completion=$(realpath "$1")
zelvo=$(realpath "$2")
library=/usr/share/bash-completion/bash_completion
if [[ ! -r $library ]]; then
  echo "bash-completion is not installed: skipped"
  exit 77
fi
# shellcheck source=/dev/null
source "$library"
# shellcheck source=/dev/null
source "$completion"
# The completion asks the program it completes for its subcommands and options.
PATH=$(dirname "$zelvo"):$PATH

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
mkdir game
touch game.sms game.zip title.msscreen pack.zrm title.png notes.txt

# The words offered for the command line $1 (the cursor at its end), sorted, on one line.
offered() {
  local COMP_LINE=$1 COMP_POINT=${#1} COMP_WORDS COMP_CWORD
  read -ra COMP_WORDS <<<"$COMP_LINE"
  [[ $COMP_LINE == *" " ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _zelvo zelvo "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}" 2>/dev/null
  printf '%s\n' "${COMPREPLY[@]}" | sort | paste -sd ' ' -
}

failures=0
check() { # command line, expected words
  local got
  got=$(offered "$1")
  if [[ $got != "$2" ]]; then
    echo "FAIL: '$1' offers '$got', expected '$2'"
    ((failures++))
  fi
}

check "zelvo bu" "build"
check "zelvo " "--help --version -h build coverage export inspect preview sheet"
check "zelvo build --th" "--threads"
check "zelvo build " "game"
check "zelvo build game -r " "game game.sms game.zip"
check "zelvo inspect " "game pack.zrm title.msscreen"
check "zelvo export title.msscreen " "game title.png"
check "zelvo export --factor 2 title.msscreen " "game title.png"
check "zelvo preview title.msscreen " "game pack.zrm"
check "zelvo sheet pack.zrm " "game title.png"
check "zelvo sheet --group " "-1 0 1 2 3 4 5 6 7 8"
check "zelvo build --encoder " "fast libbz2"
check "zelvo export --format b" "bmp"
check "zelvo coverage -s " "1 2 3 4"
check "zelvo build --threads " ""
check "zelvo build --threads 2 -o out.zrm " "game"

# Every subcommand that zelvo lists, with every option its help lists.
commands=$("$zelvo" --help | awk '/^Subcommands:/ { s = 1; next } s && /^  [^ ]/ { print $1 }')
if [[ -z $commands ]]; then
  echo "FAIL: $zelvo --help lists no subcommands"
  ((failures++))
fi
for command in $commands; do
  offer=" $(offered "zelvo $command -") "
  [[ $(offered "zelvo ${command:0:3}") == "$command" ]] || {
    echo "FAIL: subcommand $command is not completed"
    ((failures++))
  }
  for option in $("$zelvo" "$command" --help | awk '/^  -/ { gsub(/,/, " ", $1); print $1 }'); do
    if [[ $offer != *" $option "* ]]; then
      echo "FAIL: zelvo $command: option $option is not offered"
      ((failures++))
    fi
  done
done

if ((failures > 0)); then
  echo "$failures failure(s)"
  exit 1
fi
echo "completion: all offered as expected"
