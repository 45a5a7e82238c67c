# shellcheck shell=bash
# Private database servers for the test suite: one PostgreSQL 15 and one MariaDB instance,
# each on a free port of 127.0.0.1 with its unix socket, data and log inside STATE_DIR. They
# run as the calling (unprivileged) user and are tuned for speed, not durability.
#
#   servers_start STATE_DIR   starts both, waits until they accept logins, exports
#                             BRIMLET_TEST_PG, BRIMLET_TEST_MARIADB (ODBC connection strings to
#                             the admin database brimlet_admin, user brimlet, password Tk3vQp8w,
#                             a word that no path holds: the program hides it in every text),
#                             BRIMLET_TEST_PG_PORT and BRIMLET_TEST_MARIADB_PORT; the same
#                             exports are written to STATE_DIR/env.sh for other shells.
#   servers_stop STATE_DIR    stops exactly the instances recorded in STATE_DIR (pg.pid,
#                             mariadb.pid); safe to call twice or after a failed start.
#
# Needs brimlet_free_port (scripts/lib/common.sh). Both functions return non-zero with a
# message on stderr when something fails.

brimlet_pg_bin=/usr/lib/postgresql/15/bin
brimlet_server_wait_s=60

# Prints the last lines of a server log to stderr, to explain a failed start.
_servers_log_tail() {
    if [[ -f "$1" ]]; then
        echo "--- last lines of $1 ---" >&2
        tail -n 20 "$1" >&2
    fi
}

_servers_start_pg() {
    local state="$1"
    local data="$state/pg" sock="$state/pgsock" log="$state/pg.log" port
    port="$(brimlet_free_port)" || return 1
    mkdir -p "$sock" && chmod 700 "$sock" || return 1
    printf 'Tk3vQp8w\n' >"$state/pg.pwfile"
    if ! "$brimlet_pg_bin/initdb" -D "$data" -U brimlet --pwfile="$state/pg.pwfile" \
        --auth=scram-sha-256 -E UTF8 --locale=C.UTF-8 --no-sync >"$state/pg-initdb.log" 2>&1; then
        echo "servers_start: initdb failed" >&2
        _servers_log_tail "$state/pg-initdb.log"
        return 1
    fi
    cat >>"$data/postgresql.conf" <<EOF
listen_addresses = '127.0.0.1'
port = $port
unix_socket_directories = '$sock'
fsync = off
synchronous_commit = off
full_page_writes = off
wal_level = minimal
max_wal_senders = 0
max_connections = 200
shared_buffers = 64MB
autovacuum = off
log_min_messages = warning
EOF
    if ! "$brimlet_pg_bin/pg_ctl" -D "$data" -l "$log" -w -t "$brimlet_server_wait_s" start >/dev/null; then
        echo "servers_start: PostgreSQL did not start within ${brimlet_server_wait_s}s" >&2
        _servers_log_tail "$log"
        if [[ -f "$data/postmaster.pid" ]]; then
            head -n 1 "$data/postmaster.pid" >"$state/pg.pid"
        fi
        return 1
    fi
    head -n 1 "$data/postmaster.pid" >"$state/pg.pid"
    if ! PGPASSWORD=Tk3vQp8w "$brimlet_pg_bin/psql" -X -q -h 127.0.0.1 -p "$port" -U brimlet \
        -d postgres -v ON_ERROR_STOP=1 -c "CREATE DATABASE brimlet_admin" >>"$log" 2>&1; then
        echo "servers_start: PostgreSQL: could not create brimlet_admin" >&2
        _servers_log_tail "$log"
        return 1
    fi
    export BRIMLET_TEST_PG_PORT="$port"
    export BRIMLET_TEST_PG="Driver=PostgreSQL Unicode;Server=127.0.0.1;Port=$port;Database=brimlet_admin;Uid=brimlet;Pwd=Tk3vQp8w"
}

