#!/bin/bash
# Two desks, one PostgreSQL database: the real mox110 runs twice on one X server, each copy as
# its own database login, and both call up the same employee's December 2026 bonus, which is not
# stored yet (F11, a new entry). Desk 1 saves (F12) first; desk 2 then saves the same new entry.
# What it checks:
#   - desk 1's save is written, with no message;
#   - desk 2's save is refused with a message box of its own (a second window of desk 2 captioned
#     「期末勤勉手当計算結果入力」); the whole screen is then saved as mox110-conflict.png in the
#     output folder;
#   - after Return closes the box, desk 2 is still running;
#   - the database then holds exactly one December 2026 bonus record of the employee, from
#     desk 1; desk 2 wrote nothing;
#   - desk 2 calls up what desk 1 saved, corrects it (health deduction charged) and saves; desk 1
#     calls it up again and deletes it (F5, Yes); both end on F10 with exit code 0;
#   - the audit table then holds, for the employee, desk 1's INSERT, desk 2's UPDATE (the health
#     insurance from 0 to the amount charged) and desk 1's DELETE, each under the desk's login,
#     and `moxdb audit --employee N` prints them with the old and new values.
# The desks reach the server as an office's desks do: over TCP to "localhost", encrypted and
# verified (SslMode=verify-full, the office CA in SslRootCert=), each signing in with its own
# password (kept in a 0600 password file); while both run, every connection of theirs is
# encrypted and names the program, the account and the machine (application_name). The server
# is a throwaway one of the script's own (scripts/throwaway-pg.sh, start_throwaway_pg_tls) with
# a certificate for "localhost" made by openssl; the administrator sets up over its socket.
# Usage: twodesks_under_xvfb.sh MOX110 MOXDB FONTCONFIG_FILE [OUTPUT_FOLDER]. Port:
# $MOX_TEST_TWODESKS_PORT (default 54374). Exit 77 (skipped) without the server programs or the
# tools.
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
mox110=$(realpath "$1") moxdb=$(realpath "$2") fonts=$(realpath "$3") out=$(realpath -m "${4:-.}")
pgbin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
[ -x "$pgbin/initdb" ] || { echo "skipped: no PostgreSQL server programs"; exit 77; }
. "$root/tests/support/xvfb_drive.sh"
xvfb_require psql import openssl
payroll=mox_twodesks environment=mox_twodesks_env
desk1=mox_twodesks_desk1 desk2=mox_twodesks_desk2

xvfb_workdir
mkdir -p "$out" || exit 1
# The office CA and the server's certificate for "localhost".
(cd "$work" &&
    openssl req -x509 -new -nodes -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -days 2 \
        -subj "/CN=mox office CA" -keyout ca.key -out office-ca.crt &&
    openssl req -new -nodes -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 \
        -subj "/CN=localhost" -keyout server.key -out server.csr &&
    openssl x509 -req -in server.csr -CA office-ca.crt -CAkey ca.key -CAcreateserial -days 2 \
        -extfile <(printf 'subjectAltName=DNS:localhost\n') -out server.crt) >/dev/null 2>&1 ||
    { echo "openssl could not make the certificates"; exit 1; }
. "$root/scripts/throwaway-pg.sh"
cd / # the server's user may not enter the current folder
start_throwaway_pg_tls "${MOX_TEST_TWODESKS_PORT:-54374}" "$work/server.crt" "$work/server.key"
trap 'rm -rf "$work"; stop_throwaway_pg' EXIT
MOX_TEST_PGHOST=$MOX_TEST_TLS_PGHOST pgport=$MOX_TEST_TLS_PGPORT pguser=postgres
export MOX_TEST_PGHOST
# q DATABASE SQL: one statement as the superuser over the socket, unaligned, no headers.
q() {
    psql -X -q -At -v ON_ERROR_STOP=1 -h "$MOX_TEST_PGHOST" -p "$pgport" -U "$pguser" -d "$1" -c "$2"
}

