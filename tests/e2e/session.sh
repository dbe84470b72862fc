#!/usr/bin/env bash
# Inside the X server and D-Bus session: the accessibility bus, the program, the driver.
set -uo pipefail
program=$1 scenario=$2 outdir=$3
here=$(cd "$(dirname "$0")" && pwd)

export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1   # Qt exposes its widgets without a desktop asking
export QT_QPA_PLATFORM=xcb
/usr/libexec/at-spi-bus-launcher --launch-immediately >/dev/null 2>&1 &
bus=$!
sleep 1

"$program" "$scenario" >"$outdir/e2e-program.log" 2>&1 &
app=$!
/usr/bin/python3 "$here/drive.py" "$outdir"
status=$?
if kill -0 "$app" 2>/dev/null; then
    echo "the program did not end after its exit command" >&2
    kill "$app"
    status=1
else
    wait "$app" || { echo "the program exited with $?" >&2; status=1; }
fi
kill "$bus" 2>/dev/null
exit $status