_servers_start_mariadb() {
    local state="$1"
    local data="$state/mariadb" sock="$state/mariadb.sock" log="$state/mariadb.log" port
    port="$(brimlet_free_port)" || return 1
    if ! mariadb-install-db --no-defaults --datadir="$data" --auth-root-authentication-method=normal \
        --skip-test-db --skip-name-resolve >"$state/mariadb-install.log" 2>&1; then
        echo "servers_start: mariadb-install-db failed" >&2
        _servers_log_tail "$state/mariadb-install.log"
        return 1
    fi
    mariadbd --no-defaults --datadir="$data" --port="$port" --bind-address=127.0.0.1 \
        --socket="$sock" --pid-file="$state/mariadbd.pidfile" --log-error="$log" \
        --skip-name-resolve --log-bin-trust-function-creators=1 \
        --innodb-flush-log-at-trx-commit=0 --innodb-doublewrite=0 --sync-binlog=0 \
        --innodb-buffer-pool-size=64M --max-connections=200 \
        </dev/null >>"$log" 2>&1 &
    echo "$!" >"$state/mariadb.pid"
    local pid="$!" waited=0
    until mariadb --no-defaults --socket="$sock" -u root -e "SELECT 1" >/dev/null 2>&1; do
        if ! kill -0 "$pid" 2>/dev/null; then
            echo "servers_start: mariadbd exited during start-up" >&2
            _servers_log_tail "$log"
            return 1
        fi
        if ((waited >= brimlet_server_wait_s * 10)); then
            echo "servers_start: MariaDB did not accept connections within ${brimlet_server_wait_s}s" >&2
            _servers_log_tail "$log"
            return 1
        fi
        sleep 0.1
        waited=$((waited + 1))
    done
    # root keeps only its password-less socket login inside the private state directory.
    if ! mariadb --no-defaults --socket="$sock" -u root >>"$log" 2>&1 <<'EOF'; then
CREATE USER 'brimlet'@'127.0.0.1' IDENTIFIED BY 'Tk3vQp8w';
CREATE USER 'brimlet'@'localhost' IDENTIFIED BY 'Tk3vQp8w';
GRANT ALL PRIVILEGES ON *.* TO 'brimlet'@'127.0.0.1' WITH GRANT OPTION;
GRANT ALL PRIVILEGES ON *.* TO 'brimlet'@'localhost' WITH GRANT OPTION;
DROP USER IF EXISTS 'root'@'127.0.0.1', 'root'@'::1';
CREATE DATABASE brimlet_admin;
FLUSH PRIVILEGES;
EOF
        echo "servers_start: MariaDB: could not create user brimlet or brimlet_admin" >&2
        _servers_log_tail "$log"
        return 1
    fi
    if ! mariadb --no-defaults --protocol=TCP -h 127.0.0.1 -P "$port" -u brimlet -pTk3vQp8w \
        brimlet_admin -e "SELECT 1" >/dev/null 2>>"$log"; then
        echo "servers_start: MariaDB: login as brimlet over TCP failed" >&2
        _servers_log_tail "$log"
        return 1
    fi
    export BRIMLET_TEST_MARIADB_PORT="$port"
    export BRIMLET_TEST_MARIADB="Driver=MariaDB Unicode;Server=127.0.0.1;Port=$port;Database=brimlet_admin;Uid=brimlet;Pwd=Tk3vQp8w"
}

servers_start() {
    local state="${1:?servers_start: STATE_DIR missing}"
    if [[ "$(id -u)" -eq 0 ]]; then
        echo "servers_start: the servers refuse to run as root; run as an unprivileged user" \
            "(runuser -u brimlet-test)" >&2
        return 1
    fi
    mkdir -p "$state" && chmod 700 "$state" || return 1
    _servers_start_pg "$state" || return 1
    _servers_start_mariadb "$state" || return 1
    {
        printf 'export BRIMLET_TEST_PG=%q\n' "$BRIMLET_TEST_PG"
        printf 'export BRIMLET_TEST_PG_PORT=%q\n' "$BRIMLET_TEST_PG_PORT"
        printf 'export BRIMLET_TEST_MARIADB=%q\n' "$BRIMLET_TEST_MARIADB"
        printf 'export BRIMLET_TEST_MARIADB_PORT=%q\n' "$BRIMLET_TEST_MARIADB_PORT"
    } >"$state/env.sh"
    echo "servers_start: PostgreSQL on 127.0.0.1:$BRIMLET_TEST_PG_PORT, MariaDB on 127.0.0.1:$BRIMLET_TEST_MARIADB_PORT"
}

# Waits up to $2 tenths of a second for pid $1 to end; fails when it is still there.
_servers_wait_gone() {
    local pid="$1" n=0
    while kill -0 "$pid" 2>/dev/null; do
        if ((n >= $2)); then
            return 1
        fi
        sleep 0.1
        n=$((n + 1))
    done
}

servers_stop() {
    local state="${1:?servers_stop: STATE_DIR missing}"
    local pid rc=0
    if [[ -f "$state/pg.pid" ]]; then
        pid="$(cat "$state/pg.pid")"
        if [[ "$pid" =~ ^[0-9]+$ ]] && kill -0 "$pid" 2>/dev/null; then
            # pg_ctl returns once postmaster.pid is gone, a moment before the process is.
            if ! "$brimlet_pg_bin/pg_ctl" -D "$state/pg" stop -m fast -w -t 20 >/dev/null 2>&1 ||
                ! _servers_wait_gone "$pid" 50; then
                echo "servers_stop: PostgreSQL $pid did not stop, killing it" >&2
                kill -KILL "$pid" 2>/dev/null || true
                _servers_wait_gone "$pid" 50 || rc=1
            fi
        fi
        rm -f "$state/pg.pid"
    fi
    if [[ -f "$state/mariadb.pid" ]]; then
        pid="$(cat "$state/mariadb.pid")"
        if [[ "$pid" =~ ^[0-9]+$ ]] && kill -0 "$pid" 2>/dev/null; then
            kill -TERM "$pid" 2>/dev/null || true
            if ! _servers_wait_gone "$pid" 200; then
                echo "servers_stop: mariadbd $pid did not end in 20s, killing it" >&2
                kill -KILL "$pid" 2>/dev/null || true
                _servers_wait_gone "$pid" 50 || rc=1
            fi
        fi
        rm -f "$state/mariadb.pid"
    fi
    return "$rc"
}
