#!/bin/bash
# Demonstration of the update installer on this machine, with nothing beyond
# it: installs what is missing, builds xedabldn, makes an update (a small
# tar.gz and its manifest with the right length, CRC-32 and MD5), serves it
# from a local nginx on loopback, runs the real xedabldn as the agent would,
# and shows what happened: the trace log, the files left in /var/tmp/, the
# module directory and the crontab line; it ends with xedabldn-report's
# account of the run.
#
# Everything runs inside tests/sandbox.sh: /var/tmp, /var/log, /usr/lib/Zelvano
# and /etc/crontab are private to the run, so the machine's own are untouched.
#
# usage: sudo bash scripts/demo.sh [--upgrade minor|major] [--cron] [--path-digest] [--signed]
#   (default)          a service pack, switch -CASP
#   --upgrade minor    a minor upgrade, switch -CAUPG with type=1 in clntdata.ini
#   --upgrade major    a major upgrade, switch -CAUPG with type=2 (starts cron)
#   --cron             let the real cron daemon fire the scheduled script and
#                      show its mark (waits up to about three minutes)
#   --path-digest      publish manifests as the older update sources do, with
#                      the MD5 of "/var/tmp" instead of the package's own
#   --signed           make a vendor key pair, install its public key on the
#                      machine and publish signed manifests (see docs/signing.md)
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$root/build-demo

heading() { printf '\n\033[1m==== %s ====\033[0m\n' "$*"; }
die() { echo "demo: $*" >&2; exit 1; }

usage() {
    sed -n '/^# usage/,/^set -euo/p' "${BASH_SOURCE[0]}" | sed '$d; s/^# \{0,1\}//' >&2
    exit 2
}

# ---- on the host: dependencies, build, then into the sandbox ------------------
outer() {
    local flow=servicepack cron=0 digest=content signed=0
    while [[ $# -gt 0 ]]; do
        case "$1" in
            --upgrade)
                [[ "${2:-}" == minor || "${2:-}" == major ]] || usage
                flow=$2
                shift 2
                ;;
            --cron) cron=1; shift ;;
            --path-digest) digest=path; shift ;;
            --signed) signed=1; shift ;;
            -h | --help) usage ;;
            *) usage ;;
        esac
    done
    [[ $(id -u) == 0 ]] || die "run as root (sudo bash scripts/demo.sh): the installer and the sandbox need it"

    heading "Debian packages"
    bash "$root/scripts/install-deps.sh"

    heading "Build (in $build)"
    mkdir -p "$build"
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DXEDA_BUILD_TESTS=OFF \
        -DXEDA_BUILD_BENCH=OFF >"$build/configure.log" 2>&1 ||
        { cat "$build/configure.log"; die "cmake configuration failed"; }
    cmake --build "$build" --target xedabldn xedabldn-report -j"$(nproc)" | tail -n 1

    heading "Sandbox"
    echo "private /var/tmp, /var/log, /run, /tmp, /usr/lib overlay, /etc/crontab copy, own loopback"
    export XEDA_SOURCE_DIR=$root XEDA_BINARY_DIR=$build
    "$root/tests/sandbox.sh" -- bash "$root/scripts/demo.sh" --inner "$flow" "$cron" "$digest" \
        "$signed" "$build/xedabldn/xedabldn" "$build/report/xedabldn-report"
}

# ---- inside the sandbox ----------------------------------------------------------
servers() { bash "$root/tests/fixtures/servers.sh" "$@"; }
make_update() { /usr/bin/python3 "$root/tests/fixtures/make_update.py" "$@"; }

readonly module_dir=/usr/lib/Zelvano/ClientAgent/
readonly config_dir=/usr/lib/Zelvano/ClientAgent/config/

# The scheduled scripts of the demonstration only leave a mark of their run.
marker_script() { # name
    printf '#!/bin/sh\necho "$(date "+%%F %%T") %s ran as $(id -un) with arguments: $*" >> /var/tmp/%s.ran\n' "$1" "$1"
}

# Per flow: switch, upgrade type, the packages to publish (make_update.py
# arguments, one update per line) and the script whose crontab line ends it.
describe_flow() { # flow
    case "$1" in
        servicepack)
            switch=-CASP type=""
            updates=("--kind sp --name servicepack_linux64.tar.gz --script kvlinxsp/kvacascr")
            scheduled=kvacascr
            ;;
        minor)
            switch=-CAUPG type=1
            updates=("--kind ca --name clientagent_linux64.tar.gz --script installation/kvuninstall_clagnt --script installation/rollbackCA.sh"
                     "--kind delta --name minorupgrade_linux64.tar.gz --script kvlinxsp/kvacascr")
            scheduled=kvuninstall_clagnt
            ;;
        major)
            switch=-CAUPG type=2
            updates=("--kind ca --name linuxUpgradePack64.tar.gz --script ClientBuild/x86_64/aclinux/kvinstall")
            scheduled=kvinstall
            ;;
    esac
}

