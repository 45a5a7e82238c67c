#!/usr/bin/env python3
"""Measures the program against the floor and the operator's pipeline; run by scripts/bench.

Expects the private servers of scripts/lib/servers.sh (BRIMLET_TEST_PG, BRIMLET_TEST_PG_PORT,
BRIMLET_TEST_MARIADB, BRIMLET_TEST_MARIADB_PORT in the environment) and a Release build.
Writes the raw figures as JSON and docs/performance.md's text (--markdown).
"""

import argparse
import datetime
import json
import os
import platform
import re
import shutil
import statistics
import subprocess
import sys
import time

AGENT, OS_TYPE = "KA", "WIN64"
LINK = f"bench_{AGENT}_{OS_TYPE}"
PURL = "https://downloads.example.com/brimlet/KA"
SURL = "https://mirror.example.com/brimlet/KA"
PASS_PHRASE = "Qm7RtX2bLw9PzK4nHc8VjE5sYa3FdU6g"
IV = "0" * 32
PAUSE_S = 2.0


def log(msg):
    print(f"[{datetime.datetime.now():%H:%M:%S}] {msg}", flush=True)


def run_timed(cmd, stdout=None, env=None, cwd=None, check=True):
    """Runs cmd; returns (seconds, peak RSS KiB of the largest process, exit code).

    GNU time measures the RSS: a child forked from this Python process would inherit its
    high-water mark across exec, so small programs would read as large as the interpreter.
    """
    out = stdout if stdout is not None else subprocess.DEVNULL
    err_path = os.path.join(ARGS.work, "last.stderr")
    rss_path = os.path.join(ARGS.work, "last.rss")
    with open(err_path, "wb") as err:
        start = time.perf_counter()
        proc = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", rss_path] + cmd, stdout=out,
                              stderr=err, env=env, cwd=cwd)
        seconds = time.perf_counter() - start
    code = proc.returncode
    if check and code != 0:
        with open(err_path, "rb") as err:
            detail = err.read().decode(errors="replace")[-2000:]
        raise RuntimeError(f"{cmd[0]} exited with {code}: {detail}")
    with open(rss_path) as f:
        rss = int(f.read().split()[-1])
    return seconds, rss, code


def sh(cmd, **kw):
    return subprocess.run(cmd, check=True, **kw)


# ---- databases ----

class Backend:
    def __init__(self, name, conn_admin, port):
        self.name = name
        self.port = port
        self.conn = conn_admin.replace("Database=brimlet_admin", "Database=brimlet_bench")
        self.env = dict(os.environ, PGPASSWORD="Tk3vQp8w", MYSQL_PWD="Tk3vQp8w")

    def client(self, database="brimlet_bench"):
        if self.name == "pg":
            return ["psql", "-X", "-q", "-v", "ON_ERROR_STOP=1", "-h", "127.0.0.1", "-p",
                    self.port, "-U", "brimlet", "-d", database]
        return ["mariadb", "--no-defaults", "--protocol=TCP", "-h", "127.0.0.1", "-P", self.port,
                "-u", "brimlet", database]

    def sql(self, text, database="brimlet_bench"):
        sh(self.client(database), input=text.encode(), env=self.env, stdout=subprocess.DEVNULL)

    def create(self):
        src = os.path.join(ARGS.src, "sql", "postgresql" if self.name == "pg" else "mariadb")
        if self.name == "pg":
            self.sql("DROP DATABASE IF EXISTS brimlet_bench;\nCREATE DATABASE brimlet_bench;\n",
                     "postgres")
        else:
            self.sql("DROP DATABASE IF EXISTS brimlet_bench;\nCREATE DATABASE brimlet_bench;\n",
                     "brimlet_admin")
        for part in ("schema.sql", "procedures.sql"):
            with open(os.path.join(src, part), encoding="utf-8") as f:
                self.sql(f.read())

    def seed(self, rows):
        name = "seed_postgresql.sql" if self.name == "pg" else "seed_mariadb.sql"
        with open(os.path.join(ARGS.src, "bench", "sql", name), encoding="utf-8") as f:
            text = f.read().replace("@ROWS@", str(rows))
        start = time.perf_counter()
        self.sql(text)
        return time.perf_counter() - start

    def reference_fetch(self):
        """The stock client's fetch of the same rows, to /dev/null."""
        if self.name == "pg":
            return self.client() + ["-At", "-F", "\t", "-c",
                                    f"SELECT * FROM USP_AgentComponent_Details('{OS_TYPE}', "
                                    f"'{AGENT}')"]
        return self.client() + ["-N", "-B", "-e",
                                f"CALL USP_AgentComponent_Details('{OS_TYPE}', '{AGENT}')"]


