#!/usr/bin/env bash
# Writes the seed corpora of the save-format fuzz targets from the built
# programs: the software VMU's sample save as vmurx receives it, as a game
# file, and converted to a .VMS/.VMI pair and a .DCI by vmurx-save; and the
# card reader's: cards of vmurx-card holding the sample as data and as a
# game, raw and in the Nexus order.
#
#   tests/fuzz/corpus/make_save_seeds.sh [BUILD_DIR]    (default: build)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-build}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

VMURX_DELAY_US=0 "$build/vmurx-emu" >/dev/null
"$build/vmurx-save" convert VMURX_DEMO SEED.VMS
"$build/vmurx-save" convert --type game --name GAME VMURX_DEMO game.dci
"$build/vmurx-save" convert VMURX_DEMO data.dci

mkdir -p "$here/save_file" "$here/vmi" "$here/dci"
# save_file: a choice byte (declared kind, ICONDATA_VMS, frame), then the file.
for choice in 0 1 2 4 9; do
    { printf "\\x$(printf %02x "$choice")"; cat VMURX_DEMO; } >"$here/save_file/sample-$choice"
done
cp SEED.VMI "$here/vmi/sample"
cp data.dci "$here/dci/data"
cp game.dci "$here/dci/game"

"$build/vmurx-card" new raw.bin
"$build/vmurx-card" new nexus.dcm
for card in raw.bin nexus.dcm; do
    "$build/vmurx-card" add "$card" data.dci game.dci
done
mkdir -p "$here/card"
cp raw.bin "$here/card/raw"
cp nexus.dcm "$here/card/nexus"
