#!/usr/bin/env bash
# Writes the card reader's seed corpus beyond make_save_seeds.sh's two cards,
# from the built vmurx-card and vmurx-save and the cards the tests make: a
# blank card in each order; a card of many files with holes where some were
# removed, and a game; and the layouts of other tools' cards that the tests
# hold to: the directory named by its lowest block, blocks 200 to 240 marked
# taken, an unlocked user area; and the card of many files with a lie for
# its root.
#
#   tests/fuzz/corpus/make_card_seeds.sh [BUILD_DIR]    (default: build)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-build}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
card() { "$build/vmurx-card" "$@" -q; }

card new blank.bin
card new blank.dcm
"$build/vmurx-emu" >/dev/null 2>&1
# A game: a block of program, then the sample's header at 0x200.
{ head -c 512 /dev/zero; cat VMURX_DEMO; } >GAME

card new many.bin
for i in $(seq 1 20); do
    head -c $((i * 200)) /dev/zero | tr '\0' "\\$(printf %03o $((i + 64)))" >"F$i"
    card add --type data --stamp 20020304050607 many.bin "F$i"
done
for i in 2 5 9 14 20; do
    card remove many.bin "F$i"
done
card add --defrag --type game --stamp 20020304050607 many.bin GAME

# Another tool's layouts, written into a copy of the card of many files.
patch() {  # patch OUT OFFSET BYTE...
    local out=$1 offset=$2
    shift 2
    cp many.bin "$out"
    for byte in "$@"; do
        printf "\\x$byte" | dd of="$out" bs=1 seek="$offset" conv=notrunc status=none
        offset=$((offset + 1))
    done
}
patch lowest.bin $((255 * 512 + 0x4A)) f1 00
patch unlocked.bin $((255 * 512 + 0x50)) f1 00
cp many.bin marked.bin
for block in $(seq 200 240); do
    printf '\xfa\xff' | dd of=marked.bin bs=1 seek=$((254 * 512 + 2 * block)) conv=notrunc \
        status=none
done

# A lie for the root past the card (card_fuzz.cpp): the directory one block
# down.
{ cat many.bin; printf '\x01\xfc\x00'; } >lie.bin

mkdir -p "$here/card"
for seed in blank.bin blank.dcm many.bin lowest.bin unlocked.bin marked.bin lie.bin; do
    cp "$seed" "$here/card/${seed%.*}-${seed##*.}"
done
