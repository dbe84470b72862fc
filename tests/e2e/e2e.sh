#!/usr/bin/env bash
# End-to-end test of vorn-checkpoint: runs the session script in its own X server and D-Bus
# session. Usage: e2e.sh PROGRAM SCENARIO OUTDIR. Exit 77 (skipped) when pyatspi is missing;
# a missing X tool is a failure (scripts/bootstrap installs them all).
set -euo pipefail
program=$1 scenario=$2 outdir=$3
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
exec xvfb-run -a -s "-screen 0 1280x1024x24" \
    dbus-run-session -- bash "$here/session.sh" "$program" "$scenario" "$outdir"
