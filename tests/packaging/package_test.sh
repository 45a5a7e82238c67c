#!/usr/bin/env bash
# The .deb of this build: lintian finds nothing to report, its files, modes and conffiles are
# the Debian layout's, the service unit passes systemd-analyze's verify and its security rating
# stays within the threshold, its control fields declare every shared library its binaries
# need, brimlet-setup grants nothing through a link or outside the directories it expects, gives
# the settings to root:brimlet 0640 and writes the unit's time limits from the time-outs, the
# maintainer scripts stop, keep or disable the pairs' units as dpkg's action wants and move old
# settings to their owner and mode (run against a scratch root with the systemd helpers and
# chown stubbed), the retention rule removes old logs only, the shipped alert rules pass their
# promtool tests, and the unpacked package works:
# the stock clients load its SQL into the private PostgreSQL and MariaDB, the program answers
# --help, --version and a bad argument without creating anything, refuses a name without three
# parts with a hint on stderr, and run through a pair that brimlet-setup made it finds its MD5
# library beside the real binary, publishes a document that the unpacked brimlet-decrypt reads,
# and records its checksum. (Unpacked, not installed: the suite runs without root; systemd
# itself is not started, see docs/linux.md for the manual procedure.)
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
for tool in lintian systemd-analyze systemd-tmpfiles promtool man setfacl getfacl; do
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

# The layout: the program on PATH through a relative link, its MD5 library and their directory
# root's and not writable by group or others (the program trusts nothing else), /etc's one file
# a conffile.
listing="$(dpkg-deb -c "$deb")"
while read -r mode owner path; do
    grep -qE "^$mode $owner +[0-9]+ [-0-9]+ [:0-9]+ \./${path//./\\.}( |\$)" <<<"$listing" ||
        fail "the package lacks $mode $owner /$path:"$'\n'"$(grep -F "./$path" <<<"$listing")"
done <<FILES
-rwxr-xr-x root/root usr/lib/brimlet/brimlet
-rw-r--r-- root/root usr/lib/brimlet/libVelGnMD5.so
drwxr-xr-x root/root usr/lib/brimlet/
lrwxrwxrwx root/root usr/sbin/brimlet -> ../lib/brimlet/brimlet
-rwxr-xr-x root/root usr/sbin/brimlet-setup
-rw-r--r-- root/root etc/brimlet/dbstring.Ini.example
-rw-r--r-- root/root usr/lib/tmpfiles.d/brimlet.conf
-rw-r--r-- root/root usr/share/brimlet/prometheus/brimlet.rules.yml
-rw-r--r-- root/root usr/share/man/man8/brimlet-setup.8.gz
FILES
ctl="$tmp/control"
dpkg-deb -e "$deb" "$ctl"
[[ "$(<"$ctl/conffiles")" == "$(grep -o '\./etc/.*[^/]$' <<<"$listing" | cut -c2-)" ]] ||
    fail "conffiles $(<"$ctl/conffiles") is not the package's files under /etc"

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
# Stubs that record their arguments stand in for what needs root or a running systemd.
stubs="$tmp/stubs"
calls="$tmp/calls"
mkdir -p "$stubs"
for cmd in chown setfacl adduser systemctl deb-systemd-invoke deb-systemd-helper; do
    printf '#!/bin/sh\necho "%s $*" >>"%s"\n' "$cmd" "$calls" >"$stubs/$cmd"
