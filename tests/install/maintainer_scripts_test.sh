#!/usr/bin/env bash
# The package's postinst and postrm on group gpio, run against a made-up
# machine: its /dev, /sys, /var/lib and /run in a scratch directory, and
# getent, groupadd and groupdel replaced by stand-ins over a group file of
# its own, so that nothing of this machine is touched. The group is made only
# where a GPIO chip exists and no group does, and a purge removes it only
# when the package made it and no one is in it.
#
#   maintainer_scripts_test.sh
set -uo pipefail
export LC_ALL=C

source_dir=$(cd "$(dirname "$0")/../.." && pwd)
failures=0
fail() {
    echo "FAILED: $*" >&2
    failures=$((failures + 1))
}

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# The stand-ins, reading and writing $FAKE/group and $FAKE/passwd.
mkdir "$scratch/bin"
cat >"$scratch/bin/getent" <<'STUB'
#!/bin/sh
if [ "$2" ]; then grep "^$2:" "$FAKE/$1"; else cat "$FAKE/$1"; fi
STUB
cat >"$scratch/bin/groupadd" <<'STUB'
#!/bin/sh
echo "$2:x:990:" >>"$FAKE/group"
STUB
cat >"$scratch/bin/groupdel" <<'STUB'
#!/bin/sh
grep -v "^$1:" "$FAKE/group" >"$FAKE/group.new"; mv "$FAKE/group.new" "$FAKE/group"
STUB
chmod +x "$scratch/bin/"*

# A machine: with a GPIO chip or not, and its groups and users.
machine() {
    local chip=$1 groups=$2 users=$3
    export FAKE=$scratch/machine
    rm -rf "$FAKE"
    mkdir -p "$FAKE/dev" "$FAKE/sys/bus/gpio/devices" "$FAKE/var/lib"
    [[ $chip == chip ]] && touch "$FAKE/dev/gpiochip0"
    printf '%s\n' "root:x:0:" $groups >"$FAKE/group"
    printf '%s\n' "root:x:0:0::/root:/bin/sh" $users >"$FAKE/passwd"
}

# Runs a maintainer script with the machine's paths in place of the real ones.
run_script() {
    local script=$1
    shift
    sed -e "s|/dev/gpiochip|$FAKE/dev/gpiochip|g" -e "s|/sys/bus/gpio|$FAKE/sys/bus/gpio|g" \
        -e "s|/var/lib/vmurx|$FAKE/var/lib/vmurx|g" -e "s|/run/udev|$FAKE/run/udev|g" \
        "$source_dir/dist/deb/$script" >"$scratch/$script"
    PATH=$scratch/bin:$PATH sh "$scratch/$script" "$@" 2>"$scratch/stderr" ||
        fail "$script $*: status $?"
}

has_group() { grep -q '^gpio:' "$FAKE/group"; }
noted() { [[ -e $FAKE/var/lib/vmurx/created-group-gpio ]]; }

# title | chip? | groups | users | steps | group after | noted after | stderr has
cases=(
    "a board: made, then purged|chip|||configure purge|no|no|"
    "made, then removed but not purged|chip|||configure remove|yes|yes|"
    "a PC without a chip: never made|none|||configure|no|no|"
    "the system's own group: kept|chip|gpio:x:997:||configure purge|yes|no|"
    "made, then a member: kept|chip||pi:x:1000:1000::/home/pi:/bin/sh|configure join purge|yes|no|users are in it"
    "made, then a user's own group: kept|chip||gp:x:1001:990::/home/gp:/bin/sh|configure purge|yes|no|users are in it"
    "made twice: once|chip|||configure configure purge|no|no|"
)
for row in "${cases[@]}"; do
    IFS='|' read -r title chip groups users steps want_group want_noted want_err <<<"$row"
    machine "$chip" "$groups" "$users"
    for step in $steps; do
        case $step in
            join) sed -i 's/^gpio:\(.*\):$/gpio:\1:pi/' "$FAKE/group" ;;
            configure) run_script postinst configure ;;
            *) run_script postrm "$step" ;;
        esac
    done
    if has_group; then got_group=yes; else got_group=no; fi
    if noted; then got_noted=yes; else got_noted=no; fi
    [[ $got_group == "$want_group" ]] || fail "$title: group gpio: $got_group, want $want_group"
    [[ $got_noted == "$want_noted" ]] || fail "$title: noted as made: $got_noted, want $want_noted"
    [[ $(grep -c '^gpio:' "$FAKE/group") -le 1 ]] || fail "$title: gpio made twice"
    if [[ -n $want_err ]]; then
        grep -qF "$want_err" "$scratch/stderr" || fail "$title: no '$want_err' in: $(cat "$scratch/stderr")"
    fi
done

if ((failures > 0)); then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "maintainer scripts: OK"
