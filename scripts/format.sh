#!/usr/bin/env bash
# clang-format over every C++ file of the project; --check only reports.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files --cached --others --exclude-standard -- '*.cpp' '*.h' | sort -u)
[ ${#files[@]} -eq 0 ] && exit 0
existing=()
for f in "${files[@]}"; do [ -f "$f" ] && existing+=("$f"); done
if [ "${1:-}" = "--check" ]; then
    clang-format --dry-run --Werror "${existing[@]}"
else
    clang-format -i "${existing[@]}"
fi