done
# setfacl really sets the entry, for nobody instead of the account this system may lack, so that
# a grant through a link shows on the link's target.
cat >"$stubs/setfacl" <<STUB
#!/bin/bash
echo "setfacl \$*" >>"$calls"
exec $(command -v setfacl) "\${@//u:brimlet:/u:nobody:}"
STUB
printf '#!/bin/sh\n[ "$*" = "passwd brimlet" ] && echo "brimlet:x:999:999::/var/lib/brimlet:/usr/sbin/nologin"\n' >"$stubs/getent"
chmod +x "$stubs"/*
# brimlet-setup --root $1 $2 ends with status $3 (0 when not given).
setup() {
    local rc=0
    PATH="$stubs:$PATH" "$root/usr/sbin/brimlet-setup" --root "$1" "$2" >"$tmp/setup.out" 2>&1 || rc=$?
    [[ "$rc" == "${3:-0}" ]] || fail "brimlet-setup --root $1 $2 exited $rc, not ${3:-0}: $(<"$tmp/setup.out")"
}
vroot="$tmp/vroot"
mkdir -p "$vroot/srv/www"
cp -a "$root/." "$vroot/"
cp -rn /usr/lib/systemd/system/. "$vroot/usr/lib/systemd/system/"
sed -i 's|^srvpath=.*|srvpath=/srv/www|' "$vroot/etc/brimlet/dbstring.Ini.example"
setup "$vroot" pkg_KA_LINUX
[[ "$(<"$vroot/etc/systemd/system/brimlet@pkg_KA_LINUX.service.d/brimlet-setup.conf")" == *$'\nReadWritePaths=-/srv/www/KA\n'* ]] ||
    fail "brimlet-setup wrote no drop-in for /srv/www/KA: $(<"$tmp/setup.out")"

# What the settings name is judged before root grants anything there, since the service account
# can read them (a scratch root per case, set up once from the example with srvpath=/srv/www and
# Debian's textfile directory present, then prepared and given the case's settings). A refused
# case ends with 1 and its reason and leaves every file, mode, ACL entry and the drop-in as they
# were; an accepted one writes the drop-in's lines. The settings are root:brimlet 0640 (the
# recorded chown; the mode itself), an existing 0600 file moves there.
snapshot() {
    (cd "$1" && find . -path ./usr -prune -o -printf '%p %y %m %s %l\n' | sort &&
        getfacl -RPp --skip-base . 2>/dev/null; cat etc/systemd/system/*/brimlet-setup.conf) || true
}
pair_ini=etc/brimlet/pkg_KA_LINUX/dbstring.Ini
while IFS='|' read -r what prepare settings want_rc want_out want_dropin want_acl; do
    s="$tmp/sroot"
    rm -rf "$s"
    mkdir -p "$s/etc/brimlet" "$s/etc/cron.d" "$s/etc/default" "$s/srv/www" \
        "$s/var/lib/prometheus/node-exporter"
    cp "$vroot/etc/brimlet/dbstring.Ini.example" "$s/etc/brimlet/"
    rm -f "$calls"
    setup "$s" pkg_KA_LINUX
    if [[ "$(stat -c %a "$s/$pair_ini")" != 640 ]] ||
        ! grep -qx "chown -h root:brimlet $s/$pair_ini" "$calls"; then
        fail "$what: settings created $(stat -c %a "$s/$pair_ini"), chown calls: $(grep "$pair_ini" "$calls")"
    fi
    (cd "$s" && eval "$prepare") || fail "$what: preparing failed"
    for kv in $settings; do
        sed -i "s|^${kv%%=*}=.*|$kv|" "$s/$pair_ini"
    done
    before="$(snapshot "$s")"
    setup "$s" pkg_KA_LINUX "$want_rc"
    grep -qE "$want_out" "$tmp/setup.out" || fail "$what: brimlet-setup said: $(<"$tmp/setup.out")"
    if [[ "$want_rc" != 0 ]]; then
        [[ "$(snapshot "$s")" == "$before" ]] ||
            fail "$what: a refused setup changed:"$'\n'"$(diff <(echo "$before") <(snapshot "$s"))"
        continue
    fi
    dropin="$(grep -v '^#' "$s/etc/systemd/system/brimlet@pkg_KA_LINUX.service.d/brimlet-setup.conf" | paste -sd ' ')"
    [[ "$dropin" == "$want_dropin" ]] || fail "$what: drop-in $dropin, not $want_dropin"
    [[ -z "$want_acl" ]] || getfacl -p "$s$want_acl" 2>/dev/null | grep -qx 'user:nobody:rwx' ||
        fail "$what: no ACL entry on $want_acl: $(getfacl -p "$s$want_acl" 2>&1)"
