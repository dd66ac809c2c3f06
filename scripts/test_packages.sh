#!/usr/bin/env bash
# Builds the packages a user installs and tries each as a user would.
#
#   test_packages.sh [LINUX_BUILD [WIN_BUILD]]   (build/release, build/win64)
#
# Linux: cpack -G DEB in the release build, lintian (errors fail), dpkg -i,
# the installed marklode --version, its manual page, a conversion of the
# examples compared with the build's own program, marklode without Qt (no
# libQt needed, a peak RSS under 8 MB converting a generated GPX file of some
# MB) and the window opened through it by marklode-window on a virtual
# screen, then dpkg --purge and a check that none of the package's files is
# left.
# Windows, when the build exists: the portable zip (one Marklode-VERSION
# folder) and the installer; the installer runs silently under Wine in a
# prefix of its own, the installed marklode-cli.exe converts the examples,
# the file type, Start menu shortcuts and uninstall entry are checked, a
# running Marklode (on a virtual screen) makes the silent installer and
# uninstaller fail and change nothing, and the silent uninstaller must
# remove it all and leave the settings and the user's own files.
# Every outside command runs under a time limit; whatever happens, the
# package is removed and the Wine processes of the prefix are ended.
set -uo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
linux=$(cd "${1:-$src/build/release}" 2>/dev/null && pwd) || linux=
win=$(cd "${2:-$src/build/win64}" 2>/dev/null && pwd) || win=

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
work=$(mktemp -d)
installed_by_us=0
wineprefix=""
wineserver=""
holder=""
xvfb=""

