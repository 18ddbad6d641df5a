#!/bin/sh
# The sender against a busy PC: vmurx-emu --cpu in counting mode, the PC
# pausing LEN microseconds about once every EVERY (--pc-pause, seeded), for
# FAST and SAFE. Prints, for each speed, how many of SEEDS two-block
# transfers complete, by pause length and frequency, with any that stored a
# wrong file (there must be none), then the card's own time for a 128-block
# file at each speed without pauses. A benchmark, not a test: about ten
# minutes on two cores with the default 50 seeds.
#
#   bench/sender_pauses/sender_pauses.sh [BUILD_DIR [SEEDS]]
set -eu

# One run, as the script calls itself: prints "ok", "wrong" or "failed".
if [ "${1:-}" = --one ]; then
    emu=$2 ref=$3 dir=$4/$5-$6-$7
    mkdir "$dir"
    cd "$dir"
    if "$emu" --cpu --speed "$5" --pc-pause "$6" --seed "$7" -- >/dev/null 2>&1; then
        if cmp -s VMURX_DEMO "$ref"; then echo ok; else echo wrong; fi
    else
        echo failed
    fi
    cd /
    rm -rf "$dir"
    exit 0
fi

build=${1:-build}
seeds=${2:-50}
emu=$(cd "$build" && pwd)/vmurx-emu
card=$(cd "$build" && pwd)/vmurx-card
jobs=$(nproc 2>/dev/null || echo 2)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The reference: the sample card's two-block save, sent without pauses.
mkdir "$work/ref"
(cd "$work/ref" && "$emu" --cpu -- >/dev/null 2>&1)
ref=$work/ref/VMURX_DEMO

# The rows: one pause per 1 ms and per 10 ms, for each length.
for speed in fast safe; do
    echo "$speed: two-block transfers completed of $seeds (wrong files stored in brackets)"
    printf '%-12s %-20s %-20s\n' "PC pause" "one per 1 ms" "one per 10 ms"
    for len in 10 15 20 50 100 200; do
        line=$(printf '%-12s' "$len us")
        for every in 1000 10000; do
            results=$(seq 1 "$seeds" |
                xargs -P "$jobs" -I{} "$0" --one "$emu" "$ref" "$work" $speed $len@$every {})
            ok=$(printf '%s\n' "$results" | grep -c '^ok$' || true)
            wrong=$(printf '%s\n' "$results" | grep -c '^wrong$' || true)
            line="$line $(printf '%-20s' "$ok/$seeds [$wrong]")"
        done
        echo "$line"
    done
    echo
done

# A 128-block file: the card's own time from the port's opening to the end.
# Its bytes are random from a fixed seed (Perl's rand is the same on every
# machine), as the time depends on them and the figures must repeat.
"$card" new "$work/big.bin" >/dev/null
perl -e 'srand(128); print map { chr int rand 256 } 1 .. 128 * 512' >"$work/BIG_FILE"
"$card" add --name BIG_FILE --type data "$work/big.bin" "$work/BIG_FILE" >/dev/null
for speed in fast safe; do
    mkdir "$work/big-$speed"
    ms=$(cd "$work/big-$speed" &&
        "$emu" --cpu --card "$work/big.bin" --speed "$speed" --screen -- 2>&1 >/dev/null |
        sed -n 's/^card: \([0-9.]*\) ms of its own time.*/\1/p')
    if cmp -s "$work/big-$speed/BIG_FILE" "$work/BIG_FILE"; then
        echo "$speed: a 128-block file in $ms ms of the card's time"
    else
        echo "$speed: the 128-block file did not arrive whole"
    fi
done
