#!/usr/bin/env bash
# Streams a 1 kHz test tone from a BrivantaServer to a BrivantaClient on this
# machine: installs what is missing, builds both programs, writes their
# settings into a fresh folder and runs them until Ctrl-C.
#   scripts/demo.sh                 play on the default output device, else into a WAV file
#   scripts/demo.sh --seconds 20    stop by itself after 20 seconds
#   scripts/demo.sh --wav           always write a WAV file instead of playing
#   scripts/demo.sh --device NAME   play on this output device (see BrivantaClient --list-devices)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
seconds=0
force_wav=0
device=""

while [ $# -gt 0 ]; do
  case "$1" in
    --seconds)
      [ $# -ge 2 ] && [[ "$2" =~ ^[0-9]+$ ]] || { echo "demo: --seconds needs a whole number" >&2; exit 2; }
      seconds=$2; shift 2 ;;
    --wav) force_wav=1; shift ;;
    --device)
      [ $# -ge 2 ] || { echo "demo: --device needs a name" >&2; exit 2; }
      device=$2; shift 2 ;;
    -h|--help) sed -n '2,8p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "demo: unknown argument \"$1\" (try --help)" >&2; exit 2 ;;
  esac
done

say() { echo "demo: $*"; }

say "checking the packages the build needs"
bash "$root/scripts/install-deps.sh"

say "building BrivantaServer and BrivantaClient into $root/build"
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/build" -j "${BRIVANTA_JOBS:-$(nproc)}" --target BrivantaServer BrivantaClient
server_bin="$root/build/src/server/BrivantaServer"
client_bin="$root/build/src/client/BrivantaClient"

work=$(mktemp -d "${TMPDIR:-/tmp}/brivanta-demo-XXXXXX")
say "settings and logs go to $work"

# A stream port that nothing listens on yet.
port=""
for candidate in $(seq 21020 21120); do
  if ! (exec 3<>"/dev/tcp/127.0.0.1/$candidate") 2>/dev/null; then
    port=$candidate
    break
  fi
done
[ -n "$port" ] || { echo "demo: no free port between 21020 and 21120" >&2; exit 1; }

# The output device: the one asked for, else the machine's default one, else a WAV file.
wav=""
if [ -z "$device" ] && [ "$force_wav" -eq 0 ]; then
  outputs=$("$client_bin" --list-devices | grep -v '^Virtual ' || true)
  if printf '%s\n' "$outputs" | grep -qx 'default'; then
    device=default
  else
    device=$(printf '%s\n' "$outputs" | head -n 1)
  fi
fi
if [ -z "$device" ]; then
  device="Virtual WAV output"
  wav="$work/demo-tone.wav"
  export BRIVANTA_WAV_OUT="$wav"
fi

cat >"$work/BrivantaServer.ini" <<INI
[setting]
Name=Brivanta demo
Device=Virtual tone
Port=$port
Auto=1
Delay=0
Password=
ExtPort=0
[Codec]
Driver=MPEG Layer-3 (LAME)
Tag=85
FormatIndex=11
INI

cat >"$work/BrivantaClient.ini" <<INI
[Setting]
Name=Brivanta demo
Device=$device
Wait=5
IP=127.0.0.1
Port=$port
Buffer=1
Mode=1
INI

say "server: the built-in 1 kHz test tone (\"Virtual tone\", never a microphone), MP3 at 128 kbit/s, on 127.0.0.1:$port"
if [ -n "$wav" ]; then
  say "client: no sound card found; the audio goes into the WAV file $wav"
else
  say "client: playing on the output device \"$device\" (a 1 kHz tone at -12 dBFS: mind the volume)"
fi
if [ "$seconds" -gt 0 ]; then
  say "running for $seconds seconds (Ctrl-C stops earlier)"
else
  say "running until Ctrl-C"
fi

# The line prefixes ignore Ctrl-C, so that the programs' last lines still show.
prefix() { trap '' INT TERM; exec sed -u "s/^/[$1] /"; }
"$server_bin" --headless --config "$work/BrivantaServer.ini" > >(prefix server) 2>&1 &
server_pid=$!
sleep 1
"$client_bin" --headless --config "$work/BrivantaClient.ini" --status-interval 5000 \
  > >(prefix client) 2>&1 &
client_pid=$!

stopped=0
stop_both() {
  [ "$stopped" -eq 1 ] && return
  stopped=1
  say "stopping the client, then the server"
  kill -INT "$client_pid" 2>/dev/null || true
  wait "$client_pid" 2>/dev/null || true
  kill -INT "$server_pid" 2>/dev/null || true
  wait "$server_pid" 2>/dev/null || true
}
trap 'stop_both' INT TERM

if [ "$seconds" -gt 0 ]; then
  sleep "$seconds" &
  sleeper=$!
  wait "$sleeper" 2>/dev/null || true
  kill "$sleeper" 2>/dev/null || true
else
  wait "$client_pid" 2>/dev/null || true
fi
stop_both
sleep 0.2  # let the prefixed output drain

if [ -n "$wav" ]; then
  if [ -s "$wav" ]; then
    bytes=$(stat -c %s "$wav")
    tenths=$(( (bytes - 44) * 10 / 176400 ))
    say "done: the tone is in $wav ($((tenths / 10)).$((tenths % 10)) s of 44.1 kHz 16-bit stereo)"
  else
    say "no audio was written to $wav; see the lines above"
    exit 1
  fi
else
  say "done: the tone played on \"$device\""
fi