done <<CASES
textfile directory a link to /etc/cron.d|rm -r var/lib/prometheus/node-exporter && ln -s ../../../etc/cron.d var/lib/prometheus/node-exporter||1|node-exporter is a symbolic link||
metricsdir the exporter does not read||metricsdir=/etc/cron.d|1|grants only on the node exporter's textfile directory||
metricsdir the exporter reads by its ARGS|mkdir srv/metrics && echo 'ARGS="--collector.textfile.directory /srv/metrics/"' >etc/default/prometheus-node-exporter|metricsdir=/srv/metrics|0|granted brimlet write access to /srv/metrics|[Service] ReadWritePaths=-/srv/www/KA -/srv/metrics TimeoutStartSec=200 TimeoutStopSec=95|/srv/metrics
srvpath component a link to /etc|rm -r srv/www && ln -s ../etc srv/www|srvpath=/srv/www|1|/srv/www is a symbolic link||
srvpath leading out by ..|mkdir srv/new|srvpath=/srv/new/../../etc|1|'\.' or '\.\.'||
srvpath outside /srv and /var/www||srvpath=/etc|1|only under /srv, /var/www||
srvpath below a directory others may write|mkdir -m 0777 srv/open && mkdir srv/open/www|srvpath=/srv/open/www|1|/srv/open is writable by group or others||
settings file a link|mv $pair_ini srv/ini && chmod 0604 srv/ini && ln -s ../../../srv/ini $pair_ini||1|dbstring.Ini is a symbolic link||
settings of an earlier version, 0600|chmod 0600 $pair_ini||0|mode 0640 \(was [^ ]+ 600\)|[Service] ReadWritePaths=-/srv/www/KA TimeoutStartSec=200 TimeoutStopSec=95|/var/lib/prometheus/node-exporter
time-outs changed|true|conntimeoutsec=10 cmdtimeoutsec=2|0|wrote .*TimeoutStartSec=83 TimeoutStopSec=47|[Service] ReadWritePaths=-/srv/www/KA TimeoutStartSec=83 TimeoutStopSec=47|
a time-out of 0: no bound, the unit's own limits|true|cmdtimeoutsec=0|0|no TimeoutStartSec|[Service] ReadWritePaths=-/srv/www/KA|
CASES
# A pair of the old layout (Ini/ and Log/ directories beside the link) keeps its files.
old="$vroot/var/lib/brimlet/old_KA_LINUX"
mkdir -p "$old/Ini" "$old/Log"
echo "[Brimlet]" >"$old/Ini/dbstring.Ini"
touch "$old/Log/old_KA_LINUX_01122026.log"
setup "$vroot" old_KA_LINUX
[[ "$(readlink "$old/Ini")" == ../../../../etc/brimlet/old_KA_LINUX &&
    "$(<"$old/Ini/dbstring.Ini")" == "[Brimlet]" &&
    -f "$vroot/var/log/brimlet/old_KA_LINUX/old_KA_LINUX_01122026.log" ]] ||
    fail "brimlet-setup did not move an old pair's files: $(<"$tmp/setup.out")"
verify="$(systemd-analyze verify --man=no --root="$vroot" brimlet@pkg_KA_LINUX.service \
    brimlet@pkg_KA_LINUX.timer 2>&1)" && [[ -z "$verify" ]] ||
    fail "systemd-analyze verify:"$'\n'"$verify"

# The maintainer scripts against a machine running systemd with one pair enabled, a drop-in
# each for the pair and the template, and a foreign timer. Upgrade and remove keep the units;
# remove stops the pairs; purge disables them, removes the drop-ins, settings and logs, and
# keeps a document published in a pair's directory.
m="$tmp/mroot"
nx=var/lib/prometheus/node-exporter
mkdir -p "$m/run/systemd/system" "$m/etc/systemd/system/timers.target.wants" \
    "$m/etc/systemd/system/brimlet@.service.d" "$m/etc/brimlet" "$m/$nx" "$m/srv/old" "$m/srv/kept"
cp "$root/etc/brimlet/dbstring.Ini.example" "$m/etc/brimlet/"
# Two pairs in one call, each granted and inventoried; one of them later moved its metrics to
# /srv/old, which has since become a link: purge removes nothing through it.
PATH="$stubs:$PATH" "$root/usr/sbin/brimlet-setup" --root "$m" pkg_KA_LINUX bad_KA pkg_QA_WIN \
    >"$tmp/setup.out" 2>&1 && fail "a refused name among the links ended with 0: $(<"$tmp/setup.out")"
for pair in pkg_KA_LINUX pkg_QA_WIN; do
    [[ -L "$m/var/lib/brimlet/$pair/$pair" &&
        "$(<"$m/$nx/brimlet-setup_$pair.prom")" == *$'\n'"brimlet_pair_configured{link=\"$pair\",agent=\"${pair:4:2}\",os=\"${pair:7}\"} 1" ]] ||
        fail "brimlet-setup with three links did not set up $pair: $(<"$tmp/setup.out")"
