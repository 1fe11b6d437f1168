#!/usr/bin/env bash
# Shows quillfen at work on a machine without a desktop: it starts two Xvfb displays and one
# headless sway, runs the service on them, copies a text with xclip on one X display, shows it
# arriving in wl-paste and in xclip -o on the other display, prints what the service logged and
# stops everything it started.
#
# usage: scripts/demo.sh PATH_TO_QUILLFEN
#
# Runs as root (sway itself runs under an unprivileged user, which is created when missing), in
# private mount and network namespaces so that the service sees only the demo's displays and
# never the clipboard of a desktop that may be running on this machine.
set -euo pipefail

if [[ $# -lt 1 ]]; then
    echo "usage: $0 PATH_TO_QUILLFEN" >&2
    exit 2
fi

if [[ "${QUILLFEN_DEMO_ISOLATED:-}" != 1 ]]; then
    if [[ $(id -u) -ne 0 ]]; then
        echo "the demo needs root (for its namespaces and sway's user); try: sudo make demo" >&2
        exit 1
    fi
    quillfen=$(realpath "$1")
    QUILLFEN_DEMO_ISOLATED=1 exec unshare --mount --net --propagation private "$0" "$quillfen"
fi

quillfen=$1
user=quillfen-test
# The service's lock goes into root's own runtime directory, a private one here, so that the demo
# leaves no lock file behind and never meets the lock of a quillfen running on the machine.
mkdir -p /run/user
mount -t tmpfs -o mode=0755 tmpfs /run/user
mkdir -m 0700 /run/user/0
started=()
runtime_dir=
log=$(mktemp /tmp/quillfen-demo-log-XXXXXX)

step() { printf '\n== %s\n' "$*"; }

cleanup() {
    if [[ -n "${service:-}" ]] && kill -0 "$service" 2>/dev/null; then
        # Stop the supervisor first so that it forks no new worker, then end it with its worker.
        kill -STOP "$service" 2>/dev/null || true
        workers=$(pgrep -P "$service" || true)
        kill -KILL "$service" $workers 2>/dev/null || true
    fi
    for pid in "${started[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${started[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
    [[ -n "$runtime_dir" ]] && rm -rf "$runtime_dir"
    rm -f "$log"
}
trap cleanup EXIT

# Within the demo's mount namespace no X server exists; lock files in /tmp are still shared
# with the machine, so numbers in use elsewhere are avoided.
mount -t tmpfs -o mode=1777,nosuid,nodev tmpfs /tmp/.X11-unix 2>/dev/null ||
    { mkdir -p /tmp/.X11-unix && mount -t tmpfs -o mode=1777,nosuid,nodev tmpfs /tmp/.X11-unix; }

free_display() {
    local n
    for ((n = $1; n < 250; n++)); do
        if [[ ! -e /tmp/.X$n-lock && ! -e /tmp/.X11-unix/X$n ]]; then
            echo "$n"
            return
        fi
    done
    echo "no free X display number" >&2
    exit 1
}

wait_for() { # seconds, description, command...
    local limit=$1 what=$2
    shift 2
    for ((i = 0; i < limit * 10; i++)); do
        if "$@" >/dev/null 2>&1; then
            return 0
        fi
        sleep 0.1
    done
    echo "timed out waiting for $what" >&2
    exit 1
}

start_xvfb() {
    Xvfb ":$1" -nolisten tcp >/dev/null 2>&1 &
    started+=($!)
    wait_for 10 "Xvfb :$1" test -S "/tmp/.X11-unix/X$1"
}

step "starting two Xvfb displays"
first=$(free_display 40)
start_xvfb "$first"
second=$(free_display $((first + 1)))
start_xvfb "$second"
echo "X displays :$first and :$second"

step "starting a headless sway"
id "$user" >/dev/null 2>&1 || useradd -r -M -s /usr/sbin/nologin "$user"
runtime_dir=$(mktemp -d /tmp/quillfen-demo-runtime-XXXXXX)
# Only the displays the demo starts: no Xwayland of sway's own.
echo "xwayland disable" >"$runtime_dir/config"
chown -R "$user:" "$runtime_dir"
chmod 700 "$runtime_dir"
setpriv --reuid="$user" --regid="$user" --clear-groups \
    env -i PATH=/usr/local/bin:/usr/bin:/bin HOME="$runtime_dir" XDG_RUNTIME_DIR="$runtime_dir" \
    WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman \
    sway -c "$runtime_dir/config" >/dev/null 2>&1 &
started+=($!)
socket_of_sway() { find "$runtime_dir" -maxdepth 1 -type s -name 'wayland-*' -printf '%f\n' | head -1; }
wait_for 20 "sway's socket" sh -c "test -n \"\$(find '$runtime_dir' -maxdepth 1 -type s -name 'wayland-*')\""
socket=$(socket_of_sway)
echo "sway on $socket"

step "running quillfen"
XDG_RUNTIME_DIR="$runtime_dir" "$quillfen" --log-level debug >"$log" 2>&1 &
service=$!
wait_for 60 "quillfen's list of clipboards" grep -q "Using clipboards: " "$log"
grep "Using clipboards: " "$log" | head -1

text="hello from :$first at $(date +%T)"
step "copying \"$text\" with xclip on :$first"
printf '%s' "$text" | DISPLAY=":$first" xclip -selection clipboard -in

wayland() { XDG_RUNTIME_DIR="$runtime_dir" WAYLAND_DISPLAY="$socket" "$@"; }
arrived() {
    [[ "$(wayland wl-paste --no-newline 2>/dev/null)" == "$text" &&
        "$(DISPLAY=":$second" xclip -selection clipboard -out 2>/dev/null)" == "$text" ]]
}
wait_for 10 "the text to arrive everywhere" arrived

step "what the other clipboards hold now"
echo "wl-paste on $socket:   $(wayland wl-paste --no-newline)"
echo "xclip -o on :$second:     $(DISPLAY=":$second" xclip -selection clipboard -out)"

step "what quillfen logged"
sleep 0.5
cat "$log"

step "stopping everything the demo started"
cleanup
trap - EXIT
echo "done"