cleanup() {
  stop_holder
  if ((installed_by_us)); then
    DEBIAN_FRONTEND=noninteractive timeout 300 $SUDO dpkg --purge marklode >/dev/null 2>&1 ||
      echo "FAIL: could not remove the marklode package"
  fi
  if [ -n "$wineprefix" ] && [ -n "$wineserver" ]; then
    WINEPREFIX="$wineprefix" timeout 30 "$wineserver" -k >/dev/null 2>&1
    rm -rf "$wineprefix"
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

cache_value() {  # cache_value BUILD NAME
  sed -n "s/^$2:[A-Z]*=//p" "$1/CMakeCache.txt"
}

# Converts the two examples in folder DIR with the command that follows it
# (a program with its runner and time limit): GPX to POI-CSV and /r POI-CSV to
# GPX, writing each exit status into status.txt.
convert_examples() {  # convert_examples DIR COMMAND...
  local dir=$1
  shift
  mkdir -p "$dir"
  cp "$src/examples/club-tour.gpx" "$src/examples/europe-sights.csv" "$dir"
  (
    cd "$dir" || exit 1
    "$@" club-tour.gpx </dev/null 2>messages.txt
    echo "gpx $?" >status.txt
    "$@" /r europe-sights.csv </dev/null 2>>messages.txt
    echo "csv $?" >>status.txt
  )
}

# Compares the outputs and statuses of two convert_examples folders.
same_conversions() {  # same_conversions WHAT DIR1 DIR2
  local f
  for f in club-tour.CSV europe-sights.GPX status.txt; do
    if [ ! -s "$2/$f" ]; then
      fail "$1: no $f ($(cat "$2/messages.txt" 2>/dev/null))"
    elif ! cmp -s "$2/$f" "$3/$f"; then
      fail "$1: $f differs from the build's own"
    fi
  done
  grep -qv ' 0$' "$2/status.txt" && fail "$1: $(tr '\n' ' ' <"$2/status.txt")"
}

# --- Linux ---------------------------------------------------------------

test_deb() {
  echo "=== Debian package ($linux)"
  local version arch
  version=$(cache_value "$linux" CMAKE_PROJECT_VERSION)
  arch=$(dpkg --print-architecture)
  timeout 1800 cmake --build "$linux" -j2 >"$work/build.log" 2>&1 ||
    { fail "the release build failed: $(tail -n 5 "$work/build.log")"; return; }
  rm -f "$linux"/marklode_*.deb
  (cd "$linux" && timeout 600 cpack -G DEB >"$work/cpack.log" 2>&1) ||
    { fail "cpack -G DEB failed: $(tail -n 5 "$work/cpack.log")"; return; }
  local deb
  deb=$(find "$linux" -maxdepth 1 -name "marklode_$version-*_$arch.deb" | head -n 1)
  [ -n "$deb" ] || { fail "cpack wrote no marklode_$version-*_$arch.deb"; return; }
  basename "$deb"

  local root_ok=""
  [ "$(id -u)" -eq 0 ] && root_ok="--allow-root"
  timeout 600 lintian $root_ok --pedantic --display-info "$deb" >"$work/lintian.txt" 2>&1
  cat "$work/lintian.txt"
  if grep -q '^E: ' "$work/lintian.txt"; then
    fail "lintian reports errors"
  elif grep -qv '^[WINP]: ' "$work/lintian.txt"; then
    fail "lintian did not run through"
  fi

  # What a user expects to find, where Debian puts it.
  local contents want
  contents=$(dpkg-deb -c "$deb" | awk '{print $6}')  # a link's own name, not its target
  for want in ./usr/bin/marklode ./usr/bin/marklode-window ./usr/share/man/man1/marklode.1.gz \
    ./usr/share/man/man1/marklode-window.1.gz \
    ./usr/share/applications/marklode.desktop \
    ./usr/share/icons/hicolor/{16x16,32x32,48x48,64x64,128x128,256x256}/apps/marklode.png \
    ./usr/share/doc/marklode/copyright ./usr/share/doc/marklode/changelog.Debian.gz \
    ./usr/share/doc/marklode/Notes.rtf ./usr/share/doc/marklode/guide.md; do
    grep -qxF "$want" <<<"$contents" || fail "the package lacks $want"
  done

  if dpkg-query -W -f='${Status}' marklode 2>/dev/null | grep -q ' installed$'; then
    fail "a marklode package is installed already; remove it to test the new one"
    return
  fi
  installed_by_us=1
  export DEBIAN_FRONTEND=noninteractive
  if ! timeout 300 $SUDO dpkg -i "$deb" >"$work/dpkg.log" 2>&1; then
    # Missing dependencies leave the package unconfigured; apt brings them.
    timeout 900 $SUDO apt-get -f install -y -qq >>"$work/dpkg.log" 2>&1
  fi
  dpkg-query -W -f='${Status}' marklode 2>/dev/null | grep -q 'install ok installed' ||
    { fail "dpkg -i did not install the package: $(tail -n 5 "$work/dpkg.log")"; return; }
  local files
  files=$(dpkg -L marklode)


  out=$(timeout 30 /usr/bin/marklode --version 2>&1 </dev/null)
  [ "$out" = "Marklode version $version" ] || fail "the installed marklode --version said '$out'"
  out=$(timeout 30 man -w marklode 2>&1)
  if [ "$out" != /usr/share/man/man1/marklode.1.gz ]; then
    fail "man -w marklode said '$out'"
    grep -qs 'path-exclude=/usr/share/man' /etc/dpkg/dpkg.cfg.d/* &&
      echo "  (dpkg is set to leave manual pages out: see /etc/dpkg/dpkg.cfg.d)"
  fi
  # The page renders, and without complaints from groff.
  out=$(MANWIDTH=80 timeout 30 man -P cat marklode 2>&1 >"$work/man.txt")
  [ -z "$out" ] || fail "man marklode warned: $out"
  grep -q 'EXIT STATUS' "$work/man.txt" || fail "man marklode shows no EXIT STATUS section"

  # Settings of the user who runs the test must not change the outputs.
  (
    export XDG_CONFIG_HOME="$work/config"
    unset DISPLAY WAYLAND_DISPLAY
    convert_examples "$work/linux-installed" timeout 120 /usr/bin/marklode
    convert_examples "$work/linux-built" timeout 120 "$linux/marklode"
  )
  same_conversions "the installed marklode" "$work/linux-installed" "$work/linux-built"
  installed_without_qt

  timeout 300 $SUDO dpkg --purge marklode >>"$work/dpkg.log" 2>&1 ||
    fail "dpkg --purge failed: $(tail -n 5 "$work/dpkg.log")"
  installed_by_us=0
  dpkg-query -W -f='${Status}' marklode 2>/dev/null | grep -q ' installed$' &&
    fail "the package is still installed after dpkg --purge"
  local path left=""
  while IFS= read -r path; do
    [ -e "$path" ] && [ ! -d "$path" ] && left+=" $path"
  done <<<"$files"
  [ -z "$left" ] || fail "left behind after dpkg --purge:$left"
  [ ! -e /usr/share/doc/marklode ] || fail "/usr/share/doc/marklode is left after dpkg --purge"
}

# The installed marklode loads no Qt: none among the libraries it needs, a
# small peak RSS on a conversion of some MB; and it opens the window all the
# same, by becoming marklode-window, on a virtual screen.
installed_without_qt() {
  local qt rss st out
  qt=$(readelf -d /usr/bin/marklode | grep '(NEEDED)' | grep -i 'libQt')
  [ -z "$qt" ] || fail "the installed marklode needs Qt: $qt"
  qt=$(ldd /usr/bin/marklode 2>&1 | grep -i 'libQt')
  [ -z "$qt" ] || fail "the installed marklode loads Qt: $qt"
  qt=$(ldd /usr/bin/marklode-window 2>&1)
  grep -q 'libQt6Widgets' <<<"$qt" ||
    fail "the installed marklode-window does not load Qt Widgets"

  # Peak RSS, GPX to POI-CSV on a file of 20 MB: the engine streams, so the
  # figure is the program's own start-up and buffers (about 4 MB), where the
  # Qt libraries added 12 MB.
  mkdir -p "$work/rss"
  if ! c++ -std=c++20 -O2 -o "$work/rss/gen_gpx" "$src/bench/gen_gpx.cpp" 2>"$work/rss/gen.log"; then
    fail "bench/gen_gpx.cpp did not build: $(tail -n 3 "$work/rss/gen.log")"
  elif ! "$work/rss/gen_gpx" 20M "$work/rss/bench.gpx" >/dev/null 2>&1; then
    fail "gen_gpx wrote no bench.gpx"
  else
    (cd "$work/rss" && XDG_CONFIG_HOME="$work/config" timeout 120 /usr/bin/time -v \
      -o "$work/rss/time.txt" /usr/bin/marklode bench.gpx </dev/null >/dev/null 2>&1)
    st=$?
    rss=$(sed -n 's/.*Maximum resident set size (kbytes): *//p' "$work/rss/time.txt")
    echo "installed marklode, GPX (20 MB) to POI-CSV: status $st, peak RSS ${rss:-?} kB"
    [ "$st" = 0 ] && [ -s "$work/rss/bench.CSV" ] || fail "the 20 MB conversion ended with $st"
    [ -n "$rss" ] && [ "$rss" -lt 8192 ] || fail "the installed marklode's peak RSS is ${rss:-unknown} kB (limit 8192)"
  fi

  # Without a display it says so; on a virtual screen the window comes up,
  # in marklode-window, which took marklode's process.
  out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM XDG_CONFIG_HOME="$work/config" \
    timeout 30 /usr/bin/marklode 2>&1 </dev/null)
  st=$?
  [ "$st" = 2 ] && grep -q 'no display' <<<"$out" ||
    fail "the installed marklode without a display: status $st: $out"
  if ! command -v Xvfb >/dev/null || ! command -v xdotool >/dev/null; then
    fail "Xvfb and xdotool are needed to open the window (scripts/setup.sh installs them)"
    return
  fi
  : >"$work/display"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
  xvfb=$!
  local i display="" app exe="" shown=0
  for i in $(seq 100); do
    [ -s "$work/display" ] && break
    sleep 0.1
  done
  [ -s "$work/display" ] && display=":$(head -n 1 "$work/display")"
  if [ -z "$display" ]; then
    fail "Xvfb did not start"
  else
    (cd "$work" && exec env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM DISPLAY="$display" \
      XDG_CONFIG_HOME="$work/config" /usr/bin/marklode </dev/null >"$work/window.txt" 2>&1) &
    app=$!
    for i in $(seq 120); do
      if DISPLAY=$display xdotool search --onlyvisible --name '^Marklode$' >/dev/null 2>&1; then
        shown=1
        break
      fi
      kill -0 "$app" 2>/dev/null || break
      sleep 0.25
    done
    exe=$(readlink "/proc/$app/exe" 2>/dev/null)
    kill "$app" 2>/dev/null
    wait "$app" 2>/dev/null
    ((shown)) || fail "marklode opened no window on the virtual screen: $(cat "$work/window.txt")"
    [ "$exe" = /usr/bin/marklode-window ] || fail "the window ran in '$exe', not /usr/bin/marklode-window"
  fi
  kill "$xvfb" 2>/dev/null
  wait "$xvfb" 2>/dev/null
  xvfb=""
  # Started directly, marklode-window opens the window too: offscreen it is
  # still in the window's loop when its time is up.
  env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$work/config" \
    timeout 5 /usr/bin/marklode-window </dev/null >"$work/window.txt" 2>&1
  st=$?
  [ "$st" = 124 ] || fail "marklode-window offscreen ended with $st: $(cat "$work/window.txt")"
}

