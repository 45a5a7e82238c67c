# Shared shell helpers of the project's scripts.

# Runs a command as root: directly when we are root, else through sudo.
brimlet_as_root() {
    if [[ "$(id -u)" -eq 0 ]]; then
        "$@"
    elif command -v sudo >/dev/null 2>&1; then
        sudo "$@"
    else
        echo "error: '$*' needs root; run as root or install sudo" >&2
        return 1
    fi
}

# Installs the Debian packages of the named groups that are not installed yet.
#   build: compiler, CMake, OpenSSL, unixODBC, dpkg-buildflags (dpkg-dev)
#   test:  GoogleTest, database servers and their ODBC drivers, xmllint, openssl, and the
#          package checks (lintian, systemd-analyze, mandoc, man, the ACL tools),
#          the node exporter, promtool and curl for the metrics files, sqlfluff for the
#          SQL Server scripts
#   lint:  clang-format, clang-tidy, shellcheck, and the mingw-w64 cross compiler whose headers
#          the Windows files are read with
#   windows: the mingw-w64 cross compiler (posix threads), its 32-bit C compiler for the
#          32-bit test DLL that the x64 program must refuse, Wine, GoogleTest's sources, CMake,
#          openssl for the cross-decrypt check, the database servers and the host's ODBC
#          drivers that Wine's odbc32 hands the calls to
brimlet_install_packages() {
    local pkgs=()
    local group
    for group in "$@"; do
        case "$group" in
            build) pkgs+=(g++ cmake make pkg-config libssl-dev unixodbc-dev unixodbc openssl locales
                          dpkg-dev) ;;
            test) pkgs+=(libgtest-dev googletest postgresql odbc-postgresql mariadb-server
                         odbc-mariadb tdsodbc libxml2-utils libxml2-dev procps python3 valgrind
                         lintian systemd mandoc man-db acl
                         sqlfluff
                         prometheus-node-exporter prometheus curl) ;;
            demo) pkgs+=(postgresql odbc-postgresql libxml2-utils openssl python3) ;;
            fuzz) pkgs+=(clang libclang-rt-dev libxml2-dev) ;;
            lint) pkgs+=(clang-format clang-tidy shellcheck python3 g++-mingw-w64-x86-64-posix) ;;
            windows) pkgs+=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-i686-posix wine64 googletest cmake make openssl
                            python3 unixodbc postgresql odbc-postgresql mariadb-server
                            odbc-mariadb) ;;
        esac
    done
    local missing=()
    local p
    for p in "${pkgs[@]}"; do
        if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$p")
        fi
    done
    if ((${#missing[@]} == 0)); then
        return 0
    fi
    echo "installing: ${missing[*]}"
    if ! brimlet_as_root env DEBIAN_FRONTEND=noninteractive apt-get update -qq; then
        echo "error: apt-get update failed: is the package mirror reachable?" >&2
        return 1
    fi
    # The packaged servers must not start system-wide instances: tests run private ones.
    local policy=/usr/sbin/policy-rc.d created_policy=0
    if [[ ! -e "$policy" ]]; then
        printf '#!/bin/sh\nexit 101\n' | brimlet_as_root tee "$policy" >/dev/null
        brimlet_as_root chmod 755 "$policy"
        created_policy=1
    fi
    local rc=0
    brimlet_as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
        "${missing[@]}" || rc=$?
    if ((created_policy)); then
        brimlet_as_root rm -f "$policy"
    fi
    if ((rc != 0)); then
        echo "error: apt-get install failed (exit $rc)" >&2
        return "$rc"
    fi
}

# A free TCP port on 127.0.0.1.
brimlet_free_port() {
    python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1]); s.close()'
}
