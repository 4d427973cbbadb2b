#!/bin/bash
# Two local users of one desk. "nobody" plants what another user of a shared PC could: links for
# the print files and the print folder, a form of her own, configuration files in a shared
# folder, and she tries to read the salary databases. The runner, at the desk, prints ledgers
# with mox030, starts mox110 and calculates with moxdb. Every attack must fail with the folder or
# file named, and the files the links point at must stay as they were.
# Usage: two_users_test.sh MOX030 MOX110 MOXDB FONTCONFIG_FILE. Exit 77 (skipped) when not run as
# root (only root can act as two users) or without the tools.
set -u
mox030=$1 mox110=$2 moxdb=$3 fonts=$4
[ "$(id -u)" -eq 0 ] || { echo "skipped: acting as two users needs root"; exit 77; }
. "$(dirname "$0")/../support/xvfb_drive.sh"
xvfb_require setpriv
if [ -e /etc/mox/MOX.INI ] || [ -e /etc/mox/MOXENV.INI ]; then
    echo "skipped: this machine has INI files in /etc/mox"
    exit 77
fi

xvfb_workdir
chmod 755 "$work"
fail() { echo "FAIL: $*"; exit 1; }
as_nobody() { setpriv --reuid=nobody --regid=nogroup --clear-groups -- "$@"; }

# The runner's home, open for reading as many homes are; the programs are installed by root.
home=$work/home
mkdir -p "$home" "$work/bin"
chmod 755 "$home"
cp "$mox030" "$mox110" "$moxdb" "$work/bin/"
# A program folder that is not the runner's own, as /usr/bin, so that ledgers go to the data
# folder's print folder when MOX.INI names none.
chown nobody "$work/bin"
unset MOX_INI_DIR
export HOME=$home XDG_CONFIG_HOME=$home/.config XDG_DATA_HOME=$home/.local/share
export FONTCONFIG_FILE=$fonts
cd "$home" || exit 1
"$work/bin/moxdb" init >/dev/null || fail "moxdb init"
"$work/bin/moxdb" demo >/dev/null 2>&1 || fail "moxdb demo"
config=$XDG_CONFIG_HOME/mox data=$XDG_DATA_HOME/mox
echo "the runner's own file" >"$home/important.txt"
chmod 644 "$home/important.txt"

# A folder everyone may write in, as /tmp; nobody's own folder in it; and a folder of hers that
# holds configuration files naming her database.
shared=$work/shared
mkdir "$shared" && chmod 1777 "$shared"
as_nobody bash -c "
    mkdir -m 755 '$shared/hers' '$shared/cwd' &&
    mkdir -m 777 '$shared/print' &&
    ln -s '$home/important.txt' '$shared/print/OVL.TMP' &&
    ln -s '$shared/hers/ledger.pdf' '$shared/print/Mox030.pdf' &&
    printf 'RM planted\r\nPE \r\n' >'$shared/print/Mox030p.ovl' &&
    for ini in MOX.INI MOXENV.INI; do
        printf '[Database]\nDriver=QSQLITE\nDatabase=$shared/hers/planted.db\n' >'$shared/cwd/'\$ini
    done" || fail "nobody could not plant her files"

# print_folder FOLDER: the [Print] section of the runner's MOX.INI names FOLDER (none: default).
print_folder() {
    sed -i '/^\[Print\]/,$d' "$config/MOX.INI"
    printf '[Print]\nOpen=0\n' >>"$config/MOX.INI"
    [ -n "$1" ] && printf 'Folder=%s\n' "$1" >>"$config/MOX.INI"
    return 0
}

# run_ledger DIR: mox030 started in DIR selects everyone (F1) and prints (F6); a message box is
# answered with Return. Sets $code (the exit status) and $said (what went to standard error).
run_ledger() {
    local dir=$1
    cat >"$work/drive.sh" <<'DRIVE'
#!/bin/bash
. "$MOX_XVFB_DRIVE"
cd "$1" || exit 99
start_form "個人別給与累計表印刷" "$2" demo 2>"$3"
xdotool key F1
sleep 0.5
xdotool key F6
# A refused print shows its message in a box first: Return answers it.
for _ in $(seq 1 20); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.5
    xdotool key Return 2>/dev/null
done
wait_for_exit "$pid" 60 "the program did not end"
DRIVE
    xvfb_drive "$work/drive.sh" "$dir" "$work/bin/mox030" "$work/said.txt"
    code=$?
    said=$(cat "$work/said.txt")
}

