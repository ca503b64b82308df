# Shared set-up for the README's commands: system packages, and a throwaway
# Wine prefix run by an ordinary user with a virtual display of its own.
# Everything a run makes (prefix, display, mount point, logs) is its own, so
# several runs can share one machine.
# shellcheck shell=bash

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# Sourcing this file changes nothing and runs nothing: each command asks
# what it needs, when it needs it.

# Whether this machine runs 32-bit x86 programs (PICTOMAP_RUNS_32BIT=yes or
# no), asked once per run, at a command's first need, and said on one line. Some kernels run 64-bit
# programs only ("Exec format error"): there 32-bit Wine cannot start, and
# the Windows tests run in the 64-bit build under 64-bit Wine (and the
# 32-bit suite in an emulated PC, tests/emulated). The question is put to
# the kernel itself: a 96-byte i386 Linux program that exits with 42. The
# answer is the kernel's reason, not a status: a folder on a noexec mount
# refuses every program (status 126 too), so the probe is tried in the
# next place. PICTOMAP_NO_32BIT=1 answers no, to try that road on any
# machine.
check_32bit() {
    [ -n "${PICTOMAP_RUNS_32BIT:-}" ] && return 0
    local why="" probe status said dir
    if [ "${PICTOMAP_NO_32BIT:-}" = 1 ]; then
        PICTOMAP_RUNS_32BIT=no why="PICTOMAP_NO_32BIT=1 says so"
    else
        mkdir -p "$ROOT/build"
        for dir in "$ROOT/build" "${TMPDIR:-/tmp}" /dev/shm; do
            probe=$(mktemp "$dir/i386-probe.XXXXXX" 2>/dev/null) || continue
            printf '\177ELF\1\1\1\0\0\0\0\0\0\0\0\0\2\0\3\0\1\0\0\0\124\200\4\10\64\0\0\0\0\0\0\0\0\0\0\0\64\0\40\0\1\0\0\0\0\0\0\0\1\0\0\0\0\0\0\0\0\200\4\10\0\200\4\10\140\0\0\0\140\0\0\0\5\0\0\0\0\20\0\0\270\1\0\0\0\273\52\0\0\0\315\200' >"$probe"
            chmod +x "$probe"
            status=0
            said=$("$probe" 2>&1) || status=$?
            rm -f "$probe"
            if [ "$status" = 42 ]; then
                PICTOMAP_RUNS_32BIT=yes why="an i386 program ran"
                break
            elif [[ "$said" == *"Exec format error"* ]]; then
                PICTOMAP_RUNS_32BIT=no why="the kernel refuses an i386 program: Exec format error"
                break
            fi
            why="an i386 program would not start in $dir (status $status${said:+: ${said##*: }})"
        done
        [ -n "${PICTOMAP_RUNS_32BIT:-}" ] || PICTOMAP_RUNS_32BIT=no
    fi
    export PICTOMAP_RUNS_32BIT
    if [ "$PICTOMAP_RUNS_32BIT" = yes ]; then
        echo "32-bit code: this machine runs it ($why): 32-bit Wine, then 64-bit Wine"
    else
        echo "32-bit code: this machine cannot run it natively ($why): 64-bit Wine, and the 32-bit suite in an emulated PC"
    fi
}

# What building and running the program needs; the Windows tests need zip
# for the release, the host's tests the fuzzing toolchain and bc. Only unversioned names, so that
# the lists resolve on Debian 12 and 13 alike. The 64-bit compilers and
# Wine build and run the same sources where 32-bit code cannot run, and
# test that road everywhere else; 32-bit Wine (wine32:i386) only where it
# can start, which ensure_packages adds.
EXAMPLE_PACKAGES="cmake make patch g++ googletest libgtest-dev g++-mingw-w64-i686 mingw-w64-i686-dev binutils-mingw-w64-i686
 g++-mingw-w64-x86-64 mingw-w64-x86-64-dev binutils-mingw-w64-x86-64 wine wine64 xvfb xauth"
WINDOWS_TEST_PACKAGES="$EXAMPLE_PACKAGES zip unzip locales"
TEST_PACKAGES="$WINDOWS_TEST_PACKAGES clang libclang-rt-dev bc"

