#!/usr/bin/env python3
"""Turns the benchmark JSON into bench/results/table.md and bench/results/ratios.png.

Usage: report.py RESULTS.json OUTPUT_DIR [--readme README.md] [--node node.json]

With --readme, the summary between the README's benchmark markers is rewritten as well.
The Node.js figures (node/bench/parse.js) come from --node, or OUTPUT_DIR/node.json when that
exists; without them the Node.js section is left out.

Takes the median of the repetitions where there are several (the single run otherwise). Rates
come from CPU time, as Google Benchmark computes them. MB means 10^6 bytes.
"""

import json
import os
import subprocess
import sys

WORKLOADS = ["small", "oltp", "analytic", "bulk", "ddl", "vector", "mixed"]
TARGETS = (10, 20)


def load_runs(path):
    """Benchmark name -> its median aggregate, or its only run."""
    with open(path, encoding="utf-8") as f:
        data = json.load(f)
    medians, singles = {}, {}
    for b in data["benchmarks"]:
        name = b.get("run_name", b["name"])
        if b.get("run_type") == "aggregate":
            if b.get("aggregate_name") == "median":
                medians[name] = b
        elif name not in singles or b.get("error_occurred"):
            singles[name] = b
    runs = dict(singles)
    runs.update(medians)
    return data["context"], runs


def machine():
    """Model name and core count from lscpu, or what Python knows if lscpu is missing."""
    fields = {}
    try:
        out = subprocess.run(["lscpu"], capture_output=True, text=True, check=True).stdout
        for line in out.splitlines():
            key, _, value = line.partition(":")
            fields[key.strip()] = value.strip()
    except (OSError, subprocess.CalledProcessError):
        pass
    model = fields.get("Model name", "unknown CPU")
    cpus = fields.get("CPU(s)", str(os.cpu_count()))
    try:
        cores = int(fields["Core(s) per socket"]) * int(fields.get("Socket(s)", "1"))
        return f"{model}, {cores} cores ({cpus} CPUs)"
    except (KeyError, ValueError):
        return f"{model}, {cpus} CPUs"


class Results:
    def __init__(self, runs):
        self.runs = runs

    def get(self, name, field):
        b = self.runs.get(name)
        if b is None or b.get("error_occurred"):
            return None
        return b.get(field)

    def mbps(self, name):
        v = self.get(name, "bytes_per_second")
        return None if v is None else v / 1e6

    def ratio(self, a, b):
        x, y = self.mbps(a), self.mbps(b)
        return None if x is None or not y else x / y

    def peak_ratio(self, name):
        """Peak heap of one call over (document + 4 x input)."""
        peak, doc, inp = (self.get(name, k) for k in ("peak_heap", "doc_bytes", "input_bytes"))
        if None in (peak, doc, inp):
            return None
        return peak / (doc + 4 * inp)

    def basis(self, w):
        """Which texts the quorix/pg_query ratio of workload w compares, and a description."""
        if f"quorix/text/{w}.common" in self.runs:
            alike = self.get(f"quorix/text/{w}.common", "stmts")
            total = self.get(f"quorix/text/{w}", "stmts")
            alike_b = self.get(f"quorix/text/{w}.common", "input_bytes")
            total_b = self.get(f"quorix/text/{w}", "input_bytes")
            if None not in (alike, total, alike_b, total_b):
                return (f"{w}.common", f"alike subset: {alike:.0f} of {total:.0f} statements, "
                        f"{100 * alike_b / total_b:.0f}% of bytes")
            return f"{w}.common", "alike subset"
        if f"pg_query/text/{w}" not in self.runs:
            return w, "pg_query not built"
        q = self.get(f"quorix/text/{w}", "input_bytes")
        p = self.get(f"pg_query/text/{w}", "input_bytes")
        if q is not None and p is not None and q != p:
            return w, "translated for PostgreSQL (no statement is spelled alike)"
        return w, "as written"


