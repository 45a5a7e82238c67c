#!/usr/bin/env bash
# sql/sqlserver/ as a T-SQL parser reads it: no SQL Server runs here, so Debian's sqlfluff
# (--dialect tsql) parses every script without an unparsable segment, and both procedures take
# the parameters sql/README.md documents, in its order, of its types and lengths (nvarchar for
# varchar: the program binds text as UTF-16), the status as OUTPUT.
# Usage: sqlserver_parse.sh SOURCE_DIR
set -euo pipefail
src="$1"
if ! command -v sqlfluff >/dev/null 2>&1; then
    echo "sqlfluff is missing: scripts/test installs it (apt-get install sqlfluff)" >&2
    exit 1
fi
failed=0
for script in "$src"/sql/sqlserver/*.sql; do
    out="$(sqlfluff parse --dialect tsql --nofail "$script" 2>&1)" || true
    if grep -qi 'unparsable' <<<"$out" || ! grep -q 'go_statement' <<<"$out"; then
        echo "FAIL: ${script#"$src"/} does not parse as T-SQL:" >&2
        grep -i -A3 'unparsable\|violation' <<<"$out" >&2 || true
        failed=1
    fi
done
python3 - "$src/sql/README.md" "$src/sql/sqlserver/procedures.sql" <<'EOF' || failed=1
import re, sys
readme, procedures = (open(p, encoding="utf-8").read() for p in sys.argv[1:])
documented = dict(re.findall(r"^## (USP_\w+)\((.*)\)$", readme, re.M))
found = dict(re.findall(r"CREATE OR ALTER PROCEDURE dbo\.(\w+)\s+(.*?)\nAS\n", procedures, re.S))
ok = bool(documented) and documented.keys() == found.keys()
for name, params in documented.items():
    want = [(p, t.replace("varchar", "nvarchar"), o) for p, t, o in
            re.findall(r"(@\w+) (\w+(?:\(\d+\))?)( OUTPUT)?", params)]
    got = re.findall(r"(@\w+) (\w+(?:\(\d+\))?)( OUTPUT)?,?\n", found.get(name, "") + "\n")
    if want != got:
        print(f"FAIL: {name}: documented {want}, sql/sqlserver has {got}", file=sys.stderr)
        ok = False
sys.exit(0 if ok else 1)
EOF
exit "$failed"
