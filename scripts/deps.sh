#!/usr/bin/env bash
# Installs what the build and the tests need from Debian's archive, skipping quickly what
# is already there. Usage: deps.sh [demo|test|bench|deploy]
set -u
want=(cmake ninja-build g++ g++-mingw-w64-x86-64 g++-mingw-w64-i686 googletest libgtest-dev
      libstb-dev zlib1g-dev libz-mingw-w64-dev libmicrohttpd-dev libsqlite3-dev libsodium-dev
      libpq-dev libssl-dev libicu-dev pkgconf sqlite3 wine64 xvfb imagemagick fonts-wine
      fonts-liberation fonts-dejavu-core fonts-dejavu-extra libgnutls30
      libxrender1 libxrandr2 libxi6 libxcursor1 libxcomposite1 libxfixes3 libxinerama1)
if [ "${1:-test}" = test ]; then
    want+=(libbenchmark-dev clang clang-format libclang-rt-14-dev openssl curl python3
           python3-nacl postgresql nginx)
fi
if [ "${1:-test}" = bench ]; then
    want+=(curl time python3 wrk nginx postgresql openssl)
fi
if [ "${1:-test}" = deploy ]; then
    want+=(curl python3 postgresql nginx openssl)
fi
missing=()
for pkg in "${want[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$pkg")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq || exit 1
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null || exit 1
