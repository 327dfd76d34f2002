#!/usr/bin/env bash
# The test certificates for a run without openssl (the Windows tests under Wine), made here with
# openssl as tests/support/testcertificates.cpp makes them: RSA keys, valid for a day; self1..self4
# self-signed for 127.0.0.1; an authority "ca" and leaf-<host> certificates it issued.
#   scripts/windows/make-test-certificates.sh FOLDER
set -euo pipefail
out=${1:?folder}
mkdir -p "$out"
cd "$out"
ext() { # host, or nothing for the authority
    printf '[req]\ndistinguished_name = dn\n[dn]\n[ext]\n'
    if [ -z "$1" ]; then
        printf 'basicConstraints = critical,CA:TRUE\nkeyUsage = critical,keyCertSign,cRLSign\n'
        printf 'subjectKeyIdentifier = hash\n'
    else
        local kind=DNS
        [[ $1 =~ ^[0-9.]+$ ]] && kind=IP
        printf 'basicConstraints = CA:FALSE\nextendedKeyUsage = serverAuth\n'
        printf 'subjectAltName = %s:%s\n' "$kind" "$1"
    fi
}
req() { # kind subject name suffix
    openssl req "$1" -newkey rsa:2048 -nodes -days 1 -subj "$2" \
        -config "$3.cnf" -extensions ext -keyout "$3.key" -out "$3$4" 2>/dev/null
}
for n in 1 2 3 4; do
    ext 127.0.0.1 >"self$n.cnf"
    req -x509 /CN=127.0.0.1 "self$n" .pem
done
ext "" >ca.cnf
req -x509 "/CN=Torvane test authority" ca .pem
serial=100
for host in 127.0.0.1 downloads.example; do
    ext "$host" >"leaf-$host.cnf"
    req -new "/CN=$host" "leaf-$host" .csr
    openssl x509 -req -in "leaf-$host.csr" -CA ca.pem -CAkey ca.key -set_serial $((serial++)) \
        -days 1 -extfile "leaf-$host.cnf" -extensions ext -out "leaf-$host.pem" 2>/dev/null
done