# ensure_packages LIST: installs what is missing of LIST (as root), or says
# what to run (as another user); with Wine, also 32-bit Wine where 32-bit
# code runs. With the cross compilers, also their own sources
# (gcc-<major>-source, named after the compiler's version): the program's
# C++ runtime is built from them (cmake/gccruntime.cmake).
ensure_packages() {
    local packages=$1 version
    check_32bit
    [ "$PICTOMAP_RUNS_32BIT" = yes ] && [[ " $1 " == *" wine "* ]] && packages="$packages wine32:i386"
    install_missing "$packages"
    if [[ " $1 " == *" g++-mingw-w64-i686 "* ]] && version=$(i686-w64-mingw32-gcc-win32 -dumpversion); then
        install_missing "gcc-${version%%[.-]*}-source"
    fi
}

install_missing() {
    local packages=$1 missing="" p
    for p in $packages; do
        dpkg -s "$p" >/dev/null 2>&1 || missing="$missing $p"
    done
    [ -z "$missing" ] && return 0
    if [ "$(id -u)" != 0 ]; then
        echo "Missing system packages:$missing" >&2
        echo "Install them as root with:" >&2
        echo "  dpkg --add-architecture i386 && apt-get update && apt-get install -y" $packages >&2
        exit 2
    fi
    echo "Installing:$missing"
    [[ "$packages" == *:i386* ]] && dpkg --add-architecture i386
    apt-get update -q
    # shellcheck disable=SC2086
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q $packages
}

# shown LOG COMMAND...: runs COMMAND with its output shown as it comes and
# kept in LOG; its status is COMMAND's, with or without pipefail.
shown() {
    local log=$1 status=0
    shift
    { "$@" 2>&1 | tee "$log"; status=${PIPESTATUS[0]}; } || true
    return "$status"
}

# os_release FIELD [ROOT]: a field of /etc/os-release of the system at ROOT
# (by default this one), such as VERSION_CODENAME.
os_release() {
    (. "${2:-}/etc/os-release" && eval "echo \"\${$1:-}\"")
}

# release_name [ROOT]: the Debian release of the system at ROOT, as
# "Debian 13".
release_name() {
    local name version
    name=$(os_release NAME "${1:-}") version=$(os_release VERSION_ID "${1:-}")
    echo "${name%% *} ${version:-$(os_release VERSION_CODENAME "${1:-}")}"
}

# other_release [CODENAME]: the Debian release tested beside this one (or
# beside CODENAME); nothing for a release it does not know.
other_release() {
    case "${1:-$(os_release VERSION_CODENAME)}" in
    bookworm) echo trixie ;;
    trixie) echo bookworm ;;
    esac
}

# debian_sources: the host's Debian package sources, as apt's lists name
# them, one "URI SUITE COMPONENT" a line, for the host's release and its
# updates and security suites (no host name is written anywhere).
debian_sources() {
    local release
    release=$(os_release VERSION_CODENAME)
    apt-get indextargets --format '$(LABEL)|$(REPO_URI) $(RELEASE) $(COMPONENT)' 'Identifier: Packages' 2>/dev/null |
        awk -F'|' -v r="$release" '$1 ~ /^Debian/ { split($2, f, " "); if (index(f[2], r) == 1) print $2 }' | sort -u
}

