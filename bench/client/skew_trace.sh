#!/usr/bin/env bash
# Runs a server and a client whose virtual devices run at different speeds
# (clock drift between two sound cards) and prints, once a second, the
# client's buffered seconds and rate-correction step, then a summary.
#   bench/client/skew_trace.sh [SECONDS] [SERVER_PPM] [CLIENT_PPM]   (defaults 240 +300 -300)
# Needs build/ with BrivantaServer and BrivantaClient (scripts/demo.sh builds them).
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
seconds=${1:-240}
server_ppm=${2:-300}
client_ppm=${3:--300}
server_bin="$root/build/src/server/BrivantaServer"
client_bin="$root/build/src/client/BrivantaClient"
[ -x "$server_bin" ] && [ -x "$client_bin" ] || { echo "build the programs first" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/brivanta-skew-XXXXXX")
trap 'rm -rf "$work"' EXIT
port=""
for candidate in $(seq 21200 21300); do
  if ! (exec 3<>"/dev/tcp/127.0.0.1/$candidate") 2>/dev/null; then port=$candidate; break; fi
done
[ -n "$port" ] || { echo "no free port" >&2; exit 1; }

printf '[setting]\nDevice=Virtual tone\nPort=%s\nAuto=1\nDelay=0\nExtPort=0\n[Codec]\nDriver=MPEG Layer-3 (LAME)\nTag=85\nFormatIndex=11\n' \
  "$port" >"$work/server.ini"
printf '[Setting]\nDevice=Virtual null output\nIP=127.0.0.1\nPort=%s\nBuffer=1\nMode=1\n' \
  "$port" >"$work/client.ini"

BRIVANTA_DEVICE_SKEW_PPM=$server_ppm "$server_bin" --headless --config "$work/server.ini" \
  >"$work/server.log" 2>&1 &
server_pid=$!
sleep 1
BRIVANTA_DEVICE_SKEW_PPM=$client_ppm "$client_bin" --headless --config "$work/client.ini" \
  --status-interval 1000 >"$work/client.log" 2>&1 &
client_pid=$!
sleep "$seconds"
kill -INT "$client_pid"; wait "$client_pid" || true
kill -INT "$server_pid"; wait "$server_pid" || true

echo "# server skew ${server_ppm} ppm, client skew ${client_ppm} ppm, Buffer 1.0 s: band [0.96, 1.01) s, overflow 2.88 s"
echo "# second buffered correction state"
grep '^status ' "$work/client.log" |
  sed -E 's/.*"state":"([^"]*)".*"buffered":([0-9.]+).*"correction":(-?[0-9]+).*/\2 \3 \1/' |
  awk '{ printf "%d %s %s %s\n", NR, $1, $2, $3 }' | tee "$work/trace"
awk 'NR > 10 { n++; s += $2; if (min == "" || $2 < min) min = $2; if ($2 > max) max = $2;
               if ($3 != 0) c++ }
     END { printf "# after the first 10 s: min %.3f s, mean %.3f s, max %.3f s, %d of %d samples correcting\n",
                  min, s / n, max, c, n }' "$work/trace"
grep -c 'Disconnect from server' "$work/client.log" | sed 's/^/# reconnects: /'
