#!/bin/sh
# Makes the signing test's files in <dir>: a test root certificate (root.cer), two code-signing
# certificates it issued (publisher, other) with their SHA-256 thumbprints (*.sha256), and copies
# of <program.exe>: unsigned.exe, publisher.exe and other.exe (signed through the build's own
# signing script), stranger.exe (signed by a self-signed certificate, stranger.sha256) and
# tampered.exe (publisher.exe with one byte of its code changed).
#   make_signed.sh <dir> <program.exe> <source dir>
set -e
dir="$1"
program="$(realpath "$2")"
source="$(realpath "$3")"
rm -rf "$dir"
mkdir -p "$dir"
cd "$dir"
quiet() { "$@" >/dev/null 2>&1 || { echo "failed: $*"; "$@"; exit 1; }; }
quiet openssl req -x509 -newkey rsa:2048 -nodes -keyout root.key -out root.pem -days 2 -subj "/CN=Dirvane Test Root" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign"
openssl x509 -in root.pem -outform DER -out root.cer
printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' >leaf.cnf
cp "$program" unsigned.exe
for who in publisher other; do
    quiet openssl req -newkey rsa:2048 -nodes -keyout $who.key -out $who.csr -subj "/CN=Dirvane Test $who"
    quiet openssl x509 -req -in $who.csr -CA root.pem -CAkey root.key -CAcreateserial -out $who.pem -days 2 \
        -extfile leaf.cnf
    quiet openssl pkcs12 -export -inkey $who.key -in $who.pem -certfile root.pem -out $who.p12 -passout pass:test-password
    openssl x509 -in $who.pem -outform DER | sha256sum | cut -d' ' -f1 >$who.sha256
    cp "$program" $who.exe
    printf 'test-password' >password.txt
    cmake -DFILE=$who.exe -DPKCS12=$who.p12 -DPASSWORD_FILE=password.txt -DDESCRIPTION=Dirvane \
        -P "$source/cmake/sign-file.cmake"
done
# A self-signed code-signing certificate that no root vouches for.
quiet openssl req -x509 -newkey rsa:2048 -nodes -keyout stranger.key -out stranger.pem -days 2 \
    -subj "/CN=Dirvane Test stranger" -addext "extendedKeyUsage=codeSigning"
quiet openssl pkcs12 -export -inkey stranger.key -in stranger.pem -out stranger.p12 -passout pass:test-password
openssl x509 -in stranger.pem -outform DER | sha256sum | cut -d' ' -f1 >stranger.sha256
cp "$program" stranger.exe
cmake -DFILE=stranger.exe -DPKCS12=stranger.p12 -DPASSWORD=test-password -P "$source/cmake/sign-file.cmake"
cp publisher.exe tampered.exe
# One byte of the first section (the code), which the signature's digest covers.
printf '\377' | dd of=tampered.exe bs=1 seek=1280 conv=notrunc status=none
cmp -s publisher.exe tampered.exe && { echo "tampering changed nothing"; exit 1; }
osslsigncode verify -CAfile root.pem -in publisher.exe >/dev/null
echo "signed test files in $dir"
