#!/usr/bin/env bash
# Signs Windows programs in place (Authenticode, SHA-256) with the maintainer's certificate, given as
#   KELVO_SIGN_CERT and KELVO_SIGN_KEY      PEM files (KELVO_SIGN_PASSWORD if the key is encrypted), or
#   KELVO_SIGN_PKCS12 and KELVO_SIGN_PASSWORD
# tools/package.sh runs it on both kelvo.scr before packing them; makensis on the installer and on
# the uninstaller that the installer carries.
#
#   tools/sign.sh FILE...
set -euo pipefail

if [ -n "${KELVO_SIGN_PKCS12:-}" ]; then
    key=(-pkcs12 "$KELVO_SIGN_PKCS12")
elif [ -n "${KELVO_SIGN_CERT:-}" ] && [ -n "${KELVO_SIGN_KEY:-}" ]; then
    key=(-certs "$KELVO_SIGN_CERT" -key "$KELVO_SIGN_KEY")
else
    echo "sign: give KELVO_SIGN_CERT and KELVO_SIGN_KEY, or KELVO_SIGN_PKCS12 and KELVO_SIGN_PASSWORD" >&2
    exit 2
fi

# The password goes through a pipe: on the command line any process could read it.
password=()
[ -z "${KELVO_SIGN_PASSWORD:-}" ] || password=(-readpass /dev/stdin)
for file in "$@"; do
    # No timestamp, which needs the network: -ts <a timestamp server's URL> here adds one.
    printf '%s' "${KELVO_SIGN_PASSWORD:-}" | osslsigncode sign "${key[@]}" "${password[@]}" -h sha256 -n Kelvo \
        -in "$file" -out "$file.signed" >/dev/null
    mv "$file.signed" "$file"
    echo "sign: $file"
done
