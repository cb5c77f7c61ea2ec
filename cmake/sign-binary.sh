#!/usr/bin/env bash
# Signs one finished binary in place with Authenticode. A binary that could not be signed is
# removed, so that the next build makes and signs it again instead of taking it as up to date.
#   sign-binary.sh --chain CHAIN.pem --key KEY.pem [--timestamp URL] BINARY
set -euo pipefail
chain= key= timestamp=
while [ $# -gt 0 ]; do
  case "$1" in
    --chain) chain=$2; shift 2 ;;
    --key) key=$2; shift 2 ;;
    --timestamp) timestamp=$2; shift 2 ;;
    --) shift; break ;;
    -*) echo "sign-binary.sh: unknown option $1" >&2; exit 2 ;;
    *) break ;;
  esac
done
[ -n "$chain" ] && [ -n "$key" ] && [ $# -eq 1 ] ||
  { echo "usage: sign-binary.sh --chain CHAIN --key KEY [--timestamp URL] BINARY" >&2; exit 2; }
binary=$1

sign=(osslsigncode sign -certs "$chain" -key "$key" -h sha256)
[ -z "$timestamp" ] || sign+=(-ts "$timestamp")
rm -f "$binary.signing"
if ! log=$("${sign[@]}" -in "$binary" -out "$binary.signing" 2>&1); then
  printf 'Signing %s failed:\n%s\n' "$binary" "$log" >&2
  rm -f "$binary" "$binary.signing"
  exit 1
fi
mv -f "$binary.signing" "$binary"
