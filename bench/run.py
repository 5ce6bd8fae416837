#!/usr/bin/env python3
"""Copies the generated sites with harvo and its peers, side by side, and writes the tables.

    bench/run.py --harvo BUILD/tools/harvo/harvo [--profile classic|modern|both] [--runs 5]
                 [--pages 2000] [--images 2000] [--seed 1] [--only NAMES] [--no-bigfile]
                 [--out bench/results.md]

bench/run.sh builds harvo and calls this. Per site profile (classic: gen_site.py, the site of
unquoted attribute values and few folder links; modern: gen_modern_site.py, quoted values, a
third of the links naming folders, root-relative links, srcset, stylesheets) a private nginx on
127.0.0.1 (keep-alive on, an access log of every request with its connection) serves the site,
and every copier runs once per round, back to back, --runs rounds: two groups of rows, the
copiers' defaults against each other and one connection against one connection, with curl
fetching harvo's own request list over one keep-alive connection as the floor. Per row the
table shows medians of wall time, CPU and peak RSS (/usr/bin/time -v), the requests,
connections and 404s the server saw, the files and bytes saved and whether every reachable file
was saved. Under each table: the target checks, computed from paired ratios, and the facts from
the access log that make a row say little about speed. Last, harvo copies one 1 GiB file.
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
import threading
import time
import urllib.parse

import report

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
    # The limit is kept by a timer thread, so that the wait itself blocks in waitpid: a wait
    # with a time-out polls, in steps of up to 50 ms, which would add up to 50 ms to each run.
    cut = threading.Event()

    def stop():
        cut.set()
        try:
            os.killpg(proc.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass

    timer = threading.Timer(limit, stop) if limit else None
    if timer:
        timer.start()
    proc.wait()
    wall = time.monotonic() - started
    if timer:
        timer.cancel()
    cut = cut.is_set()
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


def has_flag(harvo, flag):
    """Whether `harvo mirror --help` lists flag (options other work adds are used once there)."""
    try:
        out = subprocess.run([harvo, "mirror", "--help"], stdout=subprocess.PIPE,
                             stderr=subprocess.STDOUT, timeout=30)
    except (OSError, subprocess.TimeoutExpired):
        return False
    return re.search(r"(^|\s)%s\b" % re.escape(flag), out.stdout.decode("utf-8", "replace")) \
        is not None


def copiers(harvo, url, connections):
    """The rows of one profile's table, in the order each round runs them. A floor runs right
    after the copier it names, with that run's request list."""
    one = ["--connections", "1"] if connections else []
    mirror = [harvo, "mirror", url, "-o", ".", "-q"]
    wget = ["wget", "-q", "-r", "-l", "inf", "-np", "-e", "robots=off"]
    wget2 = ["wget2", "-q", "-r", "-l", "inf", "-np", "--robots=off"]
    rows = [
        ("defaults", "harvo", "harvo mirror URL -q", mirror),
        ("defaults", "harvo-c8", "harvo mirror URL -q --connections 8",
         mirror + ["--connections", "8"] if connections else None),
        ("defaults", "wget-pk", "wget -r -p -k -l inf -np -e robots=off", wget + ["-p", "-k", url]),
        ("defaults", "wget2", "wget2 -r -l inf -np --robots=off", wget2 + [url]),
        ("defaults", "httrack", "httrack URL -O . -q -s0", ["httrack", url, "-O", ".", "-q", "-s0"]),
        ("one", "harvo-c1", "harvo mirror URL -q" + (" --connections 1" if connections else ""),
         mirror + one),
        ("one", "harvo-c1-noindex", "harvo mirror URL -q%s --no-index-once" % (
            " --connections 1" if connections else ""), mirror + one + ["--no-index-once"]),
        ("one", "wget", "wget -r -l inf -np -e robots=off", wget + [url]),
        ("one", "wget2-t1", "wget2 -r -l inf -np --robots=off --max-threads=1",
         wget2 + ["--max-threads=1", url]),
        # The library's default walk: every extension off and, when the command has several,
        # one connection.
        ("one", "harvo-plain", "harvo mirror URL -q --plain" + (
            " --connections 1" if connections else ""), mirror + ["--plain"] + one),
    ]
    out = []
    for group, ident, shown, cmd in rows:
        if cmd is None:
            continue
        # --plain is the library's default walk, which copies pages only.
        out.append({"group": group, "id": ident, "shown": shown, "cmd": cmd,
                    "pages_only": ident == "harvo-plain"})
        if ident in ("harvo-c1", "harvo-plain"):
            out.append({"group": group, "id": "floor-" + ident, "floor_of": ident, "cmd": None,
                        "shown": "floor: curl -K with the request list of the row above, in "
                                 "order, one connection"})
    return out