# Turns "--script PATH" into "--script PATH=<marker script>".
publish() { # www-dir, make_update.py arguments
    local dir=$1 args=() word
    shift
    while [[ $# -gt 0 ]]; do
        word=$1
        shift
        if [[ $word == --script ]]; then
            args+=(--script "$1=$(marker_script "$(basename "$1")")")
            shift
        else
            args+=("$word")
        fi
    done
    make_update "$dir" "${args[@]}"
}

set_up_agent() { # type
    mkdir -p "$module_dir/bin" "$config_dir"
    echo "installed agent" >"$module_dir/bin/kvagent"
    printf '[SSL]\nSSL_VERIFY_CERT=1\nSSL_CERT_STORE_PATH=%s\n' "$FX_CA" >"$config_dir/sslConfig.ini"
    if [[ -n "$1" ]]; then
        printf '[DATA_FOR_UPGRADE]\ntype=%s\n' "$1" >"$config_dir/clntdata.ini"
    fi
}

show_update_source() { # www-dir
    local f
    echo "served by nginx from $1:"
    ls -l "$1"
    for f in "$1"/*.ini; do
        echo "--- $(basename "$f")"
        cat "$f"
    done
    echo "--- md5sum of the packages"
    (cd "$1" && md5sum -- *.tar.gz)
}

show_results() { # crontab lines before the run
    heading "Trace log /var/log/xedabldn.log"
    tr -d '\r' </var/log/xedabldn.log
    heading "Requests that reached the update source"
    cat "$FX_ACCESS_LOG"
    heading "Files left in /var/tmp/"
    find /var/tmp -mindepth 1 -printf '%M %10s  %p\n' | sort -k3
    heading "Module directory $module_dir"
    ls -l "$module_dir"
    if [[ -f /usr/lib/Zelvano/ClientAgentOld.tar.gz ]]; then
        heading "Archive of the installed agent /usr/lib/Zelvano/ClientAgentOld.tar.gz"
        tar -tzvf /usr/lib/Zelvano/ClientAgentOld.tar.gz
    fi
    heading "Lines the run added to /etc/crontab"
    tail -n +"$(($1 + 1))" /etc/crontab
}

wait_for_cron() { # script name
    local mark=/var/tmp/$1.ran waited=0
    heading "Waiting for cron to run $1 (up to 200 s)"
    while [[ ! -s $mark ]] && ((waited < 200)); do
        sleep 5
        waited=$((waited + 5))
        printf '\r%3d s, now %s' "$waited" "$(date +%T)"
    done
    echo
    [[ -s $mark ]] || { echo "cron did not run $1 within 200 s"; return 1; }
    echo "$mark:"
    cat "$mark"
}

# The vendor's key pair: the private half signs on the update source, the
# public half is what the machine trusts.
make_vendor_key() { # private key file
    openssl genpkey -algorithm ed25519 -out "$1"
    mkdir -p /usr/lib/Zelvano/updatekeys
    openssl pkey -in "$1" -pubout -out /usr/lib/Zelvano/updatekeys/vendor.pem
    echo "vendor key made; its public key installed as /usr/lib/Zelvano/updatekeys/vendor.pem:"
    cat /usr/lib/Zelvano/updatekeys/vendor.pem
}

# What the report makes of the log; its exit status is 0 for a scheduled run.
show_report() { # report
    local status=0
    heading "xedabldn-report (what the trace log says of the run)"
    "$1" || status=$?
    echo "exit status: $status"
}

inner() { # flow cron digest signed installer report
    local flow=$1 cron=$2 digest=$3 signed=$4 installer=$5 report=$6 switch type scheduled updates=() u sign=()
    describe_flow "$flow"
    eval "$(servers env)"
    local www=$FX_WWW/updates
    local url1=http://127.0.0.1:8080/updates url2=http://127.0.0.3:8080/updates

    heading "Update source"
    mkdir -p "$www"
    if [[ $signed == 1 ]]; then
        make_vendor_key "$FX_DIR/vendor.key"
        sign=(--sign "$FX_DIR/vendor.key")
    fi
    for u in "${updates[@]}"; do
        # shellcheck disable=SC2086  # one update's arguments, split on purpose
        publish "$www" $u $([[ $digest == path ]] && echo --path-digest) "${sign[@]}"
    done
    servers start-nginx
    show_update_source "$www"

    heading "Installed agent"
    set_up_agent "$type"
    find /usr/lib/Zelvano -type f -printf '%p\n'
    [[ -z "$type" ]] || { echo "--- clntdata.ini"; cat "$config_dir/clntdata.ini"; }
    if [[ $cron == 1 && $flow != major ]]; then
        /usr/sbin/cron
        echo "cron daemon started in the sandbox (pid $(pidof cron))"
    fi

    local crontab_lines status=0
    crontab_lines=$(wc -l </etc/crontab)
    # cron sees a changed /etc/crontab by its modification time in whole
    # seconds; the sandbox wrote its copy moments ago, and an append within
    # that same second would go unnoticed.
    [[ $cron == 1 ]] && sleep 1
    heading "Run: xedabldn $url1 $url2 $switch $module_dir"
    "$installer" "$url1" "$url2" "$switch" "$module_dir" || status=$?
    echo "exit status: $status"

    show_results "$crontab_lines"

    heading "Result"
    local added
    added=$(tail -n +"$((crontab_lines + 1))" /etc/crontab)
    if [[ $status != 0 || "$added" != *"/$scheduled 1 NULL"* ]]; then
        echo "FAILED: the run did not schedule $scheduled (see the trace log above)"
        show_report "$report"
        return 1
    fi
    echo "OK: $scheduled is scheduled through /etc/crontab; cron runs it as root"
    if [[ $cron == 1 ]]; then
        wait_for_cron "$scheduled" || status=1
    fi
    show_report "$report"
    return "$status"
}

if [[ "${1:-}" == --inner ]]; then
    shift
    inner "$@"
else
    outer "$@"
fi
