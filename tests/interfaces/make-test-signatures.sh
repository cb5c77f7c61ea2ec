#!/usr/bin/env bash
# Signs copies of a test module for the publisher-check tests:
#   make-test-signatures.sh MODULE.dll OUTDIR PUBLISHER
# OUTDIR receives the test roots as DER files and one signed copy per case, named
# <module>-<case>.dll. Keys and certificates are made once and reused, so a rebuilt module is
# signed under the same roots that earlier test runs installed.
set -euo pipefail
module=$1 out=$2 publisher=$3
keys=$out/test-signing
mkdir -p "$keys"
cd "$keys"

make_root() {  # name, subject
  [ -f "$1.pem" ] && return
  openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 3650 -keyout "$1.key" -out "$1.pem" -subj "/CN=$2" \
    -addext "basicConstraints=critical,CA:true" -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
}

make_leaf() {  # name, issuing root, subject, extended key usage
  [ -f "$1.pem" ] && return
  openssl req -newkey rsa:2048 -nodes -sha256 -keyout "$1.key" -out "$1.csr" -subj "/CN=$3" 2>/dev/null
  printf 'basicConstraints=CA:false\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=%s\n' "$4" >"$1.ext"
  openssl x509 -req -sha256 -days 3650 -in "$1.csr" -CA "$2.pem" -CAkey "$2.key" -set_serial "0x$(openssl rand -hex 8)" \
    -extfile "$1.ext" -out "$1.pem" 2>/dev/null
}

make_root trusted-root "ZEL Test Root"
make_root untrusted-root "ZEL Untrusted Test Root"
make_root user-root "ZEL User-Only Test Root"
make_leaf publisher trusted-root "$publisher" codeSigning
make_leaf other-publisher trusted-root "Someone Else" codeSigning
make_leaf server-auth trusted-root "$publisher" serverAuth
make_leaf untrusted-publisher untrusted-root "$publisher" codeSigning
make_leaf user-root-publisher user-root "$publisher" codeSigning

openssl x509 -in trusted-root.pem -outform DER -out "$out/TestSigningRoot.cer"
openssl x509 -in user-root.pem -outform DER -out "$out/TestUserRoot.cer"

base=$(basename "$module" .dll)
sign() {  # case, leaf, certificates to embed...
  local case=$1 leaf=$2
  shift 2
  cat "$@" >"$case.chain.pem"
  rm -f "$out/$base-$case.dll"
  osslsigncode sign -certs "$case.chain.pem" -key "$leaf.key" -h sha256 -in "$module" -out "$out/$base-$case.dll" >/dev/null
}
sign trusted publisher publisher.pem trusted-root.pem
sign other-publisher other-publisher other-publisher.pem trusted-root.pem
sign not-code-signing server-auth server-auth.pem trusted-root.pem
sign untrusted-root untrusted-publisher untrusted-publisher.pem untrusted-root.pem
sign leaf-only untrusted-publisher untrusted-publisher.pem
sign user-root user-root-publisher user-root-publisher.pem user-root.pem
