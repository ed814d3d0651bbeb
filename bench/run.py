#!/usr/bin/env python3
"""Benchmark driver: generates the corpora, runs every case side by side on
loopback and prints one table. Figures are printed, never asserted."""

import argparse
import os
import re
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(HERE)
CLOCK = os.sysconf("SC_CLK_TCK")
MB = 1e6
SCRATCH_FAST = "/dev/shm" if os.access("/dev/shm", os.W_OK) else None


def log(text):
    print(text, file=sys.stderr, flush=True)


# ---------------------------------------------------------------- processes

def proc_stat(pid):
    """(ppid, own cpu seconds, reaped children's cpu seconds) of a live process."""
    try:
        with open(f"/proc/{pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
    except OSError:
        return None
    ticks = [int(x) for x in fields[11:15]]
    return int(fields[1]), (ticks[0] + ticks[1]) / CLOCK, (ticks[2] + ticks[3]) / CLOCK


def tree_cpu(root):
    """CPU seconds of a process, its live descendants and all it reaped."""
    stats = {}
    for name in os.listdir("/proc"):
        if name.isdigit():
            s = proc_stat(int(name))
            if s:
                stats[int(name)] = s
    children = {}
    for pid, (ppid, _, _) in stats.items():
        children.setdefault(ppid, []).append(pid)
    total, todo = 0.0, [root]
    while todo:
        pid = todo.pop()
        if pid in stats:
            _, own, reaped = stats[pid]
            total += own + (reaped if pid == root else 0.0)
            todo.extend(children.get(pid, []))
    return total


class Run:
    """Wall time, client CPU and peak RSS of one child, and the server's CPU meanwhile."""

    def __init__(self, figures, server_cpu, output):
        wall, user, system, maxrss, code = figures.split()
        self.wall = float(wall)
        self.cpu = float(user) + float(system)
        self.rss_mb = int(maxrss) / 1024.0
        self.code = int(code)
        self.server_cpu = server_cpu
        self.output = output


def measure(argv, server_pid=None, cwd=None, settle=0.3):
    before = tree_cpu(server_pid) if server_pid else None
    out_path = os.path.join(WORK, "child.out")
    figures = subprocess.run([BIN("bench_measure"), out_path] + argv, cwd=cwd, check=True,
                             capture_output=True, text=True).stdout
    server = None
    if server_pid:
        time.sleep(settle)  # the server's session process ends just after the client
        server = tree_cpu(server_pid) - before
    with open(out_path, "rb") as f:
        output = f.read().decode(errors="replace")
    run = Run(figures, server, output)
    if run.code != 0:
        log(f"  ! {os.path.basename(argv[0])} exited with {run.code}: {output.strip()[-400:]}")
    return run


class Server:
    """A server process we started; stopped by its own process id."""

    def __init__(self, name, argv, stdin=None):
        # Diagnostics go to a file: a pipe nobody reads could stall the server.
        self.name = name
        self.errors = os.path.join(WORK, name + ".err")
        with open(self.errors, "w") as err:
            self.proc = subprocess.Popen(argv, stdin=stdin, stdout=subprocess.PIPE,
                                         stderr=err, text=True)

    def error_text(self):
        with open(self.errors, errors="replace") as f:
            return f.read()

    def first_line(self):
        words = self.proc.stdout.readline().split()
        if not words:
            raise SystemExit(f"{self.name} did not start: {self.error_text()}")
        return words

    def stop(self):
        if self.proc.poll() is None:
            if self.proc.stdin:
                self.proc.stdin.close()
            else:
                self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(timeout=20)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()


# ---------------------------------------------------------------- corpora

def corpus(name, count, low, high, seed, crlf):
    path = os.path.join(CORPORA, name)
    stamp = f"{count} {low} {high} {seed} {crlf}"
    marker = os.path.join(path, "stamp")
    if os.path.exists(marker) and open(marker).read() == stamp:
        log(f"corpus {name}: reused")
    else:
        shutil.rmtree(path, ignore_errors=True)
        log(f"corpus {name}: writing {count} messages of {low}-{high} bytes")
        subprocess.run([BIN("bench_corpus"), "messages", path, str(count), str(low), str(high),
                        str(seed), "crlf" if crlf else "lf"], check=True, stdout=subprocess.DEVNULL)
        with open(marker, "w") as f:
            f.write(stamp)
    account = os.path.join(path, "store", "Accounts", "bench.macnt")
    mbox = os.path.join(account, "INBOX.mbox")
    info = open(os.path.join(account, "account.info")).read()
    size = int(info.split("#StorageUsed = #")[1].split(";")[0])
    return {"name": name, "path": path, "count": count, "bytes": size, "account": account,
            "store": os.path.join(path, "store"), "mbox": mbox,
            "maildir": os.path.join(path, "maildir")}


def account_store(count, nested=False):
    """`count` empty accounts in 10 domains; `nested`: the same accounts two .sub levels down."""
    name = f"accounts-{count}" + ("-sub" if nested else "")
    path = os.path.join(CORPORA, name)
    marker = os.path.join(path, "stamp")
    if not os.path.exists(marker):
        shutil.rmtree(path, ignore_errors=True)
        log(f"corpus {name}: writing")
        subprocess.run([BIN("bench_corpus"), "accounts", path, str(count)] + (["sub"] if nested else []),
                       check=True, stdout=subprocess.DEVNULL)
        open(marker, "w").write("ok")
    return path


# ---------------------------------------------------------------- cases

class Dovecot:
    """The test harness's private Dovecot; it keeps its mail on tmpfs where it can."""

    def __init__(self, users):
        self.server = Server("dovecot", [BIN("bench_dovecot")] + users, stdin=subprocess.PIPE)
        words = self.server.first_line()
        self.port, self.dir = int(words[1]), words[3]
        self.pid = int(open(os.path.join(self.dir, "run", "master.pid")).read())

    def stored(self, user):
        """Messages in the user's mail: Maildir files or single-dbox "u.<uid>" files."""
        count = 0
        for root, _, files in os.walk(os.path.join(self.dir, "mail", user)):
            if os.path.basename(root) in ("cur", "new"):
                count += len(files)
            else:
                count += sum(1 for f in files if re.fullmatch(r"u\.\d+", f))
        return count

    def drop(self, user):
        shutil.rmtree(os.path.join(self.dir, "mail", user), ignore_errors=True)


def mbsync_case(dovecot, corp, user, depth, port=None):
    # mbsync renames every Maildir file it sees and writes its state as it goes:
    # a copy on tmpfs keeps the corpus untouched and this machine's slow disk
    # metadata out of mbsync's figures, as the server's mail is on tmpfs too.
    run_dir = tempfile.mkdtemp(prefix="tarmig-bench-mbsync-", dir=SCRATCH_FAST)
    os.makedirs(os.path.join(run_dir, "state"))
    near = os.path.join(run_dir, "maildir")
    subprocess.run(["cp", "-a", corp["maildir"], near], check=True)
    depth_line = f"PipelineDepth {depth}\n" if depth else ""
    config = os.path.join(run_dir, "mbsyncrc")
    with open(config, "w") as f:
        f.write(f"IMAPAccount dst\nHost 127.0.0.1\nPort {port or dovecot.port}\nUser {user}\nPass bench\n"
                f"SSLType None\nAuthMechs LOGIN\n{depth_line}\n"
                f"IMAPStore dst\nAccount dst\n\n"
                f"MaildirStore src\nPath {near}/\nInbox {near}/INBOX\n\n"
                f"Channel push\nFar :dst:\nNear :src:\nPatterns INBOX\nSync Push\nCreate Far\n"
                f"Expunge None\nCopyArrivalDate yes\nSyncState {run_dir}/state/\n")
    run = measure(["mbsync", "-q", "-c", config, "push"], dovecot.pid)
    run.complete = dovecot.stored(user) == corp["count"]
    dovecot.drop(user)
    shutil.rmtree(run_dir, ignore_errors=True)
    return run


def append_case(dovecot, corp, user, window=1, port=None):
    run = measure([BIN("bench_append"), "127.0.0.1", str(port or dovecot.port), user, "bench",
                   corp["account"], "bench", "INBOX", "INBOX", os.path.join(WORK, "append.log"),
                   f"window={window}"], dovecot.pid)
    run.complete = dovecot.stored(user) == corp["count"]
    dovecot.drop(user)
    return run


class Vantrel:
    """The Vantrel test server in sink mode: counts appended messages, keeps none."""

    def __init__(self):
        script = os.path.join(SOURCE, "tests", "peers", "vantrel_server.py")
        self.server = Server("vantrel", [sys.executable, script, "--sink", "--master-password",
                                         "master", "--account", "blast@bench.example.com:bench"])
        self.port = int(self.server.first_line()[0])
        self.pid = self.server.proc.pid


def migrate_case(vantrel, corp):
    cwd = os.path.join(WORK, "migrate")
    shutil.rmtree(cwd, ignore_errors=True)
    os.makedirs(cwd)
    # -force: later runs migrate into the account the first run created.
    run = measure([TARMIG, "-path", corp["store"], "-migrate", "-server", "127.0.0.1",
                   "-port", str(vantrel.port), "-password", "master",
                   "-primaryDomain", "bench.example.com", "-quiet", "-force"], vantrel.pid, cwd=cwd)
    logs = [f for f in os.listdir(cwd) if f.endswith(".log")]
    text = open(os.path.join(cwd, logs[0]), errors="replace").read() if logs else ""
    run.complete = "Result: migration successful" in text and "Error" not in text
    return run


def sync_case(dovecot, corp, user):
    """Only the timed loop counts: the client reads its messages in first."""
    run = measure([BIN("bench_net"), "sync", str(dovecot.port), user, "bench",
                   os.path.join(corp["maildir"], "INBOX", "cur")], dovecot.pid)
    loop = re.search(r"^loop (\S+) (\S+)$", run.output, re.M)
    if loop:
        run.wall, run.cpu = float(loop.group(1)), float(loop.group(2))
    run.rss_mb = None  # it holds every message in memory
    run.complete = bool(loop) and dovecot.stored(user) == corp["count"]
    dovecot.drop(user)
    return run


def blast_case(vantrel, corp):
    run = measure([BIN("bench_net"), "blast", str(vantrel.port), "blast@bench.example.com", "bench",
                   os.path.join(corp["maildir"], "INBOX", "cur")], vantrel.pid)
    run.complete = f"appended {corp['count']} " in run.output
    return run


def loopback_case(sink_port, corp):
    run = measure([BIN("bench_net"), "send", str(sink_port), corp["mbox"]])
    run.complete = f"sent {os.path.getsize(corp['mbox'])}" in run.output
    return run


def print_case(store):
    cwd = os.path.join(WORK, "print")
    shutil.rmtree(cwd, ignore_errors=True)
    os.makedirs(cwd)
    run = measure([TARMIG, "-path", store, "-quiet", "-primaryDomain", "bench.example.com"], cwd=cwd)
    logs = [f for f in os.listdir(cwd) if f.endswith(".log")]
    with open(os.path.join(cwd, logs[0]), errors="replace") if logs else open(os.devnull) as f:
        run.listed = sum(1 for line in f if line.startswith(" + mailbox <"))
    return run


def syscalls(dovecot, corp, user):
    """Calls per message and bytes moved per message for each system call of the message path."""
    trace = os.path.join(WORK, f"strace.{corp['name']}")
    subprocess.run(["strace", "-f", "-qq", "-s", "0", "-o", trace,
                    "-e", "trace=read,write,sendto,sendmsg,recvfrom,lseek,openat,poll,writev",
                    BIN("bench_append"), "127.0.0.1", str(dovecot.port), user, "bench",
                    corp["account"], "bench", "INBOX", "INBOX", os.path.join(WORK, "profile.log")],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    dovecot.drop(user)
    call = re.compile(r"^(?:\d+\s+)?(\w+)\(.*\)\s+=\s+(-?\d+)")
    totals = {}
    with open(trace, errors="replace") as f:
        for line in f:
            m = call.match(line)
            if m:
                count, size = totals.get(m.group(1), (0, 0))
                moved = int(m.group(2)) if m.group(1) in ("read", "write", "sendto", "sendmsg", "recvfrom", "writev") else 0
                totals[m.group(1)] = (count + 1, size + max(moved, 0))
    n = corp["count"]
    return [(name, count / n, size / n) for name, (count, size) in
            sorted(totals.items(), key=lambda item: -item[1][0])]


def profile(dovecot, corp, user):
    """Instruction profile of the message path, by function, from callgrind."""
    out = os.path.join(WORK, f"callgrind.{corp['name']}")
    subprocess.run(["valgrind", "--tool=callgrind", f"--callgrind-out-file={out}",
                    BIN("bench_append"), "127.0.0.1", str(dovecot.port), user, "bench",
                    corp["account"], "bench", "INBOX", "INBOX", os.path.join(WORK, "profile.log")],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    dovecot.drop(user)
    calls = syscalls(dovecot, corp, user)
    entry = re.compile(r"^\s*([\d,]+)\s+\(\s*([\d.]+%)\)\s+(\S+)")
    report = {}
    for inclusive in ("no", "yes"):
        text = subprocess.run(["callgrind_annotate", f"--inclusive={inclusive}", out],
                              check=True, capture_output=True, text=True).stdout
        rows = []
        for line in text.splitlines():
            m = entry.match(line)
            if m:
                name = m.group(3)
                name = name[4:] if name.startswith("???:") else name.split(":", 1)[-1]
                rows.append((int(m.group(1).replace(",", "")), m.group(2), name.split("(")[0]))
        report[inclusive] = rows
    total = report["no"][0][0]
    # Inclusive rows from main down; the loader and libc start-up above it say nothing.
    names = [name for _, _, name in report["yes"]]
    inclusive = report["yes"][names.index("main"):] if "main" in names else report["yes"]
    text = [f"Profile of the message path, {corp['name']}: {total / corp['bytes']:.1f} instructions "
            f"per stored byte, {total / corp['count']:,.0f} per message"]
    text.append(f"  system calls per message of {corp['bytes'] / corp['count']:,.0f} stored bytes "
                f"(calls, bytes moved), from strace:")
    text.extend(f"    {name:<10} {count:>9.1f} {size:>12,.0f}" for name, count, size in calls)
    for title, rows in (("self", report["no"][1:13]), ("inclusive", inclusive[:16])):
        text.append(f"  by {title} instructions:")
        text.extend(f"    {share:>7} {name}" for _, share, name in rows)
    return text


class DelayProxy:
    """A relay to `port` that holds each direction for half the round trip."""

    def __init__(self, port, rtt_ms):
        one_way = str(int(rtt_ms * 1000 / 2))
        self.server = Server(f"delay-{rtt_ms}", [BIN("bench_delay"), "relay", str(port), one_way])
        self.port = int(self.server.first_line()[1])


def proxy_check(rtt_ms):
    """(round trip ms, bulk MB/s) measured through a fresh relay of this round trip."""
    out = subprocess.run([BIN("bench_delay"), "check", str(int(rtt_ms * 1000 / 2))], check=True,
                         capture_output=True, text=True).stdout.split()
    return float(out[1]), float(out[3])


# tarmig's default -window (migrator/MigratorArgs.cpp).
DEFAULT_WINDOW = 32
ROUND_TRIPS_MS = (0, 1, 5)


def distance_cases(reps, q, crlf):
    """The message path into Dovecot through the delay proxy, next to mbsync's default pipeline."""
    small = corpus("small" + ("-quick" if q else ""), 2000 if q else 10000, 2048, 8192, 1, crlf)
    users = [f"d{i}" for i in range(200)]
    next_user = iter(users)
    cases = {
        "mbsync default pipeline": lambda port: mbsync_case(dovecot, small, next(next_user), 0, port),
        "tarmig message path -window 1": lambda port: append_case(dovecot, small, next(next_user), 1, port),
        f"tarmig message path -window {DEFAULT_WINDOW} (default)":
            lambda port: append_case(dovecot, small, next(next_user), DEFAULT_WINDOW, port),
    }
    results, checks = {}, {}
    started = []
    try:
        dovecot = Dovecot(users)
        started.append(dovecot.server)
        for rtt in ROUND_TRIPS_MS:
            port = dovecot.port
            if rtt:
                checks[rtt] = proxy_check(rtt)
                proxy = DelayProxy(dovecot.port, rtt)
                started.append(proxy.server)
                port = proxy.port
            for rep in range(reps):
                for label, case in cases.items():
                    log(f"distance {rtt} ms rep {rep + 1}/{reps}: {label}")
                    results.setdefault((rtt, label), []).append(case(port))
    finally:
        for server in reversed(started):
            server.stop()

    print()
    print(f"Message path at a distance: {small['name']} corpus ({small['count']} messages, "
          f"{small['bytes'] / MB:.1f} MB) into Dovecot through the delay proxy, {reps} run(s) each, median")
    for rtt, (measured, bulk) in checks.items():
        print(f"  proxy at {rtt} ms: measured round trip {measured:.3f} ms, bulk {bulk:.0f} MB/s")
    print(f"{'round trip':>10}  {'case':<42} {'msg/s':>20} {'MB/s':>18} {'x mbsync default':>17}")
    for rtt in ROUND_TRIPS_MS:
        ref = statistics.median([small["count"] / r.wall for r in results[(rtt, "mbsync default pipeline")]])
        for label in cases:
            runs = results[(rtt, label)]
            msgs = [small["count"] / r.wall for r in runs]
            mbs = [small["bytes"] / MB / r.wall for r in runs]
            mark = "" if all(getattr(r, "complete", True) for r in runs) else "  INCOMPLETE"
            print(f"{str(rtt) + ' ms':>10}  {label:<42} {fmt_range(msgs):>20} {fmt_range(mbs):>18} "
                  f"{statistics.median(msgs) / ref:>16.2f}x{mark}")


# ---------------------------------------------------------------- table

def fmt_range(values, digits=None):
    med = statistics.median(values)
    if digits is None:  # three significant figures or so, whatever the magnitude
        digits = 0 if med >= 100 else 1 if med >= 10 else 2 if med >= 1 else 3
    if len(values) == 1:
        return f"{med:.{digits}f}"
    return f"{med:.{digits}f} ({min(values):.{digits}f}-{max(values):.{digits}f})"


class Row:
    def __init__(self, group, label, corp, runs, server_cpu=True):
        self.group, self.label, self.corp, self.runs = group, label, corp, runs
        self.msgs = [corp["count"] / r.wall for r in runs]
        self.mbs = [corp["bytes"] / MB / r.wall for r in runs]
        gb = corp["bytes"] / 1e9
        self.cpu_gb = [r.cpu / gb for r in runs]
        self.cpu_k = [r.cpu / (corp["count"] / 1000) for r in runs]
        self.srv_gb = [r.server_cpu / gb for r in runs if r.server_cpu is not None]
        rss = [r.rss_mb for r in runs]
        self.rss = None if None in rss else max(rss)
        self.complete = all(getattr(r, "complete", True) for r in runs)


def print_table(rows, reference, loopback):
    widths = (32, 22, 20, 20, 22, 18, 6, 8, 10)
    titles = ("case", "msg/s", "MB/s", "cli CPU s/GB", "cli CPU s/1k msg", "srv CPU s/GB",
              "RSS MB", "x mbsync", "x loopback")

    def line(cells):
        first = f"{cells[0]:<{widths[0]}}"
        return first + "".join(f" {c:>{w}}" for c, w in zip(cells[1:], widths[1:]))

    head = line(titles)
    print(head)
    print("-" * len(head))
    group = None
    for row in rows:
        if row.group != group:
            group = row.group
            c = row.corp
            print(f"[{group}: {c['count']} messages, {c['bytes'] / MB:.1f} MB as stored]")
        ref = reference.get(group)
        lb = loopback.get(group)
        med = statistics.median(row.mbs)
        vs_ref = f"{med / statistics.median(ref.mbs):.2f}" if ref else "-"
        vs_lb = f"{med / statistics.median(lb.mbs):.3f}" if lb else "-"
        srv = fmt_range(row.srv_gb) if row.srv_gb else "-"
        mark = "" if row.complete else "  INCOMPLETE"
        print(line((row.label, fmt_range(row.msgs), fmt_range(row.mbs), fmt_range(row.cpu_gb),
                    fmt_range(row.cpu_k), srv, "-" if row.rss is None else f"{row.rss:.1f}", vs_ref,
                    vs_lb)) + mark)


def print_targets(rows, print_runs, nested_runs):
    """The goals side by side with what this run measured; a report, not a test."""
    def find(group, label):
        return next((r for r in rows if r.group == group and r.label == label), None)

    med = statistics.median
    lines = []
    for group in ("small", "large"):
        ours, ref = find(group, "tarmig message path -> Dovecot"), find(group, "mbsync PipelineDepth 1")
        if not ours or not ref:
            continue
        if group == "small":
            lines.append(("small: msg/s at least mbsync's synchronous rate",
                          f"{med(ours.msgs):.0f} vs {med(ref.msgs):.0f}", med(ours.msgs) >= med(ref.msgs)))
            ratio = med(ours.cpu_k) / med(ref.cpu_k)
            lines.append(("small: client CPU per 1,000 messages at most half of mbsync's",
                          f"{ratio:.2f} of mbsync's", ratio <= 0.5))
        else:
            ratio = med(ours.mbs) / med(ref.mbs)
            lines.append(("large: MB/s at least 2x mbsync's", f"{ratio:.2f}x", ratio >= 2))
            ratio = med(ours.cpu_gb) / med(ref.cpu_gb)
            lines.append(("large: client CPU per GB at most half of mbsync's",
                          f"{ratio:.2f} of mbsync's", ratio <= 0.5))
    ours = [r for r in rows if r.label.startswith("tarmig")]
    if ours:
        rss = max(r.rss for r in ours)
        lines.append(("peak RSS under 32 MB whatever the message size", f"{rss:.1f} MB", rss < 32))
    if nested_runs:
        count = max(nested_runs)
        ratio = med([r.wall for r in nested_runs[count]]) / med([r.wall for r in print_runs[count]])
        lines.append((f"print mode, {count} accounts in .sub directories, within 1.5x of flat",
                      f"{ratio:.2f}x", ratio <= 1.5))
    if print_runs:
        count = max(print_runs)
        wall = med([r.wall for r in print_runs[count]])
        lines.append((f"print mode over {count} accounts under 10 s", f"{wall:.2f} s", wall < 10))
        rss = [max(r.rss_mb for r in runs) for runs in print_runs.values()]
        lines.append(("print mode memory flat in the account count",
                      " / ".join(f"{x:.1f}" for x in rss) + " MB", max(rss) - min(rss) < 2))
    print()
    print("Against the targets")
    for text, value, met in lines:
        print(f"  {text:<64} {value:>22}  {'met' if met else 'MISSED'}")


# ---------------------------------------------------------------- main

def message_cases(args, reps, q, crlf):
    """Runs the message-transfer cases, prints their table and returns its rows and profiles."""
    small = corpus("small" + ("-quick" if q else ""), 2000 if q else 10000, 2048, 8192, 1, crlf)
    large = corpus("large" + ("-quick" if q else ""), 10 if q else 40, 1 << 20, 8 << 20, 2, crlf)
    huge_size = (256 if q else 1024) << 20
    huge = corpus("huge" + ("-quick" if q else ""), 1, huge_size, huge_size, 3, crlf)

    users = [f"u{i}" for i in range(200)]
    started = []
    rows, reference, loopback = [], {}, {}
    next_user = iter(users)
    try:
        dovecot = Dovecot(users)
        started.append(dovecot.server)
        vantrel = Vantrel()
        started.append(vantrel.server)
        sink = Server("sink", [BIN("bench_net"), "sink"])
        started.append(sink)
        sink_port = int(sink.first_line()[1])
        log(f"private Dovecot on port {dovecot.port} (pid {dovecot.pid}), Vantrel sink on port "
            f"{vantrel.port}, discarding sink on port {sink_port}")

        for corp in (small, large):
            cases = {
                "mbsync PipelineDepth 1": lambda c: mbsync_case(dovecot, c, next(next_user), 1),
                "mbsync default pipeline": lambda c: mbsync_case(dovecot, c, next(next_user), 0),
                "tarmig message path -> Dovecot": lambda c: append_case(dovecot, c, next(next_user)),
                "raw sync APPEND -> Dovecot": lambda c: sync_case(dovecot, c, next(next_user)),
                "tarmig -migrate -> Vantrel sink": lambda c: migrate_case(vantrel, c),
                "raw X-APPEND x32 -> Vantrel sink": lambda c: blast_case(vantrel, c),
                "loopback limit (1 TCP, discard)": lambda c: loopback_case(sink_port, c),
            }
            results = {label: [] for label in cases}
            # Repetitions go round the cases, so drift on a shared machine hits all alike.
            for rep in range(reps):
                for label, case in cases.items():
                    log(f"{corp['name']} rep {rep + 1}/{reps}: {label}")
                    results[label].append(case(corp))
            group = "small" if corp is small else "large"
            for label, runs in results.items():
                row = Row(group, label, corp, runs)
                rows.append(row)
                if label == "mbsync PipelineDepth 1":
                    reference[group] = row
                if label.startswith("loopback"):
                    loopback[group] = row

        log("huge: one message through both clients and the loopback")
        huge_rows = [Row("huge", "tarmig message path -> Dovecot", huge,
                         [append_case(dovecot, huge, next(next_user))]),
                     Row("huge", "mbsync default pipeline", huge,
                         [mbsync_case(dovecot, huge, next(next_user), 0)]),
                     Row("huge", "loopback limit (1 TCP, discard)", huge,
                         [loopback_case(sink_port, huge)])]
        rows.extend(huge_rows)
        reference["huge"], loopback["huge"] = huge_rows[1], huge_rows[2]
        profiles = []
        if args.profile:
            for corp in (corpus("small-quick", 2000, 2048, 8192, 1, crlf),
                         corpus("large-quick", 10, 1 << 20, 8 << 20, 2, crlf)):
                log(f"profiling the message path on {corp['name']}")
                profiles.append(profile(dovecot, corp, next(next_user)))
    finally:
        for server in reversed(started):
            server.stop()

    print()
    print(f"Message transfer, {reps} run(s) each: median (min-max); MB are 10^6 bytes as stored; "
          f"CPU is user+sys; RSS is the client's peak; ratios are of the median MB/s, "
          f"to mbsync with PipelineDepth 1 (huge: its default) and to the loopback limit.")
    print_table(rows, reference, loopback)
    return rows, profiles



def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--build", default=os.path.join(SOURCE, "build", "bench"))
    parser.add_argument("--work", default=None, help="corpora and scratch (default: BUILD/work)")
    parser.add_argument("--quick", action="store_true", help="smaller corpora, one repetition")
    parser.add_argument("--reps", type=int, default=None)
    parser.add_argument("--crlf", action="store_true", help="store messages with CR LF lines")
    parser.add_argument("--profile", action="store_true",
                        help="also profile the message path with callgrind (small corpora)")
    parser.add_argument("--print-only", action="store_true",
                        help="only the print-mode cases (no message corpora, no servers)")
    parser.add_argument("--distance-only", action="store_true",
                        help="only the message path through the delay proxy (small corpus, Dovecot)")
    args = parser.parse_args()

    global WORK, CORPORA, BIN, TARMIG
    build = os.path.abspath(args.build)
    base = os.path.abspath(args.work or os.path.join(build, "work"))
    WORK, CORPORA = os.path.join(base, "scratch"), os.path.join(base, "corpora")
    os.makedirs(WORK, exist_ok=True)
    os.makedirs(CORPORA, exist_ok=True)
    BIN = lambda name: os.path.join(build, "bench", name)  # noqa: E731
    TARMIG = os.path.join(build, "tarmig")
    reps = args.reps or (1 if args.quick else 3)
    q = args.quick
    crlf = args.crlf

    if args.distance_only:
        distance_cases(reps, q, crlf)
        return

    account_counts = [1000, 10000] if q else [10000, 100000]
    stores = {n: account_store(n) for n in account_counts}
    nested_stores = {n: account_store(n, nested=True) for n in account_counts}
    rows, profiles = [], []
    if not args.print_only:
        rows, profiles = message_cases(args, reps, q, crlf)
        distance_cases(reps, q, crlf)

    print()
    print(f"Print mode (tarmig -path STORE -quiet), {reps} run(s) each")
    print(f"{'accounts':>10} {'layout':>8} {'wall s':>22} {'CPU s':>10} {'peak RSS MB':>12} {'accounts/s':>12}"
          f" {'x flat':>7}")
    print_runs, nested_runs = {}, {}
    for count in account_counts:
        # Repetitions alternate the layouts, so drift on a shared machine hits both alike.
        flat = print_runs[count] = []
        nested = nested_runs[count] = []
        for _ in range(reps):
            flat.append(print_case(stores[count]))
            nested.append(print_case(nested_stores[count]))
        flat_wall = statistics.median([r.wall for r in flat])
        for layout, runs in (("flat", flat), (".sub", nested)):
            mark = "" if all(r.listed == count for r in runs) else "  INCOMPLETE"
            wall = statistics.median([r.wall for r in runs])
            print(f"{count:>10} {layout:>8} {fmt_range([r.wall for r in runs], 2):>22} "
                  f"{statistics.median([r.cpu for r in runs]):>10.2f} {max(r.rss_mb for r in runs):>12.1f} "
                  f"{count / wall:>12.0f} {wall / flat_wall:>6.2f}x{mark}")

    print_targets(rows, print_runs, nested_runs)

    for text in profiles:
        print()
        print("\n".join(text))


if __name__ == "__main__":
    main()
