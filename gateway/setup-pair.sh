#!/bin/sh
# Prepares two homes for a pair of gateways from one test PKI:
#   setup-pair.sh OUR_HOME PARTNER_HOME [BIN_DIR]
# OUR_HOME gets the test PKI (tmncert pki) with "operator"
# (operator@tarmin.test) as its own certificate; PARTNER_HOME trusts the same
# authorities, has "alice" (alice@tarmin.test) with her key as its own
# certificate and the operator's certificate in its address book. Both get
# the settings the S/MIME library reads (CertificateFlags 1: the signer's
# certificate travels in the signature).
set -eu
our=$1
partner=$2
bin=${3:-$(dirname "$0")/../build/asan/bin}
key='Software\KELVORIA\tarmin-operator'
mkdir -p "$our" "$partner"
chmod 700 "$our" "$partner"
pki=$our/pki

TARMIN_HOME=$our "$bin/tmncert" pki --out "$pki" > "$our/pki.list"
thumb() { awk -v n="$1" '$1 == n { print $2 }' "$our/pki.list"; }
TARMIN_HOME=$our "$bin/tmncert" setmy "$(thumb operator)"

TARMIN_HOME=$partner "$bin/tmncert" import --store Root "$pki/root.cer" > /dev/null
TARMIN_HOME=$partner "$bin/tmncert" import --store CA "$pki/ca.cer" > /dev/null
TARMIN_HOME=$partner "$bin/tmncert" addcrl --store CA "$pki/ca.crl" > /dev/null
TARMIN_HOME=$partner "$bin/tmncert" import --store MY --key "$pki/alice.key" "$pki/alice.pem" > /dev/null
TARMIN_HOME=$partner "$bin/tmncert" import --store AddressBook "$pki/operator.cer" > /dev/null
TARMIN_HOME=$partner "$bin/tmncert" setmy "$(thumb alice)"

for home in "$our" "$partner"; do
  TARMIN_HOME=$home "$bin/tmnreg" set "$key" CertificateFlags dword 1
  TARMIN_HOME=$home "$bin/tmnreg" set "$key" OutputMessageFlags dword 0
  TARMIN_HOME=$home "$bin/tmnreg" set "$key" Path string "$bin"
done
