#!/usr/bin/env bash
# Throwaway certificates for the TLS tests, made at build time into the build tree (never
# committed): an RSA and an ECDSA authority, a server identity under each, an authority
# the client does not trust with its own server identity, a PKCS#12 and a
# password-protected PEM identity.
set -euo pipefail
out=$1
mkdir -p "$out"
cd "$out"
subj="/CN=db.example.test/O=Example Company/OU=Databases"
days=3650

ca() {  # name keyopts...
  local name=$1; shift
  openssl genpkey "$@" -out "$name.key" 2>/dev/null
  openssl req -new -x509 -key "$name.key" -subj "/CN=$name test authority" -days $days \
    -out "$name.pem" 2>/dev/null
}
leaf() {  # name ca keyopts...
  local name=$1 ca=$2; shift 2
  openssl genpkey "$@" -out "$name.key" 2>/dev/null
  openssl req -new -key "$name.key" -subj "$subj" -out "$name.csr" 2>/dev/null
  openssl x509 -req -in "$name.csr" -CA "$ca.pem" -CAkey "$ca.key" -CAcreateserial \
    -days $days -out "$name.crt" 2>/dev/null
  cat "$name.crt" "$name.key" > "$name.pem"
}

rsa=(-algorithm RSA -pkeyopt rsa_keygen_bits:2048)
ec=(-algorithm EC -pkeyopt ec_paramgen_curve:P-256)
ca rsa_ca "${rsa[@]}"
ca ec_ca "${ec[@]}"
ca other_ca "${rsa[@]}"
leaf rsa_server rsa_ca "${rsa[@]}"
leaf ec_server ec_ca "${ec[@]}"
leaf other_server other_ca "${rsa[@]}"
openssl pkcs12 -export -in rsa_server.crt -inkey rsa_server.key -passout pass:p12secret \
  -out rsa_server.p12 2>/dev/null
openssl pkey -in rsa_server.key -aes256 -passout pass:pemsecret -out rsa_server_enc.key 2>/dev/null
cat rsa_server.crt rsa_server_enc.key > rsa_server_enc.pem
touch stamp
