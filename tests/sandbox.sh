#!/bin/bash
# Runs one command in a sandbox where the installer's fixed absolute paths are
# private: new mount, PID and network namespaces; tmpfs on /tmp, /var/tmp,
# /var/log, /run and /dev/shm; an overlay on /usr/lib whose upper layer lives
# in the sandbox directory (so /usr/lib/Zelvano/... can be created);
# copy-on-write overlays on the rest of /etc and /var; and /etc/crontab bound
# to a file of the sandbox. The network namespace has only
# its own loopback, so servers a test starts never collide with another test's
# and no traffic leaves the machine. Everything started inside dies with the
# command (the PID namespace ends with it).
#
# usage: tests/sandbox.sh [--tmp-size SIZE] [--dir DIR] [--keep] -- command [args...]
#   --tmp-size SIZE  size of the /var/tmp tmpfs (default 512m), e.g. 2m for disk-full cases
#   --dir DIR        sandbox directory to use (default: a new one under the build tree or /tmp)
#   --keep           leave the sandbox directory behind for inspection
# Inside, SANDBOX_DIR names the sandbox directory; its crontab file is
# $SANDBOX_DIR/crontab (seen as /etc/crontab) and the overlay's upper layer is
# $SANDBOX_DIR/usrlib.upper.
set -euo pipefail

tmp_size=512m
sandbox_dir=
keep=0
while [[ $# -gt 0 ]]; do
    case "$1" in
        --tmp-size) tmp_size=$2; shift 2 ;;
        --dir) sandbox_dir=$2; shift 2 ;;
        --keep) keep=1; shift ;;
        --) shift; break ;;
        --inner) shift; break ;;
        *) break ;;
    esac
done

if [[ "${XEDA_SANDBOX_INNER:-}" != 1 ]]; then
    [[ $# -gt 0 ]] || { echo "sandbox: no command given" >&2; exit 2; }
    if [[ ! -f /etc/crontab ]]; then
        echo "sandbox: /etc/crontab does not exist on this machine; install the cron package first" >&2
        exit 2
    fi
    if [[ -z "$sandbox_dir" ]]; then
        base=${XEDA_BINARY_DIR:-${TMPDIR:-/tmp}}/sandboxes
        mkdir -p "$base"
        sandbox_dir=$(mktemp -d "$base/sb.XXXXXX")
    else
        mkdir -p "$sandbox_dir"
    fi
    sandbox_dir=$(cd "$sandbox_dir" && pwd)
    mkdir -p "$sandbox_dir/usrlib.upper" "$sandbox_dir/usrlib.work"
    cp /etc/crontab "$sandbox_dir/crontab"

    cleanup() { if [[ $keep == 0 ]]; then rm -rf "$sandbox_dir"; fi; }
    trap cleanup EXIT

    export XEDA_SANDBOX_INNER=1 SANDBOX_DIR="$sandbox_dir" XEDA_SANDBOX_TMP_SIZE="$tmp_size"
    self=$(readlink -f "${BASH_SOURCE[0]}")
    if [[ $(id -u) == 0 ]]; then
        unshare --mount --pid --net --fork --kill-child --mount-proc --propagation private \
            "$self" --inner "$@" && rc=0 || rc=$?
    elif unshare --user --map-root-user --mount --pid --net --fork --mount-proc true 2>/dev/null; then
        unshare --user --map-root-user --mount --pid --net --fork --kill-child --mount-proc --propagation private \
            "$self" --inner "$@" && rc=0 || rc=$?
    else
        echo "sandbox: cannot create namespaces: run as root, or enable unprivileged user namespaces" \
             "(sysctl kernel.unprivileged_userns_clone=1)" >&2
        exit 2
    fi
    exit "$rc"
fi

# ---- inside the namespaces ----
unset XEDA_SANDBOX_INNER
sb=$SANDBOX_DIR

# Directories that must stay visible even when they live under a path we are
# about to cover with a tmpfs (a clone under /tmp, say): the sandbox itself,
# the source tree and the build tree.
keep_visible=("$sb")
[[ -n "${XEDA_SOURCE_DIR:-}" ]] && keep_visible+=("$(readlink -f "$XEDA_SOURCE_DIR")")
[[ -n "${XEDA_BINARY_DIR:-}" ]] && keep_visible+=("$(readlink -f "$XEDA_BINARY_DIR")")
keep_visible+=("$(pwd -P)")

# Mounts something over a directory (the mount's arguments after the
# mountpoint), keeping visible the kept directories that lie below it.
cover() { # mountpoint, mount arguments...
    local mp=$1 hold="/mnt/xeda-hold${1//\//_}" p i=0
    shift
    local -a rebind=()
    for p in "${keep_visible[@]}"; do
        if [[ "$p" == "$mp"/* ]]; then rebind+=("$p"); fi
    done
    for p in "${rebind[@]}"; do
        mkdir -p "$hold/$i"
        mount --bind "$p" "$hold/$i"
        i=$((i + 1))
    done
    mount "$@" "$mp"
    i=0
    for p in "${rebind[@]}"; do
        mkdir -p "$p"
        mount --bind "$hold/$i" "$p"
        i=$((i + 1))
    done
}

# Copy-on-write view of a host directory: reads see the host's files, writes
# stay in the sandbox.
overlay() { # mountpoint, directory for the upper layer
    mkdir -p "$2/upper" "$2/work"
    cover "$1" -t overlay overlay -o "lowerdir=$1,upperdir=$2/upper,workdir=$2/work"
}

# The holding place for rebinds, and the upper layers of /etc and /var, lie
# outside every covered path.
mount -t tmpfs -o mode=0700 tmpfs /mnt
# /etc and /var are not among the installer's places, but a faulty run (or a
# package name that escapes /var/tmp) must not reach the host's either.
overlay /etc /mnt/xeda-etc
overlay /var /mnt/xeda-var
cover /tmp -t tmpfs -o "mode=1777" tmpfs
cover /var/tmp -t tmpfs -o "mode=1777,size=${XEDA_SANDBOX_TMP_SIZE}" tmpfs
cover /var/log -t tmpfs -o "mode=0755" tmpfs
cover /run -t tmpfs -o "mode=0755" tmpfs
cover /dev/shm -t tmpfs -o "mode=1777" tmpfs
mkdir -p /run/lock

# The upper layer of /usr/lib stays in the sandbox directory, where a kept
# sandbox (--keep) shows what a run installed under /usr/lib/Zelvano.
cover /usr/lib -t overlay overlay \
    -o "lowerdir=/usr/lib,upperdir=$sb/usrlib.upper,workdir=$sb/usrlib.work"
mount --bind "$sb/crontab" /etc/crontab

ip link set lo up

export SANDBOX_DIR="$sb"
export TMPDIR=/tmp
# Not exec: this shell stays PID 1 of the namespace and reaps the orphans of
# daemons that tests start (nginx, cron, proxies).
"$@" && rc=0 || rc=$?
exit "$rc"
