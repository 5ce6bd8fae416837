"""The tables, target checks and facts that bench/run.py prints and writes to results.md.

Every figure here is computed from the runs' samples: medians over the rounds, paired ratios
(the two copiers of a ratio measured in the same round, the median of the per-round ratios),
and facts read from the server's access log. Nothing is a hand-written conclusion.
"""

import json
import statistics

# A copier whose time per request is this many times the one-connection curl floor's (and
# whose run took this many seconds more than the floor's pace), or whose requests carry encoded
# "<" / ">" (a link value cut at the wrong place), is reported as having a pathological result
# on the site.
SLOW_REQUEST_FACTOR = 10
SLOW_EXCESS_S = 1.0
TARGET_RSS_CONNECTIONS_MB = 64
TARGET_RSS_BIG_FILE_MB = 32


def median(values):
    return statistics.median(values) if values else 0.0


def summarize(copier, samples, load_before):
    """One table row from a copier's samples (the counts of the last run)."""
    walls = [s["wall"] for s in samples]
    last = samples[-1]
    wall = median(walls)
    # A stopped run has no CPU or memory figures: /usr/bin/time was killed with it.
    measured = [s for s in samples if not s["cut"]]
    cpu = median([s["user"] + s["sys"] for s in measured]) if measured else None
    rss = median([s["rss_kb"] for s in measured]) / 1024 if measured else None
    return {
        "id": copier["id"], "group": copier["group"], "command": copier["shown"],
        "floor_of": copier.get("floor_of"), "wall": wall, "walls": walls,
        "rounds": [s["round"] for s in samples],
        "spread": (max(walls) - min(walls)) / wall if wall else 0.0,
        "cpu": cpu, "rss_mb": rss, "reachable": last.get("reachable"),
        "pages_only": copier.get("pages_only", False),
        "requests": last["requests"], "connections": last["connections"],
        "not_found": last["not_found"], "encoded_angles": last["encoded_angles"],
        "encoded_sample": last["encoded_sample"],
        "encoded_markup": last.get("encoded_markup", ""),
        "encoded_unquoted": last.get("encoded_unquoted", False), "probes": last.get("probes", 0),
        "lookups": last.get("lookups", 0), "files": last.get("files"),
        "bytes": last.get("bytes"), "missing": last.get("missing"),
        "missing_sample": last.get("missing_sample", []), "exit": last["exit"],
        "cut": last["cut"], "load": load_before,
        "ms_per_request": 1000 * wall / last["requests"] if last["requests"] else None,
        "cpu_ms_per_file": (1000 * cpu / last["files"]
                            if cpu is not None and last.get("files") else None),
    }


def paired_ratio(a, b, samples):
    """Median over the rounds that measured both copiers of wall(a) / wall(b)."""
    walls_b = {s["round"]: s["wall"] for s in samples.get(b, [])}
    ratios = [s["wall"] / walls_b[s["round"]] for s in samples.get(a, [])
              if walls_b.get(s["round"])]
    return (median(ratios), len(ratios)) if ratios else (None, 0)


def pathology(row, floor_ms):
    """Facts from the access log that make a row's figures say little about speed."""
    facts = []
    if not row["cut"] and not row["files"]:
        facts.append("saved no file (exit status %d)" % row["exit"])
    if row["cut"]:
        facts.append("stopped after %.0f s with %d requests made (%.0f ms per request)" % (
            row["wall"], row["requests"],
            1000 * row["wall"] / row["requests"] if row["requests"] else 0))
    if row["encoded_angles"]:
        facts.append(
            "%d of its %d requests (%.0f%%) carry an encoded \"<\" or \">\", e.g. `%s`: URLs "
            "built from more of the page than the attribute value%s" % (
                row["encoded_angles"], row["requests"],
                100.0 * row["encoded_angles"] / row["requests"], row["encoded_sample"],
                "; the page holds `%s`%s" % (
                    row["encoded_markup"], ", an attribute value without quotes"
                    if row["encoded_unquoted"] else "") if row["encoded_markup"] else ""))
    # On a small site a fixed start-up cost alone can pass the factor: a second over the
    # floor's pace is needed too.
    slow = (row["ms_per_request"] and floor_ms
            and row["ms_per_request"] > SLOW_REQUEST_FACTOR * floor_ms
            and row["wall"] - row["requests"] * floor_ms / 1000 > SLOW_EXCESS_S)
    if slow and not row["cut"]:
        facts.append("%.2f ms per request (wall time / requests) against %.3f ms for curl "
                     "fetching a request list over one keep-alive connection" % (
                         row["ms_per_request"], floor_ms))
    if facts and row["not_found"]:
        facts.append("%d of its %d requests were answered 404" % (row["not_found"],
                                                                  row["requests"]))
    return facts


