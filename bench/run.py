#!/usr/bin/env python3
"""Copies the generated site with harvo and its peers, side by side, and writes the table.

    bench/run.py --harvo BUILD/tools/harvo/harvo [--runs 3] [--pages 2000] [--images 2000]
                 [--seed 1] [--only NAMES] [--no-bigfile] [--out bench/results.md]

bench/run.sh builds harvo and calls this. A private nginx on 127.0.0.1 (keep-alive on, an
access log of every request with its connection) serves the site that gen_site.py makes; each
copier runs --runs times into a fresh folder under /usr/bin/time -v. Per copier the table shows
the median wall time, user + system CPU and peak RSS, the requests and connections the server
saw, 404s, the files and bytes saved, and whether every file reachable through followed links
was saved. The floor is curl fetching harvo's own request list over one keep-alive connection.
Last, harvo copies one 1 GiB file and its peak RSS is reported.
"""

import argparse
import datetime
import json
import os
import platform
import re
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
NGINX = os.environ.get("NGINX", "/usr/sbin/nginx")
TIME = "/usr/bin/time"
# A spread (max - min) over the median beyond this gets two more runs, once.
NOISY = 0.15

NGINX_CONF = """\
daemon off;
master_process off;
worker_processes 1;
pid {tmp}/nginx.pid;
error_log {tmp}/error.log warn;
events {{ worker_connections 1024; }}
http {{
  include /etc/nginx/mime.types;
  default_type application/octet-stream;
  log_format bench '$connection $connection_requests $status $body_bytes_sent "$request"';
  access_log {tmp}/access.log bench;
  client_body_temp_path {tmp}/body;
  proxy_temp_path {tmp}/proxy;
  fastcgi_temp_path {tmp}/fastcgi;
  uwsgi_temp_path {tmp}/uwsgi;
  scgi_temp_path {tmp}/scgi;
  sendfile on;
  tcp_nopush on;
  keepalive_timeout 60;
  keepalive_requests 1000000;
  server {{
    listen 127.0.0.1:{port};
    root {root};
    index index.html index.htm;
    autoindex off;
  }}
}}
"""


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def answers(port):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=0.5) as s:
            s.sendall(b"GET / HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n")
            return s.recv(16).startswith(b"HTTP/1.")
    except OSError:
        return False


class Nginx:
    def __init__(self, tmp, root, port):
        self.tmp = tmp
        self.log = os.path.join(tmp, "access.log")
        self.proc = None
        self.port = port
        with open(os.path.join(tmp, "nginx.conf"), "w") as fh:
            fh.write(NGINX_CONF.format(tmp=tmp, port=port, root=root))
        self.proc = subprocess.Popen([NGINX, "-p", tmp, "-c", os.path.join(tmp, "nginx.conf"),
                                      "-e", os.path.join(tmp, "error.log")])
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline and self.proc.poll() is None:
            if answers(port):
                return
            time.sleep(0.05)
        self.stop()
        raise SystemExit("run: nginx did not come up on port %d (taken?); run again" % port)

    def url(self, path=""):
        return "http://127.0.0.1:%d/%s" % (self.port, path)

    def clear_log(self):
        # nginx writes with O_APPEND, so a truncated log simply starts again at 0.
        open(self.log, "w").close()

    def read_log(self):
        entries = []
        pattern = re.compile(r'^(\d+) (\d+) (\d+) (\d+) "(\S+) (\S+)[^"]*"$')
        with open(self.log, encoding="latin-1") as fh:
            for line in fh:
                m = pattern.match(line.rstrip("\n"))
                if m:
                    entries.append({"conn": int(m.group(1)), "status": int(m.group(3)),
                                    "bytes": int(m.group(4)), "path": m.group(6)})
        return entries

    def stop(self):
        if self.proc is not None and self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.proc = None


def parse_time_v(path):
    values = {}
    with open(path) as fh:
        for line in fh:
            key, _, value = line.strip().rpartition(": ")
            values[key] = value
    return {
        "user": float(values.get("User time (seconds)", 0)),
        "sys": float(values.get("System time (seconds)", 0)),
        "rss_kb": int(values.get("Maximum resident set size (kbytes)", 0)),
        "exit": int(values.get("Exit status", -1)),
    }


