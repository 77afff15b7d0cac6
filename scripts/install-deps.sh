#!/usr/bin/env bash
# Installs the Debian 12 packages needed to build, test, fuzz, benchmark and demo oxlnetutils (clang and its
# sanitizer runtime are for the libFuzzer programs). Does nothing when
# every package is already present.
set -euo pipefail

packages=(
    g++ cmake ninja-build lld pkg-config make git python3 openssl ca-certificates
    libcurl4-openssl-dev libssl-dev libxml2-dev libc-ares-dev duktape-dev libpsl-dev publicsuffix
    libgtest-dev libgmock-dev googletest libbenchmark-dev libcpp-httplib-dev
    dnsmasq-base tinyproxy iproute2 procps curl
    clang libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