# ini FOLDER USER [LINES]: the two INI files of one desk (or of the administrator).
ini() {
    mkdir -p "$1"
    local name file
    for name in "MOX.INI:$payroll" "MOXENV.INI:$environment"; do
        file=${name%%:*}
        printf '[Database]\nDriver=QPSQL\nDatabase=%s\nUser=%s\n%s' "${name#*:}" "$2" "$3" \
            >"$1/$file"
    done
}
# The administrator sets up over the socket; the desks come over TCP, encrypted and verified.
ini "$work/admin" "$pguser" "Host=$MOX_TEST_PGHOST"$'\n'"Port=$pgport"$'\n'
for n in 1 2; do
    eval "role=\$desk$n"
    ini "$work/desk$n" "$role" "Host=localhost"$'\n'"Port=$pgport"$'\n'"SslMode=verify-full"$'\n'"SslRootCert=office-ca.crt"$'\n'
    cp "$work/office-ca.crt" "$work/desk$n/"
    echo "localhost:$pgport:*:$role:secret-$n" >"$work/desk$n/pgpass"
    chmod 600 "$work/desk$n/pgpass"
done
export FONTCONFIG_FILE="$fonts"
MOX_INI_DIR="$work/admin" "$moxdb" init >/dev/null || { echo "moxdb init failed"; exit 1; }
MOX_INI_DIR="$work/admin" "$moxdb" demo >/dev/null 2>&1 || { echo "moxdb demo failed"; exit 1; }

# Each desk logs in as its own role, so the audit rows tell the desks apart.
for n in 1 2; do
    eval "role=\$desk$n"
    q postgres "CREATE ROLE $role LOGIN PASSWORD 'secret-$n'" >/dev/null || exit 1
    q "$payroll" "GRANT ALL ON ALL TABLES IN SCHEMA public TO $role;
                  GRANT ALL ON ALL SEQUENCES IN SCHEMA public TO $role" >/dev/null || exit 1
    q "$environment" "GRANT SELECT ON ALL TABLES IN SCHEMA public TO $role" >/dev/null || exit 1
done