ANGLES = re.compile(r"%3[CE]|[<>]", re.IGNORECASE)


def log_counts(entries):
    encoded = [e["path"] for e in entries if ANGLES.search(e["path"])]
    return {
        "requests": len(entries),
        "connections": len({e["conn"] for e in entries}),
        "not_found": sum(1 for e in entries if e["status"] == 404),
        "encoded_angles": len(encoded),
        "encoded_sample": encoded[0] if encoded else "",
    }


def markup_of(site, request):
    """Where the pages hold the link that a request with an encoded "<" or ">" was built
    from: (the page text around the part of the request before the first "<" or ">", whether
    that attribute value is written without quotes), or ("", False)."""
    decoded = urllib.parse.unquote(request)
    cut = re.search(r"[<>]", decoded)
    value = decoded[: cut.start()].rsplit("/", 1)[-1] if cut else ""
    if not value:
        return "", False
    # First the value followed by what the request carries after it, then the value alone.
    rest = re.escape(decoded[cut.start():][:12])
    name = r"[^\"'\s<>=]*?" + re.escape(value)  # the value may start with a folder path
    patterns = [re.compile(r"<[^<>]*=\s*([\"']?)%s\1%s[^<]{0,20}" % (name, rest),
                           re.IGNORECASE),
                re.compile(r"<[^<>]*=\s*([\"']?)%s(?=[\"'\s>])[^<]{0,20}" % name,
                           re.IGNORECASE)]
    pages = []
    for folder, _, names in sorted(os.walk(site)):
        pages.extend(os.path.join(folder, n) for n in sorted(names) if n.endswith((".html", ".htm")))
    for pattern in patterns:
        for page in pages:
            with open(page, encoding="latin-1") as fh:
                m = pattern.search(fh.read())
            if m:
                return " ".join(m.group(0).split()), m.group(1) == ""
    return "", False


def copy_once(copier, nginx, tmp, copy_dir, reachable, limit):
    out = os.path.join(copy_dir, "copy")
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    nginx.clear_log()
    result = run_timed(copier["cmd"], out, tmp, limit)
    entries = nginx.read_log()
    result.update(log_counts(entries))
    result["probes"], result["lookups"] = index_probes([dict(e) for e in entries])
    root = site_root(out)
    if copier.get("pages_only"):
        reachable = [p for p in reachable if p.endswith((".html", ".htm"))]
    result["reachable"] = len(reachable)
    result["files"], result["bytes"] = saved_tree(root) if root else (0, 0)
    missing = missing_files(root, reachable) if root else list(reachable)
    result["missing"] = len(missing)
    result["missing_sample"] = missing[:5]
    shutil.rmtree(out, ignore_errors=True)
    return result, entries


def floor_once(entries, nginx, tmp):
    """curl fetching the given requests in order over one keep-alive connection."""
    config = os.path.join(tmp, "floor.curl")
    with open(config, "w") as fh:
        for e in entries:
            path = e["path"].lstrip("/").replace("\\", "\\\\").replace('"', '\\"')
            fh.write('url = "%s"\noutput = "/dev/null"\n' % nginx.url(path))
    nginx.clear_log()
    result = run_timed(["curl", "-s", "-g", "-K", config], tmp, tmp)
    result.update(log_counts(nginx.read_log()))
    return result


