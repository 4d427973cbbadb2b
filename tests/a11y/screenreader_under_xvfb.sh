#!/bin/bash
# A screen reader's view of both programs: screenreader_client.py, through AT-SPI alone, on an X
# server and a session bus of their own, with the demo databases.
# Usage: screenreader_under_xvfb.sh MOX110 MOX030 MOXDB FONTCONFIG_FILE. Exit 77 (skipped) only
# when a tool is missing: dbus-run-session, the accessibility bus, Debian's python3 with pyatspi.
set -u
mox110=$1 mox030=$2 moxdb=$3 fonts=$4
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../support/xvfb_drive.sh"
xvfb_require sqlite3 dbus-run-session
for tool in /usr/libexec/at-spi-bus-launcher /usr/libexec/at-spi2-registryd /usr/bin/python3; do
    [ -x "$tool" ] || { echo "skipped: $tool is missing"; exit 77; }
done
# Debian's python3, not one first on PATH: the AT-SPI client module is a Debian package.
/usr/bin/python3 -c 'import pyatspi' 2>/dev/null ||
    { echo "skipped: python3-pyatspi is missing"; exit 77; }
xvfb_workdir
xvfb_demo_databases "$moxdb" "$fonts"
# mox030 writes its print files next to itself.
mkdir -p "$work/bin"
cp "$mox030" "$work/bin/"
# No PDF viewer is started on the test's X server.
printf '[Print]\nOpen=0\n' >>"$work/data/MOX.INI"
unset DBUS_SESSION_BUS_ADDRESS AT_SPI_BUS_ADDRESS
# The X server stays up between clients (without -noreset it resets when its last client goes,
# and a program connecting just then is refused).
xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" dbus-run-session -- \
    /usr/bin/python3 "$here/screenreader_client.py" "$mox110" "$work/bin/mox030" "$work/data"
