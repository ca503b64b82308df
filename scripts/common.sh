# Shared set-up for the README's commands: system packages, and a throwaway
# Wine prefix run by an ordinary user with a virtual display of its own.
# Everything a run makes (prefix, display, mount point, logs) is its own, so
# several runs can share one machine.
# shellcheck shell=bash

# What building and running the program needs; the tests need more (the
# fuzzing toolchain, zip for the release). Only unversioned names, so that
# the lists resolve on Debian 12 and 13 alike.
EXAMPLE_PACKAGES="cmake make g++ googletest libgtest-dev g++-mingw-w64-i686 mingw-w64-i686-dev binutils-mingw-w64-i686 wine wine32:i386 xvfb xauth"
TEST_PACKAGES="$EXAMPLE_PACKAGES zip unzip clang libclang-rt-dev bc"
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# ensure_packages LIST: installs what is missing of LIST (as root), or says
# what to run (as another user).
ensure_packages() {
    local packages=$1 missing="" p
    for p in $packages; do
        dpkg -s "$p" >/dev/null 2>&1 || missing="$missing $p"
    done
    [ -z "$missing" ] && return 0
    if [ "$(id -u)" != 0 ]; then
        echo "Missing system packages:$missing" >&2
        echo "Install them as root with:" >&2
        echo "  dpkg --add-architecture i386 && apt-get update && apt-get install -y $packages" >&2
        exit 2
    fi
    echo "Installing:$missing"
    dpkg --add-architecture i386
    apt-get update -q
    # shellcheck disable=SC2086
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q $packages
}

# Wine must not run as root: root ignores read-only files and permissions,
# which would hide failures users meet. As root, Wine runs as this user.
WINE_USER=pictomap-wine

start_wine() {
    local owner
    if [ "$(id -u)" = 0 ]; then
        # Another run may be making the same user at this moment.
        id "$WINE_USER" >/dev/null 2>&1 || useradd --create-home --shell /bin/bash "$WINE_USER" 2>/dev/null ||
            id "$WINE_USER" >/dev/null
        owner=$WINE_USER
        export PICTOMAP_WINE_USER=$WINE_USER
    else
        owner=$(id -un)
        unset PICTOMAP_WINE_USER
    fi
    PICTOMAP_WINE_DIR=$(mktemp -d /tmp/pictomap-wine.XXXXXX)
    chmod 755 "$PICTOMAP_WINE_DIR"
    chown "$owner" "$PICTOMAP_WINE_DIR"
    export PICTOMAP_WINE_DIR
    export PICTOMAP_WINEPREFIX=$PICTOMAP_WINE_DIR/prefix
    # The runtime folder Wine's drivers look for, private to this run.
    export XDG_RUNTIME_DIR=$PICTOMAP_WINE_DIR/runtime
    mkdir -m 700 "$XDG_RUNTIME_DIR"
    chown "$owner" "$XDG_RUNTIME_DIR"
    trap stop_wine EXIT

    # A display of our own, so that message boxes are real windows. Xvfb
    # picks a free display number itself and writes it once it accepts
    # connections.
    local displayfile=$PICTOMAP_WINE_DIR/display display=""
    Xvfb -displayfd 3 -ac -screen 0 1024x768x24 -nolisten tcp 3>"$displayfile" >"$PICTOMAP_WINE_DIR/xvfb.log" 2>&1 &
    XVFB_PID=$!
    for _ in $(seq 300); do
        display=$(tr -dc 0-9 <"$displayfile")
        [ -n "$display" ] && break
        kill -0 "$XVFB_PID" 2>/dev/null || break
        sleep 0.1
    done
    if [ -z "$display" ] || ! kill -0 "$XVFB_PID" 2>/dev/null || [ ! -S "/tmp/.X11-unix/X$display" ]; then
        echo "start_wine: the virtual display did not start:" >&2
        cat "$PICTOMAP_WINE_DIR/xvfb.log" >&2
        exit 1
    fi
    export DISPLAY=":$display"

    "$ROOT/scripts/wine-run" --boot

    # As root: a 64 KiB disk of its own, drive Q:, for the full-disk test.
    if [ "$(id -u)" = 0 ] && mkdir -p "$PICTOMAP_WINE_DIR/full" &&
        mount -t tmpfs -o size=64k,mode=0777 tmpfs "$PICTOMAP_WINE_DIR/full" 2>/dev/null; then
        ln -sfn "$PICTOMAP_WINE_DIR/full" "$PICTOMAP_WINEPREFIX/dosdevices/q:"
        export PICTOMAP_FULL_DISK='Q:'
    fi
}

stop_wine() {
    "$ROOT/scripts/wine-run" --stop || true
    mountpoint -q "${PICTOMAP_WINE_DIR:-/nonexistent}/full" 2>/dev/null && umount "$PICTOMAP_WINE_DIR/full" || true
    [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null || true
    [ -n "${PICTOMAP_WINE_DIR:-}" ] && rm -rf "$PICTOMAP_WINE_DIR" 2>/dev/null || true
}
