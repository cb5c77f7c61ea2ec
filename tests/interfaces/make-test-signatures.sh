#!/usr/bin/env bash
# Signs copies of test modules for the publisher-check tests:
#   make-test-signatures.sh OUTDIR PUBLISHER MODULE...
# OUTDIR receives the test roots as DER files and one signed copy of each module per case, named
# <module>-<case>.<ext>. Keys and certificates are made once and reused, so a rebuilt module is
# signed under the same roots that earlier test runs installed.
set -euo pipefail
out=$1 publisher=$2
shift 2
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

sign() {  # module, case, leaf, certificates to embed...
  local module=$1 case=$2 leaf=$3
  shift 3
  local name=${module##*/}
  local signed=$out/${name%.*}-$case.${name##*.}
  cat "$@" >"$case.chain.pem"
  rm -f "$signed"
  osslsigncode sign -certs "$case.chain.pem" -key "$leaf.key" -h sha256 -in "$module" -out "$signed" >/dev/null
}
for module in "$@"; do
  sign "$module" trusted publisher publisher.pem trusted-root.pem
  sign "$module" other-publisher other-publisher other-publisher.pem trusted-root.pem
  sign "$module" not-code-signing server-auth server-auth.pem trusted-root.pem
  sign "$module" untrusted-root untrusted-publisher untrusted-publisher.pem untrusted-root.pem
  sign "$module" leaf-only untrusted-publisher untrusted-publisher.pem
  sign "$module" user-root user-root-publisher user-root-publisher.pem user-root.pem
done
