#!/bin/bash
# Drives the real mox110 on an X server of its own, with keys only, on the demo district:
# select an employee entered by hand (HYOKBN 9), F11, change the salary and the term-end
# allowance, leave the box, F12, F10. The stored bonus record must hold the typed figures and the
# totals recalculated from them.
# Usage: entry_under_xvfb.sh MOX110 MOXDB FONTCONFIG_FILE. Exit 77 (skipped) without the tools.
set -u
mox110=$1 moxdb=$2 fonts=$3
. "$(dirname "$0")/../support/xvfb_drive.sh"
xvfb_require sqlite3
xvfb_workdir
xvfb_demo_databases "$moxdb" "$fonts"
db="$work/data/mox.db"
code=1101023
# The list holds every employee in code order (December lists pay class 4 too).
presses=$(sqlite3 "$db" "select count(*) + 1 from GKJINJI where SYOKCD < $code")

cat >"$work/drive.sh" <<'DRIVE'
#!/bin/bash
. "$MOX_XVFB_DRIVE"
cd "$MOX_INI_DIR"
start_form "期末勤勉手当計算結果入力" "$1" demo
for _ in $(seq 1 "$2"); do xdotool key Down; done
sleep 0.3
xdotool key F11
sleep 1.5
# The focus is on the health deduction class; salary is six boxes on (classes, four periods).
for _ in 1 2 3 4 5 6; do xdotool key Tab; done
xdotool key ctrl+a
xdotool type --delay 30 "460000"
# Six boxes on from the salary: the term-end allowance.
for _ in 1 2 3 4 5 6; do xdotool key Tab; done
xdotool key ctrl+a
xdotool type --delay 30 "1000000"
xdotool key Tab
sleep 0.5
xdotool key F12
sleep 1.5
xdotool key F10
wait_for_exit "$pid" 30 "the program did not end on F10"
DRIVE
xvfb_drive "$work/drive.sh" "$mox110" "$presses" || exit 1

row=$(sqlite3 -separator ' ' "$db" "select KYURYO, KIMATU, KINBEN, SSIKYU, KAZEIG, SYAGOK, SYOTOK,
    KOUGOK, SASIHK from GKKYUYO where SYOKCD = $code and KYUSYU = 2 and SKYUYM = 202612 and KYUSEQ = 0")
[ -n "$row" ] || { echo "no bonus record was saved"; exit 1; }
read -r kyuryo kimatu kinben ssikyu kazeig syagok syotok kougok sasihk <<<"$row"
echo "saved: $row"
fail=0
check() { [ "$2" = "$3" ] || { echo "$1 is $2, expected $3"; fail=1; }; }
check KYURYO "$kyuryo" 460000
check KIMATU "$kimatu" 1000000
check SSIKYU "$ssikyu" $((kimatu + kinben))
check KAZEIG "$kazeig" "$ssikyu"
check KOUGOK "$kougok" $((syotok + syagok))
check SASIHK "$sasihk" $((ssikyu - syagok - syotok))
exit $fail