def run_timed(cmd, cwd, tmp, limit=None):
    """Runs cmd under /usr/bin/time -v; a run still going after limit seconds is stopped (its
    whole process group) and marked as cut."""
    timefile = os.path.join(tmp, "time.txt")
    if os.path.exists(timefile):
        os.remove(timefile)
    started = time.monotonic()
    proc = subprocess.Popen([TIME, "-v", "-o", timefile] + cmd, cwd=cwd,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                            start_new_session=True)
    cut = False
    try:
        proc.wait(limit)
    except subprocess.TimeoutExpired:
        cut = True
        os.killpg(proc.pid, signal.SIGKILL)
        proc.wait()
    wall = time.monotonic() - started
    result = parse_time_v(timefile) if os.path.exists(timefile) and not cut else {
        "user": 0.0, "sys": 0.0, "rss_kb": 0, "exit": -9}
    result["wall"] = wall
    result["cut"] = cut
    return result


def site_root(out):
    """The folder a copier put the server's tree in (each names it after the server)."""
    for name in sorted(os.listdir(out)):
        path = os.path.join(out, name)
        if name.startswith("127.0.0.1") and os.path.isdir(path):
            return path
    return None


def saved_tree(root):
    files = 0
    size = 0
    for folder, _, names in os.walk(root):
        for name in names:
            files += 1
            size += os.path.getsize(os.path.join(folder, name))
    return files, size


def missing_files(root, reachable):
    missing = []
    for path in reachable:
        full = os.path.join(root, path)
        if os.path.isfile(full):
            continue
        # A directory URL is saved under the copier's own index name, whatever the server's.
        folder, name = os.path.split(path)
        if name in ("index.html", "index.htm"):
            if any(os.path.isfile(os.path.join(root, folder, n)) for n in ("index.html", "index.htm")):
                continue
        missing.append(path)
    return missing


def index_probes(entries):
    """Requests that find a directory's index file: ".htaccess", then "index.html" and, when
    that is missing, "index.htm" of the same directory."""
    probes = 0
    lookups = 0
    i = 0
    while i < len(entries):
        path = entries[i]["path"]
        if not path.endswith("/.htaccess"):
            i += 1
            continue
        lookups += 1
        probes += 1
        folder = path[: -len(".htaccess")]
        wanted = [folder + "index.html", folder + "index.htm"]
        j = i + 1
        # The page being scanned may finish in between; look a few entries ahead.
        while wanted and j < min(len(entries), i + 6):
            if entries[j]["path"] == wanted[0]:
                probes += 1
                found = entries[j]["status"] == 200
                wanted = [] if found else wanted[1:]
                entries[j] = dict(entries[j], path="")  # counted once
            j += 1
        i += 1
    return probes, lookups


def copiers(harvo, url):
    return [
        ("harvo", "harvo mirror URL --all-types -q",
         [harvo, "mirror", url, "-o", ".", "--all-types", "-q"]),
        ("wget", "wget -r -l inf -np -e robots=off",
         ["wget", "-q", "-r", "-l", "inf", "-np", "-e", "robots=off", url]),
        ("wget -k -N", "wget -r -l inf -np -e robots=off -k -N",
         ["wget", "-q", "-r", "-l", "inf", "-np", "-e", "robots=off", "-k", "-N", url]),
        ("wget2 1 thread", "wget2 -r -l inf -np --robots=off --max-threads=1",
         ["wget2", "-q", "-r", "-l", "inf", "-np", "--robots=off", "--max-threads=1", url]),
        ("wget2", "wget2 -r -l inf -np --robots=off",
         ["wget2", "-q", "-r", "-l", "inf", "-np", "--robots=off", url]),
        ("httrack -c1", "httrack URL -O . -q -s0 -c1",
         ["httrack", url, "-O", ".", "-q", "-s0", "-c1"]),
        ("httrack", "httrack URL -O . -q -s0",
         ["httrack", url, "-O", ".", "-q", "-s0"]),
    ]


