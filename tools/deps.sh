#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when any is missing.
# With --build only what building the tool needs.
set -euo pipefail
pkgs="cmake g++ make pkg-config libftdi1-dev"
if [ "${1:-}" != "--build" ]; then
    pkgs="$pkgs googletest libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev
          man-db groff-base dpkg-dev"
fi
need=()
for pkg in $pkgs; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || need+=("$pkg")
done
if [ ${#need[@]} -gt 0 ]; then
    if [ "$(id -u)" != 0 ]; then
        echo "Missing packages: ${need[*]} (run as root, or install them with apt-get)" >&2
        exit 1
    fi
    echo "Installing: ${need[*]}"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi
