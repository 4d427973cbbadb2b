#!/usr/bin/env bash
# The shared part of the Xvfb drivers (tests/support/xvfb_drive.sh), without an X server:
# - wait_for_exit gives the program's own exit code, and for one still running at the limit
#   says why, ends it and gives 124;
# - xvfb_require skips the test (77) when a tool is missing;
# - xvfb_workdir makes a work folder with a runtime folder only the user may open, and removes it
#   when the script ends.
# Usage: xvfb_drive_test.sh SOURCE_DIR
set -u
lib="$(realpath "$1")/tests/support/xvfb_drive.sh"
fail=0
check() { [ "$2" = "$3" ] || { echo "$1: '$2', expected '$3'"; fail=1; }; }

(. "$lib"; sh -c 'sleep 0.2; exit 3' & wait_for_exit $! 5 "unused") >/dev/null
check "the exit code of a program that ended" $? 3

said=$(. "$lib"; sleep 30 & p=$!; wait_for_exit $p 1 "did not end"; echo "rc=$? alive=$(kill -0 $p 2>/dev/null && echo yes || echo no)")
check "a program still running" "$said" $'did not end\nrc=124 alive=no'

said=$(. "$lib"; xvfb_require no-such-tool-here; echo "went on")
check "a missing tool" "$?/$said" "77/skipped: no-such-tool-here is missing"

folder=$(. "$lib"; xvfb_workdir; echo "$work $(stat -c %a "$work/run") $XDG_RUNTIME_DIR")
read -r work mode runtime <<<"$folder"
check "the runtime folder's mode" "$mode" 700
check "the runtime folder" "$runtime" "$work/run"
check "the work folder after the script" "$([ -e "$work" ] && echo kept || echo removed)" removed
exit $fail
