#!/usr/bin/env bash
# The install rules, into a temporary DESTDIR: every file where a Debian user expects it, a valid
# desktop entry and MIME types, manual pages that man reads without a warning, and installed
# programs that run and tell their version.
set -u
source "$(dirname "${BASH_SOURCE[0]}")/check.sh"
build=$1
version=$2
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
DESTDIR=$stage cmake --install "$build" --prefix /usr >"$stage.log" 2>&1; check "cmake --install" 0 $?
root=$stage/usr
for file in bin/dosemap bin/dosemap-convert share/applications/dosemap.desktop \
    share/icons/hicolor/scalable/apps/dosemap.svg share/mime/packages/dosemap.xml \
    share/man/man1/dosemap.1.gz share/man/man1/dosemap-convert.1.gz share/doc/dosemap/README.md \
    share/doc/dosemap/copyright share/doc/dosemap/changelog.gz share/doc/dosemap/examples/drive.LOG \
    share/doc/dosemap/examples/DATA_0.csv; do
  [ -f "$root/$file" ]; check "installed $file" 0 $?
done
check "installed dosemap-convert --version" "dosemap-convert $version" "$("$root/bin/dosemap-convert" --version)"
check "installed dosemap --version" "dosemap $version" "$("$root/bin/dosemap" --version)"
out=$(cd "$stage" && "$root/bin/dosemap-convert" --summary -o sample.kmz "$root/share/doc/dosemap/examples/drive.LOG")
check "the installed sample converts" 0 $?
[[ $out == "read 121, kept 117,"* ]]; check "the installed sample's figures" 0 $?
if command -v desktop-file-validate >/dev/null; then
  check "desktop-file-validate" "" "$(desktop-file-validate "$root/share/applications/dosemap.desktop" 2>&1)"
fi
if command -v xmllint >/dev/null; then
  xmllint --noout "$root/share/mime/packages/dosemap.xml"; check "MIME types are well-formed" 0 $?
  xmllint --noout "$root/share/icons/hicolor/scalable/apps/dosemap.svg"; check "the icon is well-formed" 0 $?
fi
if command -v man >/dev/null; then
  for page in dosemap dosemap-convert; do
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$root/share/man/man1/$page.1.gz" 2>&1 >/dev/null)
    check "man --warnings $page" "" "$warnings"
    LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$root/share/man/man1/$page.1.gz" 2>/dev/null | grep -q "$version"
    check "man $page shows the version" 0 $?
  done
fi
checks_done install_test
