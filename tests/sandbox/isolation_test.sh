#!/bin/bash
# The sandbox's isolation: a sandboxed run writes to every path the installer
# and the tests touch, and the host's files stay as they were; --tmp-size
# bounds /var/tmp; the network namespace has a loopback of its own; the
# command's exit status comes back.
set -euo pipefail
sandbox=$(dirname "${BASH_SOURCE[0]}")/../sandbox.sh
token=xeda-isolation-$$
paths=(/var/log/$token /var/tmp/$token /usr/lib/$token /tmp/$token /run/$token /dev/shm/$token /etc/$token /var/lib/$token)
crontab=$(sha256sum /etc/crontab)
fail() { echo "FAIL: $*" >&2; exit 1; }

"$sandbox" --tmp-size 3m -- bash -euo pipefail -c '
    for p in "$@"; do echo x > "$p"; done
    echo '"$token"' >> /etc/crontab
    ! dd if=/dev/zero of=/var/tmp/big bs=1M count=4 status=none 2>/dev/null
    [[ $(ip -o link show | wc -l) == 1 ]] && ip -o link show lo | grep -q UP
    exit 7' _ "${paths[@]}" && fail "exit status 0 instead of 7" || [[ $? == 7 ]] || fail "the sandboxed writes"

for p in "${paths[@]}"; do [[ ! -e $p ]] || fail "$p reached the host"; done
[[ $(sha256sum /etc/crontab) == "$crontab" ]] || fail "/etc/crontab changed on the host"
echo "isolation: passed"
