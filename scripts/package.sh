#!/usr/bin/env bash
# Builds a Release and makes the Debian package with CPack: build-package/dosemap_<version>_<arch>.deb.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/packages.sh"
bash "$root/scripts/deps.sh" "${build_packages[@]}" dpkg-dev file
cmake -S "$root" -B "$root/build-package" -DCMAKE_BUILD_TYPE=Release -DDOSEMAP_BUILD_TESTS=OFF
cmake --build "$root/build-package" -j2
(cd "$root/build-package" && cpack -G DEB)
ls "$root"/build-package/dosemap_*.deb
