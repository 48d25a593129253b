#!/bin/bash
# Proves the sandbox's isolation: a sandboxed run writes to every path the
# installer and the tests touch (/etc/crontab, /var/log, /var/tmp, /usr/lib,
# /tmp, /run, /dev/shm, and the rest of /etc and /var) and checks inside that
# the writes worked; afterwards
# the host's files are unchanged and none of the markers exist on the host.
# Also checks that --tmp-size bounds /var/tmp and that the network namespace
# has a loopback of its own.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
sandbox="$here/../sandbox.sh"
token="xeda-isolation-$$-$RANDOM"
fail() { echo "FAIL: $*" >&2; exit 1; }

crontab_before=$(sha256sum /etc/crontab)
zelvano_before=$(ls -d /usr/lib/Zelvano 2>/dev/null || true)
marker_paths=(/var/log/$token /var/tmp/$token /usr/lib/$token /tmp/$token /run/$token /dev/shm/$token
              /etc/$token /var/lib/$token)

for p in "${marker_paths[@]}"; do
    [[ ! -e $p ]] || fail "marker $p exists before the run"
done

"$sandbox" --tmp-size 3m -- bash -euo pipefail -c '
    token=$1; shift
    for p in "$@"; do echo "$token" > "$p"; [[ $(cat "$p") == "$token" ]]; done
    echo "$token" >> /etc/crontab
    tail -n 1 /etc/crontab | grep -qx "$token"
    mkdir -p /usr/lib/Zelvano/ClientAgent/config
    echo x > /usr/lib/Zelvano/ClientAgent/config/clntdata.ini
    echo x > /var/log/xedabldn.log
    # --tmp-size: a 3 MiB /var/tmp refuses a 4 MiB file.
    size_kb=$(df -k --output=size /var/tmp | tail -n 1 | tr -d " ")
    [[ $size_kb -le 3072 ]] || { echo "/var/tmp is ${size_kb} KiB" >&2; exit 1; }
    if dd if=/dev/zero of=/var/tmp/big bs=1M count=4 status=none 2>/dev/null; then
        echo "/var/tmp took 4 MiB" >&2; exit 1
    fi
    # Own network namespace: only a loopback interface, and it is up.
    [[ $(ip -o link show | wc -l) == 1 ]]
    ip -o link show lo | grep -q "UP"
    # PID namespace: this shell is not far from PID 1.
    [[ $(ps -e --no-headers | wc -l) -lt 10 ]]
' _ "$token" "${marker_paths[@]}" || fail "sandboxed writes did not all succeed"

for p in "${marker_paths[@]}"; do
    [[ ! -e $p ]] || { rm -f "$p"; fail "marker $p leaked to the host"; }
done
[[ $(sha256sum /etc/crontab) == "$crontab_before" ]] || fail "/etc/crontab changed on the host"
[[ $(ls -d /usr/lib/Zelvano 2>/dev/null || true) == "$zelvano_before" ]] ||
    fail "/usr/lib/Zelvano appeared on the host"
grep -q "$token" /var/log/xedabldn.log 2>/dev/null && fail "host /var/log/xedabldn.log written"

# The sandbox reports the command's own exit status.
set +e
"$sandbox" -- bash -c 'exit 7'
rc=$?
set -e
[[ $rc == 7 ]] || fail "exit status $rc instead of 7"

echo "1 passed, 0 failed"