def fmt(v, digits=1, suffix=""):
    if v is None:
        return "–"
    return f"{v:,.{digits}f}{suffix}"


def mib(v):
    return None if v is None else v / 2**20


def write_table(ctx, res, out_path, repetitions, node=None):
    lines = []
    add = lines.append
    add("# quorix_sql_parser vs PostgreSQL's parser (pg_query)")
    add("")
    add(f"- Machine: {machine()}; load average at start "
        + ", ".join(f"{x:.2f}" for x in ctx.get("load_avg", [])))
    add(f"- Run: {ctx.get('date', '?')}, quorix {ctx.get('quorix_version', '?')}, "
        f"pg_query: {ctx.get('pg_query', '?')}; allocator: {ctx.get('malloc', '?')}")
    add(f"- Medians of {repetitions} repetitions; rates from CPU time; MB = 10^6 bytes; "
        "1 MiB texts unless stated.")
    add("- ratio = quorix MB/s / pg_query MB/s on the texts named under 'compared on'. "
        "'alike subset' keeps the statements PostgreSQL reads exactly as written (DDL loses "
        "CREATE INDEX ... USING, mixed loses those and the vector statements); 'translated' "
        "gives pg_query ARRAY[...] for vector literals and USING before the index column. Where a "
        "workload has an alike subset, a second row compares the whole workload, pg_query "
        "reading the translated spelling of the rest.")
    add("")
    add("## Throughput")
    add("")
    add("| workload | compared on | quorix MB/s | pg_query MB/s | ratio | quorix MB/s, per-stmt "
        "calls | pg_query MB/s, per-stmt calls | ratio, per-stmt | floor MB/s | quorix ns/stmt "
        "| pg_query ns/stmt | quorix MB/s, all stmts |")
    add("|---|---|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|")
    ratios = []
    for w in WORKLOADS:
        if f"quorix/text/{w}" not in res.runs:
            continue
        b, desc = res.basis(w)
        qt, pt = f"quorix/text/{b}", f"pg_query/text/{b}"
        qs, ps = f"quorix/stmt/{b}", f"pg_query/stmt/{b}"
        r_text, r_stmt = res.ratio(qt, pt), res.ratio(qs, ps)
        ratios.append((w, desc, r_text, r_stmt))
        add(f"| {w} | {desc} | {fmt(res.mbps(qt))} | {fmt(res.mbps(pt))} | "
            f"{fmt(r_text, 2, '×')} | {fmt(res.mbps(qs))} | {fmt(res.mbps(ps))} | "
            f"{fmt(r_stmt, 2, '×')} | {fmt(res.mbps(f'floor/text/{w}'), 0)} | "
            f"{fmt(res.get(qs, 'ns_per_stmt'), 0)} | {fmt(res.get(ps, 'ns_per_stmt'), 0)} | "
            f"{fmt(res.mbps(f'quorix/text/{w}'))} |")
        if b != w and f"pg_query/text/{w}" in res.runs:
            # The whole workload as well, with pg_query given the translated spelling of the
            # statements it cannot read as written (its MB/s counts its own, longer text).
            qt, pt = f"quorix/text/{w}", f"pg_query/text/{w}"
            qs, ps = f"quorix/stmt/{w}", f"pg_query/stmt/{w}"
            r_text, r_stmt = res.ratio(qt, pt), res.ratio(qs, ps)
            whole = "whole workload, translated for PostgreSQL where not spelled alike"
            ratios.append((f"{w} (whole)", whole, r_text, r_stmt))
            add(f"| {w} | {whole} | {fmt(res.mbps(qt))} | {fmt(res.mbps(pt))} | "
                f"{fmt(r_text, 2, '×')} | {fmt(res.mbps(qs))} | {fmt(res.mbps(ps))} | "
                f"{fmt(r_stmt, 2, '×')} | {fmt(res.mbps(f'floor/text/{w}'), 0)} | "
                f"{fmt(res.get(qs, 'ns_per_stmt'), 0)} | {fmt(res.get(ps, 'ns_per_stmt'), 0)} | "
                f"{fmt(res.mbps(qt))} |")
    add("")
    add("## Output and memory (one call per 1 MiB text, every statement, each parser's own "
        "spelling)")
    add("")
    add("| workload | quorix doc/input | pg_query JSON/input | quorix peak MiB | quorix peak / "
        "(doc + 4×input) | pg_query peak MiB | pg_query peak / (JSON + 4×input) |")
    add("|---|--:|--:|--:|--:|--:|--:|")
    for w in WORKLOADS:
        q, p = f"quorix/text/{w}", f"pg_query/text/{w}"
        if q not in res.runs:
            continue
        add(f"| {w} | {fmt(res.get(q, 'doc_per_input'), 2)} | "
            f"{fmt(res.get(p, 'doc_per_input'), 2)} | {fmt(mib(res.get(q, 'peak_heap')))} | "
            f"{fmt(res.peak_ratio(q), 2)} | {fmt(mib(res.get(p, 'peak_heap')))} | "
            f"{fmt(res.peak_ratio(p), 2)} |")
    add("")
    add("## Two threads, each parsing its own copy of the 1 MiB mixed text (wall-clock rates)")
    add("")
    add(threads_table(res))
    add("")
    add("## Tools, one call per 1 MiB mixed text")
    add("")
    add(tools_table(res))
    add("")
    add("## Round trip of one 49-byte statement (parse, encode, copy out, free)")
    add("")
    q_ns = res.get("quorix/roundtrip/small50", "ns_per_stmt")
    p_ns = res.get("pg_query/roundtrip/small50", "ns_per_stmt")
    add("| quorix ns | pg_query ns | ratio | quorix peak bytes | pg_query peak bytes |")
    add("|--:|--:|--:|--:|--:|")
    add(f"| {fmt(q_ns, 0)} | {fmt(p_ns, 0)} | "
        f"{fmt(None if not q_ns or p_ns is None else p_ns / q_ns, 2, '×')} | "
        f"{fmt(res.get('quorix/roundtrip/small50', 'peak_heap'), 0)} | "
        f"{fmt(res.get('pg_query/roundtrip/small50', 'peak_heap'), 0)} |")
    add("")
    add("## 32 MiB mixed text, one call")
    add("")
    add("| text | quorix MB/s | pg_query MB/s | ratio | quorix doc/input | quorix peak MiB | "
        "quorix peak / (doc + 4×input) | pg_query peak MiB |")
    add("|---|--:|--:|--:|--:|--:|--:|--:|")
    for suffix, desc in (("mixed", "each parser's own spelling (pg_query's translated)"),
                         ("mixed.common", "alike subset")):
        q, p = f"quorix/text32/{suffix}", f"pg_query/text32/{suffix}"
        if q not in res.runs:
            continue
        r = res.ratio(q, p)
        if suffix == "mixed.common":
            ratios.append(("mixed 32 MiB", desc, r, None))
        add(f"| {desc} | {fmt(res.mbps(q))} | {fmt(res.mbps(p))} | {fmt(r, 2, '×')} | "
            f"{fmt(res.get(q, 'doc_per_input'), 2)} | {fmt(mib(res.get(q, 'peak_heap')))} | "
            f"{fmt(res.peak_ratio(q), 2)} | {fmt(mib(res.get(p, 'peak_heap')))} |")
    if node:
        add("")
        lines.extend(node_section(node, res))
    errors = [(n, b.get("error_message", "")) for n, b in sorted(res.runs.items())
              if b.get("error_occurred")]
    if errors:
        add("")
        add("## Benchmarks that failed")
        add("")
        for n, msg in errors:
            add(f"- {n}: {msg}")
    add("")
    if ctx.get("library_build_type") == "debug":
        add("Google Benchmark as Debian ships it calls itself a debug build; that concerns the "
            "timing harness, not the two parsers, which are optimised builds.")
        add("")
    add("Peak memory is the largest rise of the heap (malloc_usable_size of live blocks) during "
        "one call. pg_query keeps a per-thread memory context and reuses freed context blocks "
        "across calls, so its small-statement peaks leave out memory it holds between calls.")
    with open(out_path, "w", encoding="utf-8") as f:
        f.write("\n".join(lines) + "\n")
    return ratios