def fmt(value, pattern="%.2f", none="-"):
    return none if value is None else pattern % value


def site_line(profile, stats):
    if profile == "classic":
        return ("seed %d, %d pages (%d EUC-JP, %d only linked from comments), %d images, %d "
                "applet classes in %d folders, %.1f MB; %d files reachable through followed "
                "links; %d directory-link occurrences; link values mostly unquoted "
                "attributes." % (
                    stats["seed"], stats["pages"], stats["euc_pages"], stats["orphan_pages"],
                    stats["images"], stats["classes"], stats["folders"], stats["bytes"] / 1e6,
                    stats["reachable"], stats["directory_links"]))
    return ("seed %d, %d pages and %d other files (images with srcset candidates, %d "
            "stylesheets with url() and @import) in %d folders, %.1f MB; %d files reachable; "
            "%d of %d link values name folders, %d are root-relative; quoted attribute "
            "values." % (
                stats["seed"], stats["pages"], stats["files"] - stats["pages"],
                stats["stylesheets"], stats["folders"], stats["bytes"] / 1e6, stats["reachable"],
                stats["directory_links"], stats["link_values"], stats["root_relative_links"]))


GROUPS = (("defaults", "Defaults against defaults"),
          ("one", "One connection against one connection"))


def row_facts(rows):
    """{row id: its pathology facts} for the rows of one site that have any."""
    floors = [r for r in rows if r["floor_of"] and r["ms_per_request"]]
    floor_ms = min(r["ms_per_request"] for r in floors) if floors else None
    facts = {}
    for r in rows:
        if not r["floor_of"]:
            found = pathology(r, floor_ms)
            if found:
                facts[r["id"]] = found
    return facts