unchanged() {
    [ "$(cat "$home/important.txt")" = "the runner's own file" ] ||
        fail "$1: the runner's file was changed"
    [ ! -e "$shared/hers/ledger.pdf" ] || fail "$1: the ledger landed in nobody's folder"
    [ ! -e "$shared/hers/planted.db" ] || fail "$1: nobody's database was used"
}

# 1. A print folder others may write in, holding links for OVL.TMP and Mox030.pdf and a form.
print_folder "$shared/print"
run_ledger "$home"
[ "$code" -eq 1 ] || fail "a print folder others may write in: exit $code ($said)"
grep -qF "$shared/print" <<<"$said" || fail "the message does not name the folder: $said"
unchanged "a print folder others may write in"
[ "$(stat -c %U "$shared/print/OVL.TMP")" = nobody ] || fail "OVL.TMP was replaced"

# 2. The same folder closed to others but hers: another user's folder.
as_nobody chmod 755 "$shared/print"
run_ledger "$home"
[ "$code" -eq 1 ] || fail "another user's print folder: exit $code ($said)"
grep -qF "$shared/print" <<<"$said" || fail "the message does not name the folder: $said"
unchanged "another user's print folder"

# 3. The runner's data folder left open: nobody swaps the print folder for a link to hers.
print_folder ""
chmod 777 "$data"
rm -rf "$data/print"
as_nobody ln -s "$shared/hers" "$data/print" || fail "nobody could not plant the link"
run_ledger "$home"
[ "$code" -eq 1 ] || fail "a print folder swapped for a link: exit $code ($said)"
grep -qF "$data" <<<"$said" || fail "the message does not name the folder: $said"
unchanged "a print folder swapped for a link"
rm -f "$data/print"
chmod 700 "$data"

# 4. Started in nobody's folder that holds her MOX.INI and MOXENV.INI: the runner's own
# configuration is used, and the ledger prints into the runner's print folder.
run_ledger "$shared/cwd"
[ "$code" -eq 0 ] || fail "started in a foreign folder: exit $code ($said)"
[ -s "$data/print/Mox030.pdf" ] || fail "the ledger was not printed into $data/print"
unchanged "started in a foreign folder"
(cd "$shared/cwd" && "$work/bin/moxdb" calc 10025 >"$work/calc.txt" 2>&1) ||
    fail "moxdb calc in a foreign folder: $(cat "$work/calc.txt")"
grep -qx "nu1Kimatu=454101" "$work/calc.txt" || fail "moxdb calc did not use the runner's data"
unchanged "moxdb calc in a foreign folder"
cat >"$work/drive110.sh" <<'DRIVE'
#!/bin/bash
. "$MOX_XVFB_DRIVE"
cd "$1" || exit 99
start_form "期末勤勉手当計算結果入力" "$2" demo
kill "$pid"
DRIVE
xvfb_drive "$work/drive110.sh" "$shared/cwd" "$work/bin/mox110" ||
    fail "mox110 started in a foreign folder did not open the runner's database"
unchanged "mox110 started in a foreign folder"

# 5. nobody tries to read the databases and the ledger.
for f in "$data/mox.db" "$data/moxenv.db" "$data/print/Mox030.pdf" "$data/print/OVL.TMP"; do
    [ -e "$f" ] || fail "$f is missing"
    [ "$(stat -c %a "$f")" = 600 ] || fail "$f is not 0600: $(stat -c %a "$f")"
    as_nobody cat "$f" >/dev/null 2>&1 && fail "nobody could read $f"
done
for d in "$data" "$data/print" "$config"; do
    [ "$(stat -c %a "$d")" = 700 ] || fail "$d is not 0700: $(stat -c %a "$d")"
done
echo "every attack failed"