TOOLS = ("format", "format_pretty", "normalize", "fingerprint", "split", "tokens")


def tools_table(res):
    """Each tool's MB/s on the mixed text beside parse's, in the same run."""
    parse = res.mbps("quorix/text/mixed")
    rows = ["| tool | MB/s | × parse's MB/s |", "|---|--:|--:|",
            f"| parse | {fmt(parse)} | 1.00× |"]
    for tool in TOOLS:
        name = f"tool/{tool}/text/mixed"
        if name in res.runs:
            rows.append(f"| {tool} | {fmt(res.mbps(name))} | "
                        f"{fmt(res.ratio(name, 'quorix/text/mixed'), 2, '×')} |")
    return "\n".join(rows)


def threads_name(peer, mode, threads):
    return f"{peer}/{mode}/mixed.threads/real_time/threads:{threads}"


def threads_table(res):
    """One thread and two on the mixed text, each thread on its own copy, wall-clock rates."""
    rows = ["| calls | quorix MB/s, 1 thread | quorix MB/s, 2 threads | quorix scaling | "
            "pg_query MB/s, 1 thread | pg_query MB/s, 2 threads | pg_query scaling | "
            "ratio, 2 threads |", "|---|--:|--:|--:|--:|--:|--:|--:|"]
    for mode, desc in (("text", "one per text"), ("stmt", "one per statement")):
        q1, q2 = threads_name("quorix", mode, 1), threads_name("quorix", mode, 2)
        p1, p2 = threads_name("pg_query", mode, 1), threads_name("pg_query", mode, 2)
        if q1 not in res.runs:
            continue
        rows.append(f"| {desc} | {fmt(res.mbps(q1))} | {fmt(res.mbps(q2))} | "
                    f"{fmt(res.ratio(q2, q1), 2, '×')} | {fmt(res.mbps(p1))} | "
                    f"{fmt(res.mbps(p2))} | {fmt(res.ratio(p2, p1), 2, '×')} | "
                    f"{fmt(res.ratio(q2, p2), 2, '×')} |")
    return "\n".join(rows)


