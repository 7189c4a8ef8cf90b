#!/usr/bin/env bash
# Installs the .deb given (or the one in /root/in) on this machine and checks it as a user would:
# the version, a conversion of the installed sample, the desktop entry, the manual page, lintian.
# Meant for a fresh Debian 12: ../shared/tools/fresh-machine.sh with FRESH_COPY_IN set to the .deb.
set -eu
deb=${1:-$(ls /root/in/dosemap_*.deb | head -n 1)}
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q "$deb"
echo "== dosemap-convert --version: $(dosemap-convert --version)"
echo "== dosemap --version: $(dosemap --version)"
work=$(mktemp -d)
cd "$work"
dosemap-convert --summary -o sample.kmz /usr/share/doc/dosemap/examples/drive.LOG
cp /usr/share/doc/dosemap/examples/DATA_0.csv .
dosemap-convert --summary DATA_0 DATA_0
ls -l sample.kmz DATA_0.kml
apt-get install -y -q --no-install-recommends desktop-file-utils man-db lintian >/dev/null
echo "== desktop-file-validate: $(desktop-file-validate /usr/share/applications/dosemap.desktop 2>&1 && echo passed)"
echo "== man -w dosemap-convert: $(man -w dosemap-convert)"
echo "== lintian:"
lintian --no-tag-display-limit "$deb" || true
lintian "$deb" 2>&1 | grep -q '^E:' && { echo "lintian reported errors"; exit 1; }
echo "== package check passed"
