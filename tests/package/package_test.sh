#!/bin/bash
# Builds the Debian package from the build tree (cpack), checks its files, modes, conffiles,
# Depends and desktop entries, runs lintian, then unpacks it into an empty root and, as an
# ordinary user with no variable of ours set (no MOX_INI_DIR, no FONTCONFIG_FILE), runs
# moxdb init, moxdb demo and mox030 from there as its desktop entry starts it (F1, F6 under Xvfb).
# An optimised build's programs, in the build tree and in the package, must carry Debian's
# hardening: stack protector, fortified functions, control flow protection, PIE, RELRO and
# BIND_NOW.
# Usage: package_test.sh BUILD_DIR SOURCE_DIR [BUILD_TYPE]. Exit 77 (skipped) without the tools.
set -u
build=$1 source=$2 build_type=${3:-}
for tool in cpack dpkg-deb lintian xvfb-run xdotool pdffonts setpriv readelf; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool is missing"; exit 77; }
done
if [ -e /etc/mox/MOX.INI ] || [ -e /etc/mox/MOXENV.INI ]; then
    echo "skipped: this machine has INI files in /etc/mox, so no user starts without one"
    exit 77
fi

work=$(mktemp -d)
trap 'chmod -R u+w "$work" 2>/dev/null; rm -rf "$work"' EXIT
chmod 755 "$work"
fail() { echo "FAIL: $*"; exit 1; }

# hardened PROGRAM: fails naming what PROGRAM lacks of the hardening that shows in a binary.
hardened() {
    local program=$1 dynamic
    readelf -h "$program" | grep -q 'Type: *DYN' || fail "$program is not position independent (PIE)"
    readelf -lW "$program" | grep -q GNU_RELRO || fail "$program has no RELRO segment"
    dynamic=$(readelf -dW "$program")
    grep -qE '\(FLAGS\).*BIND_NOW|\(FLAGS_1\).*NOW' <<<"$dynamic" ||
        fail "$program is not linked with BIND_NOW (-z now)"
    readelf --dyn-syms -W "$program" | grep -q '__stack_chk_fail' ||
        fail "$program has no stack protector"
    # Debian's own checker, where devscripts is installed, on the marks a binary can show. Its
    # fortify test needs one call whose buffer size is known when compiling, and its control flow
    # test the IBT/SHSTK note that the link drops because Debian 12's start files (Scrt1.o, crti.o)
    # carry none (no program linked here has it, psql neither): both are checked below, where
    # they are decided.
    if command -v hardening-check >/dev/null; then
        hardening-check --nofortify --nocfprotection "$program" ||
            fail "hardening-check finds $program lacking"
    fi
}
# Fortify leaves a mark in a binary only where a call's buffer size is known when compiling (C++
# copies mostly are not), stack clash protection none that can be told apart, and the control
# flow marking is dropped by the link when one system object lacks it: these are checked where
# they are decided, in every compile of the build.
fortified() {
    local commands=$build/compile_commands.json
    [ -f "$commands" ] || fail "no $commands"
    local total without
    total=$(grep -c '"command"' "$commands")
    without=$(grep '"command"' "$commands" | grep -vc -- '-D_FORTIFY_SOURCE=2')
    [ "$total" -gt 0 ] && [ "$without" -eq 0 ] ||
        fail "$without of $total sources are compiled without -D_FORTIFY_SOURCE=2"
    local flag
    for flag in -fstack-protector-strong -fstack-clash-protection -fcf-protection; do
        grep '"command"' "$commands" | grep -v -- "$flag" | grep -q . &&
            fail "sources are compiled without $flag"
    done
    # Every object the programs are linked from carries the control flow protection note.
    local object unmarked=0
    while IFS= read -r object; do
        readelf -nW "$object" | grep -q 'x86 feature: IBT, SHSTK' || {
            echo "no IBT/SHSTK note: $object"
            unmarked=$((unmarked + 1))
        }
    done < <(grep '"command"' "$commands" | grep -o ' -o [^ ]*\.o ' | awk -v b="$build" '{print b "/" $2}')
    [ "$unmarked" -eq 0 ] || fail "$unmarked objects are built without control flow protection"
    return 0
}
optimised=false
case "$build_type" in Release | RelWithDebInfo) optimised=true ;; esac
if $optimised; then
    fortified
    for program in mox110 mox030 moxdb; do hardened "$build/bin/$program"; done
