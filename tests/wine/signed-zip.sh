#!/usr/bin/env bash
# Packs the Windows zip the way `make windows` does when a certificate is given, with a
# throwaway code-signing certificate made here (its key behind a password file): each
# program in the zip carries a signature that osslsigncode verifies against that
# certificate, an unsigned program does not pass that check, and each signed program
# still runs under wine.
#   signed-zip.sh CMAKE PackZip.cmake STRIP PROGRAM.exe...
source "$(dirname "$0")/lib.sh"
cmake=$1
pack=$2
strip=$3
shift 3
for tool in openssl osslsigncode; do
    command -v "$tool" >/dev/null || { echo "$tool is not installed (make deps-windows)"; exit 1; }
done

printf 'throwaway\n' >"$work/password"
if ! openssl req -x509 -newkey rsa:2048 -days 2 -subj "/CN=Kordel test signer" \
        -addext keyUsage=critical,digitalSignature -addext extendedKeyUsage=codeSigning \
        -passout "file:$work/password" -keyout "$work/key.pem" -out "$work/cert.pem" \
        >"$work/openssl.log" 2>&1; then
    cat "$work/openssl.log"
    exit 1
fi
printf 'read me\r\n' >"$work/README.txt"
programs=$(IFS='|'; echo "$*")
"$cmake" -DZIP="$work/signed.zip" -DSTAGE="$work/stage" -DFOLDER=kordel \
    -DTEXTS="README.txt=$work/README.txt" -DPROGRAMS="$programs" -DSTRIP="$strip" \
    -DEPOCH=1700000000 -DSIGN_CERT="$work/cert.pem" -DSIGN_KEY="$work/key.pem" \
    -DSIGN_PASSWORD_FILE="$work/password" -P "$pack" || { echo "packing the signed zip failed"; exit 1; }
mkdir "$work/unpacked"
(cd "$work/unpacked" && "$cmake" -E tar xf "$work/signed.zip")

verify() { osslsigncode verify -CAfile "$work/cert.pem" -in "$1" >"$work/verify.log" 2>&1; }

prepare_prefix
for program in "$@"; do
    name=$(basename "$program")
    signed="$work/unpacked/kordel/$name"
    if [ ! -f "$signed" ]; then
        fail "$name is not in the zip"
        continue
    fi
    if verify "$signed" && grep -q "Signature verification: ok" "$work/verify.log"; then
        pass "$name: the signature verifies"
    else
        fail "$name: osslsigncode verify refused the signature:"
        sed 's/^/    /' "$work/verify.log"
    fi
    if verify "$program"; then fail "$name: the unsigned program passed the check"; else
        pass "$name: the unsigned program does not pass the check"
    fi
    # Into a file: wine's helper processes (explorer.exe for a window program) keep a
    # pipe open after the program itself has ended.
    "$WINE" "$signed" --version >"$work/version.out" 2>&1 || true
    version=$(tr -d '\r' <"$work/version.out" | grep -m1 "^${name%.exe} " || true)
    if [[ $version == "${name%.exe} "[0-9]*" (firmware "* ]]; then
        pass "$name: the signed program runs: $version"
    else
        fail "$name --version under wine printed:"
        sed "s/^/    /" "$work/version.out"
    fi
done
finish
