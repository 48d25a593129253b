#!/bin/bash
# Installs the Debian packages the build, the tests, the demonstration and the
# benchmarks need, only those that are missing. Run as root on Debian 12.
#
# Package services (nginx, cron, tinyproxy, danted) must not start on the
# host as a side effect: the tests and the demonstration start their own
# copies inside the sandbox. A policy-rc.d that refuses every start is in
# place for the duration of the install.
set -euo pipefail

packages=(
    # build
    g++ make cmake libgtest-dev libcurl4-openssl-dev clang-format git
    # fuzzing: clang and its libFuzzer runtime
    clang libclang-rt-14-dev
    # packages: CPack's Debian generator, its dependency scan, lintian
    dpkg-dev file lintian
    # benchmark references
    zlib1g-dev libssl-dev
    # the report's JSON output
    nlohmann-json3-dev
    # sandbox and the programs the installer runs
    util-linux iproute2 tar gzip procps sysvinit-utils init-system-helpers e2fsprogs
    # update source, proxies, cron, test PKI, scripted server, reference client
    nginx-light tinyproxy microsocks dante-server cron openssl python3 curl
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
        missing+=("$p")
    fi
done

if [[ ${#missing[@]} -eq 0 ]]; then
    echo "install-deps: all packages present"
    exit 0
fi

if [[ $(id -u) != 0 ]]; then
    echo "install-deps: missing packages (${missing[*]}); run as root to install them" >&2
    exit 1
fi

echo "install-deps: installing ${missing[*]}"
policy=/usr/sbin/policy-rc.d
created_policy=0
if [[ ! -e $policy ]]; then
    printf '#!/bin/sh\nexit 101\n' > "$policy"
    chmod 755 "$policy"
    created_policy=1
fi
remove_policy() { if [[ $created_policy == 1 ]]; then rm -f "$policy"; fi; }
trap remove_policy EXIT

export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