def measure(name, cmd, nginx, tmp, copy_dir, runs, reachable, slow, limit):
    samples = []
    wanted = runs
    out = os.path.join(copy_dir, "copy")
    while len(samples) < wanted:
        shutil.rmtree(out, ignore_errors=True)
        os.makedirs(out)
        nginx.clear_log()
        result = run_timed(cmd, out, tmp, limit)
        entries = nginx.read_log()
        root = site_root(out)
        result["requests"] = len(entries)
        result["connections"] = len({e["conn"] for e in entries})
        result["not_found"] = sum(1 for e in entries if e["status"] == 404)
        result["probes"], result["lookups"] = index_probes([dict(e) for e in entries])
        result["files"], result["bytes"] = saved_tree(root) if root else (0, 0)
        result["missing"] = missing_files(root, reachable) if root else list(reachable)
        result["entries"] = entries
        samples.append(result)
        print("  %-15s run %d: %.2f s%s, %d requests on %d connections, %d files, %d missing"
              % (name, len(samples), result["wall"], " (stopped)" if result["cut"] else "",
                 result["requests"], result["connections"], result["files"],
                 len(result["missing"])), flush=True)
        walls = [s["wall"] for s in samples]
        if result["cut"] or result["wall"] > slow:
            break  # one run of a copier this slow says enough
        if len(samples) == wanted == runs and runs >= 3:
            spread = (max(walls) - min(walls)) / statistics.median(walls)
            if spread > NOISY:
                print("    noisy (spread %.0f%%): two more runs" % (spread * 100))
                wanted += 2
    shutil.rmtree(out, ignore_errors=True)
    return samples


def summarize(name, shown, samples, load_before):
    walls = [s["wall"] for s in samples]
    median = statistics.median(walls)
    last = samples[-1]
    return {
        "name": name, "command": shown, "wall": median, "walls": walls,
        "spread": (max(walls) - min(walls)) / median if median else 0,
        "cpu": statistics.median(s["user"] + s["sys"] for s in samples),
        "user": statistics.median(s["user"] for s in samples),
        "sys": statistics.median(s["sys"] for s in samples),
        "rss_mb": statistics.median(s["rss_kb"] for s in samples) / 1024,
        "requests": last["requests"], "connections": last["connections"],
        "not_found": last["not_found"], "probes": last["probes"], "lookups": last["lookups"],
        "files": last["files"], "bytes": last["bytes"], "missing": len(last["missing"]),
        "missing_sample": last["missing"][:5], "exit": last["exit"], "cut": last["cut"],
        "load": load_before,
    }


def curl_floor(entries, nginx, tmp, runs):
    load_before = load()
    config = os.path.join(tmp, "floor.curl")
    with open(config, "w") as fh:
        for e in entries:
            fh.write('url = "%s"\noutput = "/dev/null"\n' % nginx.url(e["path"].lstrip("/")))
    samples = []
    for _ in range(runs):
        nginx.clear_log()
        result = run_timed(["curl", "-s", "-K", config], tmp, tmp)
        log = nginx.read_log()
        result["requests"] = len(log)
        result["connections"] = len({e["conn"] for e in log})
        samples.append(result)
        print("  %-15s run %d: %.2f s, %d requests on %d connections"
              % ("curl floor", len(samples), result["wall"], result["requests"],
                 result["connections"]), flush=True)
    walls = [s["wall"] for s in samples]
    return {"wall": statistics.median(walls), "walls": walls, "load": load_before,
            "cpu": statistics.median(s["user"] + s["sys"] for s in samples),
            "requests": samples[-1]["requests"], "connections": samples[-1]["connections"]}


def big_file(harvo, nginx, site, tmp, size_mb):
    folder = os.path.join(site, "big")
    os.makedirs(folder, exist_ok=True)
    path = os.path.join(folder, "big.bin")
    with open(path, "wb") as fh:  # sparse: the server reads zeros at memory speed
        fh.truncate(size_mb * 1024 * 1024)
    out = os.path.join(tmp, "bigout")
    os.makedirs(out, exist_ok=True)
    nginx.clear_log()
    cmd = [harvo, "mirror", nginx.url("big/big.bin"), "-o", ".", "--all-types", "-q"]
    result = run_timed(cmd, out, tmp)
    saved = 0
    for folder_name, _, names in os.walk(out):
        for name in names:
            saved += os.path.getsize(os.path.join(folder_name, name))
    shutil.rmtree(out, ignore_errors=True)
    os.remove(path)
    print("  1 GiB file: %.2f s, peak RSS %.1f MB, %d bytes saved"
          % (result["wall"], result["rss_kb"] / 1024, saved), flush=True)
    return {"wall": result["wall"], "rss_mb": result["rss_kb"] / 1024, "saved": saved,
            "size": size_mb * 1024 * 1024, "command": " ".join(["harvo"] + cmd[1:])}


