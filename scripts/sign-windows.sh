#!/usr/bin/env bash
# Signs Windows program files in place with osslsigncode (Authenticode, SHA-256):
#   SV_SIGN_CERT=cert.pem SV_SIGN_KEY=key.pem scripts/sign-windows.sh FILE...
# SV_SIGN_CERT holds the signing certificate (and any intermediate ones) in PEM form,
# SV_SIGN_KEY its private key. A file is replaced only once its signed copy is complete.
set -euo pipefail
: "${SV_SIGN_CERT:?the certificate to sign with}" "${SV_SIGN_KEY:?the key of the certificate}"
for file in "$@"; do
  rm -f "$file.signed"
  if ! osslsigncode sign -certs "$SV_SIGN_CERT" -key "$SV_SIGN_KEY" -h sha256 \
    -n "Sorvana Client" -in "$file" -out "$file.signed" >/dev/null; then
    rm -f "$file.signed"
    echo "sign-windows: cannot sign $file" >&2
    exit 1
  fi
  chmod --reference="$file" "$file.signed"
  mv -f "$file.signed" "$file"
done
