#!/usr/bin/env bash
# Runs a Qt Test program built for Windows under Wine and prints its log. A Windows program
# without a console writes Qt Test's log to the debugger, so the log goes to a file instead.
# Arguments: wine test-program.exe
set -u
wine=$1 programa=$2
log=$(mktemp)
trap 'rm -f "$log"' EXIT
"$wine" "$programa" -o "$(winepath -w "$log" 2>/dev/null),txt"
codigo=$?
tr -d '\r' <"$log"
exit $codigo