fi

# ---- the package ----
cpack --config "$build/CPackConfig.cmake" -B "$work/pkg" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; fail "cpack"; }
debs=("$work"/pkg/mox_*_amd64.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "no single mox_<version>_amd64.deb"
deb=${debs[0]}

listing=$(dpkg-deb -c "$deb" | awk '{ print $1, $2, $6 }')
expect() { # MODE PATH: the package holds PATH (relative to /) with MODE, owned by root
    grep -qxF -- "$1 root/root ./$2" <<<"$listing" || fail "no $1 ./$2 in the package"
}
for program in mox110 mox030 moxdb; do expect -rwxr-xr-x "usr/bin/$program"; done
[ "$(grep -c ' \./usr/bin/.' <<<"$listing")" -eq 3 ] || fail "usr/bin holds more than the programs"
expect -rw-r--r-- usr/share/mox/Mox030p.ovl
expect -rw-r--r-- usr/share/mox/Moxchk.ovl
expect -rw-r--r-- usr/share/mox/fonts/fonts.conf
for csv in "$source"/data/tax/*/*.csv; do
    expect -rw-r--r-- "usr/share/mox/tax/${csv#"$source"/data/tax/}"
done
for program in mox110 mox030; do
    expect -rw-r--r-- "usr/share/applications/$program.desktop"
    expect -rw-r--r-- "usr/share/icons/hicolor/scalable/apps/$program.svg"
done
expect -rw-r--r-- etc/mox/MOX.INI.example
expect -rw-r--r-- etc/mox/MOXENV.INI.example
for page in moxdb mox110 mox030; do expect -rw-r--r-- "usr/share/man/man1/$page.1.gz"; done
expect -rw-r--r-- usr/share/doc/mox/copyright
! grep -qE '\.(a|o|h|so|pdf|TMP|db)$|_test|_bench' <<<"$listing" || fail "build leftovers packaged"

conffiles=$(dpkg-deb -I "$deb" conffiles)
grep -qx /etc/mox/MOX.INI.example <<<"$conffiles" || fail "MOX.INI.example is no conffile"
grep -qx /etc/mox/MOXENV.INI.example <<<"$conffiles" || fail "MOXENV.INI.example is no conffile"

depends=$(dpkg-deb -f "$deb" Depends)
for needed in libqt6core6 libqt6gui6 libqt6widgets6 libqt6sql6 libqt6printsupport6 \
    libqt6sql6-sqlite libqt6sql6-psql fonts-ipafont-gothic fonts-dejavu-core; do
    grep -qE "(^|, )$needed( |,|$)" <<<"$depends" || fail "Depends lacks $needed: $depends"
done
grep -qE "(^|, )postgresql-client \(>= 15\)(,|$)" <<<"$depends" ||
    fail "Depends lacks the PostgreSQL client tools of version 15 or later: $depends"

lint_root=()
[ "$(id -u)" -eq 0 ] && lint_root=(--allow-root)
lintian "${lint_root[@]}" "$deb" >"$work/lintian.log" 2>&1
if grep -q '^E: ' "$work/lintian.log"; then
    cat "$work/lintian.log"
    fail "lintian reports errors"
fi
if $optimised && grep -q 'hardening-' "$work/lintian.log"; then
    cat "$work/lintian.log"
    fail "lintian finds programs without hardening"
fi

# ---- unpacked into an empty root, run by an ordinary user ----
root="$work/root"
dpkg-deb -x "$deb" "$root" || fail "dpkg-deb -x"
if $optimised; then
    for program in mox110 mox030 moxdb; do hardened "$root/usr/bin/$program"; done
fi
# The installed font configuration finds the gothic under the name the forms ask for and the
# figure face of the numeric boxes under its own.
if command -v fc-match >/dev/null; then
    conf="$root/usr/share/mox/fonts/fonts.conf"
    [ "$(FONTCONFIG_FILE=$conf fc-match -f '%{family[0]}' 'ＭＳ ゴシック')" = IPAGothic ] ||
        fail "the installed fonts.conf does not resolve ＭＳ ゴシック to IPAGothic"
    [ "$(FONTCONFIG_FILE=$conf fc-match -f '%{family[0]}' 'DejaVu Sans Mono')" = "DejaVu Sans Mono" ] ||
        fail "the installed fonts.conf does not find DejaVu Sans Mono"
fi
# As /usr/bin, the programs' folder is not the user's to write.
chmod 555 "$root/usr/bin"
entry() { sed -n "s/^$2=//p" "$root/usr/share/applications/$1.desktop"; }
[ "$(entry mox110 Name)" = "期末勤勉手当計算結果入力" ] || fail "mox110's entry is not named"
[ "$(entry mox030 Name)" = "個人別給与累計表印刷" ] || fail "mox030's entry is not named"
# The shipped tax editions are read from the unpacked tree: an edition present only there shows.
cp -r "$root/usr/share/mox/tax/2026-01-01" "$root/usr/share/mox/tax/2099-01-01"

home="$work/home"
mkdir -m 700 "$home"
as_user=()
if [ "$(id -u)" -eq 0 ]; then
    chown 65534:65534 "$home"
    as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
fi
run() { # runs a command in the user's home as that user, with a login's environment only
    (cd "$home" && "${as_user[@]}" env -i HOME="$home" USER=mox LOGNAME=mox PATH=/usr/bin:/bin \
        LANG=C.UTF-8 "$@")
}

run "$root/usr/bin/moxdb" init >"$work/init.log" 2>&1 || { cat "$work/init.log"; fail "moxdb init"; }
[ -f "$home/.config/mox/MOX.INI" ] && [ -f "$home/.config/mox/MOXENV.INI" ] ||
    fail "moxdb init wrote no INI files under ~/.config/mox"
ls "$home"/.local/share/mox/*.db >/dev/null 2>&1 || fail "moxdb init made no databases in ~/.local/share/mox"
run "$root/usr/bin/moxdb" tax list | grep -q 2099-01-01 ||
    fail "moxdb init did not load the tax tables of its own prefix"
run "$root/usr/bin/moxdb" demo >"$work/demo.log" 2>&1 || { cat "$work/demo.log"; fail "moxdb demo"; }

# mox030 started as its desktop entry says, with the unpacked program in place of /usr/bin's.
read -r -a exec <<<"$(entry mox030 Exec)"
[ "${exec[0]}" = mox030 ] || fail "mox030's entry starts ${exec[0]}"
exec[0]="$root/usr/bin/mox030"
cat >"$work/drive.sh" <<'DRIVE'
#!/bin/bash
"$@" &
pid=$!
wid=$(timeout 30 xdotool search --sync --onlyvisible --name "個人別給与累計表印刷" | head -1)
[ -n "$wid" ] || { echo "the form did not appear"; kill $pid; exit 1; }
xdotool windowfocus --sync "$wid"
xdotool key F1
sleep 0.5
xdotool key F6
for _ in $(seq 1 240); do
    kill -0 $pid 2>/dev/null || break
    sleep 0.5
done
if kill -0 $pid 2>/dev/null; then
    echo "the program did not end after printing"
    kill $pid
    exit 1
fi
wait $pid
DRIVE
chmod 755 "$work/drive.sh"
run xvfb-run -a -s "-screen 0 1024x768x24" "$work/drive.sh" "${exec[@]}" || fail "mox030 run"

pdf="$home/.local/share/mox/print/Mox030.pdf"
[ -s "$pdf" ] || fail "no Mox030.pdf in ~/.local/share/mox/print"
[ "$(stat -c %a "$pdf")" = 600 ] || fail "Mox030.pdf has mode $(stat -c %a "$pdf"), not 600"
[ "$(stat -c %a "$(dirname "$pdf")")" = 700 ] || fail "the print folder is open to others"
# pdffonts: name type encoding emb sub uni object ID; the gothic must be embedded.
pdffonts "$pdf" | awk '$1 ~ /IPAGothic/ && $(NF-4) == "yes" { found = 1 } END { exit !found }' ||
    { pdffonts "$pdf"; fail "IPAGothic is not embedded in Mox030.pdf"; }
[ ! -e "$root/usr/bin/Mox030.pdf" ] && [ ! -e "$root/usr/bin/OVL.TMP" ] ||
    fail "print files were written beside the program"
echo "package $(basename "$deb") checked; lintian: $(grep -c '^W: ' "$work/lintian.log") warnings"