def load_node(path):
    """The Node.js figures, or None when there are none or they cannot be read."""
    if not path or not os.path.exists(path):
        return None
    try:
        with open(path, encoding="utf-8") as f:
            return json.load(f)
    except (OSError, ValueError) as e:
        print(f"{path}: {e}; no Node.js section", file=sys.stderr)
        return None


def node_crossing(node, res):
    """The addon call's figures, with the C round trip of this run where Node had none."""
    c = dict(node.get("crossing") or {})
    if c.get("c_roundtrip_ns") is None:
        c["c_roundtrip_ns"] = res.get("quorix/roundtrip/small50", "ns_per_stmt")
    if c.get("crossing_ns") is None and None not in (c.get("c_roundtrip_ns"),
                                                      c.get("node_native_ns")):
        c["crossing_ns"] = c["node_native_ns"] - c["c_roundtrip_ns"]
    return c


def node_rows(node):
    for w in WORKLOADS:
        e = (node.get("workloads") or {}).get(w)
        if e is not None:
            yield w, e, e.get("stmt") or {}, e.get("text") or {}


def node_share(e):
    return (f"{e.get('accepted', 0)} of {e.get('statements', 0)} "
            f"({100 * e.get('accepted_share', 0):.0f}%)")


def node_section(node, res):
    lines = []
    add = lines.append
    add(f"## Node.js: parse() against {node.get('peer', 'node-sql-parser')}")
    add("")
    add(f"- Node {node.get('node', '?')}, quorix {node.get('quorix_version', '?')}, run "
        f"{node.get('date', '?')}, load average at start "
        + ", ".join(f"{x:.2f}" for x in node.get("load_avg", [])) + ".")
    add(f"- Medians of {node.get('rounds', '?')} interleaved rounds, wall-clock time, MB = 10^6 "
        "bytes of SQL. Each workload is cut down to the statements node-sql-parser's astify "
        "accepts with the database option that accepts more of them; both parsers read that "
        "subset, one call per statement and one call per text (joined by ';\\n'). ratio = "
        "quorix MB/s / node-sql-parser MB/s; spread = (max − min) / median of the per-round "
        "ratios. parse() includes decoding the document into JavaScript objects.")
    add("")
    add("| workload | database option | accepted statements | accepted bytes | quorix MB/s, "
        "per-stmt calls | node-sql-parser MB/s, per-stmt calls | ratio, per-stmt | spread | "
        "quorix MB/s, per text | node-sql-parser MB/s, per text | ratio, per text | spread |")
    add("|---|---|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|")
    notes = []
    for w, e, st, tx in node_rows(node):
        add(f"| {w} | {e.get('database', '?')} | {node_share(e)} | "
            f"{fmt(e.get('accepted_bytes', 0) / 1e6, 2)} of {fmt(e.get('bytes', 0) / 1e6, 2)} MB | "
            f"{fmt(st.get('quorix_mbps'))} | "
            f"{fmt(st.get('peer_mbps'), 2)} | {fmt(st.get('ratio'), 1, '×')} | "
            f"{fmt(None if not st else 100 * st.get('ratio_spread', 0), 0, '%')} | "
            f"{fmt(tx.get('quorix_mbps'))} | {fmt(tx.get('peer_mbps'), 2)} | "
            f"{fmt(tx.get('ratio'), 1, '×')} | "
            f"{fmt(None if not tx else 100 * tx.get('ratio_spread', 0), 0, '%')} |")
        if e.get("text_skipped"):
            notes.append(f"- {w}: {e['text_skipped']}")
    if notes:
        add("")
        lines.extend(notes)
    c = node_crossing(node, res)
    add("")
    add(f"Crossing into the addon, one 49-byte statement per call ({c.get('statement', '')!r}):")
    add("")
    add("| parse() ns | addon call, document as Buffer, ns | C library round trip ns | crossing "
        "ns | decoding ns | parse('SELECT 1') ns | node-sql-parser astify ns |")
    add("|--:|--:|--:|--:|--:|--:|--:|")
    add(f"| {fmt(c.get('node_parse_ns'), 0)} | {fmt(c.get('node_native_ns'), 0)} | "
        f"{fmt(c.get('c_roundtrip_ns'), 0)} | {fmt(c.get('crossing_ns'), 0)} | "
        f"{fmt(c.get('decode_ns'), 0)} | {fmt(c.get('node_select1_ns'), 0)} | "
        f"{fmt(c.get('peer_astify_ns'), 0)} |")
    add("")
    add("crossing = the addon call (string in, document Buffer out) − the library's own round "
        "trip in the C++ suite (quorix/roundtrip/small50); decoding = parse() − the addon call.")
    return lines


