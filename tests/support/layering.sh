#!/usr/bin/env bash
# The layers read from the tree: base/ (QtCore only) under components/*, under common/, under the
# programs and tools. A header of a higher layer included from a lower one fails the test.
# With a link map (second argument, written by the build: "target dep dep ..." a line), the
# libraries without widgets must not reach Qt's Widgets, Gui or PrintSupport through anything
# they link, directly or further down.
set -euo pipefail
root=${1:?source folder}
links=${2:-}
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
[[ -d base/include/base ]] || { echo "base/ is not a top-level folder"; exit 1; }
grep -rqsE '#include <Qt(Widgets|Gui|Sql|PrintSupport)' base && { echo "base/ uses more than QtCore"; fail=1; }
check base components common mox110 mox030 tools
for c in components/*; do
    check "$c" common mox110 mox030 tools
done
check common mox110 mox030 tools

reach() { # target: every target and library it links, directly or further down
    awk -v start="$1" '
        { deps[$1] = $0 }
        END {
            queue[1] = start; n = 1; seen[start] = 1
            for (i = 1; i <= n; i++) {
                if (!(queue[i] in deps)) continue
                k = split(deps[queue[i]], d, " ")
                for (j = 2; j <= k; j++)
                    if (!(d[j] in seen)) { seen[d[j]] = 1; queue[++n] = d[j]; print d[j] }
            }
        }' "$links"
}
if [[ -n $links ]]; then
    [[ -r $links ]] || { echo "no link map at $links"; exit 1; }
    for lib in moxbase kordao kortax common_core mox110_core mox030_core; do
        grep -q "^$lib " "$links" || continue # not built in this configuration
        for gui in Qt6::Widgets Qt6::Gui Qt6::PrintSupport; do
            if reach "$lib" | grep -qxF "$gui"; then
                echo "$lib links $gui, directly or through what it links"
                fail=1
            fi
        done
    done
    # The check must see the libraries it guards: a map without the calculation is wrong.
    grep -q '^mox110_core ' "$links" || { echo "mox110_core is missing from $links"; fail=1; }
fi
exit $fail
