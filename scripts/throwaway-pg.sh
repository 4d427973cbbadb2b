# Sourced by scripts/test and scripts/bench: starts a throwaway PostgreSQL server listening on a
# Unix socket only, exports MOX_TEST_PGHOST / MOX_TEST_PGPORT / MOX_TEST_PGUSER for the programs
# that use it, and stops it (and removes its files) when the calling script exits.
#
# The server trusts whoever reaches its socket, so only the runner reaches it: the folder of the
# socket and the socket itself are 0700 (when root runs, the folder belongs to the postgres user
# the server runs as). The folder also records which run started the server (process id and
# start time); a server whose run is gone, killed before its exit trap could stop it, is stopped
# and removed by the next start.
# Usage: start_throwaway_pg PORT
#
# The encryption tests start servers of a second kind, which listen on 127.0.0.1 as well:
# start_throwaway_pg_tls PORT CERT KEY [SERVER_OPTIONS] — the socket as above (0700, trusted),
# and TCP port PORT on 127.0.0.1 with ssl = on, the server certificate CERT and its key KEY
# (copied into the server's folder), where pg_hba.conf admits only encrypted connections that
# sign in with a password (hostssl … scram-sha-256): no trust and no unencrypted connection over
# TCP. SERVER_OPTIONS (e.g. "-c lc_messages=ja_JP.UTF-8") go to the server as they are. Exports
# MOX_TEST_TLS_PGHOST (the socket folder, for setting up as postgres) and MOX_TEST_TLS_PGPORT.
# Any number of servers of either kind may run at once; all stop when the calling script exits.

# The start time of process $1 (field 22 of /proc/PID/stat, read after the command name), or
# nothing when there is no such process.
throwaway_pg_started() {
    local stat
    stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 0
    stat=${stat##*) }
    set -- $stat
    echo "${20}"
}

# Stops and removes the servers of this runner whose run has ended.
stop_orphaned_throwaway_pgs() {
    local dir pid started
    for dir in /tmp/mox-pg.*; do
        [ -d "$dir" ] && [ -f "$dir/run" ] || continue
        if [ "$(id -u)" -eq 0 ]; then
            [ "$(stat -c %U "$dir")" = postgres ] || continue
        else
            [ -O "$dir" ] || continue
        fi
        read -r pid started <"$dir/run" || continue
        [ -n "$pid" ] && [ "$(throwaway_pg_started "$pid")" = "$started" ] && continue
        if "${as_pg[@]}" "$pgbin/pg_ctl" -D "$dir/data" status >/dev/null 2>&1; then
            "${as_pg[@]}" "$pgbin/pg_ctl" -D "$dir/data" -m immediate stop >/dev/null 2>&1 ||
                continue
        fi
        echo "throwaway-pg: stopped the server left behind in $dir" >&2
        rm -rf "$dir"
    done
}

# The servers this script started, stopped by stop_throwaway_pg.
throwaway_pg_dirs=()

# Makes a new server folder with an initialised cluster in it; its path goes to $pgdir.
new_throwaway_pg() {
    pgbin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
    as_pg=()
    [ "$(id -u)" -eq 0 ] && as_pg=(runuser -u postgres --)
    stop_orphaned_throwaway_pgs
    pgdir=$(mktemp -d /tmp/mox-pg.XXXXXX)
    chmod 700 "$pgdir"
    echo "$$ $(throwaway_pg_started $$)" >"$pgdir/run"
    [ "$(id -u)" -eq 0 ] && chown postgres:postgres "$pgdir"
    throwaway_pg_dirs+=("$pgdir")
    trap stop_throwaway_pg EXIT
    "${as_pg[@]}" "$pgbin/initdb" -D "$pgdir/data" -U postgres -A trust -E UTF8 --no-locale \
        --no-sync >"$pgdir/initdb.log" 2>&1 || { cat "$pgdir/initdb.log"; exit 1; }
}

start_throwaway_pg() {
    local port=$1
    new_throwaway_pg
    "${as_pg[@]}" "$pgbin/pg_ctl" -D "$pgdir/data" -l "$pgdir/server.log" -w \
        -o "-c listen_addresses='' -k $pgdir -c unix_socket_permissions=0700 -p $port \
            -c fsync=off -c max_connections=200" \
        start >/dev/null
    export MOX_TEST_PGHOST="$pgdir" MOX_TEST_PGPORT=$port MOX_TEST_PGUSER=postgres
}

start_throwaway_pg_tls() {
    local port=$1 cert=$2 key=$3 extra=${4:-}
    new_throwaway_pg
    cp "$cert" "$pgdir/server.crt" && cp "$key" "$pgdir/server.key" || exit 1
    chmod 600 "$pgdir/server.key"
    [ "$(id -u)" -eq 0 ] && chown postgres:postgres "$pgdir/server.crt" "$pgdir/server.key"
    # The socket stays trusted (only the runner reaches it); TCP takes encrypted, password-checked
    # connections and nothing else.
    printf '%s\n' 'local all all trust' 'hostssl all all 127.0.0.1/32 scram-sha-256' |
        "${as_pg[@]}" tee "$pgdir/data/pg_hba.conf" >/dev/null
    "${as_pg[@]}" "$pgbin/pg_ctl" -D "$pgdir/data" -l "$pgdir/server.log" -w \
        -o "-c listen_addresses=127.0.0.1 -k $pgdir -c unix_socket_permissions=0700 -p $port \
            -c ssl=on -c ssl_cert_file=$pgdir/server.crt -c ssl_key_file=$pgdir/server.key \
            -c fsync=off -c max_connections=50 $extra" \
        start >/dev/null || { cat "$pgdir/server.log"; exit 1; }
    export MOX_TEST_TLS_PGHOST="$pgdir" MOX_TEST_TLS_PGPORT=$port
}

stop_throwaway_pg() {
    local dir
    for dir in "${throwaway_pg_dirs[@]}"; do
        "${as_pg[@]}" "$pgbin/pg_ctl" -D "$dir/data" -m immediate stop >/dev/null 2>&1 || true
        rm -rf "$dir"
    done
    throwaway_pg_dirs=()
}
