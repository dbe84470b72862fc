#!/usr/bin/env bash
# Inside the X server and D-Bus session: the accessibility bus, the program, the driver.
# Usage: session.sh DRIVER PROGRAM SCENARIO OUTDIR [DRIVER ARGS...]
set -uo pipefail
driver=$1 program=$2 scenario=$3 outdir=$4
shift 4
here=$(cd "$(dirname "$0")" && pwd)

export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1   # Qt exposes its widgets without a desktop asking
export QT_QPA_PLATFORM=xcb
export PYTHONDONTWRITEBYTECODE=1      # nothing written into the source tree
/usr/libexec/at-spi-bus-launcher --launch-immediately >/dev/null 2>&1 &
bus=$!
sleep 1

# A sound device with a real clock when the test asks for one: a PulseAudio null sink, which
# the program reaches through ALSA's pulse plugin.
pa=
if [ "${E2E_SOUND:-}" = pulse ]; then
    export XDG_RUNTIME_DIR=$(mktemp -d)
    export XDG_CONFIG_HOME=$XDG_RUNTIME_DIR/config  # the tap offset is kept there, not in ~
    pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit --log-target=stderr \
        -L "module-null-sink sink_name=e2e" -L module-native-protocol-unix 2>/dev/null &
    pa=$!
    for _ in $(seq 100); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
fi

"$program" "$scenario" >"$outdir/e2e-${driver%.py}-program.log" 2>&1 &
app=$!
/usr/bin/python3 "$here/$driver" "$outdir" "$scenario" "$@"
status=$?
# A driver that passed ends with the exit command: give the program time to close its window.
for _ in $(seq 100); do
    [ "$status" -eq 0 ] && kill -0 "$app" 2>/dev/null || break
    sleep 0.1
done
if [ "$status" -ne 0 ]; then
    kill "$app" 2>/dev/null
elif kill -0 "$app" 2>/dev/null; then
    echo "the program did not end after its exit command" >&2
    kill "$app"
    status=1
else
    wait "$app" || { echo "the program exited with $?" >&2; status=1; }
fi
kill "$bus" 2>/dev/null
[ -n "$pa" ] && { kill "$pa" 2>/dev/null; wait "$pa" 2>/dev/null; rm -rf "$XDG_RUNTIME_DIR"; }
exit $status
