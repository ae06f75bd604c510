#!/usr/bin/env bash
# Prints start-up time to the end of FormShow, resident memory after start-up, and the
# CPU time an idle program uses, headless and with the window offscreen.
# usage: bench/startup.sh [build-folder] [idle-seconds]
set -euo pipefail
build=${1:-build}
idle=${2:-10}
bin=$(realpath "$build/touchcal")
tick=$(getconf CLK_TCK)

measure() {
    local mode=$1; shift
    local work; work=$(mktemp -d)
    local fifo="$work/err"; mkfifo "$fifo"
    local t0; t0=$(date +%s%N)
    XDG_RUNTIME_DIR=$work TOUCHCAL_DEBUG=1 "$bin" "$@" --workdir "$work" 2>"$fifo" &
    local pid=$!
    local t1=""
    while IFS= read -r line; do
        if [[ $line == "touchcal: ready" ]]; then t1=$(date +%s%N); break; fi
    done <"$fifo"
    cat "$fifo" >/dev/null &
    local rss; rss=$(awk '/VmRSS/ {print $2}' /proc/$pid/status)
    local c0; c0=$(awk '{print $14 + $15}' /proc/$pid/stat)
    sleep "$idle"
    local c1; c1=$(awk '{print $14 + $15}' /proc/$pid/stat)
    kill -TERM $pid; wait $pid || true
    printf '%-20s start-up %6.1f ms   resident %7.1f MiB   CPU over %ss idle %5.0f ms\n' \
        "$mode" "$(( (t1 - t0) / 1000 ))e-3" "$(echo "$rss / 1024" | bc -l)" "$idle" \
        "$(( (c1 - c0) * 1000 / tick ))"
    rm -rf "$work"
}

measure headless --headless
QT_QPA_PLATFORM=offscreen measure "window (offscreen)"