def run_rounds(rows, nginx, tmp, copy_dir, reachable, args):
    """Runs every copier once per round, back to back, so that the ratios can be paired."""
    samples = {c["id"]: [] for c in rows}
    loads = {}
    once = set()  # too slow to repeat: first round only
    rounds, extended, n = args.runs, False, 0
    while n < rounds:
        n += 1
        print(" round %d" % n, flush=True)
        for c in rows:
            if c.get("floor_of") or c["id"] in once:
                continue
            loads.setdefault(c["id"], load())
            result, entries = copy_once(c, nginx, tmp, copy_dir, reachable, args.limit)
            result["round"] = n
            samples[c["id"]].append(result)
            print("  %-17s %.2f s%s, %d requests on %d connections, %d 404s, %d files, "
                  "%d missing" % (c["id"], result["wall"], " (stopped)" if result["cut"] else "",
                                  result["requests"], result["connections"],
                                  result["not_found"], result["files"], result["missing"]),
                  flush=True)
            if result["cut"] or result["wall"] > args.slow:
                once.add(c["id"])
            for f in rows:
                if f.get("floor_of") == c["id"]:
                    loads.setdefault(f["id"], load())
                    floor = floor_once(entries, nginx, tmp)
                    floor["round"] = n
                    samples[f["id"]].append(floor)
                    print("  %-17s %.2f s, %d requests on %d connections" % (
                        f["id"], floor["wall"], floor["requests"], floor["connections"]),
                        flush=True)
        if n == rounds and not extended and rounds >= 3:
            noisy = [i for i, s in samples.items() if len(s) >= 3 and
                     (max(x["wall"] for x in s) - min(x["wall"] for x in s))
                     > args.noisy * statistics.median(x["wall"] for x in s)]
            if noisy:
                print(" noisy (%s): two more rounds" % ", ".join(noisy), flush=True)
                rounds += 2
                extended = True
    return samples, loads, n


def run_profile(profile, args, harvo, connections, tmp_root, copy_root, with_big):
    tmp = tempfile.mkdtemp(prefix=profile + ".", dir=tmp_root)
    gen = os.path.join(tmp, "gen")
    site = os.path.join(gen, "site")
    os.makedirs(gen)
    # The port must be known before the site exists: absolute links name it.
    port = free_port()
    script = "gen_site.py" if profile == "classic" else "gen_modern_site.py"
    subprocess.run([sys.executable, os.path.join(HERE, script), site,
                    "--base", "http://127.0.0.1:%d" % port, "--seed", str(args.seed),
                    "--pages", str(args.pages), "--images", str(args.images)],
                   check=True, stdout=subprocess.DEVNULL)
    with open(os.path.join(gen, "site.json")) as fh:
        stats = json.load(fh)
    with open(os.path.join(gen, "reachable.txt")) as fh:
        reachable = [line.rstrip("\n") for line in fh if line.strip()]
    nginx = Nginx(tmp, site, port)
    copy_dir = tempfile.mkdtemp(prefix="harvo-bench-copy.", dir=copy_root)
    try:
        print("%s site: %d files, %d reachable, served at %s" % (
            profile, stats["files"], stats["reachable"], nginx.url()), flush=True)
        only = {n.strip() for n in args.only.split(",") if n.strip()}
        rows = []
        for c in copiers(harvo, nginx.url(), connections):
            if only and c.get("floor_of", c["id"]) not in only:
                continue
            if c["cmd"] and shutil.which(c["cmd"][0]) is None:
                print("  %s: not installed (bench/setup), skipped" % c["cmd"][0])
                continue
            rows.append(c)
        samples, loads, rounds = run_rounds(rows, nginx, tmp, copy_dir, reachable, args)
        for runs in samples.values():
            if runs and runs[-1]["encoded_sample"]:
                runs[-1]["encoded_markup"], runs[-1]["encoded_unquoted"] = markup_of(
                    site, runs[-1]["encoded_sample"])
        big = None
        if with_big and not args.no_bigfile and (not only or "harvo" in only):
            big = big_file(harvo, nginx, site, tmp, args.bigfile_mb)
    finally:
        shutil.rmtree(copy_dir, ignore_errors=True)
        nginx.stop()
        shutil.rmtree(tmp, ignore_errors=True)
    table = [report.summarize(c, samples[c["id"]], loads.get(c["id"], "-"))
             for c in rows if samples[c["id"]]]
    return {"profile": profile, "stats": stats, "rows": table, "samples": samples,
            "rounds": rounds, "slow": args.slow, "big": big}


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