# ---- the program's directory ----

def prepare_exe_dir(backend):
    exe_dir = os.path.join(ARGS.work, backend.name)
    shutil.rmtree(exe_dir, ignore_errors=True)
    for sub in ("Ini", "Log", os.path.join("out", AGENT)):
        os.makedirs(os.path.join(exe_dir, sub))
    os.symlink(os.path.join(ARGS.build, "bin", "brimlet"), os.path.join(exe_dir, LINK))
    os.symlink(os.path.join(ARGS.build, "bin", "libVelGnMD5.so"),
               os.path.join(exe_dir, "libVelGnMD5.so"))
    with open(os.path.join(exe_dir, "Ini", "dbstring.Ini"), "w", encoding="utf-8") as f:
        f.write("[Brimlet]\n"
                f"KEMADDONDBstr={backend.conn}\n"
                "conntimeoutsec=15\n"
                "cmdtimeoutsec=0\n"
                f"purl={PURL}\n"
                f"surl={SURL}\n"
                f"srvpath={exe_dir}/out/\n")
    return exe_dir


def prepare_wine_dir(backend):
    """The Windows build's run directory: the program copied under the link's name with its MD5
    library, srvpath on Wine's drive Z: (the host's root)."""
    exe_dir = os.path.join(ARGS.work, backend.name + "-wine")
    shutil.rmtree(exe_dir, ignore_errors=True)
    for sub in ("Ini", "Log", os.path.join("out", AGENT)):
        os.makedirs(os.path.join(exe_dir, sub))
    shutil.copy(os.path.join(ARGS.windows_build, "bin", "brimlet.exe"),
                os.path.join(exe_dir, LINK + ".exe"))
    shutil.copy(os.path.join(ARGS.windows_build, "bin", "VelGnMD5.dll"), exe_dir)
    out = "Z:" + os.path.join(exe_dir, "out").replace("/", "\\") + "\\"
    with open(os.path.join(exe_dir, "Ini", "dbstring.Ini"), "w", encoding="utf-8") as f:
        f.write("[Brimlet]\r\n"
                f"KEMADDONDBstr={backend.conn}\r\n"
                "conntimeoutsec=15\r\n"
                "cmdtimeoutsec=0\r\n"
                f"purl={PURL}\r\n"
                f"surl={SURL}\r\n"
                f"srvpath={out}\r\n")
    return exe_dir


def wine_env():
    """Wine's settings as scripts/test-windows sets them: a prefix of the bench's own, its server
    started beforehand (scripts/bench), a UTF-8 LC_CTYPE for the host's psqlODBC inside the Wine
    process."""
    env = dict(os.environ, WINEPREFIX=os.path.join(ARGS.work, "wineprefix"),
               WINEDEBUG="-all", WINEDLLOVERRIDES="winedbg.exe=d", LANG="C", LC_CTYPE="C.UTF-8",
               PATH="/usr/lib/wine:" + os.environ.get("PATH", ""))
    for k in ("LC_ALL", "LC_MESSAGES", "LC_TIME", "LC_NUMERIC", "LC_COLLATE", "LC_MONETARY"):
        env.pop(k, None)
    return env


def doc_path(exe_dir):
    return os.path.join(exe_dir, "out", AGENT, f"Brimlet_{AGENT}_{OS_TYPE}.xml")


def key_hex():
    import hashlib
    return hashlib.sha256(PASS_PHRASE.encode()).hexdigest()


def decrypt(path, plain_path):
    with open(path, "rb") as f:
        data = f.read()
    if not data.endswith(b"\r\n"):
        raise RuntimeError(f"{path} does not end in CR LF")
    proc = subprocess.run(["openssl", "enc", "-d", "-aes-256-cbc", "-a", "-A", "-K", key_hex(),
                           "-iv", IV, "-out", plain_path], input=data[:-2], check=True)
    return proc


