# The shared part of the shell tests that drive a real program on an X server of their own
# (tests/*/*_under_xvfb.sh): the tools, the work folder, the X server, starting a form and waiting
# for the program to end. Sourced, never run:
#
#     . "$(dirname "$0")/../support/xvfb_drive.sh"
#     xvfb_require sqlite3                     # exit 77 (skipped) without a tool
#     xvfb_workdir                             # $work, removed at exit; $work/run for the guard
#     cat >"$work/drive.sh" <<'DRIVE'
#     . "$MOX_XVFB_DRIVE"                      # the same file, inside the X session
#     start_form "個人別給与累計表印刷" "$1" demo  # $pid and $wid, the window focused
#     xdotool key F10
#     wait_for_exit "$pid" 30 "the program did not end on F10"
#     DRIVE
#     xvfb_drive "$work/drive.sh" ARGS...      # the script under xvfb-run; its exit code
#
# Every function that fails says why on standard output.

# This file, for the driving script that runs under xvfb-run.
export MOX_XVFB_DRIVE="${BASH_SOURCE[0]}"

# xvfb_require TOOL...: exits 77 (the test is skipped) unless xvfb-run, xdotool and each TOOL
# are there.
xvfb_require() {
    local tool
    for tool in xvfb-run xdotool "$@"; do
        command -v "$tool" >/dev/null || { echo "skipped: $tool is missing"; exit 77; }
    done
}

# xvfb_workdir: $work, a new temporary folder removed when the script ends, with run/ (0700) as
# the programs' XDG_RUNTIME_DIR (their one-copy guard keeps its lock there). The offscreen
# platform of the test environment is dropped: the programs show real windows.
xvfb_workdir() {
    work=$(mktemp -d) || exit 1
    trap 'rm -rf "$work"' EXIT
    mkdir -p "$work/run"
    chmod 700 "$work/run"
    export XDG_RUNTIME_DIR="$work/run"
    unset QT_QPA_PLATFORM
}

# xvfb_demo_databases MOXDB FONTCONFIG_FILE: the demo databases in $work/data, found there by
# the programs (MOX_INI_DIR), which draw with the project's fonts.
xvfb_demo_databases() {
    mkdir -p "$work/data"
    export MOX_INI_DIR="$work/data" FONTCONFIG_FILE="$2"
    "$1" init --dir "$work/data" >/dev/null || exit 1
    "$1" demo >/dev/null 2>&1 || exit 1
}

# xvfb_drive SCRIPT ARG...: makes SCRIPT executable and runs it with ARGs on an X server of its
# own (1280x1024, 24 bits, or the screen XVFB_SCREEN names, e.g. 3200x2400x24); returns its exit
# code. The server is not reset when its last client leaves: a program started in that moment
# would find no display.
xvfb_drive() {
    chmod +x "$1"
    xvfb-run -a -s "-screen 0 ${XVFB_SCREEN:-1280x1024x24} -noreset" "$@"
}

# start_form CAPTION COMMAND...: starts COMMAND in the background ($pid) and waits up to 30 s for
# a visible window named CAPTION ($wid), which gets the focus. Exits 1 when none appears.
start_form() {
    local caption=$1
    shift
    "$@" &
    pid=$!
    wid=$(timeout 30 xdotool search --sync --onlyvisible --name "$caption" | head -1)
    [ -n "$wid" ] || { echo "the form did not appear"; kill "$pid"; exit 1; }
    xdotool windowfocus --sync "$wid"
}

# wait_for_exit PID SECONDS TEXT: waits up to SECONDS for the program to end and returns its exit
# code; still running then, it says TEXT, kills the program and returns 124.
wait_for_exit() {
    local _
    for _ in $(seq 1 $(($2 * 2))); do
        kill -0 "$1" 2>/dev/null || break
        sleep 0.5
    done
    if kill -0 "$1" 2>/dev/null; then
        echo "$3"
        kill "$1"
        wait "$1" 2>/dev/null
        return 124
    fi
    wait "$1"
}
