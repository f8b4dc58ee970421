#!/usr/bin/env bash
# Soak run of `maru log` against the virtual meter: a sim at RATE lines/s for SECONDS,
# logged into daily files and published to a local mosquitto broker. At the end: lines
# sent against lines in each file and MQTT data messages received, and the logger's CPU
# and resident memory near the start and at the end (and CPU while it waits for a port
# that has gone).
#
#   bench/log_soak.sh [BUILD_DIR] [SECONDS] [RATE]     (defaults: build, 1800, 10)
#
# The sim hangs up after SECONDS + 0.05 s, so it has sent exactly floor(SECONDS x RATE)
# whole lines (one every 1/RATE s from 1/RATE s on; each takes ~30 ms at 19200 baud).
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
seconds=${2:-1800}
rate=${3:-10}
maru=$build/src/cli/maru
dev=$here/examples/flcd.dev
[[ -x $maru ]] || { echo "no $maru: build the maru target first" >&2; exit 2; }

work=$(mktemp -d /tmp/maru-log-soak.XXXXXX)
# A private copy: rebuilding the tree during the run does not touch the program under test.
cp "$maru" "$work/maru"
maru=$work/maru
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; }
trap cleanup EXIT

port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
mosquitto -p "$port" >"$work/mosquitto.log" 2>&1 &
pids+=($!)
# Up when a subscriber connects and times out waiting (exit status 27).
for _ in $(seq 50); do
  rc=0
  mosquitto_sub -p "$port" -t probe -W 1 -C 1 >/dev/null 2>&1 || rc=$?
  [[ $rc == 27 ]] && break
  sleep 0.1
done
prefix=soak
mosquitto_sub -p "$port" -t "$prefix/ship/meter/data" >"$work/mqtt-data.txt" 2>/dev/null &
sub=$!
pids+=($sub)
sleep 0.5

ticks=$(getconf CLK_TCK)
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
rss_kb() { awk '/^VmRSS:/ {print $2}' "/proc/$1/status"; }
now() { date +%s.%N; }

"$maru" log --port "$work/link" --dev "$dev" --out "$work/out" --mqtt "127.0.0.1:$port" --topic "$prefix" \
  --platform ship --meter-id meter \
  --no-data-alarm 5 2>"$work/log.err" &
logger=$!
pids+=($logger)
sleep 1
"$maru" sim --link "$work/link" --dev "$dev" --rate "$rate" --seed 7 \
  --hangup-after "$(awk -v s="$seconds" 'BEGIN{print s + 0.05}')" >"$work/sim.out" &
sim=$!
pids+=($sim)

sleep 10
t0=$(now); c0=$(cpu_ticks $logger); r0=$(rss_kb $logger)
wait $sim || true
t1=$(now); c1=$(cpu_ticks $logger); r1=$(rss_kb $logger)
# The port is gone now: the logger tries it once a second.
sleep 10
t2=$(now); c2=$(cpu_ticks $logger)
kill -TERM $logger
wait $logger && status=0 || status=$?
sleep 1
kill $sub 2>/dev/null || true

sent=$(awk -v s="$seconds" -v r="$rate" 'BEGIN{printf "%d", s * r + 1e-9}')
raw=$(cat "$work"/out/*.raw | wc -l)
eng=$(( $(cat "$work"/out/*.eng | wc -l) - $(ls "$work"/out/*.eng | wc -l) ))
csv=$(( $(cat "$work"/out/*.csv | wc -l) - $(ls "$work"/out/*.csv | wc -l) ))
mqtt=$(wc -l <"$work/mqtt-data.txt")
cpu() { awk -v a="$1" -v b="$2" -v t0="$3" -v t1="$4" -v hz="$ticks" 'BEGIN{printf "%.2f", 100 * (b - a) / hz / (t1 - t0)}'; }

{
  echo "maru log soak: $seconds s at $rate lines/s ($dev), work folder $work"
  echo "lines sent by the sim:        $sent"
  echo "lines in .raw:                $raw"
  echo "rows in .eng (less headers):  $eng"
  echo "rows in .csv (less headers):  $csv"
  echo "MQTT data messages received:  $mqtt"
  echo "logger CPU while logging:     $(cpu "$c0" "$c1" "$t0" "$t1") % of one core ($(awk -v a="$c0" -v b="$c1" -v hz="$ticks" 'BEGIN{printf "%.2f", (b - a) / hz}') s over $(awk -v a="$t0" -v b="$t1" 'BEGIN{printf "%.0f", b - a}') s)"
  echo "logger CPU waiting for port:  $(cpu "$c1" "$c2" "$t1" "$t2") % of one core"
  echo "logger RSS after 10 s:        $r0 kB"
  echo "logger RSS at the end:        $r1 kB"
  echo "logger exit status (SIGTERM): $status"
  echo "stderr lines of the logger:   $(wc -l <"$work/log.err")"
  ls -l "$work/out"
} | tee "$work/result.txt"
