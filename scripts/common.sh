# Shared set-up for the README's commands: system packages, and a throwaway
# Wine prefix run by an ordinary user with a virtual display.
# shellcheck shell=bash

PACKAGES="cmake make g++ googletest libgtest-dev g++-mingw-w64-i686 mingw-w64-i686-dev binutils-mingw-w64-i686 wine wine32:i386 xvfb xauth zip unzip clang libclang-rt-14-dev bc"
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

ensure_packages() {
    local missing=""
    for p in $PACKAGES; do
        dpkg -s "$p" >/dev/null 2>&1 || missing="$missing $p"
    done
    [ -z "$missing" ] && return 0
    if [ "$(id -u)" != 0 ]; then
        echo "Missing system packages:$missing" >&2
        echo "Install them as root with:" >&2
        echo "  dpkg --add-architecture i386 && apt-get update && apt-get install -y $PACKAGES" >&2
        exit 2
    fi
    echo "Installing:$missing"
    dpkg --add-architecture i386
    apt-get update -q
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q $PACKAGES
}

# Wine must not run as root: root ignores read-only files and permissions,
# which would hide failures users meet. As root, Wine runs as this user.
WINE_USER=pictomap-wine

start_wine() {
    local owner
    if [ "$(id -u)" = 0 ]; then
        id "$WINE_USER" >/dev/null 2>&1 || useradd --create-home --shell /bin/bash "$WINE_USER"
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

    # A display of our own, so that message boxes are real windows.
    local display
    for display in $(seq 91 120); do
        [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ] || break
    done
    Xvfb ":$display" -ac -screen 0 1024x768x24 -nolisten tcp >"$PICTOMAP_WINE_DIR/xvfb.log" 2>&1 &
    XVFB_PID=$!
    export DISPLAY=":$display"
    for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.1; done

    "$ROOT/scripts/wine-run" --boot

    # As root: a 64 KiB disk of its own, drive Q:, for the full-disk test.
    if [ "$(id -u)" = 0 ] && mkdir -p "$PICTOMAP_WINE_DIR/full" &&
        mount -t tmpfs -o size=64k,mode=0777 tmpfs "$PICTOMAP_WINE_DIR/full" 2>/dev/null; then
        ln -sfn "$PICTOMAP_WINE_DIR/full" "$PICTOMAP_WINEPREFIX/dosdevices/q:"
        export PICTOMAP_FULL_DISK='Q:'
    fi
    trap stop_wine EXIT
}

stop_wine() {
    "$ROOT/scripts/wine-run" --stop || true
    mountpoint -q "${PICTOMAP_WINE_DIR:-/nonexistent}/full" 2>/dev/null && umount "$PICTOMAP_WINE_DIR/full" || true
    [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null || true
    [ -n "${PICTOMAP_WINE_DIR:-}" ] && rm -rf "$PICTOMAP_WINE_DIR" 2>/dev/null || true
}