# --- Windows -------------------------------------------------------------

wine64=/usr/lib/wine/wine64
[ -x "$wine64" ] || wine64=$(command -v wine64 || command -v wine)
wineserver=/usr/lib/wine/wineserver64
[ -x "$wineserver" ] || wineserver=$(command -v wineserver)

w() {  # runs a Windows program under the package prefix, time-limited
  timeout 120 "$wine64" "$@" </dev/null
}
wait_wine() {  # until every program of the prefix has ended
  timeout 120 "$wineserver" -w
}
# The Unix path of a Windows folder variable (LOCALAPPDATA, APPDATA).
unix_folder() {
  local winpath
  winpath=$(w cmd /c "echo %$1%" 2>/dev/null | tr -d '\r')
  w winepath -u "$winpath" 2>/dev/null | tr -d '\r'
}
reg_default() {  # the (Default) text of a key, empty when the key is missing
  w reg query "$1" /ve 2>/dev/null | tr -d '\r' | sed -n 's/^ *(Default) *REG_SZ *//p'
}
has_key() {
  w reg query "$1" >/dev/null 2>&1
}

# A Marklode left running, as a user leaves it open: marklode.exe showing its
# box for a missing input, on a virtual screen of its own (without a screen
# the box returns at once). Returns once the box is up. No other program of
# the prefix may run: the desktop they share would have no screen.
start_holder() {  # start_holder EXE
  : >"$work/display"
  Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
  xvfb=$!
  local i display
  for i in $(seq 100); do
    [ -s "$work/display" ] && break
    sleep 0.1
  done
  [ -s "$work/display" ] || return 1
  display=":$(head -n 1 "$work/display")"
  DISPLAY=$display timeout 600 "$wine64" "$1" 'C:\no such folder\trip.gpx' </dev/null >/dev/null 2>&1 &
  holder=$!
  for i in $(seq 120); do
    DISPLAY=$display xdotool search --onlyvisible --name . >/dev/null 2>&1 && return 0
    kill -0 "$holder" 2>/dev/null || return 1
    sleep 0.5
  done
  return 1
}
stop_holder() {
  [ -n "$holder" ] && { kill "$holder" 2>/dev/null; wait "$holder" 2>/dev/null; }
  [ -n "$xvfb" ] && { kill "$xvfb" 2>/dev/null; wait "$xvfb" 2>/dev/null; }
  holder="" xvfb=""
}