def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--harvo", required=True)
    parser.add_argument("--profile", choices=("classic", "modern", "both"), default="both",
                        help="which generated site: classic (gen_site.py), modern "
                             "(gen_modern_site.py) or both, one table each")
    parser.add_argument("--runs", type=int, default=5, help="rounds of paired runs")
    parser.add_argument("--pages", type=int, default=2000)
    parser.add_argument("--images", type=int, default=2000)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--only", default="", help="comma-separated row names: harvo, harvo-c8, "
                        "wget-pk, wget2, httrack, harvo-c1, harvo-c1-noindex, wget, wget2-t1, "
                        "harvo-plain")
    parser.add_argument("--no-bigfile", action="store_true")
    parser.add_argument("--bigfile-mb", type=int, default=1024)
    parser.add_argument("--out", default=os.path.join(HERE, "results.md"))
    parser.add_argument("--copy-dir", default="/dev/shm" if os.path.isdir("/dev/shm") else
                        tempfile.gettempdir(), help="where the copies are written")
    parser.add_argument("--slow", type=float, default=60,
                        help="a copier whose first run takes longer runs in the first round only")
    parser.add_argument("--limit", type=float, default=240, help="a run is stopped after this")
    parser.add_argument("--noisy", type=float, default=NOISY, help=argparse.SUPPRESS)
    parser.add_argument("--micro", help="Google Benchmark JSON output to add to the results")
    parser.add_argument("passthrough", nargs="*", help=argparse.SUPPRESS)
    args = parser.parse_args()

    started = datetime.datetime.now(datetime.timezone.utc)
    harvo = os.path.abspath(args.harvo)
    connections = has_flag(harvo, "--connections")
    print("harvo %s --connections" % ("has" if connections else "has no"), flush=True)
    profiles = ("classic", "modern") if args.profile == "both" else (args.profile,)
    loads = [load()]
    tmp_root = tempfile.mkdtemp(prefix="harvo-bench.")
    results = []
    try:
        for i, profile in enumerate(profiles):
            results.append(run_profile(profile, args, harvo, connections, tmp_root,
                                       args.copy_dir, i == 0))
    finally:
        shutil.rmtree(tmp_root, ignore_errors=True)
    loads.append(load())
    versions = [tool_version([harvo, "--version"]) + " (this tree)"]
    for name in ("wget", "wget2", "httrack", "curl"):
        if shutil.which(name):
            versions.append(tool_version([name, "--version"]))
    copy_note = args.copy_dir + (
        " (tmpfs: on this machine's ext4 the inode allocator's search past the files deleted "
        "by the previous run dominates every copier's time)"
        if args.copy_dir.startswith("/dev/shm") else "")
    lines = report.header(args, started, loads, machine(), versions, copy_note)
    for result in results:
        section = report.profile_section(result, connections,
                                         [r for r in results if r is not result])
        print("\n" + "\n".join(section), flush=True)
        lines.extend(section)
    big = next((r["big"] for r in results if r["big"]), None)
    if big:
        lines.append("One %d MiB file: `%s` took %.2f s with a peak RSS of %.1f MB (%d bytes "
                     "saved).\n" % (big["size"] >> 20, big["command"], big["wall"],
                                    big["rss_mb"], big["saved"]))
    if args.micro:
        lines.extend(report.micro_section(args.micro))
    with open(args.out, "w") as fh:
        fh.write("\n".join(lines) + "\n")
    print("Wrote %s" % args.out)


if __name__ == "__main__":
    main()