done
grep -q "'bad_KA' is no link name" "$tmp/setup.out" || fail "no refusal of bad_KA: $(<"$tmp/setup.out")"
getfacl -p "$m/$nx" 2>/dev/null | grep -qx 'user:nobody:rwx' || fail "no ACL entry on $nx"
# A link left where the inventory goes is replaced, never written through.
echo keep >"$m/srv/kept/target"
rm "$m/$nx/brimlet-setup_pkg_QA_WIN.prom"
ln -s ../../../../srv/kept/target "$m/$nx/brimlet-setup_pkg_QA_WIN.prom"
setup "$m" pkg_QA_WIN
[[ "$(<"$m/srv/kept/target")" == keep && ! -L "$m/$nx/brimlet-setup_pkg_QA_WIN.prom" ]] ||
    fail "brimlet-setup wrote the inventory through a link"
echo "file /srv/old/brimlet_pkg_QA_WIN.prom" >>"$m/var/lib/brimlet/brimlet-setup.state"
touch "$m/srv/kept/brimlet_pkg_QA_WIN.prom" "$m/$nx/brimlet_pkg_KA_LINUX.prom" "$m/$nx/other.prom"
rmdir "$m/srv/old"
ln -s kept "$m/srv/old"
touch "$m/etc/systemd/system/brimlet@.service.d/local.conf" "$m/var/lib/brimlet/pkg_KA_LINUX/.pkg_KA_LINUX.lock" \
    "$m/var/lib/brimlet/pkg_KA_LINUX/Brimlet_KA_LINUX.xml" "$m/var/log/brimlet/pkg_KA_LINUX/pkg_KA_LINUX_09122026.log"
for t in brimlet@pkg_KA_LINUX.timer other.timer; do
    ln -s "/usr/lib/systemd/system/$t" "$m/etc/systemd/system/timers.target.wants/$t"
done
maint() {
    rm -f "$calls"
    touch "$calls"
    (cd / && PATH="$stubs:$PATH" DPKG_ROOT="$m" DPKG_MAINTSCRIPT_PACKAGE=brimlet sh "$ctl/$1" "${@:2}") ||
        fail "$* failed"
    [[ "$(<"$calls")" == "$want" ]] || fail "$* called:"$'\n'"$(<"$calls")"$'\n'"not:"$'\n'"$want"
}
tree() { (cd "$m" && find etc var -mindepth 1 | sort); }
before="$(tree)"
reload="systemctl --system daemon-reload"
want="" maint prerm upgrade 1.0.0
# The upgrade moves a settings file of an earlier version (0600, the account's) to root:brimlet 0640.
chmod 0600 "$m/$pair_ini"
# An enabled timer is started again (after a removal and reinstall it was stopped).
want="chown -h root:brimlet $m/$pair_ini"$'\n'"chown -h root:brimlet $m/etc/brimlet/pkg_QA_WIN/dbstring.Ini"$'\n'"$reload"$'\n'"deb-systemd-invoke start brimlet@pkg_KA_LINUX.timer" maint postinst configure 1.0.0
[[ "$(stat -c %a "$m/$pair_ini")" == 640 ]] || fail "postinst left the settings $(stat -c %a "$m/$pair_ini")"
want="deb-systemd-invoke stop brimlet@*.timer"$'\n'"deb-systemd-invoke stop brimlet@*.service" maint prerm remove
want="$reload" maint postrm remove
[[ "$(tree)" == "$before" ]] || fail "upgrade or remove changed files:"$'\n'"$(diff <(echo "$before") <(tree))"
want="setfacl -P -x u:brimlet: $m/$nx"$'\n'"deb-systemd-helper purge brimlet@.timer brimlet@.service"$'\n'"$reload" maint postrm purge
left="$(tree | tr '\n' ' ')"
[[ "$left" == "etc/systemd etc/systemd/system etc/systemd/system/timers.target.wants etc/systemd/system/timers.target.wants/other.timer var/lib var/lib/brimlet var/lib/brimlet/pkg_KA_LINUX var/lib/brimlet/pkg_KA_LINUX/Brimlet_KA_LINUX.xml var/lib/prometheus var/lib/prometheus/node-exporter var/lib/prometheus/node-exporter/other.prom var/log " ]] ||
    fail "purge left: $left"
! getfacl -p "$m/$nx" 2>/dev/null | grep -q 'user:nobody' || fail "purge left the ACL entry on $nx"
[[ -f "$m/srv/kept/brimlet_pkg_QA_WIN.prom" ]] || fail "purge removed a file through a link"

