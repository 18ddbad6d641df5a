#!/usr/bin/env bash
# The installed tree: `cmake --install` into a scratch prefix must put exactly
# the expected files there, with the right modes; every man page must render
# without a warning and mention every option the program's help lists; every
# completion must offer those options and complete their values; and the
# installed programs must run from there.
#
#   install_test.sh BUILD_DIR PROGRAM...
set -uo pipefail
export LC_ALL=C

build=$1
shift
programs=("$@")
source_dir=$(cd "$(dirname "$0")/../.." && pwd)

failures=0
fail() {
    echo "FAILED: $*" >&2
    failures=$((failures + 1))
}

if ! command -v groff >/dev/null; then
    echo "groff is not installed: skipping" >&2
    exit 77
fi

scratch=$(mktemp -d)
# cmake --install lists what it installed in the build's install_manifest.txt,
# which is how a user removes a prefix install: the one of the user's own
# install comes back after this test's.
manifest=$build/install_manifest.txt
had_manifest=0
[[ -f $manifest ]] && cp -p "$manifest" "$scratch/manifest" && had_manifest=1
restore_manifest() {
    if ((had_manifest)); then cp -p "$scratch/manifest" "$manifest"; else rm -f "$manifest"; fi
}
trap 'restore_manifest; rm -rf "$scratch"' EXIT
prefix=$scratch/prefix
if ! cmake --install "$build" --prefix "$prefix" >"$scratch/install.log" 2>&1; then
    cat "$scratch/install.log" >&2
    echo "FAILED: cmake --install" >&2
    exit 1
fi

has_program() {
    local p
    for p in "${programs[@]}"; do
        [[ $p == "$1" ]] && return 0
    done
    return 1
}

# --- The files: each with its mode, and nothing else. ---
expected=(
    "644 share/doc/vmurx/README.md"
    "644 share/doc/vmurx/LICENSE"
    "644 share/doc/vmurx/ARCHITECTURE.md"
    "644 share/doc/vmurx/CONTRIBUTING.md"
    "644 share/doc/vmurx/doc/cable.svg"
    "644 share/doc/vmurx/bench/README.md"
    "644 lib/udev/rules.d/60-vmurx.rules"
    "644 lib/udev/rules.d/60-vmurx-gpio.rules"
    "644 lib/modules-load.d/vmurx.conf"
)
# The manual: every page of doc/.
for page in "$source_dir"/doc/*.md; do
    expected+=("644 share/doc/vmurx/doc/${page##*/}")
done
for p in "${programs[@]}"; do
    expected+=("755 bin/$p" "644 share/man/man1/$p.1" "644 share/bash-completion/completions/$p")
done
# The assembler's register names come with vmurx-vmu.
if has_program vmurx-vmu; then
    expected+=("644 share/vmurx/include/sfr.i")
    # And the card-side sender it assembles, with the source it is made of.
    expected+=("644 share/vmurx/card/VMURXSND.DCI" "644 share/vmurx/card/VMURXSND.VMI"
               "644 share/vmurx/card/VMURXSND.VMS")
    for source in "$source_dir"/card/*.s "$source_dir"/card/*.i; do
        expected+=("644 share/vmurx/card/${source##*/}")
    done
fi
diff <(printf '%s\n' "${expected[@]}" | sort) \
    <(cd "$prefix" && find . -type f -printf '%m %P\n' -o ! -type d -printf 'not a file: %P\n' |
        sort) >"$scratch/files.diff" ||
    fail "installed files differ from the expected ones (< expected, > installed):
$(cat "$scratch/files.diff")"