def node_summary(node, res):
    """The README's lines on Node.js: ratios per workload and the crossing overhead."""
    lines = [f"From Node.js ({node.get('node', '?')}), parse() against "
             f"{node.get('peer', 'node-sql-parser')} on the statements it accepts (medians of "
             f"{node.get('rounds', '?')} interleaved rounds, wall clock, documents decoded into "
             "JavaScript objects):", "",
             "| workload | accepted statements | ratio, one call per statement | ratio, one call "
             "per text | quorix MB/s, per statement | node-sql-parser MB/s, per statement |",
             "|---|--:|--:|--:|--:|--:|"]
    for w, e, st, tx in node_rows(node):
        lines.append(f"| {w} | {node_share(e)} | {fmt(st.get('ratio'), 1, '×')} | "
                     f"{fmt(tx.get('ratio'), 1, '×')} | {fmt(st.get('quorix_mbps'))} | "
                     f"{fmt(st.get('peer_mbps'), 2)} |")
    c = node_crossing(node, res)
    lines += ["", f"One 49-byte statement from Node: parse() {fmt(c.get('node_parse_ns'), 0)} ns, "
              f"of which crossing into the addon {fmt(c.get('crossing_ns'), 0)} ns (addon call "
              f"{fmt(c.get('node_native_ns'), 0)} ns against the C round trip's "
              f"{fmt(c.get('c_roundtrip_ns'), 0)} ns) and decoding "
              f"{fmt(c.get('decode_ns'), 0)} ns; node-sql-parser "
              f"{fmt(c.get('peer_astify_ns'), 0)} ns."]
    return lines