def profile_section(result, has_connections, others=()):
    """The markdown of one site profile: table, target checks, facts. others: the results of
    the other sites of the same run."""
    profile, stats, rows, samples = (result["profile"], result["stats"], result["rows"],
                                     result["samples"])
    by_id = {r["id"]: r for r in rows}
    lines = ["## %s site\n" % profile.capitalize(),
             "- Site: %s" % site_line(profile, stats),
             "- Rounds: %d (copiers run back to back in each round; a copier that took over "
             "%.0f s or was stopped ran in the first round only)." % (
                 result["rounds"], result["slow"]), ""]
    lines.append("| copier | wall s (median) | runs s | CPU s | CPU ms / file | peak RSS MB | "
                 "requests | connections | 404s | ms / request | files saved | MB saved | "
                 "reachable saved | load before |")
    lines.append("|---|---:|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---|---|")
    for group, title in GROUPS:
        lines.append("| **%s** | | | | | | | | | | | | | |" % title)
        for r in rows:
            if r["group"] != group:
                continue
            wall = "stopped at %.0f" % r["wall"] if r["cut"] else "%.2f" % r["wall"]
            if r["floor_of"]:
                files = saved = reached = "-"
            else:
                files = "%d" % r["files"]
                saved = "%.1f" % (r["bytes"] / 1e6)
                what = " pages" if r["pages_only"] else ""
                reached = ("all %d%s" % (r["reachable"], what) if r["missing"] == 0
                           else "%d%s missing" % (r["missing"], what))
            lines.append("| %s | %s | %s | %s | %s | %s | %d | %d | %d | %s | %s | %s | %s "
                         "| %s |" % (
                             r["command"] if r["floor_of"] else "`%s`" % r["command"], wall,
                             " ".join("%.2f" % w for w in r["walls"]), fmt(r["cpu"]),
                             fmt(r["cpu_ms_per_file"], "%.3f"),
                             "-" if r["floor_of"] else fmt(r["rss_mb"], "%.1f"), r["requests"],
                             r["connections"], r["not_found"], fmt(r["ms_per_request"], "%.3f"),
                             files, saved, reached, r["load"]))
    lines.append("")

    facts = row_facts(rows)
    for other in others:
        # The same command on the other site, where its result is ordinary, says what its
        # speed is when the cause above is absent.
        other_rows = {r["id"]: r for r in other["rows"]}
        other_facts = row_facts(other["rows"])
        for ident in facts:
            r = other_rows.get(ident)
            if r and ident not in other_facts and r["ms_per_request"]:
                facts[ident].append("on the %s site the same command took %.3f ms per request "
                                    "(%d requests, %d answered 404, %d with an encoded \"<\" or "
                                    "\">\")" % (other["profile"], r["ms_per_request"],
                                                r["requests"], r["not_found"],
                                                r["encoded_angles"]))
    if facts:
        lines.append("Results that say little about speed on this site (read from the server's "
                     "access log and the saved tree):\n")
        for r in rows:
            if r["id"] in facts:
                lines.append("- `%s`: %s." % (r["command"], "; ".join(facts[r["id"]])))
        lines.append("")

    lines.append("Targets (ratios paired: the median over the rounds of the two copiers' "
                 "ratio in the same round):\n")
    lines.extend(target_checks(by_id, samples, facts, has_connections, result.get("big")))
    lines.append("")
    told = set()
    for r in rows:
        if r["id"].startswith("harvo") and r["lookups"] and r["command"] not in told:
            told.add(r["command"])
            lines.append("- `%s`: %d of its %d requests find index files (%d look-ups of "
                         "\".htaccess\" then \"index.html\" [+ \"index.htm\"])." % (
                             r["command"], r["probes"], r["requests"], r["lookups"]))
    for r in rows:
        if r["missing"] and not r["floor_of"] and not r["cut"]:
            lines.append("- `%s` left %d reachable %s unsaved, e.g. %s." % (
                r["command"], r["missing"], "pages" if r["pages_only"] else "files",
                ", ".join(r["missing_sample"])))
    lines.append("")
    return lines


def check(text, value, limit, shown, peer=None, facts=None):
    """One target line: holds / missed, and what makes the peer's row a poor yardstick."""
    if value is None:
        return "- %s: not measured (%s)." % (text, shown)
    verdict = "holds" if value <= limit else "MISSED"
    line = "- %s: %s (%s)." % (text, verdict, shown)
    if peer and facts and peer["id"] in facts:
        line += (" The peer's result is pathological here (see above): this says nothing "
                 "about harvo's speed.")
    if peer and peer["cut"]:
        line += " The peer was stopped: its figure is a bound, not a measurement."
    return line


