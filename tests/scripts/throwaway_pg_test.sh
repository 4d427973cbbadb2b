#!/usr/bin/env bash
# The throwaway PostgreSQL server of scripts/test and scripts/bench (scripts/throwaway-pg.sh):
# - its socket folder and socket are the runner's alone (0700): another local user cannot reach
#   the server, which trusts whoever connects;
# - a server left behind by a run killed before its exit trap is stopped by the next start, and
#   the next run's own server is stopped when that run ends.
# Usage: throwaway_pg_test.sh SOURCE_DIR [PORT]
set -uo pipefail
root=$(realpath "$1")
port=${2:-54369}
pgbin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
[ -x "$pgbin/initdb" ] || { echo "no PostgreSQL server programs: skipped"; exit 77; }
work=$(mktemp -d)
runner=
first=
as_pg=()
[ "$(id -u)" -eq 0 ] && as_pg=(runuser -u postgres --)
# Whatever the outcome, no server of this test outlives it.
cleanup() {
    [ -n "$runner" ] && kill -9 "$runner" 2>/dev/null
    if [ -n "$first" ] && [ -d "$first" ]; then
        "${as_pg[@]}" "$pgbin/pg_ctl" -D "$first/data" -m immediate stop >/dev/null 2>&1
        rm -rf "$first"
    fi
    rm -rf "$work"
}
trap cleanup EXIT
fail=0
mode() { stat -c %a "$1" 2>/dev/null; }
# True while process $1 runs (a stopped server may linger a moment as a zombie until reaped).
running() {
    local state
    state=$(awk '{print $3}' "/proc/$1/stat" 2>/dev/null)
    [ -n "$state" ] && [ "$state" != Z ]
}

# The first run starts its server, then is killed the way a run is killed from outside.
bash -c '. "$1/scripts/throwaway-pg.sh"; start_throwaway_pg "$2"; echo "$MOX_TEST_PGHOST" >"$3/first"
         exec sleep 600' _ "$root" "$port" "$work" &
runner=$!
for _ in $(seq 1 600); do
    [ -s "$work/first" ] && break
    kill -0 "$runner" 2>/dev/null || break
    sleep 0.1
done
first=$(cat "$work/first" 2>/dev/null)
[ -n "$first" ] || { echo "the first server did not start"; exit 1; }
postmaster=$(head -n 1 "$first/data/postmaster.pid")

[ "$(mode "$first")" = 700 ] || { echo "socket folder mode $(mode "$first"), not 700"; fail=1; }
socket=$first/.s.PGSQL.$port
[ "$(mode "$socket")" = 700 ] || { echo "socket mode $(mode "$socket"), not 700"; fail=1; }
if [ "$(id -u)" -eq 0 ] && id nobody >/dev/null 2>&1; then
    if runuser -u nobody -- "$pgbin/psql" -h "$first" -p "$port" -U postgres -d postgres \
        -Atc 'select 1' >/dev/null 2>&1; then
        echo "another local user (nobody) connected to the server as postgres"
        fail=1
    fi
fi

{
    kill -9 "$runner"
    wait "$runner"
} 2>/dev/null
runner=
running "$postmaster" || { echo "the server did not outlive its run"; exit 1; }

# The next run stops what the first left behind, and its own server when it ends.
bash -c '. "$1/scripts/throwaway-pg.sh"; start_throwaway_pg "$2"; echo "$MOX_TEST_PGHOST" >"$3/second"' \
    _ "$root" "$port" "$work" 2>"$work/second.err"
second=$(cat "$work/second" 2>/dev/null)
[ -n "$second" ] || { echo "the second server did not start"; cat "$work/second.err"; exit 1; }
if running "$postmaster"; then
    echo "the server left behind by the killed run still runs (process $postmaster)"
    fail=1
elif [ -d "$first" ]; then
    echo "the folder of the server left behind, $first, is still there"
    fail=1
fi
[ -d "$second" ] && { echo "$second is still there after its run ended"; fail=1; }
exit $fail
