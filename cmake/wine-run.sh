#!/bin/sh
# Runs a Windows program under Wine with the MinGW runtime DLLs on its path.
#   wine-run.sh RUNTIME_DIRS PROGRAM [ARGUMENTS...]
# RUNTIME_DIRS is a colon-separated list of Unix directories.  Start the Wine
# server once beforehand (wineserver -p; wineboot -i): otherwise every run
# pays for booting the prefix.
set -e
dirs=$1
shift
WINEPATH="$(printf '%s' "$dirs" | tr ':' ';')${WINEPATH:+;$WINEPATH}"
WINEDEBUG=-all,err+module
export WINEPATH WINEDEBUG
exec wine "$@"
