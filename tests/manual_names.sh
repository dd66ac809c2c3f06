#!/usr/bin/env bash
# The manual page names every profile key the program reads, every settings
# value it reads or writes, and every option it takes, so that a key added to
# the code without a word in the manual fails here.
#   manual_names.sh SOURCE_DIR
set -uo pipefail
src=${1:?usage: manual_names.sh SOURCE_DIR}
manual="$src/docs/marklode.1.scd"
failures=0

check() {  # check WHAT NAME...
  local what=$1 name
  shift
  if (($# == 0)); then
    echo "FAIL: found no $what in the sources; the search below is out of date"
    failures=$((failures + 1))
  fi
  for name in "$@"; do
    if ! grep -qF -- "$name" "$manual"; then
      echo "FAIL: the manual page does not name the $what $name"
      failures=$((failures + 1))
    fi
  done
}

# The profile keys are the names in the table between the markers, the one
# table the profile reader loops over.
# shellcheck disable=SC2046  # one word per name
check "profile key" $(sed -n '/profile keys: begin/,/profile keys: end/p' \
  "$src/engine/profiles.h" | grep -oE '^ *\{"[A-Za-z]+"' | tr -d ' {"' | sort -u)
# shellcheck disable=SC2046
check "settings value" $(grep -rhoE '(Store|Stored|RegistryValue)\([^;]*' \
  "$src/window" "$src/engine" "$src/services" --include=*.cpp --include=*.h |
  grep -oE '"[A-Z][A-Za-z]+"' | tr -d '"' | sort -u)
# shellcheck disable=SC2046
check "option" $(grep -ohE 'args\[0\] == "-[^"]+"' "$src/cli/main.cpp" |
  grep -oE '"-[^"]+"' | tr -d '"' | sort -u)

exit $((failures > 0))
