#!/usr/bin/env bash
# Runs a link command, then signs the binary it wrote, in place (sign-binary.sh), so that no
# unsigned copy of a module is ever left as a finished build output.
#   sign-after-link.sh --chain CHAIN.pem --key KEY.pem [--timestamp URL] -- LINK COMMAND...
# The binary is the link command's "-o" argument.
set -euo pipefail
signing=()
while [ $# -gt 0 ]; do
  case "$1" in
    --chain|--key|--timestamp) signing+=("$1" "$2"); shift 2 ;;
    --) shift; break ;;
    *) echo "sign-after-link.sh: unknown option $1" >&2; exit 2 ;;
  esac
done
[ ${#signing[@]} -ge 4 ] && [ $# -gt 0 ] ||
  { echo "usage: sign-after-link.sh --chain CHAIN --key KEY [--timestamp URL] -- LINK COMMAND..." >&2; exit 2; }

binary=
previous=
for argument in "$@"; do
  [ "$previous" = "-o" ] && binary=$argument
  previous=$argument
done
[ -n "$binary" ] || { echo "sign-after-link.sh: no -o in the link command" >&2; exit 2; }

"$@"
exec "$(dirname "${BASH_SOURCE[0]}")/sign-binary.sh" "${signing[@]}" "$binary"
