#!/bin/bash
# Whole service-pack run: `xedabldn -CASP` fetching a large package from the
# local nginx, against a shell script that does the same work with standard
# tools (curl for the manifest and the package, md5sum, tar -xf, an echo into
# the crontab), in the same run, alternating, several rounds. Prints both
# times, their ratio and the installer's peak memory for a large and a small
# package. Not a test: it prints figures and exits 0 unless a run failed.
#
# With "signed" the machine holds a vendor key and the manifest is signed:
# the installer also fetches and verifies the signature and checks the
# package's SHA-256, and the script does the same with openssl and sha256sum.
#
# Runs inside tests/sandbox.sh (the installer's fixed paths are private):
#   tests/sandbox.sh --tmp-size 1300m -- bench/install/whole_run.sh \
#       BUILD/xedabldn/xedabldn BUILD/bench/install/bench_install_measure [SIZE_MIB] [ROUNDS] [signed]
# or simply: cmake --build BUILD --target bench_install
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
installer=$1
measure=$2
size_mib=${3:-512}
rounds=${4:-3}
signed=${5:-}
small_mib=16

[[ -n "${SANDBOX_DIR:-}" ]] || { echo "whole_run.sh: run it inside tests/sandbox.sh" >&2; exit 2; }
servers() { bash "$root/tests/fixtures/servers.sh" "$@" >/dev/null; }
eval "$(bash "$root/tests/fixtures/servers.sh" env)"

readonly www=/tmp/bench-www
readonly module=/usr/lib/Zelvano/ClientAgent/
readonly work=/tmp/bench-work
mkdir -p "$work" "$module"
crontab_baseline=$(wc -l </etc/crontab)
cp /etc/crontab "$work/crontab.orig"

# ---- the update source: a large and a small service pack ----------------------
sign=()
if [[ $signed == signed ]]; then
    openssl genpkey -algorithm ed25519 -out "$work/vendor.key"
    mkdir -p /usr/lib/Zelvano/updatekeys
    openssl pkey -in "$work/vendor.key" -pubout -out /usr/lib/Zelvano/updatekeys/vendor.pem
    sign=(--sign "$work/vendor.key")
fi
publish() { # dir size_mib
    /usr/bin/python3 "$root/tests/fixtures/make_update.py" "$www/$1" --kind sp \
        --name sp.tar.gz --level 1 --script $'kvlinxsp/kvacascr=#!/bin/sh\ntrue\n' \
        --random "kvlinxsp/payload.bin=$2M" "${sign[@]}"
}
echo "building packages of ${size_mib} MiB and ${small_mib} MiB of incompressible data..."
publish large "$size_mib"
publish small "$small_mib"
servers start-nginx --root "$www"
mkdir -p "${module}config"
printf '[SSL]\nSSL_VERIFY_CERT=0\n' >"${module}config/sslConfig.ini"

# ---- the reference: the same work with standard tools ---------------------------
cat >"$work/reference.sh" <<'EOF'
#!/bin/bash
set -euo pipefail
url=$1 module=$2
curl -sSf -o "${module}capatch.ini" "$url/capatch.ini"
value() { sed -n "s/^$1=//p" "${module}capatch.ini" | tr -d '\r'; }
name=$(value file_64) length=$(value filelength_64) md5=$(value checksum2_64)
free=$(df -B1 --output=avail /var/tmp/ | tail -n 1)
((length < free))
curl -sSf -o "/var/tmp/$name" "$url/$name"
[[ $(stat -c %s "/var/tmp/$name") == "$length" ]]
if [[ -d /usr/lib/Zelvano/updatekeys ]]; then
    curl -sSf -o "${module}capatch.ini.sig" "$url/capatch.ini.sig"
    openssl pkeyutl -verify -rawin -pubin -inkey /usr/lib/Zelvano/updatekeys/vendor.pem \
        -in "${module}capatch.ini" -sigfile "${module}capatch.ini.sig" >/dev/null
    (($(value expires_64) > $(date +%s)))
