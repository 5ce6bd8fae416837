#!/usr/bin/env python3
"""Checks of the benchmark's own arithmetic and access-log reading: python3 bench/test_report.py"""

import os
import tempfile
import unittest

import report
import run


def sample(wall, rnd, cut=False, requests=100, files=50, encoded=0, not_found=0):
    return {"wall": wall, "round": rnd, "cut": cut, "user": 0.0 if cut else wall / 2,
            "sys": 0.0, "rss_kb": 0 if cut else 10240, "exit": -9 if cut else 0,
            "requests": requests, "connections": 1, "not_found": not_found,
            "encoded_angles": encoded, "encoded_sample": "/a.html%3Ex" if encoded else "",
            "files": files, "bytes": 1000, "missing": 0, "reachable": files}


def row(ident, samples, floor_of=None):
    return report.summarize({"id": ident, "group": "one", "shown": ident, "floor_of": floor_of},
                            samples, "0.00")


class PairedRatio(unittest.TestCase):
    def test_only_rounds_that_measured_both_are_paired(self):
        samples = {"a": [sample(1.0, 1), sample(2.0, 2), sample(3.0, 3)],
                   "b": [sample(2.0, 1), sample(1.0, 3)]}
        ratio, pairs = report.paired_ratio("a", "b", samples)
        self.assertEqual(pairs, 2)
        self.assertAlmostEqual(ratio, (0.5 + 3.0) / 2)

    def test_no_common_round_is_no_ratio(self):
        samples = {"a": [sample(1.0, 1)], "b": [sample(1.0, 2)]}
        self.assertEqual(report.paired_ratio("a", "b", samples), (None, 0))


class Pathology(unittest.TestCase):
    def test_an_ordinary_row_has_no_facts(self):
        r = row("wget2", [sample(0.5, 1, requests=4000)])
        self.assertEqual(report.pathology(r, 0.12), [])

    def test_a_stopped_run_has_no_cpu_and_is_reported(self):
        r = row("httrack", [sample(240.0, 1, cut=True, requests=300)])
        self.assertIsNone(r["cpu"])
        self.assertIsNone(r["cpu_ms_per_file"])
        facts = report.pathology(r, 0.12)
        self.assertTrue(facts and "stopped after 240 s with 300 requests" in facts[0])

    def test_encoded_angles_come_with_markup_and_404s(self):
        s = sample(72.0, 1, requests=6620, encoded=2495, not_found=2495)
        s["encoded_markup"], s["encoded_unquoted"] = "<A HREF=a.html>x", True
        text = "; ".join(report.pathology(row("wget2", [s]), 0.12))
        self.assertIn("2495 of its 6620 requests (38%)", text)
        self.assertIn("without quotes", text)
        self.assertIn("answered 404", text)
        self.assertIn("ms per request", text)

    def test_a_start_up_cost_on_a_small_site_is_not_slowness(self):
        # 0.3 s for 200 requests is 1.5 ms each, over 10 x a 0.1 ms floor, but 0.28 s in all.
        self.assertEqual(report.pathology(row("harvo", [sample(0.3, 1, requests=200)]), 0.1), [])
        self.assertTrue(report.pathology(row("x", [sample(3.0, 1, requests=200)]), 0.1))

    def test_a_run_that_saved_nothing_is_reported(self):
        facts = report.pathology(row("harvo", [sample(0.1, 1, files=0)]), 0.1)
        self.assertTrue(facts and "saved no file" in facts[0])


class Targets(unittest.TestCase):
    def rows(self, harvo_files=50, wget2_encoded=0):
        samples = {"harvo": [sample(0.8, 1, files=harvo_files), sample(0.8, 2, files=harvo_files)],
                   "wget2": [sample(1.0, 1, encoded=wget2_encoded),
                             sample(1.0, 2, encoded=wget2_encoded)]}
        rows = {i: row(i, s) for i, s in samples.items()}
        return rows, samples

    def test_the_defaults_target_is_judged_on_paired_ratios(self):
        rows, samples = self.rows()
        lines = report.target_checks(rows, samples, report.row_facts(list(rows.values())),
                                     False, None)
        self.assertTrue(lines[0].startswith("- the command's defaults, wall time <= 0.8 x "
                                            "wget2's defaults: holds (0.80 x, 2 pairs"))
        self.assertNotIn("pathological", lines[0])

    def test_a_pathological_peer_is_named_as_such(self):
        rows, samples = self.rows(wget2_encoded=10)
        facts = report.row_facts(list(rows.values()))
        self.assertIn("wget2", facts)
        lines = report.target_checks(rows, samples, facts, False, None)
        self.assertIn("says nothing about harvo's speed", lines[0])

    def test_a_harvo_row_that_saved_nothing_judges_nothing(self):
        rows, samples = self.rows(harvo_files=0)
        lines = report.target_checks(rows, samples, {}, False, None)
        self.assertIn("not measured", lines[0])


class AccessLog(unittest.TestCase):
    def test_encoded_and_raw_angles_are_counted(self):
        entries = [{"conn": 1, "status": 404, "path": "/a.html%3Ex%3c/A%3E"},
                   {"conn": 1, "status": 404, "path": "/b.html>y"},
                   {"conn": 2, "status": 200, "path": "/c.html?q=%3D"}]
        counts = run.log_counts(entries)
        self.assertEqual((counts["requests"], counts["connections"], counts["not_found"],
                          counts["encoded_angles"]), (3, 2, 2, 2))

    def test_the_request_is_traced_to_the_unquoted_markup_it_came_from(self):
        with tempfile.TemporaryDirectory() as site:
            os.makedirs(os.path.join(site, "a"))
            os.makedirs(os.path.join(site, "b"))
            # The same value quoted elsewhere first: the unquoted one, followed by what the
            # request carries, is the one meant.
            with open(os.path.join(site, "a", "index.html"), "w") as fh:
                fh.write('<a href="../x/p1.html" title="t">go</a>\n')
            with open(os.path.join(site, "b", "page.html"), "w") as fh:
                fh.write("text <A HREF=../x/p1.html>go</A> more\n")
            markup, unquoted = run.markup_of(site, "/x/p1.html%3Ego%3C/A%3E")
            self.assertEqual(markup, "<A HREF=../x/p1.html>go</A> more")
            self.assertTrue(unquoted)
            self.assertEqual(run.markup_of(site, "/x/p1.html"), ("", False))


if __name__ == "__main__":
    unittest.main()
