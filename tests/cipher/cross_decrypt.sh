#!/usr/bin/env bash
# The Windows build's document cipher, run under Wine, against the stock tool on the host:
# openssl decrypts its output to the same bytes, for sizes around the block and chunk edges.
# Usage: cross_decrypt.sh SOURCE_DIR WINE64 ENCRYPT_PROBE_EXE
set -euo pipefail
src="$1" wine="$2" probe="$3"

# The key is derived here from the pass phrase in the source, not by the code under test.
pass="$(sed -n 's/.*kDocumentPassPhrase = "\(.*\)";/\1/p' "$src/src/cipher/cipher.h")"
[[ -n "$pass" ]] || { echo "no pass phrase found in cipher.h" >&2; exit 1; }
key="$(printf '%s' "$pass" | sha256sum | cut -d' ' -f1)"

work="$(mktemp -d "${TMPDIR:-/tmp}/brimlet-cross-XXXXXX")"
trap 'rm -rf "$work"' EXIT
cd "$work"
failed=0
for size in 0 1 15 16 17 36917 49151 49152 49153 300001; do
    head -c "$size" /dev/urandom >"plain-$size"
    "$wine" "$probe" "plain-$size" "doc-$size"
    if grep -q $'[\r\n]' "doc-$size"; then
        echo "size $size: the base64 text is not one line" >&2
        failed=1
    fi
    if ! openssl enc -d -aes-256-cbc -a -A -K "$key" -iv 00000000000000000000000000000000 \
        -in "doc-$size" | cmp -s - "plain-$size"; then
        echo "size $size: openssl does not decrypt the Windows build's text to the input" >&2
        failed=1
    fi
done
exit "$failed"
