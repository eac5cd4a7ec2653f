#!/bin/bash
# Tests tools/package.sh on clean copies of the last commit (not the work tree):
#  - the same bytes: two copies lie in folders of different path lengths and are built one after
#    the other, the second under another time zone, locale, umask, user and host name; every
#    artefact and both kelvo.scr must be byte for byte the same, the programs' link time the
#    commit's, and each build's SHA256SUMS must pass sha256sum -c;
#  - signed: with a throwaway self-signed code-signing certificate (PKCS#12 with a password), both
#    kelvo.scr of the zip, the installer and the uninstaller in its payload must verify as signed by
#    that certificate, the installer must carry the zip's signed kelvo.scr, a byte changed after
#    signing must fail verification, removing the signature must give back the unsigned program,
#    and tools/sign.sh must sign with the PEM pair alike.
# Prints PASS or FAIL per case; exits nonzero when any fails.
#
#   tests/release/package_test.sh
set -uo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
commit=$(git -C "$root" rev-parse HEAD)
failed=0

check() {  # NAME COMMAND...: PASS when the command succeeds
    local name=$1 output
    shift
    if output=$("$@" 2>&1); then
        echo "PASS $name"
    else
        echo "FAIL $name:"
        sed 's/^/    /' <<<"$output"
        failed=1
    fi
}

copy_and_package() {  # FOLDER [COMMAND-PREFIX...]: a clean copy of the commit, packaged
    local folder=$1
    shift
    git clone -q "$root" "$folder" && git -C "$folder" checkout -q --detach "$commit" &&
        "$@" "$folder/tools/package.sh" >"$folder.log" 2>&1 || {
        echo "FAIL tools/package.sh in $folder:"
        tail -20 "$folder.log" | sed 's/^/    /'
        exit 1
    }
}

same_bytes() {  # FILE OTHER
    cmp -s "$1" "$2" && return
    echo "$(cmp -l "$1" "$2" 2>&1 | wc -l) bytes differ (or the sizes: $(stat -c %s "$1" "$2" | tr '\n' ' '));" \
        "the first, as offset and octal bytes:"
    cmp -l "$1" "$2" 2>&1 | head -8
    return 1
}

sums_pass() {  # FOLDER: its SHA256SUMS passes sha256sum -c
    (cd "$1" && sha256sum -c SHA256SUMS)
}

link_time_is_the_commits() {  # FILE
    local header stamp
    header=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
    stamp=$(od -An -tu4 -j$((header + 8)) -N4 "$1" | tr -d ' ')
    [ "$stamp" = "$(git -C "$root" log -1 --format=%ct)" ] || { echo "link time $stamp, not the commit's"; return 1; }
}

# ---------------------------------------------------------------- the same bytes

first=$work/a
second=$work/second-copy-in-a-longer-folder
began=$SECONDS
copy_and_package "$first"
elsewhere=(env TZ=Asia/Tokyo LC_ALL=ja_JP.UTF-8 USER=rebuilder LOGNAME=rebuilder HOME="$work")
if unshare --uts true 2>/dev/null; then
    elsewhere=(unshare --uts sh -c 'hostname kelvo-rebuilder && exec "$@"' sh "${elsewhere[@]}")
else
    echo "note: no UTS namespace here (unshare --uts), so both builds have the same host name"
fi
(umask 027 && copy_and_package "$second" "${elsewhere[@]}") || exit 1
echo "two copies packaged in $((SECONDS - began)) s"

check "an unsigned build says so" grep -x "package: no certificate .*: nothing is signed" "$first.log"
check "the same artefacts in both builds" \
    diff <(cd "$first/build/package" && ls) <(cd "$second/build/package" && ls)
for name in windows-x64/kelvo.scr windows-x86/kelvo.scr $(cd "$first/build" && ls package/*); do
    check "$name: byte for byte the same in both builds" same_bytes "$first/build/$name" "$second/build/$name"
done
check "both kelvo.scr carry the commit's time as their link time" \
    eval 'link_time_is_the_commits "$first/build/windows-x64/kelvo.scr" &&
          link_time_is_the_commits "$first/build/windows-x86/kelvo.scr"'
for folder in "$first" "$second"; do
    check "sha256sum -c SHA256SUMS in ${folder##*/}" sums_pass "$folder/build/package"
done
sed 's/^/    /' "$first/build/package/SHA256SUMS"

# ---------------------------------------------------------------- signed