# --- Every file an installed document links is installed beside it. ---
# Links to the web need nothing; a link to a heading needs that heading, on
# its own page or on another page, which must be installed.
# The anchors of a page's headings, as the usual renderers make them
# (lower case, punctuation dropped, spaces as hyphens), outside code blocks.
anchors() {
    awk '/^```/ { code = !code; next } !code && /^#+ / { sub(/^#+ /, ""); print }' "$1" |
        tr 'A-Z' 'a-z' | sed -E 's/[^a-z0-9 _-]//g; s/ /-/g'
}
while IFS= read -r -d '' page; do
    while IFS= read -r link; do
        target=${link%%#*}
        [[ $link == *://* || $link == mailto:* ]] && continue
        file=$(dirname "$page")/$target
        [[ -z $target ]] && file=$page
        if [[ ! -e $file ]]; then
            fail "${page#"$prefix"/} links $target, which is not installed"
        elif [[ $link == *#* && $file == *.md ]] && ! anchors "$file" | grep -qxF -- "${link#*#}"; then
            fail "${page#"$prefix"/} links $link, a heading that page does not have"
        fi
    done < <(grep -oE '\]\([^) ]+\)|<img [^>]*src="[^"]+"' "$page" |
        sed -E 's/^\]\(([^)]*)\)$/\1/; s/.*src="([^"]*)".*/\1/')
done < <(find "$prefix/share/doc" -name '*.md' -print0)
# The README itself, so that the check above cannot pass by finding nothing.
grep -q '](doc/cable.svg)' "$prefix/share/doc/vmurx/README.md" ||
    fail "README.md: the link to the cable's drawing is gone; is the check still reading links?"

# --- The man pages render without a warning. ---
for p in "${programs[@]}"; do
    page=$prefix/share/man/man1/$p.1
    [[ -f $page ]] || continue
    warnings=$(groff -man -ww -z "$page" 2>&1) || fail "$p.1: groff failed"
    [[ -z $warnings ]] || fail "$p.1: groff warns:
$warnings"
    # Every page leads to every other program.
    see_also=$(sed -n '/^\.SH SEE ALSO/,/^\.SH /p' "$page" | sed 's/\\-/-/g')
    for other in "${programs[@]}"; do
        [[ $other == "$p" ]] || grep -qx "\.BR $other (1),\?" <<<"$see_also" ||
            fail "$p.1: SEE ALSO does not name $other"
    done
done

# --- Each program's help, its man page and its completion agree. ---
# How to get each program's help text (vmurx prints it on standard error).
declare -A help_command=(
    [vmurx]="-h"
    [vmurx-emu]="--help"
    [vmurx-probe]="-h"
    [vmurx-probe-emu]="--help"
    [vmurx-save]="--help"
    [vmurx-gpio]="--help"
    [vmurx-probe-gpio]="--help"
    [vmurx-card]="--help"
    [vmurx-vmu]="--help"
    [vmurx-send]="--help"
    [vmurx-send-gpio]="--help"
    [vmurx-send-emu]="--help"
    [vmurx-backup]="--help"
    [vmurx-backup-gpio]="--help"
    [vmurx-backup-emu]="--help"
)

# The options of a help text: every -x or --long-name that begins a line, and
# those that follow it after ", ".
help_options() {
    grep -oE '^[[:space:]]+-[-[:alnum:]]+(, *-[-[:alnum:]]+)*' | grep -oE -- '-[-[:alnum:]]+' |
        sort -u
}

# Candidates that the completion of program $1 offers for the words "$2"
# (split at spaces; a trailing space starts an empty word).
complete_words() {
    local program=$1 line=$2
    (
        # shellcheck disable=SC1090
        . "$prefix/share/bash-completion/completions/$program"
        read -ra COMP_WORDS <<<"$line"
        [[ $line == *" " ]] && COMP_WORDS+=("")
        COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
        COMPREPLY=()
        function=$(complete -p "$program" | sed -E 's/.*-F ([^ ]+).*/\1/')
        "$function" "$program" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
        printf '%s\n' "${COMPREPLY[@]}" | sort
    )
}

for p in "${programs[@]}"; do
    [[ -n ${help_command[$p]:-} ]] || fail "$p: no help command known to this test"
    help=$("$prefix/bin/$p" "${help_command[$p]:-}" 2>&1)
    options=$(help_options <<<"$help")
    [[ -n $options ]] || fail "$p: no options found in its help text"
    text=$(groff -man -Tascii -P-cbou "$prefix/share/man/man1/$p.1" 2>/dev/null)
    offered=$(complete_words "$p" "$p -")
    [[ $p == vmurx-save ]] && offered+=$'\n'$(complete_words "$p" "$p convert -")$'\n'$(
        complete_words "$p" "$p info -")$'\n'$(complete_words "$p" "$p icon -")
    [[ $p == vmurx-card ]] && offered+=$'\n'$(complete_words "$p" "$p list -")$'\n'$(
        complete_words "$p" "$p extract -")$'\n'$(complete_words "$p" "$p add -")$'\n'$(
        complete_words "$p" "$p new -")$'\n'$(complete_words "$p" "$p repair -")
    [[ $p == vmurx-vmu ]] &&
        offered+=$'\n'$(complete_words "$p" "$p asm -")$'\n'$(complete_words "$p" "$p run -")
    # The programs that hand vmurx-send or vmurx-backup its words after "--".
    if [[ $p == vmurx-send-gpio || $p == vmurx-send-emu || $p == vmurx-backup-gpio ||
        $p == vmurx-backup-emu ]]; then
        tool_help=$("$prefix/bin/$p" -- --help 2>&1)
        tool_offered=$(complete_words "$p" "$p -- -")
        for option in $(help_options <<<"$tool_help"); do
            grep -qxF -- "$option" <<<"$tool_offered" ||
                fail "completion of $p -- does not offer $option"
        done
    fi
    for option in $options; do
        grep -qF -- "$option" <<<"$text" || fail "$p.1 does not mention $option"
        grep -qxF -- "$option" <<<"$offered" || fail "completion of $p does not offer $option"
    done
    # A program with commands says which commands each option is for
    # ("      --scale=N   icon, eyecatch: ..."): each command's completion
    # must offer each of its own options.
    per_command=$(sed -nE \
        's/^ +(-[[:alnum:]], )?(--[[:alnum:]-]+)(=[^ ]+)? +([a-z]+(, [a-z]+)*): .*/\2 \4/p' \
        <<<"$help")
    [[ $p == vmurx-save || $p == vmurx-card || $p == vmurx-vmu ]] && [[ -z $per_command ]] &&
        fail "$p: no option of a command found in its help text"
    while read -r option commands; do
        for command in ${commands//,/ }; do
            grep -qxF -- "$option" <<<"$(complete_words "$p" "$p $command -")" ||
                fail "completion of $p $command does not offer $option"
        done
    done <<<"$per_command"
done

# --- Completion of option values: program | words | candidates expected. ---
cases=(
    "vmurx|vmurx -d L|LPT1: LPT2 LPT3"
    "vmurx|vmurx -v -|-d -h -n -v"
    "vmurx-emu|vmurx-emu --type |data game"
    "vmurx-emu|vmurx-emu --type = d|data"
    "vmurx-emu|vmurx-emu --fault s|short= stall= stop="
    "vmurx-emu|vmurx-emu --hold 5 -- -|-d -h -n -v"
    "vmurx-emu|vmurx-emu -- -d LPT|LPT1: LPT2 LPT3"
    "vmurx-probe|vmurx-probe -d L|LPT1: LPT2 LPT3"
    "vmurx-gpio|vmurx-gpio --bias |none pull-up"
    "vmurx-gpio|vmurx-gpio --lines d0=17,b|d0=17,busy="
    "vmurx-gpio|vmurx-gpio --chip x -- -|-d -h -n -v"
    "vmurx-probe-gpio|vmurx-probe-gpio --bias=n|none"
    "vmurx-probe-gpio|vmurx-probe-gpio --bias = p|pull-up"
    "vmurx-probe-gpio|vmurx-probe-gpio -- -t |10 5 60"
    "vmurx-probe-gpio|vmurx-probe-gpio -t |10 5 60"
    "vmurx-probe-gpio|vmurx-probe-gpio --chip x --w|--watch"
    "vmurx-save|vmurx-save c|check convert"
    "vmurx-save|vmurx-save convert --type |data game"
    "vmurx-card|vmurx-card e|extract"
    "vmurx-card|vmurx-card -|--help --version -h"
    "vmurx-card|vmurx-card remove -|--force --help --quiet -h -q"
    "vmurx-card|vmurx-card r|remove repair"
    "vmurx-card|vmurx-card repair --d|--dry-run"
    "vmurx-card|vmurx-card extract --as |dci raw vms"
    "vmurx-card|vmurx-card add --type = g|game"
    "vmurx-save|vmurx-save icon --|--force --frame --help --scale"
    "vmurx-save|vmurx-save eyecatch --|--force --help --scale"
    "vmurx-probe-emu|vmurx-probe-emu --type |data game"
    "vmurx-probe-emu|vmurx-probe-emu --ready-after 9 -- --t|--time"
    "vmurx-probe-emu|vmurx-probe-emu -- -d LPT|LPT1: LPT2 LPT3"
    "vmurx-probe-emu|vmurx-probe-emu --type game -t |10 5 60"
    "vmurx-probe-emu|vmurx-probe-emu -d LPT|LPT1: LPT2 LPT3"
    "vmurx-vmu|vmurx-vmu r|run"
    "vmurx-vmu|vmurx-vmu run --press |a@ b@ down@ left@ mode@ right@ sleep@ up@"
    "vmurx-vmu|vmurx-vmu run --press m|mode@"
    "vmurx-vmu|vmurx-vmu asm --o|--output"
    "vmurx-send|vmurx-send --type |data game"
    "vmurx-send|vmurx-send --type=g|game"
    "vmurx-send|vmurx-send -d L|LPT1: LPT2 LPT3"
    "vmurx-send|vmurx-send --no|--no-echo-check"
    "vmurx-send-gpio|vmurx-send-gpio --bias |none pull-up"
    "vmurx-send-gpio|vmurx-send-gpio --chip x -- --t|--type"
    "vmurx-send-emu|vmurx-send-emu --fault s|stall="
    "vmurx-send-emu|vmurx-send-emu --fault = f|flash= flip="
    "vmurx-send-emu|vmurx-send-emu --card c.bin -- -d L|LPT1: LPT2 LPT3"
    "vmurx-send-emu|vmurx-send-emu --re|--read-us --realtime"
)
for row in "${cases[@]}"; do
    IFS='|' read -r program words want <<<"$row"
    has_program "$program" || continue
    # Ports of this machine's kernel come after the standard names.
    got=$(complete_words "$program" "$words" | grep -v '^0x' | tr '\n' ' ')
    [[ ${got% } == "$want" ]] || fail "completing '$words': got '${got% }', want '$want'"
done

# --- The installed programs run from the prefix. ---
mkdir "$scratch/run"
if ! (cd "$scratch/run" && "$prefix/bin/vmurx-emu" -- -n received.bin) >"$scratch/emu.log" 2>&1; then
    fail "installed vmurx-emu: transfer failed:
$(cat "$scratch/emu.log")"
elif [[ ! -s $scratch/run/received.bin ]]; then
    fail "installed vmurx-emu: no file received"
fi
# And vmurx-send-emu puts a file on a blank card image, which vmurx-card lists.
if has_program vmurx-send-emu && has_program vmurx-card; then
    if ! (cd "$scratch/run" && "$prefix/bin/vmurx-card" new card.bin &&
        "$prefix/bin/vmurx-send-emu" --card card.bin received.bin -- -q --name RESTORED \
            --type data --stamp 20020304050607 &&
        "$prefix/bin/vmurx-card" list card.bin | grep -q RESTORED) >"$scratch/send.log" 2>&1; then
        fail "installed vmurx-send-emu: no file on the card:
$(cat "$scratch/send.log")"
    fi
fi
"$prefix/bin/vmurx" -h >/dev/null 2>"$scratch/usage.txt"
status=$?
[[ $status -eq 1 ]] || fail "installed vmurx -h: status $status, want 1"
grep -q '^Usage: .*vmurx \[OPTIONS\]$' "$scratch/usage.txt" || fail "installed vmurx -h: no usage"
for p in "${programs[@]}"; do
    [[ $p == vmurx ]] && continue  # the tool's own command line has no --version
    version=$("$prefix/bin/$p" --version)
    [[ $version == "$p (vmurx) "* ]] || fail "installed $p --version: '$version'"
done

if ((failures > 0)); then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "installed tree of ${programs[*]}: OK"
