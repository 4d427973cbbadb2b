# Sourced by scripts/test: starts a private CUPS scheduler for the printer tests and stops it (and
# removes its files) when the calling script exits.
#
# Everything of the scheduler lives in one temporary folder: its configuration (ServerRoot),
# spool, cache, logs and the Unix socket it listens on. It opens no TCP port, browses nothing
# and shares nothing with a system scheduler. It serves three queues on the cups-pdf backend:
#   mox-b4          the cups-pdf printer as shipped (JIS B4 among its sizes, custom sizes too)
#   mox-b4-margins  fixed sizes only, and 12 pt (4.2 mm) on every edge of JIS B4 that the
#                   printer cannot reach, as an office printer has
#   mox-no-b4       fixed sizes only, JIS B4 not among them
# and exports MOX_TEST_CUPS_SERVER (the socket, for CUPS_SERVER), MOX_TEST_CUPS_PDF_DIR (where
# cups-pdf writes what it prints), MOX_TEST_PRINTER, MOX_TEST_PRINTER_MARGINS and
# MOX_TEST_PRINTER_NO_B4 (the queues).
# Without cupsd or cups-pdf, or when not run as root, it starts nothing and exports nothing, and
# the printer tests skip.
#
# cups-pdf reads its settings from /etc/cups/cups-pdf.conf, a path compiled into it (a device URI
# cups-pdf:/NAME makes it read /etc/cups/cups-pdf-NAME.conf instead). To leave the system's
# settings alone, the scheduler runs in a mount namespace of its own in which a private
# cups-pdf.conf is bound over that path; only the scheduler and the filters and backends it starts
# see it. Where no mount namespace can be made (a container without the right), the queues use
# cups-pdf:/NAME with a file /etc/cups/cups-pdf-NAME.conf of this run, removed again on exit.
# The backend is installed for root only (mode 0700): the scheduler must run as root, and it runs
# its filters as the user lp, so the folder is open to lp.
# Usage: start_throwaway_cups
start_throwaway_cups() {
    local cupsd=/usr/sbin/cupsd lpadmin=/usr/sbin/lpadmin backend=/usr/lib/cups/backend/cups-pdf
    local ppd=/usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd
    if [ "$(id -u)" -ne 0 ] || [ ! -x "$cupsd" ] || [ ! -x "$lpadmin" ] || [ ! -e "$backend" ] ||
        [ ! -r "$ppd" ]; then
        echo "throwaway-cups: no cupsd with cups-pdf, or not root: the printer tests skip"
        return 0
    fi
    cupsdir=$(mktemp -d /tmp/mox-cups.XXXXXX)
    chmod 755 "$cupsdir"
    cups_extra_conf=""
    local previous
    previous=$(trap -p EXIT | sed -E "s/^trap -- '(.*)' EXIT$/\1/")
    # shellcheck disable=SC2064 # the previous exit action is expanded now, on purpose
    trap "stop_throwaway_cups; $previous" EXIT

    mkdir "$cupsdir/conf" "$cupsdir/log" "$cupsdir/pdf" "$cupsdir/cups-pdf-spool" "$cupsdir/tmp"
    # The scheduler insists on an existing TempDir; the filters (user lp) write there.
    chgrp lp "$cupsdir/tmp"
    chmod 1770 "$cupsdir/tmp"
    cat >"$cupsdir/conf/cups-files.conf" <<EOF
ServerRoot $cupsdir/conf
RequestRoot $cupsdir/spool
TempDir $cupsdir/tmp
CacheDir $cupsdir/cache
StateDir $cupsdir/state
AccessLog $cupsdir/log/access_log
ErrorLog $cupsdir/log/error_log
PageLog $cupsdir/log/page_log
Printcap $cupsdir/state/printcap
SystemGroup root
PeerCred on
User lp
Group lp
EOF
    cat >"$cupsdir/conf/cupsd.conf" <<EOF
Listen $cupsdir/cups.sock
Browsing No
BrowseLocalProtocols none
WebInterface No
LogLevel debug
<Location />
  Order allow,deny
  Allow all
</Location>
EOF
    cat >"$cupsdir/conf/cups-pdf.conf" <<EOF
Out $cupsdir/pdf
AnonDirName $cupsdir/pdf
Spool $cupsdir/cups-pdf-spool
Log $cupsdir/log
GSTmp $cupsdir/tmp
Grp root
EOF
    # Variants of the driver's PPD. Both lose the custom sizes, which would take any paper.
    local fixed=(-e '/^\*VariablePaperSize/d' -e '/^\*MaxMedia/d'
        -e '/^\*NonUIOrderDependency.*CustomPageSize/d' -e '/^\*CustomPageSize/,/^\*End/d'
        -e '/^\*ParamCustomPageSize/d')
    sed "${fixed[@]}" -e '/JISB4/d' \
        -e 's/^\*NickName:.*/*NickName: "cups-pdf without JIS B4"/' "$ppd" >"$cupsdir/no-b4.ppd"
    sed "${fixed[@]}" -e 's/^\*HWMargins:.*/*HWMargins: 12 12 12 12/' \
        -e 's|^\*ImageableArea JISB4/\(.*\): .*|*ImageableArea JISB4/\1: "12 12 715 1017"|' \
        -e 's/^\*NickName:.*/*NickName: "cups-pdf with margins"/' "$ppd" >"$cupsdir/margins.ppd"

    local uri=cups-pdf:/
    local start=("$cupsd" -f -c "$cupsdir/conf/cupsd.conf" -s "$cupsdir/conf/cups-files.conf")
    if unshare --mount --propagation private -- true 2>/dev/null &&
        [ -f /etc/cups/cups-pdf.conf ]; then
        # shellcheck disable=SC2016 # expanded by the inner shell
        unshare --mount --propagation private -- sh -c \
            'mount --bind "$1" /etc/cups/cups-pdf.conf && shift && exec "$@"' \
            sh "$cupsdir/conf/cups-pdf.conf" "${start[@]}" </dev/null >"$cupsdir/log/cupsd.out" 2>&1 &
    else
        local name
        name=mox-test-$(basename "$cupsdir" | tr -c 'A-Za-z0-9\n' '-')
        cups_extra_conf=/etc/cups/cups-pdf-$name.conf
        cp "$cupsdir/conf/cups-pdf.conf" "$cups_extra_conf"
        uri=cups-pdf:/$name
        "${start[@]}" </dev/null >"$cupsdir/log/cupsd.out" 2>&1 &
    fi
    cupsd_pid=$!

    local _
    for _ in $(seq 1 50); do
        [ -S "$cupsdir/cups.sock" ] && CUPS_SERVER=$cupsdir/cups.sock lpstat -r >/dev/null 2>&1 && break
        kill -0 "$cupsd_pid" 2>/dev/null || break
        sleep 0.2
    done
    # The queues hand PDF to PostScript with pdftocairo: its fonts keep their text, so pdftotext
    # reads what was printed (the default renderer turns Qt's fonts into glyph pictures).
    local queue queue_ppd
    for queue in mox-b4 mox-b4-margins mox-no-b4; do
        case $queue in
        mox-b4) queue_ppd=$ppd ;;
        mox-b4-margins) queue_ppd=$cupsdir/margins.ppd ;;
        mox-no-b4) queue_ppd=$cupsdir/no-b4.ppd ;;
        esac
        if ! CUPS_SERVER=$cupsdir/cups.sock "$lpadmin" -p "$queue" -E -v "$uri" -P "$queue_ppd" \
            -o pdftops-renderer-default=pdftocairo 2>>"$cupsdir/log/lpadmin.err"; then
            echo "throwaway-cups: the private scheduler did not start or refused queue $queue"
            cat "$cupsdir/log/cupsd.out" "$cupsdir/log/lpadmin.err" "$cupsdir/log/error_log" \
                2>/dev/null
            exit 1
        fi
    done
    export MOX_TEST_CUPS_SERVER=$cupsdir/cups.sock MOX_TEST_CUPS_PDF_DIR=$cupsdir/pdf
    export MOX_TEST_PRINTER=mox-b4 MOX_TEST_PRINTER_MARGINS=mox-b4-margins
    export MOX_TEST_PRINTER_NO_B4=mox-no-b4
}

stop_throwaway_cups() {
    if [ -n "${cupsd_pid:-}" ]; then
        kill "$cupsd_pid" 2>/dev/null || true
        wait "$cupsd_pid" 2>/dev/null || true
    fi
    [ -n "${cups_extra_conf:-}" ] && rm -f "$cups_extra_conf"
    [ -n "${cupsdir:-}" ] && rm -rf "$cupsdir"
    return 0
}
