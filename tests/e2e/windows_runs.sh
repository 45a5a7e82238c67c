#!/usr/bin/env bash
# Whole runs of the Windows exe under Wine beside the Linux build, on the private servers of
# scripts/test-windows: each case runs both builds in the same layout (a copy of the program
# named pub_KA_WIN64, its MD5 library, Ini/dbstring.Ini, an output root) against databases of
# their own holding the sample rows of sql/, and wants the same exit status and the same log,
# apart from dates and times, the run directory, the path separator and each document's own
# checksum. The Linux e2e tests hold the Linux build to the expected entries; this holds the
# Windows build to the Linux one. The typical run also wants its document decrypted by openssl
# on the host to the Linux build's body (and by brimlet-decrypt.exe to openssl's bytes) and its
# checksum recorded in the database.
# Usage: windows_runs.sh SOURCE_DIR WINE64 BRIMLET_EXE VELGNMD5_DLL DECRYPT_EXE LINUX_BRIMLET
#                        LINUX_VELGNMD5
# Needs BRIMLET_TEST_PG, BRIMLET_TEST_PG_PORT, BRIMLET_TEST_MARIADB, BRIMLET_TEST_MARIADB_PORT.
set -euo pipefail
src="$1" wine="$2" win_exe="$3" win_dll="$4" win_decrypt="$5" lnx_exe="$6" lnx_lib="$7"
for f in "$win_exe" "$win_dll" "$win_decrypt" "$lnx_exe" "$lnx_lib"; do
    [[ -f "$f" ]] || { echo "missing: $f" >&2; exit 1; }
done

pass="$(sed -n 's/.*kDocumentPassPhrase = "\(.*\)";/\1/p' "$src/src/cipher/cipher.h")"
[[ -n "$pass" ]] || { echo "no pass phrase found in cipher.h" >&2; exit 1; }
key="$(printf '%s' "$pass" | sha256sum | cut -d' ' -f1)"

# The servers' account, from the admin connection string.
item() { sed -n "s/.*$1=\([^;]*\).*/\1/p" <<<"$BRIMLET_TEST_PG"; }
user="$(item Uid)" password="$(item Pwd)"
psql_() {
    PGPASSWORD="$password" psql -X -q -v ON_ERROR_STOP=1 -h 127.0.0.1 -p "$BRIMLET_TEST_PG_PORT" \
        -U "$user" "$@"
}
mariadb_() {
    mariadb --no-defaults --protocol=TCP -h 127.0.0.1 -P "$BRIMLET_TEST_MARIADB_PORT" -u "$user" \
        -p"$password" "$@"
}

work="$(mktemp -d "${TMPDIR:-/tmp}/brimlet-winrun-XXXXXX")"
databases=()
# shellcheck disable=SC2317 # called by the trap
cleanup() {
    local db
    for db in "${databases[@]}"; do
        case "$db" in
            pg:*) psql_ -d postgres -c "DROP DATABASE IF EXISTS ${db#pg:} WITH (FORCE)" || true ;;
            maria:*) mariadb_ -e "DROP DATABASE IF EXISTS ${db#maria:}" || true ;;
        esac
    done
    rm -rf "$work"
}
trap cleanup EXIT
failed=0
fail() {
    echo "FAIL: $*" >&2
    failed=1
}

# A fresh database with the schema, the procedures and the sample rows; its connection
# string in $conn.
new_database() {
    local backend="$1" name="brimlet_w_$$_${#databases[@]}"
    if [[ "$backend" == pg ]]; then
        databases+=("pg:$name")
        psql_ -d brimlet_admin -c "CREATE DATABASE $name"
        for f in schema procedures sample; do
            psql_ -d "$name" -f "$src/sql/postgresql/$f.sql" >/dev/null
        done
        conn="${BRIMLET_TEST_PG/Database=brimlet_admin/Database=$name}"
    else
        databases+=("maria:$name")
        mariadb_ -e "CREATE DATABASE $name"
        for f in schema procedures sample; do
            mariadb_ "$name" <"$src/sql/mariadb/$f.sql"
        done
        conn="${BRIMLET_TEST_MARIADB/Database=brimlet_admin/Database=$name}"
    fi
}

