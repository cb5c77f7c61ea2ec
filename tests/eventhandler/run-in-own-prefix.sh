#!/usr/bin/env bash
# Runs a test program in a Wine prefix of its own, for tests that change machine-wide settings
# other tests of the shared prefix read. The prefix is kept between runs; its wineserver is ended.
#   run-in-own-prefix.sh <source root> <prefix folder> [wine-run options] <program> [args...]
# The options (--trust, --keep-desktop) are handed to scripts/wine-run.
set -euo pipefail
root=$1 prefix=$2
shift 2
status=0
"$root/scripts/wine-run" --prefix "$prefix" "$@" || status=$?
WINEPREFIX="$(realpath -m "$prefix")" /usr/lib/wine/wineserver -k </dev/null >/dev/null 2>&1 || true
exit $status
