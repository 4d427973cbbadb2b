#!/bin/bash
# Each program started on databases that a newer release has upgraded (schema version 2) must
# refuse them before reading any table: a box naming both versions, exit code 1, the databases
# untouched. Checked for the payroll database and the environment database in turn, both
# programs, with a screenshot of the first box when SHOTS is given.
# Usage: newer_database_under_xvfb.sh MOX110 MOX030 MOXDB FONTCONFIG_FILE [SHOTS]. Exit 77
# (skipped) without the tools.
set -u
mox110=$1 mox030=$2 moxdb=$3 fonts=$4 shots=${5:-}
. "$(dirname "$0")/../support/xvfb_drive.sh"
xvfb_require sqlite3
xvfb_workdir
xvfb_demo_databases "$moxdb" "$fonts"
export MOX_SHOTS="$shots"

cat >"$work/drive.sh" <<'DRIVE'
#!/bin/bash
# refused CAPTION LOG COMMAND...: the program shows a box titled CAPTION, ends with 1 when it
# is answered, and never shows its main form.
. "$MOX_XVFB_DRIVE"
cd "$MOX_INI_DIR"
caption=$1 log=$2
shift 2
start_form "$caption" "$@" 2>"$log"
sleep 0.5
if [ -n "$MOX_SHOTS" ] && [ ! -e "$MOX_SHOTS" ]; then
    import -window root "$MOX_SHOTS"
fi
# The box is the only window: the main form of either program holds function-key buttons.
[ "$(xdotool search --onlyvisible --name "$caption" | wc -l)" = 1 ] || {
    echo "$caption: more than the box on screen"
    kill "$pid"
    exit 1
}
xdotool key Return
wait_for_exit "$pid" 30 "$caption: the program did not end after its box"
code=$?
[ "$code" = 1 ] || { echo "$caption: ended with $code, expected 1"; exit 1; }
DRIVE

fail=0
for db in mox.db moxenv.db; do
    sqlite3 "$work/data/$db" 'PRAGMA user_version = 2' || exit 1
    before=$(sqlite3 "$work/data/mox.db" 'select count(*) from GKKYUYO')
    for program in "$mox110:期末勤勉手当計算結果入力" "$mox030:個人別給与累計表印刷"; do
        binary=${program%%:*} caption=${program#*:}
        log="$work/$(basename "$binary").$db.log"
        xvfb_drive "$work/drive.sh" "$caption" "$log" "$binary" demo || fail=1
        # The box's text, as the program also writes it to standard error.
        if ! grep -q 'バージョン 2' "$log" || ! grep -q 'バージョン 1' "$log"; then
            echo "$caption on $db: the message does not name both versions:"
            cat "$log"
            fail=1
        fi
    done
    [ "$(sqlite3 "$work/data/$db" 'PRAGMA user_version')" = 2 ] ||
        { echo "$db: its version was changed"; fail=1; }
    [ "$(sqlite3 "$work/data/mox.db" 'select count(*) from GKKYUYO')" = "$before" ] ||
        { echo "$db: the payment table was changed"; fail=1; }
    sqlite3 "$work/data/$db" 'PRAGMA user_version = 1' || exit 1
done
exit $fail
