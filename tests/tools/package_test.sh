#!/usr/bin/env bash
# The .deb of this build, unpacked without root: its control fields declare every shared
# library its binaries need, and the unpacked program, run through a link in a temporary
# directory against the private PostgreSQL, finds its MD5 library beside the real binary,
# publishes a document that the unpacked brimlet-decrypt reads, and records its checksum.
#
#   package_test.sh BINARY_DIR
# Exit 0 pass, 1 fail, 77 skip (no PostgreSQL configured and BRIMLET_TEST_REQUIRE_DB unset).
set -euo pipefail

bin="$1"
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

if [[ -z "${BRIMLET_TEST_PG_PORT:-}" ]]; then
    if [[ "${BRIMLET_TEST_REQUIRE_DB:-}" == 1 ]]; then
        fail "BRIMLET_TEST_PG_PORT is not set (scripts/test starts the servers)"
    fi
    echo "SKIP: BRIMLET_TEST_PG_PORT is not set"
    exit 77
fi

tmp="$(mktemp -d /tmp/brimlet-package-XXXXXX)"
db="pkg_$$_$RANDOM"
export PGPASSWORD=brimlet
psql=(/usr/lib/postgresql/15/bin/psql -X -q -h 127.0.0.1 -p "$BRIMLET_TEST_PG_PORT" -U brimlet
    -v ON_ERROR_STOP=1)
cleanup() {
    "${psql[@]}" -d postgres -c "DROP DATABASE IF EXISTS $db" >/dev/null 2>&1 || true
    if [[ "${keep:-0}" == 1 ]]; then
        echo "kept $tmp" >&2
    else
        rm -rf "$tmp"
    fi
}
trap cleanup EXIT
keep=1

cpack --config "$bin/CPackConfig.cmake" -B "$tmp/pkg" >"$tmp/cpack.log" 2>&1 ||
    fail "cpack failed: $(tail -n 5 "$tmp/cpack.log")"
deb="$(ls "$tmp"/pkg/brimlet_*.deb)"
root="$tmp/root"
dpkg-deb -x "$deb" "$root"

# Every library a packaged ELF file needs belongs to a declared dependency (the sanitizer
# runtimes of a sanitized test build excepted).
depends="$(dpkg-deb -f "$deb" Depends)"
declared=" $(sed 's/[,|]/\n/g' <<<"$depends" | sed 's/(.*)//; s/[[:space:]]//g' | tr '\n' ' ') "
libcache="$(ldconfig -p)"
while IFS= read -r elf; do
    while IFS= read -r soname; do
        [[ "$soname" == libVelGnMD5.so ]] && continue
        path="$(awk -v s="$soname" '$1 == s && /x86-64|x86_64/ {print $NF; exit}' <<<"$libcache")"
        [[ -n "$path" ]] || fail "$elf needs $soname, which is not on this system"
        owner="$(dpkg -S "$(readlink -f "$path")" 2>/dev/null || dpkg -S "$path")"
        owner="${owner%%:*}"
        case "$owner" in libasan* | libubsan* | liblsan* | libtsan*) continue ;; esac
        [[ "$declared" == *" $owner "* ]] || fail "$elf needs $soname from $owner; Depends: $depends"
    done < <(readelf -d "$elf" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
done < <(find "$root" -type f -exec sh -c 'head -c 4 "$1" | grep -q ELF' _ {} \; -print)
for want in "odbc-postgresql" "odbc-mariadb" "tdsodbc"; do
    [[ "$(dpkg-deb -f "$deb" Recommends)" == *"$want"* ]] || fail "Recommends lacks $want"
done

exe="$root/usr/lib/brimlet/brimlet"
decrypt="$root/usr/bin/brimlet-decrypt"
[[ -x "$exe" && -f "$root/usr/lib/brimlet/libVelGnMD5.so" && -x "$decrypt" ]] ||
    fail "the package lacks the program, its library or brimlet-decrypt"
for f in usr/lib/systemd/system/brimlet@.service usr/lib/systemd/system/brimlet@.timer \
    usr/share/brimlet/examples/dbstring.Ini usr/share/brimlet/sql/postgresql/procedures.sql; do
    [[ -f "$root/$f" ]] || fail "the package lacks /$f"
done

"${psql[@]}" -d postgres -c "CREATE DATABASE $db" >/dev/null
for f in schema procedures sample; do
    { sed 's/^[[:space:]]*--[[:space:]]*@@[[:space:]]*$/;/' "$root/usr/share/brimlet/sql/postgresql/$f.sql"; echo ';'; } |
        "${psql[@]}" -d "$db" >/dev/null || fail "loading the packaged $f.sql failed"
done

inst="$tmp/instance"
mkdir -p "$inst/Ini" "$tmp/www/KA"
ln -s "$exe" "$inst/pkg_KA_LINUX"
cat >"$inst/Ini/dbstring.Ini" <<EOF
[Brimlet]
KEMADDONDBstr=Driver=PostgreSQL Unicode;Server=127.0.0.1;Port=$BRIMLET_TEST_PG_PORT;Database=$db;Uid=brimlet;Pwd=brimlet
conntimeoutsec=10
cmdtimeoutsec=30
purl=https://p.example/
surl=https://s.example/
srvpath=$tmp/www
EOF
rc=0
(cd "$inst" && LD_DEBUG=libs LD_DEBUG_OUTPUT="$tmp/ld" ./pkg_KA_LINUX) || rc=$?
log="$(cat "$inst"/Log/*.log)"
[[ "$rc" == 0 ]] || fail "the unpacked program exited with $rc; log: $log"
grep -q "trying file=$root/usr/lib/brimlet/libVelGnMD5.so" "$tmp"/ld.* ||
    fail "libVelGnMD5.so was not loaded from beside the real binary"
grep -q $'\tChecksum updated in the database\t' <<<"$log" || fail "no checksum entry; log: $log"

doc="$tmp/www/KA/Brimlet_KA_LINUX.xml"
plain="$("$decrypt" "$doc")" || fail "the unpacked brimlet-decrypt failed"
[[ "$plain" == *'name="agentd"'* ]] || fail "the decrypted document lacks the sample row: $plain"
recorded="$("${psql[@]}" -d "$db" -At -c "SELECT md5_string FROM mst_agent_xml_checksum WHERE agent_type = 'KA' AND os = 'LINUX'")"
actual="$(md5sum <"$doc" | cut -d' ' -f1)"
[[ "${recorded,,}" == "$actual" ]] || fail "recorded checksum '$recorded', file's $actual"

keep=0
echo "PASS: $deb unpacked, run through a link, document $actual recorded"
