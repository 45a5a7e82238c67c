#!/usr/bin/env bash
# The .deb of this build: lintian finds nothing to report, the service unit passes
# systemd-analyze's verify and its security rating stays within the threshold, its control
# fields declare every shared library its binaries need, and the unpacked package works: the
# stock clients load its SQL into the private PostgreSQL and MariaDB, the program answers
# --help, --version and a bad argument without creating anything, refuses a name without three
# parts with a hint on stderr, and run through a link it finds its MD5 library beside the real
# binary, publishes a document that the unpacked brimlet-decrypt reads, and records its
# checksum. (Unpacked, not installed: the suite runs without root.)
#
#   package_test.sh BINARY_DIR
# Exit 0 pass, 1 fail, 77 skip (no servers configured and BRIMLET_TEST_REQUIRE_DB unset).
set -euo pipefail

bin="$1"
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

if [[ -z "${BRIMLET_TEST_PG_PORT:-}" || -z "${BRIMLET_TEST_MARIADB_PORT:-}" ]]; then
    if [[ "${BRIMLET_TEST_REQUIRE_DB:-}" == 1 ]]; then
        fail "BRIMLET_TEST_PG_PORT or BRIMLET_TEST_MARIADB_PORT is not set (scripts/test starts the servers)"
    fi
    echo "SKIP: BRIMLET_TEST_PG_PORT or BRIMLET_TEST_MARIADB_PORT is not set"
    exit 77
fi
for tool in lintian systemd-analyze man; do
    command -v "$tool" >/dev/null || fail "$tool is missing (scripts/test installs it)"
done

tmp="$(mktemp -d /tmp/brimlet-package-XXXXXX)"
db="pkg_$$_$RANDOM"
export PGPASSWORD=Tk3vQp8w
export MYSQL_PWD=Tk3vQp8w
psql=(/usr/lib/postgresql/15/bin/psql -X -q -h 127.0.0.1 -p "$BRIMLET_TEST_PG_PORT" -U brimlet
    -v ON_ERROR_STOP=1)
