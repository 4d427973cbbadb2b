#!/usr/bin/env bash
# The layers read from the tree: base/ (QtCore only) under components/*, under common/, under the
# programs and tools. A header of a higher layer included from a lower one fails the test.
set -euo pipefail
root=${1:?source folder}
cd "$root"
fail=0
headers_of() { # folder: the "mox/…" and "kor…/…" headers it provides
    find "$1" -path '*/include/*' -name '*.h' | sed 's|.*/include/||'
}
check() { # lower folder, higher folders...
    local lower=$1
    shift
    local higher
    for higher in "$@"; do
        while read -r h; do
            if grep -rqsF "#include \"$h\"" "$lower"; then
                echo "$lower includes $h of $higher"
                fail=1
            fi
        done < <(headers_of "$higher")
    done
}
[[ -d base/include/mox ]] || { echo "base/ is not a top-level folder"; exit 1; }
grep -rqsE '#include <Qt(Widgets|Gui|Sql|PrintSupport)' base && { echo "base/ uses more than QtCore"; fail=1; }
check base components common mox110 mox030 tools
for c in components/*; do
    check "$c" common mox110 mox030 tools
done
check common mox110 mox030 tools
exit $fail
