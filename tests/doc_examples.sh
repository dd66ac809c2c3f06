#!/usr/bin/env bash
# Runs every command example of README.md, the manual page and --help, each in
# a fresh scratch folder holding the bundled examples, and checks the exit
# status and the files each example says it writes, so that the texts cannot
# drift from the program.
#   doc_examples.sh SOURCE_DIR MARKLODE
#
# The convention, in a comment of each text (so the texts stay readable):
#   doc-example: COMMAND => STATUS: FILE, FILE...   ("nothing": no new file)
#   doc-example for "USAGE": COMMAND => ...          (cli/main.cpp: a usage line)
#   doc-file: NAME                                   (manual: the block after it
#                                                     is written to NAME)
# In README.md and the manual, COMMAND must stand in the text as it is shown
# (" ++ " is the manual's line break), and every example line beginning with
# "marklode" must have its doc-example; in --help, every usage line must.
# "/data/" in a command is a folder of the scratch copy.
set -uo pipefail
src=${1:?usage: doc_examples.sh SOURCE_DIR MARKLODE}
program=$(realpath "${2:?usage: doc_examples.sh SOURCE_DIR MARKLODE}")
failures=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin"
ln -s "$program" "$work/bin/marklode"

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# The scratch folder every example starts from.
fixtures() {  # fixtures DIR
  local d=$1
  mkdir -p "$d/data/pois" "$d/home"
  cp "$src/examples/club-tour.gpx" "$d/trip.gpx"
  cp "$src/examples/club-tour.gpx" "$d/data/trip.gpx"
  for f in points.csv data/a.csv data/b.csv "data/my points.csv" data/pois/cameras.csv \
    data/pois/fuel.csv data/pois/hotels.csv; do
    cp "$src/examples/europe-sights.csv" "$d/$f"
  done
  printf '[Profile]\r\nInput=trip.gpx\r\nOutput=tour.csv\r\n' >"$d/tour.zvp"
  cp "$src/examples/city-walk.kml" "$src/examples/city-walk.kmz" "$d/"
}

# The doc-file blocks of a text, written into DIR: the tab-indented block
# after each marker, as scdoc shows it.
doc_files() {  # doc_files TEXT DIR
  awk -v dir="$2" '
    /^; doc-file: / { name = $3; next }
    name != "" && /^;/ { next }
    name != "" && /^$/ { if (started) { close(dir "/" name); name = ""; started = 0 } ; next }
    name != "" {
      line = $0; sub(/^\t/, "", line); sub(/\+\+$/, "", line)
      gsub(/\\/, "", line); gsub("/data/", dir "/data/", line)
      print line > (dir "/" name); started = 1
    }' "$1"
}

listing() { (cd "$1" && find . -path ./home -prune -o -print | LC_ALL=C sort); }

run_example() {  # run_example WHERE MARKER-TEXT [TEXT-WITH-DOC-FILES]
  local where=$1 marker=$2 files_from=${3:-} cmd expect status files scratch got
  cmd=${marker% => *}
  expect=${marker##* => }
  status=${expect%%:*}
  files=${expect#*: }
  scratch=$(mktemp -d "$work/ex.XXXXXX")
  fixtures "$scratch"
  [ -n "$files_from" ] && doc_files "$files_from" "$scratch"
  local before after
  before=$(listing "$scratch")
  cmd=${cmd//\/data\//$scratch\/data\/}
  cmd=${cmd// ++ /$'\n'}
  (cd "$scratch" && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM \
    HOME="$scratch/home" XDG_CONFIG_HOME="$scratch/config" PATH="$work/bin:$PATH" \
    timeout 60 bash -o pipefail -c "$cmd" </dev/null >"$work/out" 2>"$work/err")
  got=$?
  if [ "$got" != "$status" ]; then
    fail "$where: '${marker% => *}' ended with status $got, the text says $status: $(head -c 300 "$work/err")"
  fi
  after=$(listing "$scratch")
  if [ "$files" = nothing ]; then
    [ "$before" = "$after" ] ||
      fail "$where: '${marker% => *}' wrote files the text does not name: $(comm -13 <(echo "$before") <(echo "$after") | tr '\n' ' ')"
  else
    local file
    IFS=',' read -ra list <<<"$files"
    for file in "${list[@]}"; do
      file=${file# }
      if [ ! -s "$scratch/$file" ] || grep -qxF "./$file" <<<"$before"; then
        fail "$where: '${marker% => *}' did not write $file"
      fi
    done
  fi
  rm -rf "$scratch"
}

# README.md and the manual page.
check_text() {  # check_text FILE LINE-PREFIX-OF-EXAMPLES
  local text=$1 prefix=$2 shown markers cmd line
  markers=$(grep -oE 'doc-example: .* => [0-9]+: [^>]*[^ >-]' "$text" | sed 's/^doc-example: //')
  [ -n "$markers" ] || fail "$text has no doc-example"
  # The text as a reader sees it: no comments, the manual's escapes and line
  # breaks undone.
  shown=$(grep -vE '^(; |<!--)' "$text" | sed -e 's/\\\([][*_]\)/\1/g' -e 's/^\t//' |
    sed -e ':a' -e '/++$/{N;s/++\n/ ++ /;ba' -e '}')
  while IFS= read -r line; do
    cmd=${line% => *}
    grep -qF -- "$cmd" <<<"$shown" || fail "$text: the doc-example '$cmd' is not in the text"
    run_example "$text" "$line" "$text"
  done <<<"$markers"
  # Every example line has its doc-example.
  while IFS= read -r line; do
    cmd=$(sed -E -e "s/^$prefix//" -e 's/ +#.*$//' -e 's/ +$//' <<<"$line")
    # shellcheck disable=SC2001  # on every line of markers
    grep -qxF -- "$cmd" <<<"$(sed 's/ => .*//' <<<"$markers")" ||
      fail "$text: the example '$cmd' has no doc-example"
  done < <(grep -E "^${prefix}marklode( |\$)" "$text")
}

check_text "$src/README.md" '    '
check_text "$src/docs/marklode.1.scd" $'\t'

# --help: each usage line names its doc-example in cli/main.cpp.
help=$("$program" --help)
markers=$(grep -oE 'doc-example for ".*": .* => [0-9]+: .*' "$src/cli/main.cpp" |
  sed 's/^doc-example for //')
[ -n "$markers" ] || fail "cli/main.cpp has no doc-example"
while IFS= read -r usage; do
  grep -qF -- "\"$usage\":" <<<"$markers" || fail "--help: the usage '$usage' has no doc-example"
done < <(grep -E '^  marklode' <<<"$help" | sed -E -e 's/^  //' -e 's/ {2,}.*$//')
while IFS= read -r line; do
  usage=${line#\"}
  usage=${usage%%\": *}
  grep -qF -- "$usage" <<<"$help" || fail "--help does not show '$usage'"
  run_example "--help ($usage)" "${line#*\": }"
done <<<"$markers"

exit $((failures > 0))