fi
echo "$md5  /var/tmp/$name" | md5sum -c --quiet -
[[ ! -d /usr/lib/Zelvano/updatekeys ]] || echo "$(value sha256_64)  /var/tmp/$name" | sha256sum -c --quiet -
tar -xf "/var/tmp/$name" -C /var/tmp/
[[ -e /var/tmp/kvlinxsp/kvacascr ]]
read -r minute hour < <(date -d '+2 min' '+%-M %-H')
echo "$minute $hour * * * root /var/tmp/kvlinxsp/kvacascr 1 NULL >> /dev/null 2>&1" >>/etc/crontab
EOF
chmod 755 "$work/reference.sh"

reset() {
    find /var/tmp -mindepth 1 -delete
    rm -f "${module}capatch.ini" "${module}capatch.ini.sig" /var/log/xedabldn.log /var/log/xedabldn.bak
    cp "$work/crontab.orig" /etc/crontab
}

# One measured run; fails loudly unless it scheduled the script.
run() { # label command...
    local label=$1 result
    shift
    reset
    result=$("$measure" "$@")
    if [[ $(wc -l </etc/crontab) != $((crontab_baseline + 1)) || ${result##* } != 0 ]]; then
        echo "whole_run.sh: the $label run did not complete (exit ${result##* })" >&2
        [[ -f /var/log/xedabldn.log ]] && tr -d '\r' </var/log/xedabldn.log | tail -n 20 >&2
        exit 1
    fi
    echo "$result"
}

median() { sort -n | awk '{v[NR]=$1} END {print (NR % 2) ? v[(NR+1)/2] : (v[NR/2] + v[NR/2+1]) / 2}'; }

url() { echo "http://127.0.0.1:8080/$1"; }

inst_times=() ref_times=() inst_rss=()
for ((i = 1; i <= rounds; i++)); do
    # Alternate which side goes first, so neither always meets a warmer cache.
    if ((i % 2)); then
        inst=$(run installer "$installer" "$(url large)" "$(url large)" -CASP "$module")
        ref=$(run reference "$work/reference.sh" "$(url large)" "$module")
    else
        ref=$(run reference "$work/reference.sh" "$(url large)" "$module")
        inst=$(run installer "$installer" "$(url large)" "$(url large)" -CASP "$module")
    fi
    read -r t rss _ <<<"$inst"
    inst_times+=("$t")
    inst_rss+=("$rss")
    read -r t _ <<<"$ref"
    ref_times+=("$t")
    printf 'round %d: xedabldn %6.2f s   script %6.2f s\n' "$i" "${inst_times[-1]}" "${ref_times[-1]}"
done
read -r _ small_rss _ <<<"$(run installer "$installer" "$(url small)" "$(url small)" -CASP "$module")"
reset

package_bytes=$(stat -c %s "$www/large/sp.tar.gz")
inst_median=$(printf '%s\n' "${inst_times[@]}" | median)
ref_median=$(printf '%s\n' "${ref_times[@]}" | median)
large_rss=$(printf '%s\n' "${inst_rss[@]}" | sort -n | tail -n 1)
echo
echo "whole service-pack run${signed:+, signed}, package of $package_bytes bytes, $rounds rounds (median)"
printf '  %-40s %7.2f s\n' "xedabldn -CASP" "$inst_median"
printf '  %-40s %7.2f s\n' "script (curl, ${signed:+openssl, sha256sum, }md5sum, tar, echo)" "$ref_median"
awk -v a="$inst_median" -v b="$ref_median" 'BEGIN {printf "  %-40s %7.3fx  (goal <= 1.05x)\n", "ratio", a / b}'
awk -v l="$large_rss" -v s="$small_rss" -v lm="$size_mib" -v sm="$small_mib" 'BEGIN {
    printf "  %-40s %7.1f MiB (goal < 32 MiB)\n", "peak memory, " lm " MiB package", l / 1024
    printf "  %-40s %7.1f MiB\n", "peak memory, " sm " MiB package", s / 1024 }'