# Retention: the installed rule, applied to a scratch root by systemd-tmpfiles itself, removes
# a day's log 90 days after its last write and keeps a younger one and a recently read one.
t="$tmp/troot"
mkdir -p "$t/var/log/brimlet/pkg_KA_LINUX" "$t/usr/lib/tmpfiles.d"
cp "$root/usr/lib/tmpfiles.d/brimlet.conf" "$t/usr/lib/tmpfiles.d/"
for age in 91 89; do
    touch -d "$age days ago" "$t/var/log/brimlet/pkg_KA_LINUX/pkg_KA_LINUX_$age.log"
done
touch -m -d "100 days ago" "$t/var/log/brimlet/pkg_KA_LINUX/pkg_KA_LINUX_read.log"
systemd-tmpfiles --clean --root="$t" brimlet.conf 2>&1 || fail "systemd-tmpfiles --clean failed"
[[ "$(find "$t/var/log/brimlet/pkg_KA_LINUX" -type f -printf "%f ")" == "pkg_KA_LINUX_89.log " ]] ||
    fail "after the retention rule: $(ls "$t/var/log/brimlet/pkg_KA_LINUX")"

# The shipped alert rules with their tests.
(cd "$root/usr/share/brimlet/prometheus" && promtool test rules brimlet.rules.test.yml >"$tmp/promtool" 2>&1) ||
    fail "promtool test rules: $(<"$tmp/promtool")"

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
    usr/share/brimlet/sql/postgresql/procedures.sql \
    usr/share/doc/brimlet/copyright usr/share/doc/brimlet/changelog.gz \
    usr/share/doc/brimlet/manual/README.md usr/share/doc/brimlet/manual/linux.md; do
    [[ -f "$root/$f" ]] || fail "the package lacks /$f"
done
for page in man8/brimlet.8.gz man8/brimlet-setup.8.gz man1/brimlet-decrypt.1.gz; do
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

# A pair in the package's layout as brimlet-setup makes it: link, Ini and Log all symbolic.
setup "$root" pkg_KA_LINUX
inst="$root/var/lib/brimlet/pkg_KA_LINUX"
mkdir -p "$tmp/www/KA" "$tmp/metrics"
cat >"$root/etc/brimlet/pkg_KA_LINUX/dbstring.Ini" <<EOF
[Brimlet]
KEMADDONDBstr=Driver=PostgreSQL Unicode;Server=127.0.0.1;Port=$BRIMLET_TEST_PG_PORT;Database=$db;Uid=brimlet;Pwd=Tk3vQp8w
conntimeoutsec=10
cmdtimeoutsec=30
purl=https://p.example/
surl=https://s.example/
srvpath=$tmp/www
metricsdir=$tmp/metrics
EOF
rc=0
(cd "$inst" && LD_DEBUG=libs LD_DEBUG_OUTPUT="$tmp/ld" ./pkg_KA_LINUX) || rc=$?
log="$(cat "$root"/var/log/brimlet/pkg_KA_LINUX/*.log)"
[[ "$rc" == 0 ]] || fail "the unpacked program exited with $rc; log: $log"
# Found beside the real binary (the run recorded its checksum) and loaded as the file that was
# checked: the loader never searched for it by name.
grep -q "calling init: /proc/self/fd/[0-9]*$" "$tmp"/ld.* ||
    fail "libVelGnMD5.so was not loaded as the file that was checked"
if grep -q "libVelGnMD5" "$tmp"/ld.*; then
    fail "the loader looked for libVelGnMD5.so by name"
fi
grep -q $'\tChecksum updated in the database\t' <<<"$log" || fail "no checksum entry; log: $log"
[[ -f "$tmp/metrics/brimlet_pkg_KA_LINUX.prom" ]] || fail "no metrics file; log: $log"

doc="$tmp/www/KA/Brimlet_KA_LINUX.xml"
plain="$("$decrypt" "$doc")" || fail "the unpacked brimlet-decrypt failed"
[[ "$plain" == *'name="agentd"'* ]] || fail "the decrypted document lacks the sample row: $plain"
recorded="$("${psql[@]}" -d "$db" -At -c "SELECT md5_string FROM mst_agent_xml_checksum WHERE agent_type = 'KA' AND os = 'LINUX'")"
actual="$(md5sum <"$doc" | cut -d' ' -f1)"
[[ "${recorded,,}" == "$actual" ]] || fail "recorded checksum '$recorded', file's $actual"

keep=0
echo "PASS: $(basename "$deb"): lintian clean; $(tail -n 1 <<<"$security" | sed 's/^→ //');" \
    "SQL loaded by psql and mariadb; arguments answered; document $actual recorded"