password='a "pass" word'
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" -days 2 \
    -subj "/CN=Kelvo test signer" -addext "extendedKeyUsage=codeSigning" \
    -addext "keyUsage=critical,digitalSignature" 2>/dev/null
openssl pkcs12 -export -in "$work/cert.pem" -inkey "$work/key.pem" -out "$work/cert.p12" -passout "pass:$password"
serial=$(openssl x509 -in "$work/cert.pem" -noout -serial | sed 's/^serial=//')

signed_by_the_certificate() {  # FILE
    local output
    output=$(osslsigncode verify -CAfile "$work/cert.pem" -in "$1" 2>&1) || { echo "$output"; return 1; }
    grep -Eq "Serial : $serial$" <<<"$output" || { echo "not signed by $serial:"; echo "$output"; return 1; }
}

signed=$work/signed
copy_and_package "$signed" env KELVO_SIGN_PKCS12="$work/cert.p12" KELVO_SIGN_PASSWORD="$password"
package=$signed/build/package
setup=$(echo "$package"/*-setup.exe)
mkdir "$work/zip" "$work/payload"
unzip -q "$package"/*.zip -d "$work/zip"
# The programs in the installer's payload: one LZMA stream after its first header (SetCompressor
# /SOLID lzma), of blocks of a 32-bit length and their bytes. The uninstaller is the NSIS program.
python3 - "$setup" "$work/payload" <<'PY'
import lzma, os, struct, sys
data = open(sys.argv[1], "rb").read()
signature = b"\xef\xbe\xad\xdeNullsoftInst"
start = data.index(signature) + 24
props, dictionary = data[start], struct.unpack_from("<I", data, start + 1)[0]
lzma1 = {"id": lzma.FILTER_LZMA1, "lc": props % 9, "lp": props // 9 % 5, "pb": props // 45, "dict_size": dictionary}
payload = lzma.LZMADecompressor(lzma.FORMAT_RAW, filters=[lzma1]).decompress(data[start + 5:])
at = 0
while at + 4 <= len(payload):
    size = struct.unpack_from("<I", payload, at)[0]
    block = payload[at + 4:at + 4 + size]
    if block[:2] == b"MZ":
        name = "uninstaller.exe" if signature in block else "program-%d.exe" % at
        open(os.path.join(sys.argv[2], name), "wb").write(block)
    at += 4 + size
PY

for file in "$work/zip/x64/kelvo.scr" "$work/zip/x86/kelvo.scr" "$setup" "$work/payload/uninstaller.exe"; do
    check "${file#"$work"/}: signed by the throwaway certificate" signed_by_the_certificate "$file"
done
for file in "$work/zip/x64/kelvo.scr" "$work/zip/x86/kelvo.scr"; do
    check "the installer carries the zip's signed ${file#"$work"/zip/}" \
        sh -c 'for program in "$2"/program-*.exe; do cmp -s "$1" "$program" && exit 0; done; exit 1' \
        sh "$file" "$work/payload"
done
check "the signed kelvo.scr pass the release checks (the PE checksum among them)" \
    "$root/tools/check_release.py" "$work/zip/x64/kelvo.scr" "$work/zip/x86/kelvo.scr"
check "sha256sum -c SHA256SUMS in the signed build" sums_pass "$package"

check "removing the signature gives back the unsigned kelvo.scr" sh -c \
    'osslsigncode remove-signature -in "$1" -out "$3" >/dev/null && cmp "$2" "$3"' \
    sh "$work/zip/x64/kelvo.scr" "$signed/build/windows-x64/kelvo.scr" "$work/unsigned.scr"

cp "$work/zip/x64/kelvo.scr" "$work/changed.scr"
printf 'X' | dd of="$work/changed.scr" bs=1 seek=1280 conv=notrunc status=none
check "a byte changed after signing fails verification" \
    sh -c '! osslsigncode verify -CAfile "$1" -in "$2" >/dev/null 2>&1' sh "$work/cert.pem" "$work/changed.scr"

cp "$signed/build/windows-x64/kelvo.scr" "$work/pem.scr"
KELVO_SIGN_CERT="$work/cert.pem" KELVO_SIGN_KEY="$work/key.pem" "$signed/tools/sign.sh" "$work/pem.scr" >/dev/null
check "tools/sign.sh signs with the PEM certificate and key" signed_by_the_certificate "$work/pem.scr"

exit $failed
