#!/usr/bin/env bash
# Every C++ source and header of the tree follows the root .clang-format, as Debian's
# clang-format (14) applies it. Fix a failure with: clang-format -i FILE...
set -uo pipefail
root=${1:?source folder}
cd "$root" || exit 1
command -v clang-format >/dev/null || { echo "skipped: clang-format is missing"; exit 77; }
if [ -e .git ] && command -v git >/dev/null; then
    mapfile -t files < <(git ls-files '*.cpp' '*.h')
else
    mapfile -t files < <(find . -path './build*' -prune -o \( -name '*.cpp' -o -name '*.h' \) -print)
fi
[ "${#files[@]}" -gt 0 ] || { echo "no C++ files found"; exit 1; }
unformatted=()
for f in "${files[@]}"; do
    [ -f "$f" ] || continue
    clang-format --dry-run --Werror "$f" >/dev/null 2>&1 || unformatted+=("$f")
done
if [ "${#unformatted[@]}" -gt 0 ]; then
    printf 'not formatted: %s\n' "${unformatted[@]}"
    echo "${#unformatted[@]} of ${#files[@]} files; run: clang-format -i FILE..."
    exit 1
fi
echo "${#files[@]} files formatted"
