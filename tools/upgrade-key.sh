#!/usr/bin/env bash
# Signed upgrades: makes the operator's key pair and signs upgrade programs.
#
#   tools/upgrade-key.sh new DIR         DIR/upgrade-key.pem      private key: keep it secret,
#                                                                 never in a repository
#                                        DIR/upgrade-key.pub.pem  public key: build with
#                                          cmake -DLAUNCHER_UPGRADE_KEY=DIR/upgrade-key.pub.pem
#   tools/upgrade-key.sh sign KEY FILE VERSION
#                                        prints the line for the version file's [common]
#                                        section: upgradeSignature=<base64>
#
# The scheme is RSA (3072 bits) with PKCS#1 v1.5 padding over SHA-256 of
# "version=" VERSION "\n" followed by the upgrade program's bytes, so that a
# signed program cannot be offered as another version. The signature is
# standard base64 on one line.
set -euo pipefail

die() { echo "upgrade-key: $*" >&2; exit 2; }
command -v openssl >/dev/null || die "openssl is not installed (apt-get install openssl)"

case "${1:-}" in
new)
    [ $# -eq 2 ] || die "usage: $0 new DIR"
    dir=$2
    mkdir -p "$dir"
    [ ! -e "$dir/upgrade-key.pem" ] || die "$dir/upgrade-key.pem exists; not overwriting a key"
    (umask 077 && openssl genpkey -quiet -algorithm RSA -pkeyopt rsa_keygen_bits:3072 \
        -out "$dir/upgrade-key.pem")
    openssl pkey -in "$dir/upgrade-key.pem" -pubout -out "$dir/upgrade-key.pub.pem"
    echo "private key: $dir/upgrade-key.pem (keep it secret)"
    echo "public key:  $dir/upgrade-key.pub.pem (-DLAUNCHER_UPGRADE_KEY=...)"
    ;;
sign)
    [ $# -eq 4 ] || die "usage: $0 sign KEY FILE VERSION"
    [ -f "$2" ] || die "no key at $2"
    [ -f "$3" ] || die "no file at $3"
    [[ -n $4 && $4 != *[$'\r\n']* ]] || die "VERSION: one line of text, not '$4'"
    sig=$({ printf 'version=%s\n' "$4" && cat -- "$3"; } | openssl dgst -sha256 -sign "$2" | openssl base64 -A)
    [ -n "$sig" ] || die "signing failed"
    echo "upgradeSignature=$sig"
    ;;
*)
    die "usage: $0 new DIR | sign KEY FILE VERSION"
    ;;
esac
