#!/usr/bin/env bash
# Runs a link command, then signs the binary it wrote, in place, so that no unsigned copy of a
# module is ever left as a finished build output.
#   sign-after-link.sh --chain CHAIN.pem --key KEY.pem [--timestamp URL] -- LINK COMMAND...
# The binary is the link command's "-o" argument. A binary that could not be signed is removed,
# so the next build links and signs it again instead of taking it as up to date.
set -euo pipefail
chain= key= timestamp=
while [ $# -gt 0 ]; do
  case "$1" in
    --chain) chain=$2; shift 2 ;;
    --key) key=$2; shift 2 ;;
    --timestamp) timestamp=$2; shift 2 ;;
    --) shift; break ;;
    *) echo "sign-after-link.sh: unknown option $1" >&2; exit 2 ;;
  esac
done
[ -n "$chain" ] && [ -n "$key" ] && [ $# -gt 0 ] ||
  { echo "usage: sign-after-link.sh --chain CHAIN --key KEY [--timestamp URL] -- LINK COMMAND..." >&2; exit 2; }

binary=
previous=
for argument in "$@"; do
  [ "$previous" = "-o" ] && binary=$argument
  previous=$argument
done
[ -n "$binary" ] || { echo "sign-after-link.sh: no -o in the link command" >&2; exit 2; }

"$@"

sign=(osslsigncode sign -certs "$chain" -key "$key" -h sha256)
[ -z "$timestamp" ] || sign+=(-ts "$timestamp")
rm -f "$binary.signing"
if ! log=$("${sign[@]}" -in "$binary" -out "$binary.signing" 2>&1); then
  printf 'Signing %s failed:\n%s\n' "$binary" "$log" >&2
  rm -f "$binary" "$binary.signing"
  exit 1
fi
mv -f "$binary.signing" "$binary"