def tool_version(cmd):
    try:
        out = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=10)
        return out.stdout.decode("utf-8", "replace").strip().splitlines()[0]
    except (OSError, IndexError, subprocess.TimeoutExpired):
        return "?"


def machine():
    model = "?"
    with open("/proc/cpuinfo") as fh:
        for line in fh:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    with open("/proc/meminfo") as fh:
        mem_kb = int(fh.readline().split()[1])
    return "%s, %d cores, %.0f GiB, Linux %s" % (model, os.cpu_count(), mem_kb / 2**20,
                                                platform.release())


def load():
    with open("/proc/loadavg") as fh:
        return " ".join(fh.read().split()[:3])


def write_results(path, args, stats, rows, floor, big, loads, versions, started, micro):
    harvo = next((r for r in rows if r["name"] == "harvo"), None)
    lines = []
    lines.append("# Benchmark results\n")
    lines.append("Produced by `bench/run.sh%s` on %s (UTC).\n" % (
        (" " + " ".join(args.passthrough)) if args.passthrough else "",
        started.strftime("%Y-%m-%d %H:%M")))
    lines.append("- Machine: %s; shared with other work, so the load average is given: %s "
                 "(before) and %s (after)." % (machine(), loads[0], loads[1]))
    lines.append("- Site: seed %d, %d pages (%d EUC-JP, %d only linked from comments), %d images, "
                 "%d applet classes in %d folders, %.1f MB; %d files reachable through followed "
                 "links; %d directory-link occurrences." % (
                     stats["seed"], stats["pages"], stats["euc_pages"], stats["orphan_pages"],
                     stats["images"], stats["classes"], stats["folders"], stats["bytes"] / 1e6,
                     stats["reachable"], stats["directory_links"]))
    lines.append("- Server: nginx on 127.0.0.1, keep-alive on; requests and connections are "
                 "counted from its access log.")
    lines.append("- Wall time: median of %d or more runs (two more when the spread exceeded %d%%; "
                 "one run only for a copier that took over %d s, stopped at %d s); CPU (user + "
                 "system) and peak RSS from /usr/bin/time -v, medians too; \"load before\" is "
                 "the load average when the copier's runs began." % (
                     args.runs, NOISY * 100, args.slow, args.limit))
    lines.append("- Copies are written to %s%s; every run starts in an empty folder." % (
        args.copy_dir, " (tmpfs: on this machine's ext4 the inode allocator's search past the "
        "files deleted by the previous run dominates every copier's time)"
        if args.copy_dir.startswith("/dev/shm") else ""))
    lines.append("- Versions: %s.\n" % "; ".join(versions))
    lines.append("| copier | wall s (median) | runs s | CPU s | peak RSS MB | requests | "
                 "connections | 404s | files saved | MB saved | reachable saved | harvo / this "
                 "| load before |")
    lines.append("|---|---:|---|---:|---:|---:|---:|---:|---:|---:|---|---:|---|")
    for r in rows:
        if r["cut"]:
            ratio = "< %.3f" % (harvo["wall"] / r["wall"]) if harvo else "-"
            wall = "stopped at %.0f" % r["wall"]
        else:
            ratio = ratio_text(harvo["wall"] / r["wall"]) if harvo and r["wall"] else "-"
            wall = "%.2f" % r["wall"]
        complete = "all %d" % stats["reachable"] if r["missing"] == 0 else "%d missing" % r["missing"]
        lines.append("| `%s` | %s | %s | %.2f | %.1f | %d | %d | %d | %d | %.1f | %s | %s | %s |" % (
            r["command"], wall, " ".join("%.2f" % w for w in r["walls"]), r["cpu"],
            r["rss_mb"], r["requests"], r["connections"], r["not_found"], r["files"],
            r["bytes"] / 1e6, complete, ratio, r["load"]))
    if floor:
        ratio = "%.2f" % (harvo["wall"] / floor["wall"]) if harvo else "-"
        lines.append("| floor: `curl -K` with harvo's %d requests in order | %.2f | %s | %.2f "
                     "| - | %d | %d | - | - | - | - | %s | %s |" % (
                         floor["requests"], floor["wall"],
                         " ".join("%.2f" % w for w in floor["walls"]), floor["cpu"],
                         floor["requests"], floor["connections"], ratio, floor["load"]))
    lines.append("")
    wget = next((r for r in rows if r["name"] == "wget"), None)
    for r in rows:
        if r["cut"] and r["requests"] and wget:
            lines.append("- `%s` was stopped after %.0f s with %d requests made; at that rate "
                         "the %d requests that wget needs would take about %.0f s." % (
                             r["command"], r["wall"], r["requests"], wget["requests"],
                             r["wall"] * wget["requests"] / r["requests"]))
    lines.append("- harvo's worker thread runs at idle priority (SCHED_IDLE, as the library does "
                 "for every job): whatever else runs on the machine takes the CPU from it "
                 "first, while the peers and curl run at normal priority. Under load its times "
                 "suffer more than theirs; compare rows with a similar \"load before\".")
    lines.append("")
    if harvo:
        lines.append("harvo's requests: %d, of which %d find index files (%d look-ups of "
                     "\".htaccess\" + \"index.html\" [+ \"index.htm\"]: one for each directory "
                     "link on a page and each directory visited); %d fetch files." % (
                         harvo["requests"], harvo["probes"], harvo["lookups"],
                         harvo["requests"] - harvo["probes"]))
    if big:
        lines.append("\nOne %d MiB file: `%s` took %.2f s with a peak RSS of %.1f MB (%d bytes "
                     "saved)." % (big["size"] >> 20, big["command"], big["wall"], big["rss_mb"],
                                  big["saved"]))
    if micro:
        lines.append("")
        lines.extend(micro_section(micro))
    with open(path, "w") as fh:
        fh.write("\n".join(lines) + "\n")