test_windows() {
  echo "=== Windows installer and portable zip ($win)"
  local version
  version=$(cache_value "$win" CMAKE_PROJECT_VERSION)
  timeout 1800 cmake --build "$win" -j2 --target installer portable >"$work/wbuild.log" 2>&1 ||
    { fail "building the installer and the zip failed: $(tail -n 5 "$work/wbuild.log")"; return; }
  local setup="$win/marklode-$version-win64-setup.exe"
  local zip="$win/marklode-$version-win64-portable.zip"
  [ -s "$setup" ] || { fail "no $(basename "$setup")"; return; }
  [ -s "$zip" ] || { fail "no $(basename "$zip")"; return; }
  echo "$(basename "$setup") $(basename "$zip")"

  wineprefix="$win/wine-packages"
  rm -rf "$wineprefix"
  export WINEPREFIX="$wineprefix" WINEDEBUG=-all
  # No Mono or Gecko prompts, and no menu entries or file types on the host.
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  unset DISPLAY WAYLAND_DISPLAY
  timeout 300 "$wine64" wineboot -i >/dev/null 2>&1 </dev/null
  wait_wine

  # The programs as the build made them: what the installed ones must match.
  convert_examples "$work/win-built" w "$win/marklode-cli.exe"

  # The zip: one folder Marklode-VERSION holding exactly its seven files (the
  # marker "portable" among them), and its program runs.
  local names top="Marklode-$version"
  names=$(cd "$work" && cmake -E tar tf "$zip" | grep -v '/$' | sort | tr '\n' ' ')
  [ "$names" = "$top/CSVTOGPX.zvp $top/GPXTOCSV.zvp $top/Notes.rtf $top/README.txt $top/marklode-cli.exe $top/marklode.exe $top/portable " ] ||
    fail "the zip holds: $names"
  mkdir -p "$work/portable"
  (cd "$work/portable" && cmake -E tar xf "$zip")
  [ "$(ls -A "$work/portable")" = "$top" ] ||
    fail "the zip unpacks into: $(ls -A "$work/portable" | tr '\n' ' ')"
  local exe objdump=x86_64-w64-mingw32-objdump
  command -v "$objdump" >/dev/null || objdump=objdump
  for exe in marklode.exe marklode-cli.exe; do
    "$objdump" -h "$work/portable/$top/$exe" | grep -qE '\.(debug_|gnu_debuglink)' &&
      fail "$exe in the zip still has its debug information or a link to it"
  done

  out=$(w "$work/portable/$top/marklode-cli.exe" --version 2>&1 | tr -d '\r')
  [ "$out" = "Marklode version $version" ] || fail "the zip's marklode-cli.exe --version said '$out'"

  local appdata instdir
  w "$setup" /S
  local st=$?
  wait_wine
  [ "$st" = 0 ] || fail "the installer ended with $st"
  instdir="$(unix_folder LOCALAPPDATA)/Programs/Marklode"
  appdata=$(unix_folder APPDATA)
  local menu="$appdata/Microsoft/Windows/Start Menu/Programs/Marklode"
  local lnk="$menu/Marklode.lnk"
  local f
  for f in marklode.exe marklode-cli.exe Notes.rtf GPXTOCSV.zvp CSVTOGPX.zvp Uninstall.exe; do
    [ -f "$instdir/$f" ] || fail "the installer put no $f in $instdir"
  done
  # The program, its guide and its uninstaller, each a shortcut to its file.
  for f in Marklode:marklode.exe "Marklode Guide:Notes.rtf" "Uninstall Marklode:Uninstall.exe"; do
    if [ ! -f "$menu/${f%%:*}.lnk" ]; then
      fail "no Start menu shortcut $menu/${f%%:*}.lnk"
    elif ! grep -qiF "Marklode\\${f#*:}" <<<"$(strings -a "$menu/${f%%:*}.lnk")"; then
      fail "the Start menu shortcut ${f%%:*}.lnk does not lead to ${f#*:}"
    fi
  done
  [ -f "$instdir/marklode-cli.exe" ] || return

  out=$(w "$instdir/marklode-cli.exe" --version 2>&1 | tr -d '\r')
  [ "$out" = "Marklode version $version" ] || fail "the installed marklode-cli.exe --version said '$out'"
  convert_examples "$work/win-installed" w "$instdir/marklode-cli.exe"
  same_conversions "the installed marklode-cli.exe" "$work/win-installed" "$work/win-built"

  local progid open
  progid=$(reg_default 'HKCU\Software\Classes\.zvp')
  [ "$progid" = Marklode.Profile ] || fail ".zvp is registered as '$progid'"
  open=$(reg_default "HKCU\\Software\\Classes\\$progid\\shell\\open\\command")
  [ "$open" = "\"$(w winepath -w "$instdir" 2>/dev/null | tr -d '\r')\\marklode.exe\" /p \"%1\"" ] ||
    fail "the .zvp open command is '$open'"
  # A profile opened as Explorer opens it: marklode.exe /p and the path in
  # quotes, here with a space in it. The program runs it without a word.
  local profiles
  profiles=$(w winepath -u 'C:\My Profiles' 2>/dev/null | tr -d '\r')
  mkdir -p "$profiles"
  cp "$src/examples/club-tour.gpx" "$profiles"
  printf '%s\r\n' '[Profile]' 'Input=C:\My Profiles\club-tour.gpx' \
    'Output=C:\My Profiles\tour.csv' 'GenerateComment=<T>' >"$profiles/tour.zvp"
  w "$instdir/marklode.exe" /p 'C:\My Profiles\tour.zvp' >"$work/profile.txt" 2>&1
  st=$?
  [ "$st" = 0 ] || fail "marklode.exe /p \"C:\\My Profiles\\tour.zvp\" ended with $st: $(cat "$work/profile.txt")"
  cmp -s "$profiles/tour.csv" "$work/win-built/club-tour.CSV" ||
    fail "the opened profile did not write the conversion of club-tour.gpx: $(ls "$profiles")"

  local uninst='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Marklode'
  w reg query "$uninst" /v DisplayVersion 2>/dev/null | tr -d '\r' | grep -q "REG_SZ *$version\$" ||
    fail "no uninstall entry with DisplayVersion $version"

  # While Marklode runs, the silent installer and uninstaller end with a
  # failure and leave every file as it was; once it has ended, the installer
  # replaces them. The installed files are made to differ from the new ones
  # first, as an older version's would.
  printf 'older' >>"$instdir/marklode.exe"
  printf 'older' >>"$instdir/Notes.rtf"
  cp "$instdir/marklode.exe" "$work/old-marklode.exe"
  cp "$instdir/Notes.rtf" "$work/old-Notes.rtf"
  if ! command -v Xvfb >/dev/null || ! command -v xdotool >/dev/null; then
    fail "Xvfb and xdotool are needed to leave Marklode running (scripts/setup.sh installs them)"
  elif ! wait_wine || ! start_holder "$instdir/marklode.exe"; then
    fail "marklode.exe did not stay open on the virtual screen"
  else
    w "$setup" /S
    st=$?
    [ "$st" != 0 ] || fail "the installer ended with 0 while Marklode ran"
    cmp -s "$instdir/marklode.exe" "$work/old-marklode.exe" ||
      fail "the installer changed marklode.exe while Marklode ran"
    cmp -s "$instdir/Notes.rtf" "$work/old-Notes.rtf" ||
      fail "the installer changed Notes.rtf while Marklode ran"
    # _?= runs the uninstaller in place, so that its status is its own.
    w "$instdir/Uninstall.exe" /S "_?=$(w winepath -w "$instdir" 2>/dev/null | tr -d '\r')"
    st=$?
    [ "$st" != 0 ] || fail "the uninstaller ended with 0 while Marklode ran"
    [ -f "$instdir/marklode.exe" ] && [ -f "$lnk" ] ||
      fail "the uninstaller removed files while Marklode ran"
  fi
  stop_holder
  wait_wine
  w "$setup" /S
  st=$?
  wait_wine
  [ "$st" = 0 ] || fail "the installer over an older copy ended with $st"
  cmp -s "$instdir/marklode.exe" "$win/package/marklode.exe" ||
    fail "the installer did not replace marklode.exe"

  # A setting of the user's, as the window or a person writes it.
  w reg add 'HKCU\Software\Orvel\Marklode' /v TruncatePOIname /d False /f >/dev/null 2>&1

  # The uninstaller copies itself away and returns at once; its copy removes
  # the folder, itself included.
  w "$instdir/Uninstall.exe" /S
  wait_wine
  for _ in $(seq 30); do
    [ -e "$instdir" ] || break
    sleep 1
  done
  [ ! -e "$instdir" ] || fail "left in the install folder: $(ls -A "$instdir" | tr '\n' ' ')"
  [ ! -e "$menu" ] || fail "the Start menu folder is left: $(ls -A "$menu" | tr '\n' ' ')"
  has_key 'HKCU\Software\Classes\.zvp' && fail "HKCU\\Software\\Classes\\.zvp is left"
  has_key 'HKCU\Software\Classes\Marklode.Profile' && fail "the Marklode.Profile class is left"
  has_key "$uninst" && fail "the uninstall entry is left"
  w reg query 'HKCU\Software\Orvel\Marklode' /v TruncatePOIname 2>/dev/null | grep -q False ||
    fail "the uninstaller removed the settings"

  # Into a folder of the user's choice with a space in its name: a file of
  # the user's there stays, with its folder, and so does a .zvp file type
  # that another program has taken over.
  # /D= takes the rest of the command line unquoted, which only cmd passes on
  # as it is.
  w cmd /c "$(w winepath -w "$setup" 2>/dev/null | tr -d '\r') /S /D=C:\My Tools\Marklode"
  wait_wine
  local custom
  custom=$(w winepath -u 'C:\My Tools\Marklode' 2>/dev/null | tr -d '\r')
  [ -f "$custom/marklode.exe" ] || { fail "/D= did not install into $custom"; return; }
  out=$(reg_default 'HKCU\Software\Classes\Marklode.Profile\shell\open\command')
  [ "$out" = '"C:\My Tools\Marklode\marklode.exe" /p "%1"' ] ||
    fail "the .zvp open command in a folder with a space is '$out'"
  printf '[Profile]\r\nInput=trip.gpx\r\n' >"$custom/mine.zvp"
  w reg add 'HKCU\Software\Classes\.zvp' /ve /d Other.Editor /f >/dev/null 2>&1
  w "$custom/Uninstall.exe" /S
  wait_wine
  for _ in $(seq 30); do
    [ -e "$custom/marklode.exe" ] || [ -e "$custom/Uninstall.exe" ] || break
    sleep 1
  done
  local left
  left=$(ls -A "$custom" 2>/dev/null | tr '\n' ' ')
  [ "$left" = "mine.zvp " ] || fail "after uninstalling from $custom, the folder holds: '$left'"
  [ "$(reg_default 'HKCU\Software\Classes\.zvp')" = Other.Editor ] ||
    fail "the uninstaller took .zvp from the program that owns it now"
  has_key 'HKCU\Software\Classes\Marklode.Profile' && fail "the Marklode.Profile class is left"
}

if [ -n "$linux" ] && [ -f "$linux/CMakeCache.txt" ]; then
  test_deb
else
  fail "no Linux release build at ${1:-build/release}"
fi
if [ -n "$win" ] && [ -f "$win/CMakeCache.txt" ]; then
  if [ -z "$wine64" ] || [ -z "$wineserver" ]; then
    fail "wine64 is needed to try the Windows packages (scripts/setup.sh installs it)"
  else
    test_windows
  fi
else
  echo "=== no Windows build: the installer and the zip are not tried"
fi

if ((failures)); then
  echo "packages: $failures failure(s)"
  exit 1
fi
echo "packages: all checks passed"