README_BEGIN = "<!-- benchmark summary: written by bench/report.py -->"
README_END = "<!-- end of benchmark summary -->"


def readme_summary(ctx, res, ratios, node=None):
    """The README's short form of the table: ratios first, then the absolute figures."""
    lines = [README_BEGIN, ""]
    add = lines.append
    add(f"Measured {ctx.get('date', '?')[:10]} on {machine()}, against {ctx.get('pg_query', '?')} "
        f"(libpg-query-dev), in one process, allocator: {ctx.get('malloc', '?')}; medians of "
        "repeated runs, 1 MiB texts unless stated.")
    add("")
    add("| workload | compared on | ratio, one call per text | ratio, one call per statement "
        "| quorix MB/s | pg_query MB/s | quorix peak / (doc + 4×input) |")
    add("|---|---|--:|--:|--:|--:|--:|")
    for w, desc, r_text, r_stmt in ratios:
        name = w.removesuffix(" (whole)")
        if name not in WORKLOADS:
            continue
        b = name if name != w else res.basis(w)[0]
        add(f"| {name} | {desc.split(':')[0]} | {fmt(r_text, 2, '×')} | {fmt(r_stmt, 2, '×')} | "
            f"{fmt(res.mbps(f'quorix/text/{b}'))} | {fmt(res.mbps(f'pg_query/text/{b}'))} | "
            f"{fmt(res.peak_ratio(f'quorix/text/{name}'), 2)} |")
    q32, p32 = "quorix/text32/mixed", "pg_query/text32/mixed"
    if q32 in res.runs:
        add(f"| mixed, 32 MiB text | each parser's own spelling | {fmt(res.ratio(q32, p32), 2, '×')} "
            f"| – | {fmt(res.mbps(q32))} | {fmt(res.mbps(p32))} | {fmt(res.peak_ratio(q32), 2)} |")
    q2t, p2t = threads_name("quorix", "text", 2), threads_name("pg_query", "text", 2)
    q2s, p2s = threads_name("quorix", "stmt", 2), threads_name("pg_query", "stmt", 2)
    if q2t in res.runs:
        add(f"| mixed, two threads | each parser's own spelling | {fmt(res.ratio(q2t, p2t), 2, '×')} "
            f"| {fmt(res.ratio(q2s, p2s), 2, '×')} | {fmt(res.mbps(q2t))} | {fmt(res.mbps(p2t))} "
            "| – |")
        add("")
        add("Two threads, each parsing its own copy of the mixed text, against one (wall-clock "
            "rates):")
        add("")
        add(threads_table(res))
    q_ns = res.get("quorix/roundtrip/small50", "ns_per_stmt")
    p_ns = res.get("pg_query/roundtrip/small50", "ns_per_stmt")
    add("")
    add(f"Round trip of a 49-byte statement (parse, encode, copy out, free): quorix "
        f"{fmt(q_ns, 0)} ns, pg_query {fmt(p_ns, 0)} ns.")
    add("")
    add("The tools, one call per 1 MiB mixed text, in the same run:")
    add("")
    add(tools_table(res))
    add("")
    add("![quorix vs pg_query throughput ratios](bench/results/ratios.png)")
    add("")
    if node:
        lines.extend(node_summary(node, res))
        add("")
    add(README_END)
    return "\n".join(lines)