def ratio_text(ratio):
    """Two decimals, or two significant digits for a ratio that would print as 0.00."""
    return "%.2f" % ratio if ratio >= 0.1 else "%.2g" % ratio


def micro_section(path):
    """The micro benchmarks' medians from Google Benchmark's JSON output."""
    with open(path) as fh:
        data = json.load(fh)
    medians = {}
    for b in data["benchmarks"]:
        if b.get("aggregate_name", "median") != "median":
            continue
        name = b.get("run_name", b["name"])
        medians[name] = b
    lines = ["## Micro benchmarks\n",
             "`build-bench/bench/harvo_micro_bench --benchmark_repetitions=3` (%s, %s CPUs; "
             "medians of the 3 repetitions; CPU time per iteration, and the throughput per CPU "
             "second, so that other work on the machine counts less; harvo built RelWithDebInfo, "
             "the Google Benchmark library as Debian ships it).\n" % (
                 data["context"].get("date", "?"), data["context"].get("num_cpus", "?")),
             "| benchmark | median CPU time | throughput |", "|---|---:|---:|"]
    for name, b in medians.items():
        if "bytes_per_second" in b:
            rate = "%.0f MB/s" % (b["bytes_per_second"] / 1e6)
        elif "items_per_second" in b:
            rate = "%.1f ns/op" % (1e9 / b["items_per_second"])
        else:
            rate = "-"
        lines.append("| %s | %.3f %s | %s |" % (name, b["cpu_time"], b["time_unit"], rate))

    def rate(name):
        b = medians.get(name)
        return b.get("bytes_per_second") if b else None
    lines.append("")
    # Both carry their state across 16 KiB blocks, as the fetcher converts a page.
    for mine, theirs in (("BM_KanjiConverterEuc/16384", "BM_IconvEucToSjis"),
                         ("BM_KanjiConverterJis/16384", "BM_IconvJisToSjis")):
        if rate(mine) and rate(theirs):
            lines.append("- %s is %.1fx as fast as glibc iconv on the same text, in the same "
                         "blocks." % (mine[3:], rate(mine) / rate(theirs)))
    return lines


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--harvo", required=True)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--pages", type=int, default=2000)
    parser.add_argument("--images", type=int, default=2000)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--only", default="", help="comma-separated copier names")
    parser.add_argument("--no-bigfile", action="store_true")
    parser.add_argument("--bigfile-mb", type=int, default=1024)
    parser.add_argument("--out", default=os.path.join(HERE, "results.md"))
    parser.add_argument("--copy-dir", default="/dev/shm" if os.path.isdir("/dev/shm") else
                        tempfile.gettempdir(), help="where the copies are written")
    parser.add_argument("--slow", type=float, default=60,
                        help="a copier whose first run takes longer gets no more runs")
    parser.add_argument("--limit", type=float, default=240, help="a run is stopped after this")
    parser.add_argument("--keep-log", help="copy harvo's access log here")
    parser.add_argument("--micro", help="Google Benchmark JSON output to add to the results")
    parser.add_argument("passthrough", nargs="*", help=argparse.SUPPRESS)
    args = parser.parse_args()

    started = datetime.datetime.now(datetime.timezone.utc)
    tmp = tempfile.mkdtemp(prefix="harvo-bench.")
    nginx = None
    try:
        site = os.path.join(tmp, "gen", "site")
        os.makedirs(os.path.join(tmp, "gen"))
        # The port must be known before the site exists: absolute links name it.
        port = free_port()
        subprocess.run([sys.executable, os.path.join(HERE, "gen_site.py"), site,
                        "--base", "http://127.0.0.1:%d" % port, "--seed", str(args.seed),
                        "--pages", str(args.pages), "--images", str(args.images)],
                       check=True, stdout=subprocess.DEVNULL)
        with open(os.path.join(tmp, "gen", "site.json")) as fh:
            stats = json.load(fh)
        with open(os.path.join(tmp, "gen", "reachable.txt")) as fh:
            reachable = [line.rstrip("\n") for line in fh if line.strip()]
        nginx = Nginx(tmp, site, port)
        url = nginx.url()
        print("Site: %d files, %d reachable, served at %s" % (stats["files"], stats["reachable"], url))

        only = {n.strip() for n in args.only.split(",") if n.strip()}
        loads = [load()]
        rows = []
        floor = None
        versions = []
        copy_dir = tempfile.mkdtemp(prefix="harvo-bench-copy.", dir=args.copy_dir)
        try:
            for name, shown, cmd in copiers(os.path.abspath(args.harvo), url):
                if only and name not in only:
                    continue
                if shutil.which(cmd[0]) is None:
                    print("  %s: not installed (bench/setup), skipped" % name)
                    continue
                load_before = load()
                samples = measure(name, cmd, nginx, tmp, copy_dir, args.runs, reachable,
                                  args.slow, args.limit)
                rows.append(summarize(name, shown, samples, load_before))
                if name != "harvo":
                    continue
                # The floor right after harvo, under the same load.
                entries = samples[-1]["entries"]
                floor = curl_floor(entries, nginx, tmp, args.runs)
                if args.keep_log:
                    with open(args.keep_log, "w") as fh:
                        for e in entries:
                            fh.write("%d %d %d %s\n" % (e["conn"], e["status"], e["bytes"],
                                                        e["path"]))
            if rows and rows[0]["name"] == "harvo" and len(rows) > 1:
                # harvo once more after the peers: shows how much the machine drifted.
                load_before = load()
                samples = measure("harvo (again)", copiers(os.path.abspath(args.harvo), url)[0][2],
                                  nginx, tmp, copy_dir, args.runs, reachable, args.slow,
                                  args.limit)
                again = summarize("harvo again", rows[0]["command"] + " (again, after the peers)",
                                  samples, load_before)
                rows.append(again)
        finally:
            shutil.rmtree(copy_dir, ignore_errors=True)
        big = None
        if not args.no_bigfile and (not only or "harvo" in only):
            big = big_file(os.path.abspath(args.harvo), nginx, site, tmp, args.bigfile_mb)
        loads.append(load())
        for name in ("harvo", "wget", "wget2", "httrack", "curl"):
            cmd = [os.path.abspath(args.harvo), "--version"] if name == "harvo" else [name, "--version"]
            if name == "harvo" or shutil.which(name):
                versions.append(tool_version(cmd) if name != "harvo" else "harvo (this tree)")
        write_results(args.out, args, stats, rows, floor, big, loads, versions, started,
                      args.micro)
        print("Wrote %s" % args.out)
    finally:
        if nginx is not None:
            nginx.stop()
        shutil.rmtree(tmp, ignore_errors=True)


if __name__ == "__main__":
    main()
