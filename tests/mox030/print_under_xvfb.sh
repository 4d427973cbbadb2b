#!/bin/bash
# Drives the real program on an X server of its own: demo data, F1 (select everyone), F6 (print).
# The program must end by itself and leave OVL.TMP and Mox030.pdf in its own folder.
# Usage: print_under_xvfb.sh MOX030 MOXDB FONTCONFIG_FILE. Exit 77 (skipped) without the tools.
set -u
mox030=$1 moxdb=$2 fonts=$3
. "$(dirname "$0")/../support/xvfb_drive.sh"
xvfb_require
xvfb_workdir
xvfb_demo_databases "$moxdb" "$fonts"
mkdir -p "$work/bin"
cp "$mox030" "$work/bin/"
# No PDF viewer is started on the test's X server.
printf '[Print]\nOpen=0\n' >>"$work/data/MOX.INI"

cat >"$work/drive.sh" <<'DRIVE'
#!/bin/bash
. "$MOX_XVFB_DRIVE"
cd "$MOX_INI_DIR"
start_form "個人別給与累計表印刷" "$1" demo
xdotool key F1
sleep 0.5
xdotool key F6
wait_for_exit "$pid" 60 "the program did not end after printing"
DRIVE
xvfb_drive "$work/drive.sh" "$work/bin/mox030" || exit 1

ovl="$work/bin/OVL.TMP"
[ -s "$ovl" ] || { echo "no OVL.TMP"; exit 1; }
[ -s "$work/bin/Mox030.pdf" ] || { echo "no Mox030.pdf"; exit 1; }
[ "$(head -n 1 "$ovl")" = $'ST 011001\r' ] || { echo "OVL.TMP does not start with ST"; exit 1; }
[ "$(tail -n 1 "$ovl")" = $'ED \r' ] || { echo "OVL.TMP does not end with ED"; exit 1; }
pages=$(grep -c $'^PE \r$' "$ovl")
[ "$pages" -gt 0 ] || { echo "OVL.TMP holds no page"; exit 1; }
# Salaries only for the user: 0600 files, and the databases' folder closed by moxdb init.
for f in "$ovl" "$work/bin/Mox030.pdf" "$work/data/mox.db" "$work/data/moxenv.db"; do
    [ "$(stat -c %a "$f")" = 600 ] || { echo "$f is not 0600"; exit 1; }
done
[ "$(stat -c %a "$work/data")" = 700 ] || { echo "$work/data is not 0700"; exit 1; }
# The checksum beside the PDF verifies, and the run's copy is kept in the archive of its year.
(cd "$work/bin" && sha256sum -c --quiet Mox030.pdf.sha256) || { echo "Mox030.pdf.sha256 fails"; exit 1; }
kept=$(ls "$work/bin/archive/2026/"Mox030-*.pdf 2>/dev/null | wc -l)
[ "$kept" = 1 ] || { echo "archive/2026 holds $kept copies"; exit 1; }
(cd "$work/bin/archive/2026" && sha256sum -c --quiet ./*.sha256) || { echo "archive copy fails its checksum"; exit 1; }
echo "printed $pages pages"