def update_readme(path, summary):
    with open(path, encoding="utf-8") as f:
        text = f.read()
    begin, end = text.find(README_BEGIN), text.find(README_END)
    if begin < 0 or end < begin:
        print(f"{path}: no benchmark summary markers, left unchanged", file=sys.stderr)
        return False
    text = text[:begin] + summary + text[end + len(README_END):]
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)
    return True


def write_chart(ratios, out_path, title):
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    def label(w, d):
        if w.endswith(" (whole)"):
            return f"{w.removesuffix(' (whole)')}\nwhole\n(translated)"
        if "translated" in d:
            return f"{w}\n(translated)"
        return f"{w}\nalike\nsubset" if "alike" in d else w

    labels = [label(w, d) for w, d, _, _ in ratios]
    text = [r or 0 for _, _, r, _ in ratios]
    stmt = [r or 0 for _, _, _, r in ratios]
    xs = range(len(ratios))
    width = 0.38
    fig, ax = plt.subplots(figsize=(12, 5.5))
    bars1 = ax.bar([x - width / 2 for x in xs], text, width, label="one call per text")
    bars2 = ax.bar([x + width / 2 for x in xs], stmt, width, label="one call per statement")
    for bars in (bars1, bars2):
        for bar in bars:
            if bar.get_height() > 0:
                ax.annotate(f"{bar.get_height():.1f}×",
                            (bar.get_x() + bar.get_width() / 2, bar.get_height()),
                            ha="center", va="bottom", fontsize=8)
    for target, style in zip(TARGETS, ("--", ":")):
        ax.axhline(target, color="crimson", linestyle=style, linewidth=1.2,
                   label=f"{target}× target")
    ax.set_xticks(list(xs))
    ax.set_xticklabels(labels, fontsize=9)
    ax.set_ylabel("quorix MB/s ÷ pg_query MB/s")
    ax.set_ylim(0, max([TARGETS[-1] * 1.15] + [v * 1.15 for v in text + stmt]))
    ax.set_title(title, fontsize=10)
    ax.legend(loc="upper left", fontsize=8)
    fig.tight_layout()
    fig.savefig(out_path, dpi=120)
    plt.close(fig)


def main(argv):
    flags = {"--readme": None, "--node": None}
    rest = [argv[0]]
    i = 1
    while i < len(argv):
        if argv[i] in flags and i + 1 < len(argv):
            flags[argv[i]] = argv[i + 1]
            i += 2
        else:
            rest.append(argv[i])
            i += 1
    argv, readme = rest, flags["--readme"]
    if len(argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    ctx, runs = load_runs(argv[1])
    os.makedirs(argv[2], exist_ok=True)
    repetitions = max((b.get("repetitions", 1) for b in runs.values()), default=1)
    res = Results(runs)
    node = load_node(flags["--node"] or os.path.join(argv[2], "node.json"))
    table = os.path.join(argv[2], "table.md")
    ratios = write_table(ctx, res, table, repetitions, node)
    chart = os.path.join(argv[2], "ratios.png")
    try:
        write_chart(ratios, chart, f"quorix vs pg_query, {machine()}")
    except ImportError:
        print("matplotlib is missing: no chart written", file=sys.stderr)
        chart = None
    if readme and update_readme(readme, readme_summary(ctx, res, ratios, node)):
        print(f"updated the benchmark summary in {readme}")
    with open(table, encoding="utf-8") as f:
        print(f.read())
    print(f"wrote {table}" + (f" and {chart}" if chart else ""))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
