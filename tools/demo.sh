#!/bin/sh
# One whole unit without hardware: touchcal on the virtual controller and label printer,
# driven through the station cycle by touchcal-station; then the files the unit left.
# Usage: tools/demo.sh BUILD_FOLDER [PORT]
set -u
build=${1:?usage: demo.sh BUILD_FOLDER [PORT]}
port=${2:-10000}
dir="$build/demo"
station="$build/tools/station/touchcal-station"

rm -rf "$dir"
mkdir -p "$dir"
echo "demo: starting touchcal --simulate --headless in $dir (station port $port)"
"$build/touchcal" --simulate --headless --workdir "$dir" --port "$port" 2>"$dir/touchcal.log" &
pid=$!
trap 'kill -TERM $pid 2>/dev/null; wait $pid 2>/dev/null' EXIT INT TERM

# Ready once the station port answers.
tries=0
until "$station" --port "$port" --timeout 500 AppName >/dev/null 2>&1; do
    tries=$((tries + 1))
    if [ "$tries" -ge 50 ] || ! kill -0 "$pid" 2>/dev/null; then
        echo "demo: touchcal did not come up; its log:" >&2
        cat "$dir/touchcal.log" >&2
        exit 1
    fi
    sleep 0.1
done

echo "demo: one unit through the station cycle"
"$station" --port "$port" --cycle
result=$?

kill -TERM "$pid"
wait "$pid" 2>/dev/null
trap - EXIT INT TERM

echo
echo "demo: the files the unit left in $dir"
for f in "$dir/Start_Up.ini" "$dir/qrcode.txt" "$dir"/save/*; do
    [ -f "$f" ] || continue
    echo "--- $f"
    cat "$f"
done
echo "--- the program's log: $dir/touchcal.log"
[ "$result" -eq 0 ] && echo "demo: the unit passed" || echo "demo: the unit failed ($result)"
exit "$result"
