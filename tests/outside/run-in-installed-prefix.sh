#!/usr/bin/env bash
# Installs what is built into a fresh Wine prefix of its own with scripts/prefix, as an installer
# would, runs a test program there and ends that prefix's wineserver.
#   run-in-installed-prefix.sh <source root> <build folder> <prefix folder> <program> [args...]
set -euo pipefail
root=$1 build=$2 prefix=$3
shift 3
source "$root/scripts/lib.sh"
stop_wine() { zel_stop_wine "$prefix"; }
stop_wine
rm -rf "$prefix"
ZEL_BUILD=$build "$root/scripts/prefix" "$prefix"
# Wine cannot start its RPC service from the session that created the prefix, so activating a
# local server would wait for ever: the tests run in a new session.
stop_wine
status=0
"$root/scripts/wine-run" --prefix "$prefix" "$@" </dev/null || status=$?
stop_wine
exit $status