# An ordinary employee (not entered by hand, not daily-paid, paid in November) whose December
# bonus is not stored: F11 makes a new entry without the view-or-correct dialog.
code=$(q "$payroll" 'SELECT j."SYOKCD" FROM "GKJINJI" j
    WHERE j."HYOKBN" <> 9 AND j."KYUKBN" <> 4
      AND EXISTS (SELECT 1 FROM "GKKYUYO" k WHERE k."SYOKCD" = j."SYOKCD"
                  AND k."KYUSYU" = 1 AND k."SKYUYM" = 202611)
      AND NOT EXISTS (SELECT 1 FROM "GKKYUYO" k WHERE k."SYOKCD" = j."SYOKCD"
                      AND k."KYUSYU" = 2 AND k."SKYUYM" = 202612)
    ORDER BY j."SYOKCD" LIMIT 1')
[ -n "$code" ] || { echo "the demo district has no employee without a December bonus"; exit 1; }
# The list holds every employee in code order (December lists pay class 4 too).
presses=$(q "$payroll" "SELECT count(*) + 1 FROM \"GKJINJI\" WHERE \"SYOKCD\" < $code")
bonus="FROM \"GKKYUYO\" WHERE \"SYOKCD\" = $code AND \"KYUSYU\" = 2 AND \"SKYUYM\" = 202612"
echo "employee $code, $presses presses down the list"

export work presses bonus payroll pgport pguser mox110 out code desk1 desk2
cat >"$work/drive.sh" <<'DRIVE'
#!/bin/bash
set -u
. "$MOX_XVFB_DRIVE"
caption="期末勤勉手当計算結果入力"
q() {
    psql -X -q -At -h "$MOX_TEST_PGHOST" -p "$pgport" -U "$pguser" -d "$payroll" -c "$1"
}
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done' EXIT
# fail TEXT: says why, keeps the screen as it was for whoever looks into it, and stops.
fail() {
    echo "$*"
    import -window root "$out/mox110-twodesks-failure.png" && echo "screen: $out/mox110-twodesks-failure.png"
    exit 1
}
# windows PID: the visible windows of one desk that carry the caption.
windows() { xdotool search --all --onlyvisible --pid "$1" --name "$caption" 2>/dev/null | sort; }

# start N: desk N in a folder of its own (INI files, runtime folder for the start-up guard).
start() {
    mkdir -p "$work/run$1"
    chmod 700 "$work/run$1"
    (cd "$work/desk$1" && MOX_INI_DIR="$work/desk$1" XDG_RUNTIME_DIR="$work/run$1" \
        PGPASSFILE="$work/desk$1/pgpass" exec "$mox110" demo) &
    pids[$1]=$!
    local wid=""
    for _ in $(seq 1 60); do
        wid=$(windows "${pids[$1]}" | head -1)
        [ -n "$wid" ] && break
        kill -0 "${pids[$1]}" 2>/dev/null || fail "desk $1 ended at start-up"
        sleep 0.5
    done
    [ -n "$wid" ] || fail "the form of desk $1 did not appear"
    eval "win$1=$wid"
}
# keys N KEY...: keys to desk N's form.
keys() {
    local w
    eval "w=\$win$1"
    shift
    xdotool windowraise "$w" windowfocus --sync "$w"
    xdotool key "$@"
}
# ended N: waits up to 30 s for desk N to end and checks its exit code.
ended() {
    wait_for_exit "${pids[$1]}" 30 "desk $1 did not end on F10"
    local rc=$?
    [ "$rc" = 0 ] || fail "desk $1 ended with exit code $rc"
}

start 1
start 2
down=()
for _ in $(seq 1 "$presses"); do down+=(Down); done
keys 1 "${down[@]}"
sleep 0.3
keys 1 F11
sleep 1.5
keys 2 "${down[@]}"
sleep 0.3
keys 2 F11
# Desk 2 must have read before desk 1 saves, or it would get the view-or-correct dialog.
sleep 2.5
[ "$(q "SELECT count(*) $bonus")" = 0 ] || fail "a bonus record exists before any save"
# Both desks are connected now: over TCP, encrypted, each session naming who is connecting.
sessions=$(q "SELECT string_agg(DISTINCT a.usename || ' ' || host(a.client_addr) || ' ' || s.ssl || ' '
    || a.application_name, ', ') FROM pg_stat_activity a JOIN pg_stat_ssl s USING (pid)
    WHERE a.usename IN ('$desk1', '$desk2')")
echo "desk sessions: $sessions"
me="mox110 $(id -un)@$(hostname)"
[ "$sessions" = "$desk1 127.0.0.1 true $me, $desk2 127.0.0.1 true $me" ] ||
    fail "the desks' sessions are not encrypted TCP sessions named '$me'"

before1=$(windows "${pids[1]}")
keys 1 F12
saved=""
for _ in $(seq 1 30); do
    saved=$(q "SELECT count(*) $bonus")
    [ "$saved" = 1 ] && break
    sleep 0.5
done
[ "$saved" = 1 ] || fail "desk 1's save was not written"
sleep 1
[ "$(windows "${pids[1]}")" = "$before1" ] || fail "desk 1 showed a window on its save"

# newwindow N KEY: presses KEY on desk N and prints the window it opens (a message box).
newwindow() {
    local before w=""
    before=$(windows "${pids[$1]}")
    keys "$1" "$2"
    for _ in $(seq 1 30); do
        w=$(comm -13 <(echo "$before") <(windows "${pids[$1]}") | head -1)
        [ -n "$w" ] && break
        kill -0 "${pids[$1]}" 2>/dev/null || break
        sleep 0.5
    done
    echo "$w"
}

box=$(newwindow 2 F12)
kill -0 "${pids[2]}" 2>/dev/null || fail "desk 2 ended on its save instead of saying why"
[ -n "$box" ] || fail "desk 2 showed no message on its save"
eval "$(xdotool getwindowgeometry --shell "$box")"
boxsize="${WIDTH}x$HEIGHT"
eval "$(xdotool getwindowgeometry --shell "$win2")"
echo "message box $boxsize, form ${WIDTH}x$HEIGHT"
[ "$boxsize" != "${WIDTH}x$HEIGHT" ] || fail "the new window of desk 2 is not a message box"
sleep 0.5
import -window root "$out/mox110-conflict.png" || fail "no screenshot"
xdotool windowfocus --sync "$box"
xdotool key Return
for _ in $(seq 1 20); do
    windows "${pids[2]}" | grep -qx "$box" || break
    sleep 0.5
done
windows "${pids[2]}" | grep -qx "$box" && fail "the message box did not close on Return"
sleep 0.5
kill -0 "${pids[2]}" 2>/dev/null || fail "desk 2 ended after the message"

# dialog N: waits for desk N's view-or-correct dialog and answers F12 (correct).
dialog() {
    local d=""
    for _ in $(seq 1 20); do
        d=$(xdotool search --all --onlyvisible --pid "${pids[$1]}" --name "確認メッセージ" 2>/dev/null |
            head -1)
        [ -n "$d" ] && break
        sleep 0.5
    done
    [ -n "$d" ] || fail "desk $1 showed no dialog for the stored bonus"
    xdotool windowraise "$d" windowfocus --sync "$d"
    xdotool key F12
    # The call-up goes on once the dialog has gone; give it time to fill the screen.
    for _ in $(seq 1 20); do
        xdotool search --all --onlyvisible --pid "${pids[$1]}" --name "確認メッセージ" \
            >/dev/null 2>&1 || break
        sleep 0.5
    done
    sleep 1.5
}
# audited N: waits until the employee has N audit rows.
audited() {
    for _ in $(seq 1 30); do
        [ "$(q "SELECT count(*) FROM \"KORDAO_AUDIT\" WHERE \"SYOKCD\" = $code")" = "$1" ] && return
        sleep 0.5
    done
    fail "the employee has not $1 audit rows"
}

[ "$(q "SELECT count(*) $bonus")" = 1 ] || fail "not exactly one bonus record after the refusal"
audited 1

# Desk 2 discards its screen, calls up what desk 1 saved and corrects it: the health deduction
# class becomes 「1:控除する」, which recalculates the deductions, and F12 saves.
keys 2 F4
sleep 1
keys 2 "${down[@]}"
sleep 0.3
keys 2 F11
dialog 2
keys 2 Down
sleep 0.5
keys 2 F12
audited 2
keys 2 F10
ended 2

# Desk 1 calls it up again and deletes it (F5, Return answers 「はい」 in the question box).
keys 1 "${down[@]}"
sleep 0.3
keys 1 F11
dialog 1
question=$(newwindow 1 F5)
[ -n "$question" ] || fail "desk 1 did not ask before deleting"
xdotool windowraise "$question" windowfocus --sync "$question"
xdotool key Return
audited 3
keys 1 F10
ended 1
DRIVE
xvfb_drive "$work/drive.sh" || exit 1
echo "screenshot: $out/mox110-conflict.png"

fail=0
check() { [ "$2" = "$3" ] || { echo "$1 is '$2', expected '$3'"; fail=1; }; }
check "the number of bonus records" "$(q "$payroll" "SELECT count(*) $bonus")" 0
check "the audit rows of the employee" "$(q "$payroll" "SELECT string_agg(\"TABLENAME\" || ' ' ||
    \"ACTION\" || ' ' || \"DBUSER\", ', ' ORDER BY \"ID\") FROM \"KORDAO_AUDIT\"
    WHERE \"SYOKCD\" = $code")" "GKKYUYO INSERT $desk1, GKKYUYO UPDATE $desk2, GKKYUYO DELETE $desk1"
# Desk 2's correction charged the health insurance that desk 1's entry did not.
check "the health insurance before and after the correction" "$(q "$payroll" "SELECT c->>1 = '0'
    AND (c->>2)::numeric > 0 FROM \"KORDAO_AUDIT\", json_array_elements(\"CHANGES\"::json) c
    WHERE \"SYOKCD\" = $code AND \"ACTION\" = 'UPDATE' AND c->>0 = 'KENKO'")" t

if "$moxdb" help 2>/dev/null | grep -q '^ *moxdb audit'; then
    trail=$(MOX_INI_DIR="$work/admin" "$moxdb" audit --employee "$code" 2>&1)
    echo "moxdb audit --employee $code:"
    echo "$trail"
    for action in INSERT UPDATE DELETE; do
        grep -q "$action" <<<"$trail" || { echo "moxdb audit does not name the $action"; fail=1; }
    done
    grep -q 'KENKO: 0 → [1-9]' <<<"$trail" ||
        { echo "moxdb audit does not show the health insurance before and after"; fail=1; }
else
    echo "moxdb has no audit command: not checked"
fi
exit $fail