recorded_md5() {
    local conn="$1" name
    name="$(sed -n 's/.*Database=\([^;]*\).*/\1/p' <<<"$conn")"
    if [[ "$conn" == *PostgreSQL* ]]; then
        psql_ -d "$name" -At -c "SELECT md5_string FROM mst_agent_xml_checksum"
    else
        mariadb_ -N -B "$name" -e "SELECT md5_string FROM mst_agent_xml_checksum"
    fi
}

# A run directory for build KIND (lnx or win) in DIR: the program copied as NAME, the MD5
# library unless LIB is "nolib", the settings for CONN unless CONN is "". The settings' purl is
# $purl when set; $extra_settings (lines ending in CR LF) are appended.
lay_out() {
    local kind="$1" dir="$2" name="$3" conn="$4" lib="${5:-}" root
    mkdir -p "$dir/out/KA"
    if [[ "$kind" == win ]]; then
        cp "$win_exe" "$dir/$name.exe"
        [[ "$lib" == nolib ]] || cp "$win_dll" "$dir/VelGnMD5.dll"
        # Wine's drive Z: is the host's root.
        root="Z:${dir//\//\\}\\out"
    else
        cp "$lnx_exe" "$dir/$name"
        [[ "$lib" == nolib ]] || cp "$lnx_lib" "$dir/libVelGnMD5.so"
        root="$dir/out"
    fi
    if [[ -n "$conn" ]]; then
        write_settings "$dir" "$conn" "$root"
    fi
}

# DIR/Ini/dbstring.Ini for CONN with srvpath SRVPATH; $purl and $extra_settings when set.
write_settings() {
    mkdir -p "$1/Ini"
    printf '[Brimlet]\r\nKEMADDONDBstr=%s\r\nconntimeoutsec=10\r\ncmdtimeoutsec=30\r\npurl=%s\r\nsurl=http://second.invalid/dl/\r\nsrvpath=%s\r\n%s' \
        "$2" "${purl:-http://primary.invalid/dl/}" "$3" "${extra_settings:-}" >"$1/Ini/dbstring.Ini"
}

# Runs the program of DIR as a scheduler would (output to files: Wine's services would hold
# a pipe); prints its exit status.
run() {
    local kind="$1" dir="$2" name="$3" status=0
    if [[ "$kind" == win ]]; then
        # Wine takes the ANSI code page from the locale: $win_locale, when set, for this run;
        # $win_debug, when set, is its WINEDEBUG.
        (cd "$dir" && env ${win_locale:+LC_ALL="$win_locale"} ${win_debug:+WINEDEBUG="$win_debug"} \
            "$wine" "./$name.exe" </dev/null >"$dir/stdout" 2>"$dir/stderr") || status=$?
    else
        (cd "$dir" && LC_ALL=C "./$name" </dev/null >"$dir/stdout" 2>"$dir/stderr") || status=$?
    fi
    echo "$status"
}

