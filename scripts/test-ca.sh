#!/usr/bin/env bash
# Makes a throw-away certificate authority and a server certificate for 127.0.0.1 that it
# signed, for a loopback HTTPS edge. Nothing is installed anywhere: clients are given
# DIR/ca.pem. Usage: test-ca.sh DIR [NAME]   -> DIR/ca.pem, DIR/server.pem, DIR/server.key
set -eu
dir=$1
name=${2:-Qelt Test CA}
mkdir -p "$dir"
chmod 700 "$dir"
cd "$dir"
# The address is also named as a DNS name: Wine's WinHTTP matches a host only against those.
# RSA rather than EC: the oldest clients the launcher meets verify it everywhere.
openssl req -x509 -newkey rsa:2048 -sha256 -nodes -days 7 -keyout ca.key -out ca.pem \
    -subj "/O=Qelt Launcher tests/CN=$name" \
    -addext "basicConstraints=critical,CA:TRUE" \
    -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
openssl req -newkey rsa:2048 -sha256 -nodes -keyout server.key -out server.csr \
    -subj "/CN=127.0.0.1" 2>/dev/null
printf '%s\n' "basicConstraints=CA:FALSE" "keyUsage=critical,digitalSignature,keyEncipherment" \
    "extendedKeyUsage=serverAuth" "subjectAltName=IP:127.0.0.1,DNS:127.0.0.1,DNS:localhost" \
    >server.ext
openssl x509 -req -sha256 -days 7 -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial \
    -extfile server.ext -out server.pem 2>/dev/null
rm -f server.csr server.ext ca.srl
# The CA's key has done its work; without it nobody can sign with this authority again.
rm -f ca.key
chmod 644 ca.pem server.pem
chmod 600 server.key
