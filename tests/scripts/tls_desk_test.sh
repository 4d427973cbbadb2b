#!/usr/bin/env bash
# Desks on a server reached over TCP, as in an office: makes a CA and server certificates with
# openssl, starts two throwaway servers that take only encrypted, password-checked connections
# over TCP (scripts/throwaway-pg.sh, start_throwaway_pg_tls) — one with a certificate for
# "localhost", answering in Japanese when the ja_JP.UTF-8 locale exists, one with a certificate
# for another name — and runs the TlsDesk tests of kordao_test against them, once with the
# desk's own messages in English and once in Japanese (libpq translates its texts).
# Usage: tls_desk_test.sh SOURCE_DIR KORDAO_TEST. Ports: $MOX_TEST_TLS_BASE_PORT (default 54371)
# and the next one. Exit 77 (skipped) without the server programs or openssl.
set -uo pipefail
root=$(realpath "$1")
kordao_test=$(realpath "$2")
port=${MOX_TEST_TLS_BASE_PORT:-54371}
pgbin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
[ -x "$pgbin/initdb" ] || { echo "no PostgreSQL server programs: skipped"; exit 77; }
command -v openssl >/dev/null || { echo "no openssl: skipped"; exit 77; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
# ca NAME: a certificate authority NAME.crt / NAME.key.
ca() {
    openssl req -x509 -new -nodes -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -days 2 \
        -subj "/CN=$1" -keyout "$1.key" -out "$1.crt" 2>/dev/null
}
# server NAME DNS: a server certificate NAME.crt / NAME.key for the host name DNS, signed by "ca".
server() {
    openssl req -new -nodes -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -subj "/CN=$2" \
        -keyout "$1.key" -out "$1.csr" 2>/dev/null &&
        openssl x509 -req -in "$1.csr" -CA ca.crt -CAkey ca.key -CAcreateserial -days 2 \
            -extfile <(printf 'subjectAltName=DNS:%s\n' "$2") -out "$1.crt" 2>/dev/null
}
ca ca && ca stranger && server localhost localhost && server other db.elsewhere.example ||
    { echo "openssl could not make the certificates"; exit 1; }
cd / || exit 1 # the servers' user may not enter the work folder

. "$root/scripts/throwaway-pg.sh"
japanese=""
locale -a 2>/dev/null | grep -qix 'ja_JP\.utf-\?8' && japanese="-c lc_messages=ja_JP.UTF-8"
start_throwaway_pg_tls $((port + 1)) "$work/other.crt" "$work/other.key"
export MOX_TEST_TLS_OTHER_PGPORT=$MOX_TEST_TLS_PGPORT
start_throwaway_pg_tls "$port" "$work/localhost.crt" "$work/localhost.key" "$japanese"
# (Starting a server set the exit trap to stop the servers; the certificates go too.)
trap 'stop_throwaway_pg; rm -rf "$work"' EXIT
export MOX_TEST_TLS_CA=$work/ca.crt MOX_TEST_TLS_STRANGER_CA=$work/stranger.crt
[ -n "$japanese" ] || echo "no ja_JP.UTF-8 locale: the server answers in English"

fail=0
for lang in C.UTF-8 ${japanese:+ja_JP.UTF-8}; do
    echo "== desk messages in $lang"
    LC_ALL=$lang LANGUAGE= "$kordao_test" --gtest_filter='TlsDesk.*' --gtest_brief=1 || fail=1
done
exit $fail
