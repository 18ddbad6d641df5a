#!/usr/bin/env bash
# Writes the seed corpora of the save-format fuzz targets from the built
# programs: the software VMU's sample save as vmurx receives it, as a game
# file (its header at 0x200, after a block of program), and converted to a
# .VMS/.VMI pair and a .DCI by vmurx-save; and the card reader's: cards of
# vmurx-card holding the sample as data and as a game, raw and in the Nexus
# order.
#
#   tests/fuzz/corpus/make_save_seeds.sh [BUILD_DIR]    (default: build)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-build}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

"$build/vmurx-emu" >/dev/null 2>&1
"$build/vmurx-save" convert VMURX_DEMO SEED.VMS
# A game: a block of program, then the sample's header at 0x200.
{ head -c 512 /dev/zero; cat VMURX_DEMO; } >GAME
"$build/vmurx-save" convert --type game --name GAME --stamp 19991231235958 GAME game.dci
"$build/vmurx-save" convert VMURX_DEMO data.dci

mkdir -p "$here/save_file" "$here/vmi" "$here/dci"
# save_file: a choice byte (declared kind, ICONDATA_VMS, frame), then the file.
for choice in 0 1 2 4 9; do
    { printf "\\x$(printf %02x "$choice")"; cat VMURX_DEMO; } >"$here/save_file/sample-$choice"
done
cp SEED.VMI "$here/vmi/sample"
cp data.dci "$here/dci/data"
cp game.dci "$here/dci/game"

"$build/vmurx-card" new -q raw.bin
"$build/vmurx-card" new -q nexus.dcm
for card in raw.bin nexus.dcm; do
    "$build/vmurx-card" add -q "$card" data.dci game.dci
done
mkdir -p "$here/card"
cp raw.bin "$here/card/raw"
cp nexus.dcm "$here/card/nexus"