# cache_open CACHE DIR LABEL INTACT: takes CACHE's lock (fd 9, held to the
# end of the script) and prints DIR and exits when it is there and
# `INTACT DIR` says it is whole; a damaged one is removed (said as LABEL's),
# and so is any half-made one. The caller then makes DIR.partial and ends
# with cache_close. Two runs at once neither remove each other's folder
# nor make it twice.
cache_open() {
    local cache=$1 dir=$2 label=$3 intact=$4
    mkdir -p "$cache"
    exec 9>"$cache/lock"
    flock 9
    if [ -d "$dir" ]; then
        if "$intact" "$dir"; then
            echo "$dir"
            exit 0
        fi
        echo "$label: the cached $dir is damaged; making it again" >&2
        rm -rf "$dir"
    fi
    rm -rf "$cache"/*.partial
}

# cache_close CACHE DIR PATTERN: DIR.partial, complete, becomes DIR; the
# folders of CACHE matching PATTERN (other keys) are of no more use.
cache_close() {
    local cache=$1 dir=$2 pattern=$3
    find "$cache" -mindepth 1 -maxdepth 1 -name "$pattern" ! -name "$(basename "$dir")*" -exec rm -rf {} +
    mv "$dir.partial" "$dir"
}

# on_exit COMMAND: runs COMMAND when the script ends, before what was set to
# run then already (a trap of the caller's is kept).
on_exit() {
    local quoted previous=""
    quoted=$(trap -p EXIT)
    quoted=${quoted#"trap -- "}
    # The command as trap -p quotes it, unquoted by the shell.
    [ -n "$quoted" ] && eval "previous=${quoted% EXIT}"
    # shellcheck disable=SC2064
    trap "$1${previous:+; $previous}" EXIT
}

# wine_home_m FOLDER: FOLDER is the mail program's home directory for the
# run's Wine, as drive M: (HomeDir M:\), until wine_home_m_done.
wine_home_m() {
    if [ -n "${PICTOMAP_WINE_USER:-}" ]; then chown -R "$PICTOMAP_WINE_USER" "$1"; else chmod -R a+rwX "$1"; fi
    ln -sfn "$1" "$PICTOMAP_WINEPREFIX/dosdevices/m:"
    "$ROOT/scripts/wine-run" reg add 'HKLM\SoftWare\Velkorware\Quernpost' /v HomeDir /t REG_SZ /d 'M:\' /f >/dev/null 2>&1
}
wine_home_m_done() {
    rm -f "$PICTOMAP_WINEPREFIX/dosdevices/m:"
    "$ROOT/scripts/wine-run" reg delete 'HKLM\SoftWare\Velkorware\Quernpost' /f >/dev/null 2>&1 || true
}

# step [--quiet] NAME COMMAND...: one step of a README command. Its output
# is shown as it comes (with --quiet, only kept in a log). If it fails, the
# command stops at once with the last lines of that output and a line that
# names the step. COMMAND is one program, never a list: bash does not stop
# a list or a function on a failure inside it when its status is tested.
step() {
    local quiet=no log status=0 name
    [ "$1" = --quiet ] && { quiet=yes; shift; }
    name=$1
    shift
    log=$(mktemp "${TMPDIR:-/tmp}/pictomap-step.XXXXXX")
    if [ "$quiet" = yes ]; then
        "$@" >"$log" 2>&1 || status=$?
    else
        shown "$log" "$@" || status=$?
    fi
    if [ "$status" != 0 ]; then
        step_failed "$name" "$status" "$log"
        exit "$status"
    fi
    rm -f "$log"
}

# step_failed NAME STATUS LOG: says which step failed, after its errors (a
# parallel build goes on past the compiler's message) and its last lines.
step_failed() {
    local errors
    errors=$(grep -E -A3 '(: (fatal )?error:|^CMake Error|undefined reference to|^check-[a-z-]+: )' "$3" | head -n 40) || true
    {
        echo
        if [ -n "$errors" ]; then
            echo "---- the errors of: $1 ----"
            echo "$errors"
        fi
        echo "---- the last lines of: $1 ----"
        tail -n 40 "$3"
        echo "----"
        echo "$(basename "$0"): FAILED step: $1 (exit status $2)"
    } >&2
    rm -f "$3"
}

# Wine must not run as root: root ignores read-only files and permissions,
# which would hide failures users meet. As root, Wine runs as this user.
WINE_USER=pictomap-wine

# start_wine [win32|win64]: a prefix of that kind (32-bit by default), its
# display and its small disk, until stop_wine or the end of the script.
start_wine() {
    local owner
    export PICTOMAP_WINEARCH=${1:-win32}
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
    on_exit stop_wine

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
    unset PICTOMAP_WINE_DIR PICTOMAP_WINEPREFIX PICTOMAP_FULL_DISK XVFB_PID
}