# The day's log of DIR with dates and times, the run directory, the separator and the given
# checksums replaced by names.
normal_log() {
    local kind="$1" dir="$2"
    shift 2
    local logs=("$dir"/Log/*.log)
    if [[ ! -f "${logs[0]}" ]]; then
        echo "(no log)"
        return
    fi
    python3 - "$kind" "$dir" "${logs[0]}" "$@" <<'EOF'
import sys
kind, run_dir, path, *md5s = sys.argv[1:]
text = open(path, encoding="latin-1", newline="").read()
if kind == "win":
    run_dir = "Z:" + run_dir.replace("/", "\\")
out = []
for line in text.split("\r\n"):
    if line.startswith("#Date: "):
        line = "#Date: <date>"
    elif "\t" in line:
        line = "<date time>" + line[line.index("\t"):]
    line = line.replace(run_dir, "<dir>")
    if kind == "win":
        line = line.replace("\\", "/")
    for md5 in md5s:
        line = line.replace(md5, "<md5>")
    out.append(line)
sys.stdout.write("\n".join(out))
EOF
}

md5_of() { md5sum "$1" | cut -d' ' -f1 | tr 'a-f' 'A-F'; }

decrypted() {
    tr -d '\r\n' <"$1" |
        openssl enc -d -aes-256-cbc -a -A -K "$key" -iv 00000000000000000000000000000000
}

# The plain document with its creation time replaced (its form checked on the way).
plain_body() {
    sed -E 's#<createdatetime>[0-9]{2}/[0-9]{2}/[0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2}</createdatetime>#<createdatetime/>#' "$1"
}

# Compares one case's two runs: statuses and normalised logs.
compare() {
    local what="$1" lnx="$2" win="$3" want="$4"
    shift 4
    local ls ws
    ls="$(cat "$lnx/status")" ws="$(cat "$win/status")"
    [[ "$ls" == "$want" ]] || fail "$what: the Linux build ended with $ls, not $want"
    [[ "$ws" == "$ls" ]] || fail "$what: the Windows exe ended with $ws, the Linux build with $ls"
    if ! diff -u <(normal_log lnx "$lnx" "$@") <(normal_log win "$win" "$@") >"$work/diff"; then
        fail "$what: the logs differ (- Linux, + Windows):"
        cat "$work/diff" >&2
        echo "--- stderr of the Windows exe:" >&2
        cat "$win/stderr" >&2
    fi
}

xml="out/KA/Brimlet_KA_WIN64.xml"
for backend in pg maria; do
    # The typical run, twice: the second replaces the first run's document.
    md5s=()
    for kind in lnx win; do
        dir="$work/typical-$backend-$kind"
        new_database "$backend"
        lay_out "$kind" "$dir" pub_KA_WIN64 "$conn"
        run "$kind" "$dir" pub_KA_WIN64 >"$dir/status"
        [[ -f "$dir/$xml" ]] && md5s+=("$(md5_of "$dir/$xml")")
        run "$kind" "$dir" pub_KA_WIN64 >"$dir/status2"
        if [[ ! -f "$dir/$xml" ]]; then
            fail "typical $backend $kind: no document"
            continue
        fi
        md5="$(md5_of "$dir/$xml")"
        md5s+=("$md5")
        [[ "$(cat "$dir/status2")" == 0 ]] || fail "typical $backend $kind: second run ended with $(cat "$dir/status2")"
        recorded="$(recorded_md5 "$conn")"
        [[ "$recorded" == "$md5" ]] ||
            fail "typical $backend $kind: the database holds '$recorded', the file's MD5 is $md5"
        if ! decrypted "$dir/$xml" >"$dir/decrypted"; then
            fail "typical $backend $kind: openssl does not decrypt the document"
        fi
        plain_body "$dir/decrypted" >"$dir/plain"
    done
    lnx="$work/typical-$backend-lnx" win="$work/typical-$backend-win"
    compare "typical $backend" "$lnx" "$win" 0 "${md5s[@]}"
    grep -q '<createdatetime/>' "$win/plain" || fail "typical $backend: no creation time of the Linux form in the Windows document"
    [[ -s "$lnx/plain" ]] || fail "typical $backend: the Linux document decrypted to nothing"
    "$wine" "$win_decrypt" "$win/$xml" </dev/null >"$win/decrypt-tool" 2>"$win/decrypt-tool.err" ||
        fail "typical $backend: brimlet-decrypt.exe refused the document: $(cat "$win/decrypt-tool.err")"
    cmp -s "$win/decrypt-tool" "$win/decrypted" ||
        fail "typical $backend: brimlet-decrypt.exe and openssl give different plain texts"
    cmp -s "$lnx/plain" "$win/plain" || {
        fail "typical $backend: the Windows document's body differs from the Linux build's"
        diff <(fold -w 100 "$lnx/plain") <(fold -w 100 "$win/plain") >&2 || true
    }
done

# The refusals, on PostgreSQL.
new_database pg
for kind in lnx win; do
    lay_out "$kind" "$work/name-$kind" pub_SPEC "$conn"
    run "$kind" "$work/name-$kind" pub_SPEC >"$work/name-$kind/status"
    lay_out "$kind" "$work/noini-$kind" pub_KA_WIN64 ""
    run "$kind" "$work/noini-$kind" pub_KA_WIN64 >"$work/noini-$kind/status"
done
compare "refused name" "$work/name-lnx" "$work/name-win" 1
grep -q $'\tOS Type and Agent Type not supplied.\t' "$work"/name-lnx/Log/*.log ||
    fail "refused name: the Linux log does not say so"
compare "missing settings" "$work/noini-lnx" "$work/noini-win" 1
grep -q $'\tDBConnection Data missing for Brimlet\t' "$work"/noini-lnx/Log/*.log ||
    fail "missing settings: the Linux log does not say so"

# No MD5 library: each build on a database of its own, the record is never made.
md5s=()
for kind in lnx win; do
    dir="$work/nolib-$kind"
    new_database pg
    lay_out "$kind" "$dir" pub_KA_WIN64 "$conn" nolib
    run "$kind" "$dir" pub_KA_WIN64 >"$dir/status"
    [[ -f "$dir/$xml" ]] && md5s+=("$(md5_of "$dir/$xml")")
done
compare "missing MD5 library" "$work/nolib-lnx" "$work/nolib-win" 1 "${md5s[@]}"
grep -q 'File not found: VelGnMD5' "$work"/nolib-lnx/Log/*.log ||
    fail "missing MD5 library: the Linux log does not say so"
[[ -f "$work/nolib-lnx/$xml" ]] && lnx_doc=kept || lnx_doc=none
[[ -f "$work/nolib-win/$xml" ]] && win_doc=kept || win_doc=none
[[ "$lnx_doc" == "$win_doc" ]] ||
    fail "missing MD5 library: the Linux build leaves $lnx_doc document, the Windows exe $win_doc"

# The Event Log: every line a failed run writes to stderr is also an event of source "brimlet"
# with the link's name and the line as its two strings, an error or a warning as the line is.
# Wine keeps no event log; with these channels on, its ReportEventW prints each event's strings
# on stderr (an error's in the err channel, a warning's in warn). No MD5 library and a missing
# metrics folder give both kinds.
dir="$work/events"
new_database pg
extra_settings=$'metricsdir=missing\r\n' lay_out win "$dir" pub_KA_WIN64 "$conn" nolib
win_debug='-all,err+eventlog,warn+eventlog' run win "$dir" pub_KA_WIN64 >"$dir/status"
[[ "$(cat "$dir/status")" == 1 ]] || fail "events: ended with $(cat "$dir/status"), not 1"
if ! python3 - "$dir/stderr" >"$work/events.diff" <<'EOF'
import re, sys
lines = open(sys.argv[1], encoding="latin-1").read().splitlines()
event = re.compile(r'^[0-9a-f]+:(err|warn):eventlog:ReportEventW L"(.*)"$')
prefix = "brimlet[pub_KA_WIN64]: "

def unescaped(text):
    # Wine's debug form of a wide string: \\, \", \n and \xxxx for other characters.
    named = {"n": "\n", "r": "\r", "t": "\t"}
    return re.sub(r'\\([0-9a-f]{4}|.)',
                  lambda m: chr(int(m[1], 16)) if len(m[1]) == 4 else named.get(m[1], m[1]), text)

wanted, strings = [], []
for line in lines:
    m = event.match(line)
    if m:
        strings.append((m[1], unescaped(m[2])))
    elif line.startswith(prefix):
        text = line[len(prefix):]
        wanted.append(("warn" if text.startswith("metrics not written") else "err", text))
# Each event: the link's name, then the line, both in the event's channel.
got = [(strings[i][0], strings[i + 1][1]) for i in range(0, len(strings) - 1, 2)
       if strings[i][1] == "pub_KA_WIN64" and strings[i + 1][0] == strings[i][0]]
ok = got == wanted and len(strings) == 2 * len(got) and {"err", "warn"} <= {c for c, _ in got}
if not ok:
    print("stderr lines:", wanted, "events:", strings, sep="\n")
sys.exit(0 if ok else 1)
EOF
then
    fail "events: the stderr lines are not the events: $(cat "$work/events.diff")"
fi

# The Windows exe alone, set up as Windows operators do. It shows no window; a person at a
# prompt has the console build.
objdump_subsystem() { x86_64-w64-mingw32-objdump -p "$1" | sed -n 's/^Subsystem[[:space:]]*[0-9a-f]*[[:space:]]*//p'; }
[[ "$(objdump_subsystem "$win_exe")" == "(Windows GUI)" ]] ||
    fail "brimlet.exe is no GUI program: $(objdump_subsystem "$win_exe")"
cli="$(dirname "$win_exe")/brimlet-cli.exe"
[[ "$(objdump_subsystem "$cli")" == "(Windows CUI)" ]] || fail "brimlet-cli.exe is no console program"
help="$("$wine" "$cli" --help </dev/null 2>&1)" || fail "brimlet-cli.exe --help failed"
[[ "$help" == *textfile_inputs* && "$help" != */var/lib/* && "$help" != *"brimlet(8)"* ]] ||
    fail "brimlet-cli.exe --help does not name the Windows defaults: $help"

new_database pg
dir="$work/forms"
lay_out win "$dir" pub_KA_WIN64 "$conn"
# P: is the output directory, a drive root; Q: holds the run directory, and Wine then names
# the program's directory Q:\forms, the drive that "\forms\out" is taken on.
ln -s "$dir/out" "$WINEPREFIX/dosdevices/p:"
ln -s "$work" "$WINEPREFIX/dosdevices/q:"
trap 'rm -f "$WINEPREFIX/dosdevices/p:" "$WINEPREFIX/dosdevices/q:"; cleanup' EXIT
windows_dir="${dir//\//\\}"
for form in "Z:$windows_dir\\out\\" "Z:$windows_dir/out/" "P:\\" P: 'Q:forms\out' '\forms\out'; do
    write_settings "$dir" "$conn" "$form"
    rm -f "$dir/$xml" "$dir"/Log/*.log
    status="$(run win "$dir" pub_KA_WIN64)"
    [[ "$status" == 0 && -f "$dir/$xml" ]] || {
        fail "srvpath=$form: status $status: $(grep -h ERR "$dir"/Log/*.log)"
        continue
    }
    [[ "$(recorded_md5 "$conn")" == "$(md5_of "$dir/$xml")" ]] ||
        fail "srvpath=$form: the recorded checksum is not the document's"
    ! grep -q 'Path not found' "$dir"/Log/*.log || fail "srvpath=$form: logged as not found"
done
[[ -f "$dir/Log/.pub_KA_WIN64.lock" && ! -e "$dir/.pub_KA_WIN64.exe.lock" ]] ||
    fail "the instance lock is not in Log: $(find "$dir" -maxdepth 2 -name '.*.lock' -printf '%P ')"

# A read-only document (Wine keeps the attribute as the file's mode) is published over, stays
# read-only, and leaves nothing behind that refuses the next run.
chmod a-w "$dir/$xml" || fail "read-only document: no document to start from"
for again in 1 2; do
    status="$(run win "$dir" pub_KA_WIN64)"
    [[ "$status" == 0 ]] || fail "read-only document, run $again: status $status: $(cat "$dir/stderr")"
    [[ ! -e "$dir/out/KA/.Brimlet_KA_WIN64.xml.previous" ]] ||
        fail "read-only document, run $again: the kept copy stays"
    [[ "$(stat -c %A "$dir/$xml")" == -r-* ]] ||
        fail "read-only document, run $again: the new document is not read-only"
done
[[ "$(recorded_md5 "$conn")" == "$(md5_of "$dir/$xml")" ]] ||
    fail "read-only document: the recorded checksum is not the document's"

# Started through its 8.3 short name, it is still the pair.
# On Z:, whose volume dir can read (not on the drive Wine now names the run directory by).
listing="$("$wine" cmd /c dir /x "Z:$windows_dir" </dev/null 2>&1 | tr -d '\r')" || true
short="$(awk '$NF == "pub_KA_WIN64.exe" {print $(NF-1)}' <<<"$listing")"
if [[ "$short" != *"~"* ]]; then
    fail "no short name for pub_KA_WIN64.exe in: $listing"
else
    rm -f "$dir"/Log/*.log
    status=0
    (cd "$dir" && "$wine" "$short" </dev/null >"$dir/stdout" 2>"$dir/stderr") || status=$?
    [[ "$status" == 0 ]] || fail "run as $short: status $status: $(cat "$dir/stderr")"
    ls "$dir"/Log/pub_KA_WIN64_*.log >/dev/null 2>&1 || fail "run as $short: no log of the pair"
fi

# One code page at each boundary. Code page 1252 (the suite's locale): a purl with "é" (byte E9
# in the settings) reaches the database and the document as that character, and a component
# value the log shows reaches it in the ANSI code page, best fit or "?" where it has none. The
# Linux build, given the same characters in UTF-8, writes the same document.
recorded() {
    local conn="$1" column="$2" name
    name="$(sed -n 's/.*Database=\([^;]*\).*/\1/p' <<<"$conn")"
    psql_ -d "$name" -At -c "SELECT $column FROM mst_agent_xml_checksum"
}
for kind in lnx win; do
    dir="$work/ansi-$kind"
    new_database pg
    psql_ -d "${databases[-1]#pg:}" -c "INSERT INTO mst_agent_component (agent_type, os_type, type,
        name, is_reg_required) VALUES ('KA', 'WIN64', 'bad type', 'café КА ā', false)"
    if [[ "$kind" == win ]]; then
        purl=$'http://primary.invalid/caf\xe9/' lay_out win "$dir" pub_KA_WIN64 "$conn"
    else
        purl='http://primary.invalid/café/' lay_out lnx "$dir" pub_KA_WIN64 "$conn"
    fi
    run "$kind" "$dir" pub_KA_WIN64 >"$dir/status"
    [[ "$(cat "$dir/status")" == 1 ]] ||
        fail "ANSI purl $kind: ended with $(cat "$dir/status"), not 1 (a row left out)"
    url="$(recorded "$conn" download_url)"
    [[ "$url" == 'http://primary.invalid/café/' ]] || fail "ANSI purl $kind: the database holds '$url'"
    if [[ -f "$dir/$xml" ]] && decrypted "$dir/$xml" >"$dir/decrypted"; then
        plain_body "$dir/decrypted" >"$dir/plain"
    else
        fail "ANSI purl $kind: no document that openssl decrypts"
    fi
done
cmp -s "$work/ansi-lnx/plain" "$work/ansi-win/plain" ||
    fail "ANSI purl: the Windows document differs from the Linux build's: $(cat "$work/ansi-win/plain")"
grep -q 'Name "café КА ā")' "$work"/ansi-lnx/Log/*.log || fail "ANSI log: the Linux log lacks the name"
grep -qa $'Name "caf\xe9 ?? a")' "$work"/ansi-win/Log/*.log ||
    fail "ANSI log: no name in code page 1252 in the Windows log: $(grep -a 'left out' "$work"/ansi-win/Log/*.log)"

# Code page 1251: a link named in it (pub_КА_WIN64.exe, the agent type Cyrillic) queries the
# database as that text and records its checksum under it; the log keeps the code page, the
# metrics file and the document are UTF-8. Wine takes the code page from the locale's country
# (ru_RU: 1251) and names host files in the locale's codeset (UTF-8, as this script writes
# them); scripts/test-windows generates the locale.
cyr_locale="$(locale -a 2>/dev/null | grep -ix 'ru_RU\.utf-\?8' | head -n 1 || true)"
if [[ -z "$cyr_locale" ]]; then
    echo "SKIP code page 1251: no ru_RU.UTF-8 locale on this host (scripts/test-windows makes it as root)"
else
    dir="$work/cp1251"
    new_database pg
    psql_ -d "${databases[-1]#pg:}" -c "INSERT INTO mst_agent_component (agent_type, os_type, type,
        name, filepath, is_reg_required) SELECT 'КА', os_type, type, name, filepath,
        is_reg_required FROM mst_agent_component WHERE agent_type = 'KA'"
    purl=$'http://primary.invalid/\xe4\xeb/' extra_settings=$'metricsdir=metrics\r\n' \
        lay_out win "$dir" pub_КА_WIN64 "$conn"
    mkdir -p "$dir/out/КА" "$dir/metrics"
    win_locale="$cyr_locale" run win "$dir" pub_КА_WIN64 >"$dir/status"
    logs=("$dir"/Log/pub_КА_WIN64_*.log)
    [[ "$(cat "$dir/status")" == 0 ]] ||
        fail "code page 1251: ended with $(cat "$dir/status"): $(cat "$dir/stderr" "${logs[@]}" 2>/dev/null)"
    [[ "$(recorded "$conn" agent_type)" == 'КА' ]] ||
        fail "code page 1251: the database holds agent type '$(recorded "$conn" agent_type)'"
    [[ "$(recorded "$conn" download_url)" == 'http://primary.invalid/дл/' ]] ||
        fail "code page 1251: the database holds purl '$(recorded "$conn" download_url)'"
    grep -qa $'^#Software: TULO.KEM.DC.pub_\xca\xc0_WIN64\r$' "${logs[@]}" ||
        fail "code page 1251: no log of the pair in its code page"
    grep -q '^brimlet_last_exit_status{link="pub_КА_WIN64",agent="КА",os="WIN64"} 0$' \
        "$dir/metrics/brimlet_pub_КА_WIN64.prom" || fail "code page 1251: no UTF-8 metrics file"
    doc="$dir/out/КА/Brimlet_КА_WIN64.xml"
    if [[ ! -f "$doc" ]] || ! decrypted "$doc" | grep -q 'CDATA\[http://primary.invalid/дл/\]'; then
        fail "code page 1251: no document with the purl in UTF-8"
    fi
fi

exit "$failed"
