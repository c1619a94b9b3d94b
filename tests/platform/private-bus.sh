# Sourced by the run-with-* scripts: a work folder, private buses with no activatable services
# (only what the script starts can answer on them), and every process started stopped on exit.
work=$(mktemp -d "${TMPDIR:-/tmp}/halcyra-$1.XXXXXX")
pids=()
cleanup() {
    local pid
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

startBus() {
    local name=$1
    cat >"$work/$name.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>$name</type>
  <listen>unix:path=$work/$name-bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/><allow own="*"/><allow send_type="*"/><allow receive_type="*"/>
  </policy>
</busconfig>
CONF
    dbus-daemon --nofork --nosyslog --config-file="$work/$name.conf" >"$work/$name-bus.log" 2>&1 &
    pids+=($!)
    for _ in $(seq 100); do
        [[ -S "$work/$name-bus" ]] && return
        sleep 0.05
    done
    echo "$(basename "$0"): the $name bus did not start" >&2
    cat "$work/$name-bus.log" >&2
    exit 1
}

waitForName() {
    local bus=$1 name=$2
    if ! timeout 15 gdbus wait "--$bus" --timeout 10 "$name"; then
        echo "$(basename "$0"): $name did not appear on the $bus bus" >&2
        cat "$work"/*.log >&2 || true
        exit 1
    fi
}
