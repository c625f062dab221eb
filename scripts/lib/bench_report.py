"""Turns the samples of scripts/bench into the table of medians and ratios.

Usage: bench_report.py SAMPLES-FILE

SAMPLES-FILE has one tab-separated line per run:
    case  tool  wall-seconds  cpu-seconds  peak-rss-KiB  files-stored  ok
where ok is 1 when the tool stored the expected result and 0 when it did
not. Failed runs are left out of the numbers; a tool without one good run
shows "n/a". Every figure is the median of the good runs, with the minimum
and maximum beside it to show the noise; a ratio is Quorbit's median divided
by the peer's median, measured side by side in the same bench run.
Runs of the tool "baseline" (another build of the program, BENCH_BASELINE)
are shown beside the program's with their ratio, and count for no target.
"""

import statistics
import sys
from collections import defaultdict

PROGRAM = "quorbit"
BASELINE = "baseline"
# Case id, title, peers, and the targets checked for it, each a kind and its
# limit: "wall" compares the program's wall time with the best (lowest) peer's
# (limit: the highest ratio), "wall curl" with curl's only, "cpu" its processor time with curl's (ratio),
# "memory" its peak resident memory (MiB, below), and "idle" its processor
# seconds per wall second while a server stays silent (at most).
PLAIN_MEMORY = ("memory", 8.0)
TLS_MEMORY = ("memory", 12.0)
CASES = [
    ("http_big", "HTTP, one large file from nginx", ["curl", "wget"],
     [("wall", 1.0), ("cpu", 1.2), PLAIN_MEMORY]),
    ("https_big", "HTTPS, one large file from nginx", ["curl"], [("wall curl", 1.1), ("cpu", 1.2), TLS_MEMORY]),
    ("mirror", "HTTP, site mirror with links rewritten", ["wget"], [("wall", 0.8), PLAIN_MEMORY]),
    ("mirror_tls", "HTTPS, site mirror with links rewritten", ["wget"], [("wall", 0.8), TLS_MEMORY]),
    ("pydoc", "HTTP, deep mirror of the Python documentation, LEVEL 30", ["wget"], [("wall", 1.0), PLAIN_MEMORY]),
    ("ftp_down", "FTP, one large file down from pyftpdlib", ["curl", "lftp"],
     [("wall", 1.0), ("cpu", 1.2), PLAIN_MEMORY]),
    ("ftp_up", "FTP, one large file up to pyftpdlib", ["curl", "lftp"], [("wall", 1.0), ("cpu", 1.2), PLAIN_MEMORY]),
    ("ftp_small", "FTP, 1000 files of 4 KiB down by mask", ["lftp"], [PLAIN_MEMORY]),
    ("ftps_down", "FTPS, one large file down from vsftpd", ["curl", "lftp"],
     [("wall curl", 1.1), ("cpu", 1.2), TLS_MEMORY]),
    ("ftps_up", "FTPS, one large file up to vsftpd", ["curl", "lftp"], [("wall curl", 1.1), ("cpu", 1.2), TLS_MEMORY]),
    ("ftps_small", "FTPS, 1000 files of 4 KiB down by mask", ["lftp"], [("wall", 1.0), TLS_MEMORY]),
    ("proftpd_small", "FTP, 1000 files of 4 KiB down by mask from proftpd", ["lftp"],
     [("wall", 1.2), PLAIN_MEMORY]),
    ("pureftpd_small", "FTP, 1000 files of 4 KiB down by mask from pure-ftpd", ["lftp"],
     [("wall", 1.2), PLAIN_MEMORY]),
    ("stall_http", "HTTP server that never answers", ["curl"], [("idle", 0.01)]),
    ("stall_ftp", "FTP server that never answers", ["lftp"], [("idle", 0.01)]),
]


class Runs:
    """The good runs of one tool in one case."""

    def __init__(self):
        self.wall, self.cpu, self.rss_mib, self.files = [], [], [], []
        self.failed = 0

    def add(self, wall, cpu, rss_kib, files, ok):
        if not ok:
            self.failed += 1
            return
        self.wall.append(wall)
        self.cpu.append(cpu)
        self.rss_mib.append(rss_kib / 1024.0)
        self.files.append(files)

    def good(self):
        return bool(self.wall)

    def idle(self):
        """Processor seconds per wall second, over all good runs."""
        return sum(self.cpu) / sum(self.wall) if self.good() and sum(self.wall) > 0 else None


def load(path):
    runs = defaultdict(Runs)
    with open(path) as f:
        for line in f:
            fields = line.rstrip("\n").split("\t")
            if len(fields) != 7:
                continue
            case, tool, wall, cpu, rss, files, ok = fields
            runs[case, tool].add(float(wall), float(cpu), int(rss), int(files), ok == "1")
    return runs


def spread(values, fmt):
    if not values:
        return "n/a"
    median = statistics.median(values)
    return (fmt + " [" + fmt + " .. " + fmt + "]") % (median, min(values), max(values))


