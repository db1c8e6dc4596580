#!/usr/bin/env bash
# Checks the measuring helpers and the floor relay on cases whose answer is
# known, since a miscount in any would silently skew the numbers of scripts/bench.
#   tools_test.sh FAKE_LFS_SINK PROCESS_RUSAGE FLOOR_RELAY ASIO_RELAY
set -euo pipefail
sink=$1
rusage=$2
relays=("$3" "$4")
work=$(mktemp -d)
sink_pid=
cleanup() {
  if [[ -n $sink_pid ]] && kill -0 "$sink_pid" 2>/dev/null; then kill "$sink_pid"; fi
  rm -rf "$work"
}
trap cleanup EXIT
cd "$work"
failures=0
expect() {  # description, actual, expected
  if [[ $2 != "$3" ]]; then
    echo "FAIL $1: got '$2', expected '$3'"
    failures=$((failures + 1))
  fi
}

# process-rusage: the program first, then what it left behind, with their CPU.
"$rusage" --report run.txt -- sh -c 'yes >/dev/null & Y=$!; (sleep 0.3; kill $Y) & exec sleep 0.1'
expect "program line first" "$(awk 'NR == 1 { print $2, $3 }' run.txt)" "sleep 0"
expect "orphan killed by its sibling" "$(awk '$2 == "yes" { print $3 }' run.txt)" "signal15"
expect "orphan's CPU counted" "$(awk '$2 == "yes" { print ($4 + $5 > 10000) ? "busy" : "idle" }' run.txt)" "busy"
expect "three processes" "$(wc -l <run.txt)" "3"
"$rusage" --report own.txt -- sh -c 'yes >/dev/null & Y=$!; sleep 0.3; kill $Y; wait $Y; true' 2>/dev/null
expect "own time without the child waited for" "$(awk 'NR == 1 { print ($8 * 4 < $4 + $5) ? "apart" : "together" }' own.txt)" "apart"
status=0
"$rusage" --report timeout.txt --timeout 1 -- sleep 20 || status=$?
expect "time-out status" "$status" "124"
expect "time-out kills the program" "$(awk '{ print $2, $3 }' timeout.txt)" "sleep signal9"

# fake-lfs-sink: a frame is a run of buttons with rising ClickIDs, ended by a
# lower ClickID or by any other packet; packets may straddle reads.
start_sink() {  # port file, summary file, more options
  "$sink" --port-file "$1" "${@:3}" --idle-timeout 10 >"$2" &
  sink_pid=$!
  for _ in $(seq 100); do
    [[ -s $1 ]] && break
    sleep 0.05
  done
}
start_sink port summary.txt --frames-log frames.log
button() { printf '\x3f\x2d\x01\xff'"\\x$(printf %02x "$1")"; head -c 247 /dev/zero; }
{
  printf '\x0b\x01\x01\x00'; head -c 40 /dev/zero                # IS_ISI
  button 1; button 2; button 30                                   # frame of 3
  button 1; button 5                                              # frame of 2
  printf '\x01\x03\x00\x00'                                       # IS_TINY ends it
  button 7                                                        # frame of 1
  printf '\x11\x0d\x00\x00'; head -c 64 /dev/zero                 # IS_MST
} >stream.bin
exec 3<>"/dev/tcp/127.0.0.1/$(cat port)"
head -c 300 stream.bin >&3
sleep 0.1
tail -c +301 stream.bin >&3
exec 3>&-
wait "$sink_pid"
sink_pid=
expect "sink summary" "$(cut -d' ' -f1-8 summary.txt)" \
  "bytes=$(wc -c <stream.bin) packets=9 buttons=6 frames=3 isi=1 mst=1 tiny=1 other=0"
expect "buttons per frame" "$(awk '{ printf "%s ", $2 }' frames.log)" "3 2 1 "
expect "frames stamped in order" "$(sort -s -n -k1,1 -c frames.log && echo sorted)" "sorted"

# Both relays: one block of 30 buttons per read of at most 2400 bytes.
for relay in "${relays[@]}"; do
  start_sink relay.port relay.txt
  { head -c 2400 /dev/zero; sleep 0.1; head -c 2400 /dev/zero; sleep 0.1; head -c 100 /dev/zero; } |
    "$relay" "127.0.0.1:$(cat relay.port)"
  wait "$sink_pid"
  sink_pid=
  expect "$(basename "$relay") summary" "$(cut -d' ' -f1-8 relay.txt)" \
    "bytes=22680 packets=90 buttons=90 frames=3 isi=0 mst=0 tiny=0 other=0"
  rm relay.port
done

if ((failures > 0)); then exit 1; fi
echo "measuring helpers: all checks passed"
