#!/usr/bin/env bash
# The baseline: what an operator would script instead of the program, with the stock tools.
# Same procedure, same grouped XML (type key = Type trimmed of blanks and lower-cased, rows
# sorted stably by it, attribute values escaped), same cipher (openssl enc), the file
# replaced by a rename, its MD5 recorded through the checksum procedure.
#
#   pipeline.sh pg|mariadb PORT OUT_FILE AGENT OS PURL SURL [lean]
#
# "lean" skips the escaping of attribute values: less work than the program does (its document
# is then not well-formed for values holding & < > "), the leanest script of the same shape.
#
# The password comes from PGPASSWORD / MYSQL_PWD.
set -euo pipefail

backend="$1" port="$2" out="$3" agent="$4" os="$5" purl="$6" surl="$7" lean="${8:-}"
key="$(printf '%s' 'Qm7RtX2bLw9PzK4nHc8VjE5sYa3FdU6g' | sha256sum | cut -c1-64)"
iv=00000000000000000000000000000000
now="$(date '+%m/%d/%Y %H:%M:%S')"
head="<brimlet><createdatetime>$now</createdatetime><purl><![CDATA[$purl]]></purl><surl><![CDATA[$surl]]></surl>"
tmp="$(dirname "$out")/.$(basename "$out").pipeline"

query() {
    case "$backend" in
        pg)
            psql -X -q -At -F $'\t' -h 127.0.0.1 -p "$port" -U brimlet -d brimlet_bench \
                -c "SELECT * FROM USP_AgentComponent_Details('$os', '$agent')"
            ;;
        mariadb)
            mariadb --no-defaults -N -B --protocol=TCP -h 127.0.0.1 -P "$port" -u brimlet \
                brimlet_bench -e "CALL USP_AgentComponent_Details('$os', '$agent')"
            ;;
    esac
}

record() {
    case "$backend" in
        pg)
            psql -X -q -At -h 127.0.0.1 -p "$port" -U brimlet -d brimlet_bench -c \
                "SELECT USP_MstAgentXmlCheckSum_IU('$agent', '$os', '$1', localtimestamp(0)::timestamp, '$purl', '$surl')"
            ;;
        mariadb)
            mariadb --no-defaults -N -B --protocol=TCP -h 127.0.0.1 -P "$port" -u brimlet \
                brimlet_bench -e \
                "CALL USP_MstAgentXmlCheckSum_IU('$agent', '$os', '$1', NOW(), '$purl', '$surl', @s); SELECT @s"
            ;;
    esac
}

# The mariadb client writes NULL as the word NULL, psql as nothing; booleans come as t/f or 1/0.
null_word=""
[[ "$backend" == mariadb ]] && null_word="NULL"

query |
    awk -F'\t' -v OFS='\t' '{ k = $1; gsub(/^ +| +$/, "", k); print tolower(k), $0 }' |
    LC_ALL=C sort -s -t $'\t' -k1,1 |
    awk -F'\t' -v head="$head" -v nul="$null_word" -v lean="$lean" '
        function esc(s) {
            if (lean == "" && s ~ /[&<>"]/) {
                gsub(/&/, "\\&amp;", s); gsub(/</, "\\&lt;", s)
                gsub(/>/, "\\&gt;", s); gsub(/"/, "\\&quot;", s)
            }
            return s
        }
        function val(i) { return ($i == nul && nul != "") ? "" : $i }
        BEGIN { printf "%s", head }
        {
            k = $1
            if (k != g) {
                if (g != "") printf "</%sfiles>", g
                printf "<%sfiles>", k
                g = k
            }
            reg = ($11 == "t" || $11 == "1") ? 1 : 0
            printf "<%s name=\"%s\" version=\"%s\" agentversion=\"%s\" state=\"%s\" path=\"%s\" isregrequired=\"%s\"><md5checksum><![CDATA[%s]]></md5checksum><description><![CDATA[%s]]></description><dependencychk><![CDATA[%s]]></dependencychk></%s>",
                k, esc(val(3)), esc(val(8)), esc(val(7)), esc(val(6)), esc(val(4)), reg,
                val(5), val(9), val(10), k
        }
        END { if (g != "") printf "</%sfiles>", g; printf "</brimlet>" }' |
    openssl enc -aes-256-cbc -a -A -K "$key" -iv "$iv" >"$tmp"
printf '\r\n' >>"$tmp"
mv -f "$tmp" "$out"

sum="$(md5sum "$out")"
sum="${sum%% *}"
record "${sum^^}" >/dev/null
