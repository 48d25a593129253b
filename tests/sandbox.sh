#!/bin/bash
# Runs one command, as root, where the installer's fixed absolute paths are
# private: new mount, PID and network namespaces; tmpfs on /tmp, /var/tmp,
# /var/log, /run and /dev/shm; an overlay on /usr/lib whose upper layer lives
# in the sandbox directory (so /usr/lib/Zelvano/... can be created);
# copy-on-write overlays on the rest of /etc and /var; /etc/crontab bound to
# a file of the sandbox. The network namespace has only its own loopback, so
# test servers on fixed ports never collide and no traffic leaves the
# machine. Everything started inside ends with the command.
#
# usage: tests/sandbox.sh [--tmp-size SIZE] -- command [args...]
#   --tmp-size SIZE  size of the /var/tmp tmpfs (default 512m)
# Inside, SANDBOX_DIR names the sandbox directory (removed afterwards).
set -euo pipefail

tmp_size=512m
[[ "${1:-}" == --tmp-size ]] && { tmp_size=$2; shift 2; }
[[ "${1:-}" == -- ]] && shift

if [[ "${XEDA_SANDBOX_INNER:-}" != 1 ]]; then
    [[ $# -gt 0 ]] || { echo "sandbox: no command given" >&2; exit 2; }
    [[ $(id -u) == 0 ]] || { echo "sandbox: run it as root (it makes namespaces and mounts)" >&2; exit 2; }
    [[ -f /etc/crontab ]] || { echo "sandbox: no /etc/crontab here; install the cron package" >&2; exit 2; }
    base=${XEDA_BINARY_DIR:-${TMPDIR:-/tmp}}/sandboxes
    mkdir -p "$base"
    sb=$(cd "$(mktemp -d "$base/sb.XXXXXX")" && pwd)
    trap 'rm -rf "$sb"' EXIT
    mkdir -p "$sb/usrlib.upper" "$sb/usrlib.work"
    cp /etc/crontab "$sb/crontab"
    export XEDA_SANDBOX_INNER=1 SANDBOX_DIR=$sb
    unshare --mount --pid --net --fork --kill-child --mount-proc --propagation private \
        "$(readlink -f "${BASH_SOURCE[0]}")" --tmp-size "$tmp_size" -- "$@" && exit 0 || exit $?
fi

# ---- inside the namespaces ----
unset XEDA_SANDBOX_INNER
# What a tmpfs must not hide: the sandbox, the source and build trees (a
# clone under /tmp, say) and the working directory.
keep=("$SANDBOX_DIR" "$(pwd -P)")
for dir in "${XEDA_SOURCE_DIR:-}" "${XEDA_BINARY_DIR:-}"; do [[ -z $dir ]] || keep+=("$(readlink -f "$dir")"); done

cover() { # mountpoint, mount arguments: mounts over it, keeping the kept directories below it visible
    local mp=$1 p i=0 held=()
    shift
    for p in "${keep[@]}"; do
        [[ $p == "$mp"/* ]] || continue
        mkdir -p "/mnt/hold$mp$i" && mount --bind "$p" "/mnt/hold$mp$i" && held+=("$p")
        i=$((i + 1))
    done
    mount "$@" "$mp"
    for i in "${!held[@]}"; do mkdir -p "${held[$i]}" && mount --bind "/mnt/hold$mp$i" "${held[$i]}"; done
}

mount -t tmpfs -o mode=0700 tmpfs /mnt # holding place, and the upper layers of /etc and /var
for dir in /etc /var; do
    mkdir -p "/mnt/$dir/upper" "/mnt/$dir/work"
    cover "$dir" -t overlay overlay -o "lowerdir=$dir,upperdir=/mnt/$dir/upper,workdir=/mnt/$dir/work"
done
cover /tmp -t tmpfs -o mode=1777 tmpfs
cover /var/tmp -t tmpfs -o "mode=1777,size=$tmp_size" tmpfs
cover /var/log -t tmpfs -o mode=0755 tmpfs
cover /run -t tmpfs -o mode=0755 tmpfs
cover /dev/shm -t tmpfs -o mode=1777 tmpfs
cover /usr/lib -t overlay overlay -o "lowerdir=/usr/lib,upperdir=$SANDBOX_DIR/usrlib.upper,workdir=$SANDBOX_DIR/usrlib.work"
mount --bind "$SANDBOX_DIR/crontab" /etc/crontab
mkdir -p /run/lock
ip link set lo up
export TMPDIR=/tmp
# Not exec: this shell stays PID 1 of the namespace and reaps the orphans of
# the daemons tests start (nginx, cron, proxies).
"$@" && exit 0 || exit $?
