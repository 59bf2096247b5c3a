#!/usr/bin/env bash
# The password-recovery key pair. The program carries only the public half,
# as resources/recovery_public.key in the 283-byte public-key blob layout;
# the private half stays with whoever issues recovery codes, never in the tree.
#
#   recovery_key.sh make PRIVATE.pem PUBLIC.key   new 2048-bit key (when
#                                                 PRIVATE.pem is missing) and its blob
#   recovery_key.sh blob PRIVATE.pem PUBLIC.key   the blob of an existing key
#   recovery_key.sh sign PRIVATE.pem MACHINE_ID   print the recovery code for a machine
#
# resources/recovery_public.key was made with
#   resources/recovery_key.sh make /work/recovery_private.pem resources/recovery_public.key
set -euo pipefail

le32() { printf '%02x%02x%02x%02x' $(($1 & 255)) $((($1 >> 8) & 255)) $((($1 >> 16) & 255)) $((($1 >> 24) & 255)); }

blob() {
  local private=$1 out=$2 text modulus exponent bits
  text=$(openssl pkey -in "$private" -noout -text_pub)
  # "Modulus:" is followed by colon-separated hex lines; a leading 00 only keeps the sign positive.
  modulus=$(sed -n '/^Modulus:/,/^Exponent:/p' <<<"$text" | sed '1d;$d' | tr -d ' :\n' | sed 's/^00//')
  exponent=$(sed -n 's/^Exponent: [0-9]* (0x\([0-9a-f]*\))$/\1/p' <<<"$text")
  ((${#exponent} % 2)) && exponent=0$exponent
  bits=$(sed -n 's/^Public-Key: (\([0-9]*\) bit)$/\1/p' <<<"$text")
  printf '%s' "52534131$(le32 "$bits")$(le32 $((${#exponent} / 2)))$(le32 $((${#modulus} / 2)))$(le32 0)$(le32 0)$exponent$modulus" |
    xxd -r -p >"$out"
}

case ${1:-} in
  make)
    [[ -f $2 ]] || (umask 077 && openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$2" 2>/dev/null)
    blob "$2" "$3"
    ;;
  blob) blob "$2" "$3" ;;
  sign) printf 'LCXRESET:%s' "$3" | openssl dgst -sha256 -sign "$2" | base64 -w0 && echo ;;
  *) sed -n '2,13p' "$0" >&2; exit 2 ;;
esac
