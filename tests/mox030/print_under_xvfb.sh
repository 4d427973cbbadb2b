#!/bin/bash
# Drives the real program on an X server of its own: demo data, F1 (select everyone), F6 (print).
# The program must end by itself and leave OVL.TMP and Mox030.pdf in its own folder.
# Usage: print_under_xvfb.sh MOX030 MOXDB FONTCONFIG_FILE. Exit 77 (skipped) without the tools.
set -u
mox030=$1 moxdb=$2 fonts=$3
for tool in xvfb-run xdotool; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool is missing"; exit 77; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin" "$work/data" "$work/run"
cp "$mox030" "$work/bin/"
export MOX_INI_DIR="$work/data" FONTCONFIG_FILE="$fonts" XDG_RUNTIME_DIR="$work/run"
unset QT_QPA_PLATFORM
chmod 700 "$work/run"
"$moxdb" init --dir "$work/data" >/dev/null || exit 1
"$moxdb" demo >/dev/null 2>&1 || exit 1
# No PDF viewer is started on the test's X server.
printf '[Print]\nOpen=0\n' >>"$work/data/MOX.INI"

cat >"$work/drive.sh" <<'DRIVE'
#!/bin/bash
cd "$MOX_INI_DIR"
"$1" demo &
pid=$!
wid=$(timeout 30 xdotool search --sync --onlyvisible --name "個人別給与累計表印刷" | head -1)
[ -n "$wid" ] || { echo "the form did not appear"; kill $pid; exit 1; }
xdotool windowfocus --sync "$wid"
xdotool key F1
sleep 0.5
xdotool key F6
for _ in $(seq 1 120); do
    kill -0 $pid 2>/dev/null || break
    sleep 0.5
done
if kill -0 $pid 2>/dev/null; then
    echo "the program did not end after printing"
    kill $pid
    exit 1
fi
wait $pid
DRIVE
chmod +x "$work/drive.sh"
xvfb-run -a -s "-screen 0 1024x768x24" "$work/drive.sh" "$work/bin/mox030" || exit 1

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
echo "printed $pages pages"