def ratio(a, b):
    if not a or not b:
        return None
    mb = statistics.median(b)
    return statistics.median(a) / mb if mb > 0 else None


def show_ratio(value):
    return "n/a" if value is None else "%.2f" % value


def verdict(ok):
    return "n/a" if ok is None else ("ok" if ok else "MISSED")


def report_case(case, title, peers, targets, runs, lines):
    compared = peers
    if (case, BASELINE) in runs:
        compared = [BASELINE] + peers
    tools = [PROGRAM] + compared
    limits = dict(targets)
    if "idle" in limits:
        return report_idle(case, title, tools, runs, lines, limits["idle"])
    counts = sorted({len(runs[case, t].wall) + runs[case, t].failed for t in tools} - {0})
    lines.append("%s  (runs per tool: %s; median [min .. max])" % (title, "/".join(map(str, counts)) or "none"))
    lines.append("  %-9s %-26s %-26s %-22s %s" % ("tool", "wall s", "cpu s", "peak MiB", "files"))
    for tool in tools:
        r = runs[case, tool]
        note = "" if not r.failed else "   (%d failed run%s)" % (r.failed, "s" if r.failed > 1 else "")
        files = "%d" % statistics.median(r.files) if r.good() else "n/a"
        lines.append("  %-9s %-26s %-26s %-22s %s%s" % (
            tool, spread(r.wall, "%.2f"), spread(r.cpu, "%.2f"), spread(r.rss_mib, "%.1f"), files, note))
    q = runs[case, PROGRAM]
    for peer in compared:
        p = runs[case, peer]
        lines.append("  %s / %-6s wall %-6s cpu %-6s peak %s" % (
            PROGRAM, peer, show_ratio(ratio(q.wall, p.wall)), show_ratio(ratio(q.cpu, p.cpu)),
            show_ratio(ratio(q.rss_mib, p.rss_mib))))
    results = []
    for kind in ("wall", "wall curl"):
        if kind not in limits:
            continue
        good_peers = [p for p in (["curl"] if kind == "wall curl" else peers) if runs[case, p].good()]
        best = min(good_peers, key=lambda p: statistics.median(runs[case, p].wall), default=None)
        value = ratio(q.wall, runs[case, best].wall) if best else None
        shown = show_ratio(value)
        if case in ("mirror", "mirror_tls", "pydoc") and value is not None:
            # The mirror compares fairly only when both stored the same files.
            shown += " (files %d vs %d)" % (statistics.median(q.files), statistics.median(runs[case, best].files))
        label = "wall <= %.2f x %s" % (limits[kind], "curl" if kind == "wall curl" else
                                          "best peer (%s)" % (best or "none"))
        results.append((label, shown, None if value is None else value <= limits[kind]))
    if "cpu" in limits:
        value = ratio(q.cpu, runs[case, "curl"].cpu)
        results.append(("cpu <= %.2f x curl" % limits["cpu"], show_ratio(value),
                        None if value is None else value <= limits["cpu"]))
    if "memory" in limits:
        peak = max(q.rss_mib) if q.good() else None
        results.append(("peak memory < %.0f MiB" % limits["memory"], "n/a" if peak is None else "%.1f MiB" % peak,
                        None if peak is None else peak < limits["memory"]))
    for label, value, ok in results:
        lines.append("  target  %-44s %-8s %s" % (label, verdict(ok), value))
    lines.append("")
    return [(title, label, value, ok) for label, value, ok in results]


def report_idle(case, title, tools, runs, lines, limit):
    lines.append("%s  (processor seconds per wall second while waiting)" % title)
    for tool in tools:
        r = runs[case, tool]
        if r.good():
            lines.append("  %-9s %.4f   (cpu %.3f s in %.1f s)" % (tool, r.idle(), sum(r.cpu), sum(r.wall)))
        else:
            lines.append("  %-9s n/a" % tool)
    value = runs[case, PROGRAM].idle()
    ok = None if value is None else value <= limit
    label = "cpu / wall <= %.2f" % limit
    lines.append("  target  %-44s %-8s %s" % (label, verdict(ok), "n/a" if value is None else "%.4f" % value))
    lines.append("")
    return [(title, label, "n/a" if value is None else "%.4f" % value, ok)]


def main():
    if len(sys.argv) != 2:
        sys.stderr.write(__doc__)
        sys.exit(2)
    runs = load(sys.argv[1])
    lines, summary = [], []
    for case, title, peers, targets in CASES:
        if any(key[0] == case for key in runs):
            summary += report_case(case, title, peers, targets, runs, lines)
    lines.append("Targets for %s" % PROGRAM)
    for title, label, value, ok in summary:
        lines.append("  %-8s %-42s %-44s %s" % (verdict(ok), title, label, value))
    print("\n".join(lines))


if __name__ == "__main__":
    main()