def normalised(path):
    with open(path, "rb") as f:
        data = f.read()
    return re.sub(rb"<createdatetime>[^<]*</createdatetime>", b"<createdatetime/>", data, count=1)


def log_errors(exe_dir):
    bad = []
    log_dir = os.path.join(exe_dir, "Log")
    for name in os.listdir(log_dir):
        with open(os.path.join(log_dir, name), encoding="utf-8", errors="replace") as f:
            bad += [line.strip() for line in f if "\tERR\t" in line]
    return bad


# ---- one size ----

def measure_size(backend, rows, runs):
    result = {"rows": rows, "runs": runs}
    log(f"{backend.name} N={rows}: seeding")
    result["seed_s"] = backend.seed(rows)
    exe_dir = prepare_exe_dir(backend)
    link = os.path.join(exe_dir, LINK)
    doc = doc_path(exe_dir)
    pipeline_doc = os.path.join(exe_dir, "out", "pipeline.xml")
    plain = os.path.join(ARGS.work, "plain.xml")
    encrypted = os.path.join(ARGS.work, "encrypted.tmp")
    floor_bin = os.path.join(ARGS.build, "bench", "brimlet_fetch_floor")
    pipeline = [os.path.join(ARGS.src, "bench", "pipeline.sh"), backend.name, backend.port,
                pipeline_doc, AGENT, OS_TYPE, PURL, SURL]
    lean = [os.path.join(ARGS.src, "bench", "pipeline.sh"), backend.name, backend.port,
            pipeline_doc + ".lean", AGENT, OS_TYPE, PURL, SURL, "lean"]
    openssl = ["openssl", "enc", "-aes-256-cbc", "-a", "-A", "-K", key_hex(), "-iv", IV,
               "-in", plain, "-out", encrypted]
    # The reader's side: the project's decrypt tool against the stock tool, file to file.
    openssl_dec = ["openssl", "enc", "-d", "-aes-256-cbc", "-a", "-A", "-K", key_hex(), "-iv",
                   IV, "-in", doc, "-out", encrypted]
    decrypt_tool = [os.path.join(ARGS.build, "bin", "brimlet-decrypt"), "-o", encrypted, doc]

    # A first run of each, to warm the server's cache and to check that both produce the same
    # document.
    log(f"{backend.name} N={rows}: checking program and pipeline output")
    run_timed([link], cwd=exe_dir)
    run_timed(pipeline, env=backend.env)
    errors = log_errors(exe_dir)
    if errors:
        raise RuntimeError("program logged errors: " + " | ".join(errors[:5]))
    decrypt(doc, plain)
    pipeline_plain = os.path.join(ARGS.work, "pipeline_plain.xml")
    decrypt(pipeline_doc, pipeline_plain)
    result["same_document"] = normalised(plain) == normalised(pipeline_plain)
    if not result["same_document"]:
        raise RuntimeError(f"program and pipeline documents differ ({plain}, {pipeline_plain})")
    os.unlink(pipeline_plain)
    result["plain_bytes"] = os.path.getsize(plain)
    result["file_bytes"] = os.path.getsize(doc)
    floor_out = subprocess.run([floor_bin, backend.conn, OS_TYPE, AGENT], check=True,
                               capture_output=True, text=True).stdout.split()
    result["floor_rows"] = int(floor_out[1])
    result["value_bytes"] = int(floor_out[3])
    if result["floor_rows"] != rows:
        raise RuntimeError(f"floor fetched {floor_out[1]} rows, expected {rows}")
    wine_dir = None
    if ARGS.windows_build and rows in ARGS.wine_rows:
        wine_dir = prepare_wine_dir(backend)
        wine = ["wine64", "./" + LINK + ".exe"]
        log(f"{backend.name} N={rows}: checking the Windows build under Wine")
        run_timed(wine, cwd=wine_dir, env=wine_env())
        errors = log_errors(wine_dir)
        if errors:
            raise RuntimeError("the Windows build logged errors: " + " | ".join(errors[:5]))
        wine_plain = os.path.join(ARGS.work, "wine_plain.xml")
        decrypt(doc_path(wine_dir), wine_plain)
        if normalised(plain) != normalised(wine_plain):
            raise RuntimeError(f"the Windows build's document differs ({plain}, {wine_plain})")
        os.unlink(wine_plain)

    series = {k: [] for k in ("program", "program_rss", "floor_fetch", "floor_rss", "openssl",
                              "md5sum", "floor", "reference_fetch", "pipeline", "pipeline_rss",
                              "lean", "lean_rss", "openssl_dec", "openssl_dec_rss",
                              "decrypt", "decrypt_rss", "wine")}
    for i in range(runs):
        log(f"{backend.name} N={rows}: run {i + 1}/{runs}")
        s, rss, code = run_timed([link], cwd=exe_dir)
        series["program"].append(s - PAUSE_S)
        series["program_rss"].append(rss)
        s_fetch, rss, _ = run_timed([floor_bin, backend.conn, OS_TYPE, AGENT])
        series["floor_fetch"].append(s_fetch)
        series["floor_rss"].append(rss)
        s_enc, _, _ = run_timed(openssl)
        series["openssl"].append(s_enc)
        s, rss, _ = run_timed(openssl_dec)
        series["openssl_dec"].append(s)
        series["openssl_dec_rss"].append(rss)
        s, rss, _ = run_timed(decrypt_tool)
        series["decrypt"].append(s)
        series["decrypt_rss"].append(rss)
        s_md5, _, _ = run_timed(["md5sum", doc])
        series["md5sum"].append(s_md5)
        series["floor"].append(s_fetch + s_enc + s_md5)
        s, _, _ = run_timed(backend.reference_fetch(), env=backend.env)
        series["reference_fetch"].append(s)
        s, rss, _ = run_timed(pipeline, env=backend.env)
        series["pipeline"].append(s)
        series["pipeline_rss"].append(rss)
        s, rss, _ = run_timed(lean, env=backend.env)
        series["lean"].append(s)
        series["lean_rss"].append(rss)
        if wine_dir:
            s, _, _ = run_timed(wine, cwd=wine_dir, env=wine_env())
            series["wine"].append(s - PAUSE_S)
    errors = log_errors(exe_dir) + (log_errors(wine_dir) if wine_dir else [])
    if errors:
        raise RuntimeError("program logged errors: " + " | ".join(errors[:5]))
    result["series"] = series

    if rows in ARGS.stage_rows:
        stages_bin = os.path.join(ARGS.build, "bench", "brimlet_stage_times")
        result["stages"] = []
        for i in range(ARGS.stage_runs):
            log(f"{backend.name} N={rows}: stage timings {i + 1}/{ARGS.stage_runs}")
            # Started through GNU time so that its RSS high-water mark starts small (see
            # run_timed).
            proc = subprocess.run(["/usr/bin/time", "-f", "", stages_bin, exe_dir,
                                   "stages_" + AGENT + "_" + OS_TYPE],
                                  check=True, capture_output=True, text=True)
            stage = {}
            for line in proc.stdout.splitlines():
                f = line.split()
                if len(f) == 4:
                    stage[f[0]] = {"s": float(f[1]), "peak_kib": int(f[2]), "now_kib": int(f[3])}
                elif len(f) == 2:
                    stage[f[0]] = f[1]
            result["stages"].append(stage)
    for path in (plain, encrypted):
        if os.path.exists(path):
            os.unlink(path)
    return result


