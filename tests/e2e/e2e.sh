#!/usr/bin/env bash
# End-to-end test of vorn-checkpoint: runs a driver in its own X server and D-Bus session,
# with the program opened on a copy of the scenario's folder (a save never touches the
# original). Usage: e2e.sh DRIVER PROGRAM SCENARIO OUTDIR [DRIVER ARGS...]; the driver gets
# OUTDIR, the copied scenario and its own arguments. Exit 77 (skipped) when pyatspi is missing;
# a missing X tool is a failure (scripts/bootstrap installs them all).
set -euo pipefail
driver=$1 program=$2 scenario=$3 outdir=$4
shift 4
here=$(cd "$(dirname "$0")" && pwd)

if ! /usr/bin/python3 -c 'import pyatspi' 2>/dev/null; then
    echo "SKIPPED: /usr/bin/python3 cannot import pyatspi (apt-get install python3-pyatspi at-spi2-core)"
    exit 77
fi
for tool in xvfb-run dbus-run-session xdotool xclip import; do
    if ! command -v "$tool" >/dev/null; then
        echo "FAIL: $tool is missing (scripts/bootstrap installs it)"
        exit 1
    fi
done
mkdir -p "$outdir"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -R "$(dirname "$scenario")" "$work/scenario"
copy="$work/scenario/$(basename "$scenario")"
xvfb-run -a -s "-screen 0 1280x1024x24" \
    dbus-run-session -- bash "$here/session.sh" "$driver" "$program" "$copy" "$outdir" "$@"
