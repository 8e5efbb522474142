#!/bin/sh
# Captures simulated machines with `kvph capture` and checks that `kvph disks` and `kvph list` say the
# same on the captured copy as on the original, and that `kvph check` passes on the copy: the built-in
# machine, then each machine file given.
#   capture_round_trip.sh KVPH WORKDIR [MACHINE.json ...]
set -u
KVPH=$1
WORK=$2
shift 2
mkdir -p "$WORK"
failed=0

round_trip() {
    name=$1
    shift
    copy="$WORK/$name.captured.json"
    if ! "$KVPH" "$@" capture "$copy" >"$WORK/$name.capture.txt"; then
        echo "FAIL $name: kvph capture failed"; cat "$WORK/$name.capture.txt"; failed=1; return
    fi
    "$KVPH" "$@" disks -- list >"$WORK/$name.original.txt" 2>&1
    if ! "$KVPH" --machine "$copy" disks -- list >"$WORK/$name.copy.txt" 2>&1; then
        echo "FAIL $name: the captured machine does not load"; cat "$WORK/$name.copy.txt"; failed=1; return
    fi
    if diff -u "$WORK/$name.original.txt" "$WORK/$name.copy.txt"; then
        echo "ok $name: disks and list are the same on the captured copy"
    else
        failed=1
    fi
    if ! "$KVPH" --machine "$copy" check >"$WORK/$name.check.txt" 2>&1; then
        echo "FAIL $name: kvph check fails on the captured copy"; tail -5 "$WORK/$name.check.txt"; failed=1
    fi
}

round_trip built-in
for machine in "$@"; do
    round_trip "$(basename "$machine" .json)" --machine "$machine"
done
exit $failed