# ---- the report ----

def med(values):
    return statistics.median(values)


def fmt_s(values):
    return f"{med(values):.3f} ({min(values):.3f}–{max(values):.3f})"


def mib(kib):
    return kib / 1024.0


def fmt_mib(values_kib):
    return f"{mib(med(values_kib)):.1f} ({mib(min(values_kib)):.1f}–{mib(max(values_kib)):.1f})"


def machine():
    info = {"nproc": os.cpu_count(), "kernel": platform.release()}
    try:
        out = subprocess.run(["lscpu"], capture_output=True, text=True).stdout
        m = re.search(r"Model name:\s*(.+)", out)
        info["cpu"] = m.group(1).strip() if m else "?"
    except OSError:
        info["cpu"] = "?"
    with open("/proc/meminfo") as f:
        m = re.search(r"MemTotal:\s*(\d+)", f.read())
        info["mem_gib"] = int(m.group(1)) / 1024 / 1024 if m else 0
    versions = {}
    for pkg in ("postgresql-15", "odbc-postgresql", "mariadb-server", "odbc-mariadb", "unixodbc",
                "openssl", "g++-12"):
        out = subprocess.run(["dpkg-query", "-W", "-f=${Version}", pkg], capture_output=True,
                             text=True)
        versions[pkg] = out.stdout.strip() or "?"
    info["versions"] = versions
    info["load_start"] = os.getloadavg()
    return info


