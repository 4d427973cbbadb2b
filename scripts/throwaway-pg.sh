# Sourced by scripts/test and scripts/bench: starts a throwaway PostgreSQL server listening on a
# Unix socket only, exports MOX_TEST_PGHOST / MOX_TEST_PGPORT / MOX_TEST_PGUSER for the programs
# that use it, and stops it (and removes its files) when the calling script exits.
# Usage: start_throwaway_pg PORT
start_throwaway_pg() {
    local port=$1
    pgbin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
    pgdir=$(mktemp -d /tmp/mox-pg.XXXXXX)
    chmod 755 "$pgdir"
    as_pg=()
    if [ "$(id -u)" -eq 0 ]; then
        chown postgres:postgres "$pgdir"
        as_pg=(runuser -u postgres --)
    fi
    trap stop_throwaway_pg EXIT
    "${as_pg[@]}" "$pgbin/initdb" -D "$pgdir/data" -U postgres -A trust -E UTF8 --no-locale \
        --no-sync >"$pgdir/initdb.log" 2>&1 || { cat "$pgdir/initdb.log"; exit 1; }
    "${as_pg[@]}" "$pgbin/pg_ctl" -D "$pgdir/data" -l "$pgdir/server.log" -w \
        -o "-c listen_addresses='' -k $pgdir -p $port -c fsync=off -c max_connections=200" \
        start >/dev/null
    export MOX_TEST_PGHOST="$pgdir" MOX_TEST_PGPORT=$port MOX_TEST_PGUSER=postgres
}

stop_throwaway_pg() {
    "${as_pg[@]}" "$pgbin/pg_ctl" -D "$pgdir/data" -m immediate stop >/dev/null 2>&1 || true
    rm -rf "$pgdir"
}