def target_checks(rows, samples, facts, has_connections, big):
    # A harvo row that saved nothing measured nothing: its targets are not judged.
    rows = {i: r for i, r in rows.items()
            if r["floor_of"] or r["cut"] or r["files"] or not i.startswith("harvo")}
    out = []
    harvo, wget2 = rows.get("harvo"), rows.get("wget2")
    if harvo and wget2:
        ratio, n = paired_ratio("harvo", "wget2", samples)
        out.append(check("the command's defaults, wall time <= 0.8 x wget2's defaults", ratio,
                         0.8, "%.2f x, %d pair%s; medians %.2f s and %.2f s" % (
                             ratio, n, "" if n == 1 else "s", harvo["wall"], wget2["wall"]),
                         wget2, facts))
        mine, theirs = harvo["cpu_ms_per_file"], wget2["cpu_ms_per_file"]
        if mine is not None and theirs is not None:
            # Compared directly: a ratio would divide by a CPU time too small to measure.
            out.append(check("CPU time per saved file <= wget2's defaults", mine - theirs, 0.0,
                             "%.3f ms against %.3f ms" % (mine, theirs), wget2, facts))
        else:
            out.append("- CPU time per saved file against wget2's defaults: not measured (%s)."
                       % ("wget2 was stopped, its CPU time is unknown" if wget2["cut"]
                          else "no files saved"))
    else:
        out.append("- the command's defaults against wget2's: not measured (a row is missing or "
                   "saved nothing).")
    one, wget2_one = rows.get("harvo-c1"), rows.get("wget2-t1")
    if one and wget2_one:
        ratio, n = paired_ratio("harvo-c1", "wget2-t1", samples)
        out.append(check("one connection with the per-folder look-up <= wget2 --max-threads=1",
                         ratio, 1.0, "%.2f x, %d pair%s; medians %.2f s and %.2f s%s" % (
                             ratio, n, "" if n == 1 else "s", one["wall"], wget2_one["wall"],
                             "" if has_connections else
                             "; this build has no --connections: its command uses one"),
                         wget2_one, facts))
    else:
        out.append("- one connection against wget2 --max-threads=1: not measured (a row is "
                   "missing or saved nothing).")
    plain, floor = rows.get("harvo-plain"), rows.get("floor-harvo-plain")
    if plain and floor:
        ratio, n = paired_ratio("harvo-plain", "floor-harvo-plain", samples)
        out.append(check("the library's default walk (--plain) <= 1.2 x the curl floor for "
                         "its own request list", ratio, 1.2,
                         "%.2f x, %d pair%s; medians %.2f s and %.2f s" % (
                             ratio, n, "" if n == 1 else "s", plain["wall"], floor["wall"])))
    else:
        out.append("- the library's default walk against its curl floor: not measured (a row "
                   "is missing or saved nothing).")
    eight = rows.get("harvo-c8")
    if eight:
        out.append(check("peak memory with 8 connections < %d MB" % TARGET_RSS_CONNECTIONS_MB,
                         eight["rss_mb"], TARGET_RSS_CONNECTIONS_MB - 1e-9,
                         "%s MB" % fmt(eight["rss_mb"], "%.1f")))
    else:
        out.append("- peak memory with 8 connections: not measured (%s)." % (
            "row not run or saved nothing" if has_connections else "this build of harvo has no --connections"))
    if big:
        out.append(check("the %d MiB file, peak memory < %d MB" % (
            big["size"] >> 20, TARGET_RSS_BIG_FILE_MB), big["rss_mb"],
            TARGET_RSS_BIG_FILE_MB - 1e-9, "%.1f MB, %.2f s" % (big["rss_mb"], big["wall"])))
    return out


def header(args, started, loads, machine, versions, copy_dir_note):
    lines = ["# Benchmark results\n",
             "Produced by `bench/run.sh%s` on %s (UTC).\n" % (
                 (" " + " ".join(args.passthrough)) if args.passthrough else "",
                 started.strftime("%Y-%m-%d %H:%M")),
             "- Machine: %s; the load average: %s (before) and %s (after)." % (
                 machine, loads[0], loads[-1]),
             "- Server: one private nginx on 127.0.0.1, keep-alive on; requests, connections "
             "and 404s are counted from its access log (the last run of each copier).",
             "- Wall time: median of the rounds; CPU (user + system) and peak RSS from "
             "/usr/bin/time -v, medians too; \"CPU ms / file\" is CPU over the files saved; "
             "\"ms / request\" is wall time over requests; \"load before\" is the load average "
             "when the copier's first run began. %d rounds; with 3 or more, a spread (max - "
             "min) over %d%% of a median adds two rounds, once. A run still going after %.0f s "
             "is stopped." % (args.runs, args.noisy * 100, args.limit),
             "- Floors: curl fetching the request list of the harvo run just before it, in "
             "order, over one keep-alive connection, in the same round.",
             "- harvo's command runs at normal priority by default; `--plain` turns every "
             "extension off, so that row runs at idle priority as the library's default walk "
             "does.",
             "- Copies are written to %s; every run starts in an empty folder." % copy_dir_note,
             "- Versions: %s.\n" % "; ".join(versions)]
    return lines


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