mariadb=(mariadb --no-defaults --protocol=TCP -h 127.0.0.1 -P "$BRIMLET_TEST_MARIADB_PORT" -u brimlet)
cleanup() {
    "${psql[@]}" -d postgres -c "DROP DATABASE IF EXISTS $db" >/dev/null 2>&1 || true
    "${mariadb[@]}" -e "DROP DATABASE IF EXISTS $db" >/dev/null 2>&1 || true
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

# Debian's checks of the package: no error, no warning (informational tags are allowed).
lintian_out="$(lintian --fail-on error,warning "$deb" 2>&1)" ||
    fail "lintian on $(basename "$deb"):"$'\n'"$lintian_out"
! grep -q '^[EW]: ' <<<"$lintian_out" || fail "lintian reports:"$'\n'"$lintian_out"

# The service unit: a rating of 2.5 or better (the threshold's scale is ten times the shown
# one), and both units verified against a root holding the package, the system's own units
# and one instance link. verify reports a bad setting without failing, so any output fails.
unit="$root/usr/lib/systemd/system/brimlet@.service"
security="$(systemd-analyze security --offline=true --threshold=25 "$unit" 2>&1)" ||
    fail "systemd-analyze security rates the unit above 2.5:"$'\n'"$(tail -n 3 <<<"$security")"
vroot="$tmp/vroot"
mkdir -p "$vroot/var/lib/brimlet/pkg_KA_LINUX"
cp -a "$root/." "$vroot/"
cp -rn /usr/lib/systemd/system/. "$vroot/usr/lib/systemd/system/"
ln -s /usr/lib/brimlet/brimlet "$vroot/var/lib/brimlet/pkg_KA_LINUX/pkg_KA_LINUX"
verify="$(systemd-analyze verify --root="$vroot" brimlet@pkg_KA_LINUX.service \
    brimlet@pkg_KA_LINUX.timer 2>&1)" && [[ -z "$verify" ]] ||
    fail "systemd-analyze verify:"$'\n'"$verify"

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
    usr/share/brimlet/examples/dbstring.Ini usr/share/brimlet/sql/postgresql/procedures.sql \
    usr/share/doc/brimlet/copyright usr/share/doc/brimlet/changelog.gz; do
    [[ -f "$root/$f" ]] || fail "the package lacks /$f"
done
for page in man8/brimlet.8.gz man1/brimlet-decrypt.1.gz; do
    text="$(MANWIDTH=80 man -l "$root/usr/share/man/$page" 2>&1)" || fail "man -l $page: $text"
    for section in NAME SYNOPSIS DESCRIPTION "EXIT STATUS" EXAMPLES; do
        grep -q "^$section\$" <<<"$text" || fail "man -l $page shows no $section section"
    done
done

# The installed SQL, loaded by the stock clients as a DBA would.
sql="$root/usr/share/brimlet/sql"
"${psql[@]}" -d postgres -c "CREATE DATABASE $db" >/dev/null
"${mariadb[@]}" -e "CREATE DATABASE $db"
for f in schema procedures sample; do
    "${psql[@]}" -d "$db" -f "$sql/postgresql/$f.sql" >/dev/null || fail "psql -f postgresql/$f.sql failed"
    "${mariadb[@]}" "$db" <"$sql/mariadb/$f.sql" || fail "mariadb < mariadb/$f.sql failed"
done
rows="$("${mariadb[@]}" -N "$db" -e "CALL USP_AgentComponent_Details('win64', 'ka')" | wc -l)"
[[ "$rows" == 5 ]] || fail "the MariaDB component procedure gave $rows rows for KA/WIN64, not 5"

# Arguments, under the real name and a link's: answered without creating anything.
mkdir -p "$tmp/args"
ln -s "$exe" "$tmp/args/pkg_KA_LINUX"
version="$(dpkg-deb -f "$deb" Version)"
while IFS='|' read -r name arg want_rc want_out want_err; do
    before="$(find "$tmp/args" "$root/usr/lib/brimlet" | sort)"
    rc=0
    (cd "$tmp/args" && "$name" ${arg:+"$arg"} >"$tmp/out" 2>"$tmp/err") || rc=$?
    case_name="$(basename "$name") '$arg'"
    [[ "$rc" == "$want_rc" ]] || fail "$case_name exited $rc, not $want_rc"
    [[ "$(<"$tmp/out")" =~ $want_out ]] || fail "$case_name printed: $(<"$tmp/out")"
    [[ "$(<"$tmp/err")" =~ $want_err ]] || fail "$case_name wrote on stderr: $(<"$tmp/err")"
    [[ "$(find "$tmp/args" "$root/usr/lib/brimlet" | sort)" == "$before" ]] ||
        fail "$case_name created files"
done <<CASES
$exe|--help|0|^usage: .*--version.*brimlet\(8\)|^$
./pkg_KA_LINUX|--help|0|^usage: .*Ini/dbstring\.Ini|^$
./pkg_KA_LINUX|--version|0|^brimlet ${version}$|^$
$exe|--version|0|^brimlet ${version}$|^$
./pkg_KA_LINUX|-x|2|^$|unexpected argument '-x'.*usage: prefix_AGENT_OS
./pkg_KA_LINUX|--helpx|2|^$|'--helpx'.*usage:
$exe|--|2|^$|usage:
CASES
ln -s "$exe" "$tmp/args/pkg_KA"
rc=0
(cd "$tmp/args" && ./pkg_KA 2>"$tmp/err") || rc=$?
[[ "$rc" == 1 && "$(<"$tmp/err")" == "pkg_KA: "*"prefix_AGENT_OS"* ]] ||
    fail "a name of two parts exited $rc with stderr: $(<"$tmp/err")"
grep -q $'\tOS Type and Agent Type not supplied.\t' "$tmp"/args/Log/pkg_KA_*.log ||
    fail "a name of two parts logged no refusal"

inst="$tmp/instance"
mkdir -p "$inst/Ini" "$tmp/www/KA"
ln -s "$exe" "$inst/pkg_KA_LINUX"
cat >"$inst/Ini/dbstring.Ini" <<EOF
[Brimlet]
KEMADDONDBstr=Driver=PostgreSQL Unicode;Server=127.0.0.1;Port=$BRIMLET_TEST_PG_PORT;Database=$db;Uid=brimlet;Pwd=Tk3vQp8w
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
# Found beside the real binary (the run recorded its checksum) and loaded as the file that was
# checked: the loader never searched for it by name.
grep -q "calling init: /proc/self/fd/[0-9]*$" "$tmp"/ld.* ||
    fail "libVelGnMD5.so was not loaded as the file that was checked"
if grep -q "libVelGnMD5" "$tmp"/ld.*; then
    fail "the loader looked for libVelGnMD5.so by name"
fi
grep -q $'\tChecksum updated in the database\t' <<<"$log" || fail "no checksum entry; log: $log"

doc="$tmp/www/KA/Brimlet_KA_LINUX.xml"
plain="$("$decrypt" "$doc")" || fail "the unpacked brimlet-decrypt failed"
[[ "$plain" == *'name="agentd"'* ]] || fail "the decrypted document lacks the sample row: $plain"
recorded="$("${psql[@]}" -d "$db" -At -c "SELECT md5_string FROM mst_agent_xml_checksum WHERE agent_type = 'KA' AND os = 'LINUX'")"
actual="$(md5sum <"$doc" | cut -d' ' -f1)"
[[ "${recorded,,}" == "$actual" ]] || fail "recorded checksum '$recorded', file's $actual"

keep=0
echo "PASS: $(basename "$deb"): lintian clean; $(tail -n 1 <<<"$security" | sed 's/^→ //');" \
    "SQL loaded by psql and mariadb; arguments answered; document $actual recorded"
