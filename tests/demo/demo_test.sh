#!/usr/bin/env bash
# scripts/demo from a clean clone of the checkout (a copy of its files when it is no git
# repository), with its default state and build directories: it ends with status 0, shows the
# run's entries, the decrypted document and the recorded row, and stops its server.
#
#   demo_test.sh SOURCE_DIR
set -euo pipefail

src="$1"
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

tmp="$(mktemp -d /tmp/brimlet-demo-test-XXXXXX)"
# Run as root, the demo hands its state to an unprivileged account, which must reach it.
chmod 755 "$tmp"
keep=1
trap '[[ $keep == 1 ]] && echo "kept $tmp" >&2 || rm -rf "$tmp"' EXIT
clone="$tmp/clone"
if git -C "$src" rev-parse --git-dir >/dev/null 2>&1; then
    git clone --quiet --no-hardlinks "$src" "$clone"
else
    mkdir -p "$clone"
    (cd "$src" && find . -path ./.state -prune -o -path './build*' -prune -o -type f -print0 |
        xargs -0 cp --parents -t "$clone")
fi

rc=0
bash "$clone/scripts/demo" >"$tmp/out" 2>&1 || rc=$?
out="$(cat "$tmp/out")"
[[ "$rc" == 0 ]] || fail "scripts/demo exited with $rc:"$'\n'"$out"

for want in $'modMain | Main | MSG | START' 'Checksum updated in the database' \
    '<brimlet>' '(1 row)' 'Exit status of demo_KA_WIN64: 0'; do
    [[ "$out" == *"$want"* ]] || fail "the demo's output lacks '$want':"$'\n'"$out"
done
# The md5sum the demo prints of the document is the checksum the table holds.
sum="$(sed -n 's/^md5sum: //p' <<<"$out")"
[[ -n "$sum" && "$out" == *" ${sum^^} "* ]] || fail "document md5 '$sum' is not in the checksum table output"

pid="$(sed -n 's/^listening on .* (pid \([0-9]*\))$/\1/p' <<<"$out")"
[[ -n "$pid" ]] || fail "no server pid in the output"
if kill -0 "$pid" 2>/dev/null; then
    fail "the demo left its PostgreSQL (pid $pid) running"
fi
[[ ! -e "$clone/.state/demo/db/pg.pid" ]] || fail "pg.pid left behind"

# Again: a second run works on the state of the first and replaces its document.
rc=0
bash "$clone/scripts/demo" >"$tmp/out2" 2>&1 || rc=$?
[[ "$rc" == 0 ]] || fail "second run of scripts/demo exited with $rc:"$'\n'"$(cat "$tmp/out2")"
grep -q 'Deleted Old xml file' "$tmp/out2" || fail "the second run did not replace the document"

keep=0
echo "PASS: scripts/demo ran twice from a clean clone"
