#!/usr/bin/env bash
# Makes the development code-signing certificate of a build folder: a root CA and a code-signing
# leaf for the publisher, issued by it.
#   make-signing-certificate.sh OUTDIR PUBLISHER ROOT_COPY
# OUTDIR receives leaf.key, chain.pem (leaf, then root) and ZelDevelopmentRoot.cer (the root as
# DER), which is also copied to ROOT_COPY for the Wine prefixes to trust.
# Keys are made once and kept: every prefix that trusts this root stays valid across rebuilds. A
# file is only rewritten when its contents change, so that nothing signed with it is redone for
# nothing. Only the leaf is remade, when the publisher's name changes.
set -euo pipefail
out=$1 publisher=$2 root_copy=$3
mkdir -p "$out"
cd "$out"
umask 077

# replace FILE: FILE gets standard input, unless it already holds exactly that.
replace() {
  cat >"$1.new"
  if cmp -s "$1.new" "$1"; then rm -f "$1.new"; else mv -f "$1.new" "$1"; fi
}

if [ ! -f root.key ] || [ ! -f root.pem ]; then
  rm -f leaf.pem
  openssl req -x509 -newkey rsa:3072 -nodes -sha256 -days 7300 -keyout root.key -out root.pem \
    -subj "/CN=ZEL Development Root" \
    -addext "basicConstraints=critical,CA:true" -addext "keyUsage=critical,keyCertSign,cRLSign" \
    -addext "subjectKeyIdentifier=hash" 2>/dev/null
fi

# The leaf is kept while it still names the publisher and chains to the root.
if [ ! -f leaf.key ] || [ ! -f leaf.pem ] || [ "$(cat leaf.publisher 2>/dev/null)" != "$publisher" ] ||
   ! openssl verify -CAfile root.pem leaf.pem >/dev/null 2>&1; then
  rm -f leaf.key.new
  openssl req -newkey rsa:3072 -nodes -sha256 -keyout leaf.key.new -out leaf.csr -subj "/CN=$publisher" 2>/dev/null
  printf '%s\n' "basicConstraints=CA:false" "keyUsage=critical,digitalSignature" "extendedKeyUsage=codeSigning" \
    "subjectKeyIdentifier=hash" "authorityKeyIdentifier=keyid" >leaf.ext
  openssl x509 -req -sha256 -days 3650 -in leaf.csr -CA root.pem -CAkey root.key \
    -set_serial "0x$(openssl rand -hex 8)" -extfile leaf.ext -out leaf.pem 2>/dev/null
  mv -f leaf.key.new leaf.key
  printf '%s\n' "$publisher" >leaf.publisher
  rm -f leaf.csr leaf.ext
fi

cat leaf.pem root.pem | replace chain.pem
openssl x509 -in root.pem -outform DER | replace ZelDevelopmentRoot.cer
mkdir -p "$(dirname "$root_copy")"
cat ZelDevelopmentRoot.cer | replace "$root_copy"
chmod 644 chain.pem ZelDevelopmentRoot.cer "$root_copy"
touch certificate.stamp