def verdict(ok):
    return "met" if ok else "**missed**"


# The goals: time against the lean pipeline and the floor at these sizes, memory against the
# plain document at the largest.
TIME_GOAL_ROWS = {300000, 1000000}
RSS_GOAL_ROWS = {1000000}
LEAN_GOAL = 0.7
FLOOR_GOAL = 1.0
RSS_GOAL = 2.0


def goal(ratio, limit):
    """'met', or by how much the ratio is over its limit."""
    if ratio <= limit:
        return "met"
    return f"**missed by {(ratio / limit - 1) * 100:.0f}%**"


def markdown(results):
    m = results["machine"]
    lines = []
    w = lines.append
    w("# Performance")
    w("")
    w("What a run costs as the number of components grows, against the floor of the same work "
      "through the same driver and against the pipeline an operator would script instead. "
      "All figures below were measured by `scripts/bench` in one run on the machine named "
      "here; the machine is shared and noisy, so only the ratios within this run count.")
    w("")
    w("## Machine and run")
    w("")
    w(f"- {m['nproc']} CPUs ({m['cpu']}), {m['mem_gib']:.1f} GiB memory, Linux {m['kernel']}")
    w("- " + ", ".join(f"{k} {v}" for k, v in m["versions"].items()))
    w(f"- servers: the private PostgreSQL and MariaDB instances of `scripts/lib/servers.sh` on "
      f"127.0.0.1 (fsync off), the program in a Release build")
    w(f"- run at {results['started']} UTC, {results['duration_s'] / 60:.1f} minutes in all")
    if "load_start" in m:
        w("- load average (1, 5, 15 min) at the start: "
          + ", ".join(f"{x:.2f}" for x in m["load_start"]) + "; at the end: "
          + ", ".join(f"{x:.2f}" for x in results.get("load_end", [])) + " (other work on the "
          "machine shows here)")
    if ARGS.windows_build or any(size.get("series", {}).get("wine")
                                 for b in results["backends"] for size in b["sizes"]):
        w("- the Windows build: mingw-w64 Release, run by `wine64` in its own prefix, through "
          "Wine's odbc32 to the same host drivers and servers")
    w(f"- reproduce: `{results['command']}`")
    w("")
    w("## What is measured")
    w("")
    w(f"- **program**: the Release binary through its link `{LINK}` (settings file, log, "
      "document, checksum procedure: a whole run), wall time less the fixed 2000 ms pause, and "
      "its peak RSS (GNU time `%M`: the largest process).")
    w("- **floor** = bare fetch + `openssl enc` + `md5sum`. The bare fetch is "
      "`bench/fetch_floor.cpp`: the same `{call USP_AgentComponent_Details(?, ?)}` through the "
      "same driver and connection string, with what the program adds to it (for psqlODBC "
      "its cursor fetch mode, `UseDeclareFetch=1;Fetch=10000`), column-wise bound row arrays of 1024 rows, narrow "
      "(`SQL_C_CHAR`), values thrown away. `openssl enc -aes-256-cbc -a -A` encrypts the same plain document the "
      "program encrypted (file to file), `md5sum` hashes the published file.")
    w("- **lean pipeline**: `bench/pipeline.sh ... lean`: the same script without the escaping "
      "of attribute values, so less work than the program does.")
    w("- **reader**: `brimlet-decrypt -o` against `openssl enc -d -aes-256-cbc -a -A`, each "
      "decrypting the published file to a file, time and peak RSS.")
    w("- **stock client**: `psql -At` (PostgreSQL) or `mariadb -N -B` (MariaDB) of the same "
      "call to /dev/null, for reference.")
    w("- **pipeline**: `bench/pipeline.sh`: the client calling the procedure, awk (type key), "
      "`sort -s`, awk (the same grouped, escaped XML), `openssl enc`, CR LF, a rename, `md5sum` "
      "and a client call of the checksum procedure. Before the timed runs the bench checks that "
      "the program's document and the pipeline's decrypt to the same bytes (creation time "
      "aside).")
    w("- Each figure: median of the runs, (min–max) after it; runs interleave the contenders. "
      "Data: N rows of one agent/OS pair, names 10–40 characters, paths 30–80, descriptions "
      "0–200, a few NULLs, types `DLL`, `exe`, `Config`, `sys`, ` dll ` "
      "(`bench/sql/seed_*.sql`).")
    w("")
    summary = []
    for b in results["backends"]:
        title = "PostgreSQL" if b["name"] == "pg" else "MariaDB"
        w(f"## {title}")
        w("")
        for size in b["sizes"]:
            s = size["series"]
            n = size["rows"]
            prog, floor, pipe = med(s["program"]), med(s["floor"]), med(s["pipeline"])
            lean = med(s["lean"])
            plain = size["plain_bytes"]
            w(f"### {title}, N = {n:,} ({size['runs']} runs)")
            w("")
            w(f"Plain document {plain / 2**20:.1f} MiB, published file "
              f"{size['file_bytes'] / 2**20:.1f} MiB, value bytes fetched "
              f"{size['value_bytes'] / 2**20:.1f} MiB; seeding took {size['seed_s']:.1f} s.")
            w("")
            w("| measure | seconds, median (min–max) | peak RSS MiB, median (min–max) |")
            w("|---|---|---|")
            w(f"| program (less 2000 ms pause) | {fmt_s(s['program'])} | "
              f"{fmt_mib(s['program_rss'])} |")
            w(f"| floor: bare ODBC fetch | {fmt_s(s['floor_fetch'])} | "
              f"{fmt_mib(s['floor_rss'])} |")
            w(f"| floor: openssl enc | {fmt_s(s['openssl'])} | |")
            w(f"| floor: md5sum | {fmt_s(s['md5sum'])} | |")
            w(f"| **floor** (fetch + enc + md5, per run) | {fmt_s(s['floor'])} | |")
            w(f"| stock client fetch (reference) | {fmt_s(s['reference_fetch'])} | |")
            if s.get("decrypt"):
                w(f"| reader: openssl enc -d | {fmt_s(s['openssl_dec'])} | "
                  f"{fmt_mib(s['openssl_dec_rss'])} |")
                w(f"| reader: brimlet-decrypt -o | {fmt_s(s['decrypt'])} | "
                  f"{fmt_mib(s['decrypt_rss'])} |")
            w(f"| **pipeline** | {fmt_s(s['pipeline'])} | {fmt_mib(s['pipeline_rss'])} "
              f"(largest process) |")
            if lean:
                w(f"| lean pipeline (no escaping) | {fmt_s(s['lean'])} | "
                  f"{fmt_mib(s['lean_rss'])} (largest process) |")
            wine = med(s["wine"]) if s.get("wine") else None
            if wine:
                w(f"| Windows build under Wine (less 2000 ms pause) | {fmt_s(s['wine'])} | |")
            w("")
            rss_ratio = med(s["program_rss"]) * 1024 / plain
            timed = n in TIME_GOAL_ROWS
            w(f"- program / lean pipeline = **{prog / lean:.2f}**"
              + (f" (goal ≤ {LEAN_GOAL:.2f}: {goal(prog / lean, LEAN_GOAL)})" if timed else "")
              + f"; program / pipeline = **{prog / pipe:.2f}**")
            w(f"- program / floor = **{prog / floor:.2f}**"
              + (f" (goal ≤ {FLOOR_GOAL:.2f}: {goal(prog / floor, FLOOR_GOAL)})" if timed else ""))
            w(f"- peak RSS / plain document = {mib(med(s['program_rss'])):.1f} / "
              f"{plain / 2**20:.1f} MiB = **{rss_ratio:.2f}**"
              + (f" (goal ≤ {RSS_GOAL:.1f}: {goal(rss_ratio, RSS_GOAL)})" if n in RSS_GOAL_ROWS
                 else ""))
            if s.get("decrypt"):
                w(f"- brimlet-decrypt / openssl enc -d = "
                  f"**{med(s['decrypt']) / med(s['openssl_dec']):.2f}**")
            if wine:
                w(f"- Windows build under Wine / Linux build = **{wine / prog:.2f}** (a figure, "
                  "not a goal: most of it is Wine's)")
            w("")
            summary.append((title, n, prog, floor, lean, rss_ratio, wine))
            if "stages" in size:
                w(f"#### Stages inside the program, N = {n:,}")
                w("")
                w("Timed by `bench/stage_times.cpp` through the program's own libraries and "
                  "settings. Fetch is timed alone; sort and body = the body procedure (which "
                  "fetches again) less the lone fetch; write = the streamed encryption and "
                  "write (with fsync and rename) less an encryption into nothing; update = "
                  "the checksum procedure step (which hashes again) less the lone hash. The driver "
                  "holds the body whole to time it apart from the encryption, so its RSS "
                  "column is the driver's, not the program's (the program streams the body).")
                w("")
                runs = size["stages"]
                cols = " | ".join(f"run {i + 1} s" for i in range(len(runs)))
                w(f"| stage | {cols} | peak RSS after it, MiB | RSS after it, MiB |")
                w("|---|" + "---|" * len(runs) + "---|---|")

                def stage_row(label, fn, key):
                    vals = " | ".join(f"{fn(r):.3f}" for r in runs)
                    last = runs[-1][key]
                    w(f"| {label} | {vals} | {mib(last['peak_kib']):.1f} | "
                      f"{mib(last['now_kib']):.1f} |")

                stage_row("connect", lambda r: r["connect"]["s"], "connect")
                stage_row("fetch", lambda r: r["fetch"]["s"], "fetch")
                stage_row("sort and body", lambda r: r["fetch_sort_body"]["s"] - r["fetch"]["s"],
                          "fetch_sort_body")
                stage_row("document (head)", lambda r: r["document"]["s"], "document")
                stage_row("encryption", lambda r: r["encryption"]["s"], "encryption")
                stage_row("write", lambda r: r["encryption_write"]["s"] - r["encryption"]["s"],
                          "encryption_write")
                stage_row("hash", lambda r: r["hash"]["s"], "hash")
                stage_row("checksum update", lambda r: r["hash_update"]["s"] - r["hash"]["s"],
                          "hash_update")
                total = [r["fetch_sort_body"]["s"] + r["document"]["s"] + r["encryption_write"]["s"]
                         + r["hash"]["s"] + r["hash_update"]["s"] - r["hash"]["s"]
                         + r["connect"]["s"] for r in runs]
                w(f"| total (without the lone fetch and encryption) | "
                  + " | ".join(f"{t:.3f}" for t in total) + " | | |")
                w("")
                fetch = med([r["fetch"]["s"] for r in runs])
                w(f"Fetch stage / bare narrow fetch = {fetch:.3f} / {med(s['floor_fetch']):.3f} = "
                  f"**{fetch / med(s['floor_fetch']):.2f}**.")
                w("")
        sizes = {size["rows"]: med(size["series"]["program"]) for size in b["sizes"]}
        if 1000000 in sizes and 100000 in sizes:
            ratio = sizes[1000000] / sizes[100000]
            w(f"Growth: program time(1,000,000) / time(100,000) = **{ratio:.2f}** "
              f"(target ≤ 12: {verdict(ratio <= 12)}).")
            w("")
    w("## Goals")
    w("")
    w(f"Time: at most {LEAN_GOAL:.2f} of the lean pipeline and {FLOOR_GOAL:.2f} of the floor at "
      + " and ".join(f"{n:,}" for n in sorted(TIME_GOAL_ROWS)) + " rows, in every run (the "
      "medians are shown; the worst run is in the tables above). Memory: peak RSS at most "
      f"{RSS_GOAL:.1f} times the plain document at " + " and ".join(
          f"{n:,}" for n in sorted(RSS_GOAL_ROWS)) + " rows.")
    w("")
    w("| backend | N | program / lean pipeline | program / floor | peak RSS / plain document | "
      "Wine / Linux |")
    w("|---|---|---|---|---|---|")
    for title, n, prog, floor, lean, rss_ratio, wine in summary:
        timed = n in TIME_GOAL_ROWS
        pl = f"{prog / lean:.2f}" + (f" ({goal(prog / lean, LEAN_GOAL)})" if timed else "")
        pf = f"{prog / floor:.2f}" + (f" ({goal(prog / floor, FLOOR_GOAL)})" if timed else "")
        pr = f"{rss_ratio:.2f}" + (f" ({goal(rss_ratio, RSS_GOAL)})" if n in RSS_GOAL_ROWS
                                   else "")
        pw = f"{wine / prog:.2f}" if wine else "–"
        w(f"| {title} | {n:,} | {pl} | {pf} | {pr} | {pw} |")
    w("")
    notes = os.path.join(ARGS.src, "bench", "notes.md")
    if os.path.exists(notes):
        with open(notes, encoding="utf-8") as f:
            w(f.read().rstrip())
        w("")
    return "\n".join(lines)


