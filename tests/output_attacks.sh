#!/usr/bin/env bash
# What an output may be besides a plain file, tried on the real program:
# named pipes and devices are written through and stay what they are, a pipe
# that blocks the program never makes it deaf to Ctrl-C or SIGTERM, and a
# read-only target is refused and kept. Devices are made in a private mount
# namespace (unshare --mount), over a /dev of its own, so the real /dev is
# never touched.
#
#   output_attacks.sh MARKLODE
set -u
marklode=$(realpath "${1:?usage: output_attacks.sh MARKLODE}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
failed=0
fail() { echo "FAILED: $*"; failed=1; }
ok() { echo "ok     $*"; }

# A GPX of n waypoints.
gpx() {
  awk -v n="$1" 'BEGIN {
    print "<?xml version=\"1.0\"?><gpx version=\"1.1\" creator=\"t\">"
    for (i = 0; i < n; i++)
      printf "<wpt lat=\"%d.5\" lon=\"%d.25\"><name>Point number %d</name><cmt>a comment</cmt></wpt>\n", i % 80, i % 170, i
    print "</gpx>" }'
}
profile() {  # profile FILE INPUT OUTPUT
  printf '[Profile]\r\nInput=%s\r\nOutput=%s\r\n' "$2" "$3" >"$1"
}
gpx 3 >small.gpx
gpx 200000 >big.gpx
profile want.zvp "$work/small.gpx" "$work/want-small.CSV"
"$marklode" /p want.zvp || fail "small.gpx did not convert"

# A named pipe as the output, read by another process.
mkfifo pipe.csv
profile to-pipe.zvp "$work/small.gpx" "$work/pipe.csv"
cat pipe.csv >got.csv &
reader=$!
timeout 20 "$marklode" /p to-pipe.zvp
status=$?
wait $reader
if [ $status = 0 ] && [ -p pipe.csv ] && cmp -s got.csv want-small.CSV; then
  ok "a named pipe is written through and stays a pipe"
else
  fail "through a named pipe: status $status, $(ls -l pipe.csv)"
fi

# /dev/stdout feeds a pipe.
profile to-stdout.zvp "$work/small.gpx" /dev/stdout
timeout 20 "$marklode" /p to-stdout.zvp | cat >got.csv
status=${PIPESTATUS[0]}
if [ "$status" = 0 ] && cmp -s got.csv want-small.CSV; then
  ok "Output=/dev/stdout feeds a pipe"
else
  fail "Output=/dev/stdout: status $status"
fi

# A big GPX (written by a thread of its own) through a pipe, as into a file.
awk 'BEGIN { for (i = 0; i < 200000; i++) printf "%d.25,%d.5,\"Point %d\",\"note\"\r\n", i % 170, i % 80, i }' >big.csv
profile big-file.zvp "$work/big.csv" "$work/want-big.gpx"
profile big-pipe.zvp "$work/big.csv" /dev/stdout
"$marklode" /p big-file.zvp || fail "big.csv did not convert"
timeout 60 "$marklode" /p big-pipe.zvp | cat >got.gpx
status=${PIPESTATUS[0]}
if [ "$status" = 0 ] && cmp -s got.gpx want-big.gpx; then
  ok "a big GPX through /dev/stdout is the same as in a file"
else
  fail "a big GPX through /dev/stdout: status $status, $(wc -c <got.gpx) bytes against $(wc -c <want-big.gpx)"
fi

# A blocked program still ends on a signal, at once, with its status, and
# leaves no temporary: waiting for a reader that never comes, and writing to
# a reader that never reads.
blocked() {  # blocked SIGNAL STATUS WHAT [reader]
  local sig=$1 want=$2 what=$3 holder=""
  rm -f block.csv && mkfifo block.csv
  profile block.zvp "$work/big.gpx" "$work/block.csv"
  if [ "${4:-}" = reader ]; then
    sleep 60 <block.csv &
    holder=$!
  fi
  "$marklode" /p block.zvp 2>block.err &
  local pid=$!
  sleep 1
  kill -"$sig" $pid
  local waited=0
  while kill -0 $pid 2>/dev/null && [ $waited -lt 50 ]; do
    sleep 0.1
    waited=$((waited + 1))
  done
  if kill -0 $pid 2>/dev/null; then
    kill -9 $pid
    fail "$what: still running 5 s after SIG$sig"
  else
    wait $pid
    local status=$?
    [ $status = "$want" ] && ok "$what: SIG$sig ends it with $want" ||
      fail "$what: SIG$sig ended it with $status: $(cat block.err)"
  fi
  [ -n "$holder" ] && kill $holder 2>/dev/null
  wait 2>/dev/null
  ls -a | grep -q 'marklode-' && fail "$what: a temporary was left: $(ls -a | grep marklode-)"
}
blocked INT 130 "waiting for a pipe's reader"
blocked TERM 143 "waiting for a pipe's reader"
blocked INT 130 "writing to a pipe nobody reads" reader
blocked TERM 143 "writing to a pipe nobody reads" reader

# A read-only target is refused with its reason and kept, from the command
# line and from a profile.
printf 'OLD' >ro.CSV
chmod 444 ro.CSV
cp small.gpx ro.gpx
for run in "ro.gpx" "/p ro.zvp"; do
  profile ro.zvp "$work/ro.gpx" "$work/ro.CSV"
  err=$("$marklode" $run 2>&1 >/dev/null)
  status=$?
  if [ $status = 2 ] && [ "$(cat ro.CSV)" = OLD ] && [[ "$err" == *"The file is read-only"* ]] &&
    [ "$(stat -c %a ro.CSV)" = 444 ]; then
    ok "a read-only target is refused and kept ($run)"
  else
    fail "read-only target ($run): status $status, said '$err', mode $(stat -c %a ro.CSV)"
  fi
done

# Devices, as root in a mount namespace of their own: /dev/null stays the
# device, and gets the output.
if [ "$(id -u)" = 0 ] && unshare --mount true 2>/dev/null; then
  profile to-null.zvp "$work/small.gpx" /dev/null
  said=$(unshare --mount sh -c '
    mount -t tmpfs none /dev || exit 3
    mknod -m 666 /dev/null c 1 3 || exit 3
    "$1" /p "$2" || exit $?
    [ -c /dev/null ] && echo still-a-device' sh "$marklode" "$work/to-null.zvp" 2>&1)
  status=$?
  if [ $status = 0 ] && [ "$said" = still-a-device ]; then
    ok "Output=/dev/null writes to the device and keeps it"
  elif [ $status = 3 ]; then
    echo "skip   devices: no tmpfs could be mounted over /dev here"
  else
    fail "Output=/dev/null: status $status, said '$said'"
  fi
else
  echo "skip   devices: needs root and unshare --mount"
fi
[ -c /dev/null ] || fail "the real /dev/null was touched"

exit $failed
