#!/usr/bin/env bash
# Every C++ file of the repository (product, tests, fuzz targets, benchmarks) is as
# .clang-format writes it, by Debian's clang-format 14.
set -u
root=$1
command -v clang-format-14 >/dev/null || { echo "SKIP: clang-format-14 is not installed"; exit 0; }
cd "$root" || exit 1
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  files=$(git ls-files '*.cc' '*.h')
else
  files=$(find . -path ./build\* -prune -o \( -name '*.cc' -o -name '*.h' \) -print)
fi
# shellcheck disable=SC2086
if ! clang-format-14 --dry-run --Werror $files; then
  echo "FAIL: the files above differ from .clang-format (clang-format-14 -i FILE writes them)"
  exit 1
fi
echo "format_test: $(echo "$files" | wc -l) files as .clang-format writes them"