def main():
    global ARGS
    p = argparse.ArgumentParser()
    p.add_argument("--src", required=True)
    p.add_argument("--build", required=True)
    p.add_argument("--work", required=True)
    p.add_argument("--sizes", default="1000,100000,300000,1000000")
    p.add_argument("--runs", default="1000:5,100000:3,300000:3,1000000:3")
    p.add_argument("--windows-build", default="",
                   help="the mingw-w64 Release build whose bin/brimlet.exe runs under Wine")
    p.add_argument("--wine-rows", default="100000,1000000")
    p.add_argument("--mariadb-max", type=int, default=1000000)
    p.add_argument("--backends", default="pg,mariadb")
    p.add_argument("--stage-rows", default="1000000")
    p.add_argument("--stage-runs", type=int, default=2)
    p.add_argument("--json", required=True)
    p.add_argument("--markdown", required=True)
    p.add_argument("--command", default="scripts/bench")
    p.add_argument("--render-only", action="store_true",
                   help="only turn the figures in --json into --markdown again")
    ARGS = p.parse_args()
    if ARGS.render_only:
        with open(ARGS.json) as f:
            results = json.load(f)
        with open(ARGS.markdown, "w", encoding="utf-8") as f:
            f.write(markdown(results) + "\n")
        return
    ARGS.stage_rows = [int(x) for x in ARGS.stage_rows.split(",") if x]
    ARGS.wine_rows = [int(x) for x in ARGS.wine_rows.split(",") if x]
    runs = {int(k): int(v) for k, v in (x.split(":") for x in ARGS.runs.split(","))}
    sizes = [int(x) for x in ARGS.sizes.split(",")]
    os.makedirs(ARGS.work, exist_ok=True)

    started = time.time()
    results = {"started": datetime.datetime.utcnow().strftime("%Y-%m-%d %H:%M"),
               "command": ARGS.command, "machine": machine(), "backends": []}
    env_of = {"pg": ("BRIMLET_TEST_PG", "BRIMLET_TEST_PG_PORT"),
              "mariadb": ("BRIMLET_TEST_MARIADB", "BRIMLET_TEST_MARIADB_PORT")}
    for name in ARGS.backends.split(","):
        conn_var, port_var = env_of[name]
        backend = Backend(name, os.environ[conn_var], os.environ[port_var])
        backend.create()
        entry = {"name": name, "sizes": []}
        results["backends"].append(entry)
        for n in sizes:
            if name == "mariadb" and n > ARGS.mariadb_max:
                continue
            entry["sizes"].append(measure_size(backend, n, runs.get(n, 3)))
            results["duration_s"] = time.time() - started
            with open(ARGS.json, "w") as f:
                json.dump(results, f, indent=1)
    results["duration_s"] = time.time() - started
    results["load_end"] = os.getloadavg()
    with open(ARGS.json, "w") as f:
        json.dump(results, f, indent=1)
    with open(ARGS.markdown, "w", encoding="utf-8") as f:
        f.write(markdown(results) + "\n")
    log(f"done in {results['duration_s'] / 60:.1f} min: {ARGS.markdown}")


if __name__ == "__main__":
    main()
