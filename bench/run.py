#!/usr/bin/env python3
"""Benchmark driver: generates the corpora, runs every case side by side on
loopback and prints one table. Figures are printed, never asserted."""

import argparse
import base64
import collections
import hashlib
import json
import os
import random
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

def corpus(name, count, low, high, seed, crlf, accounts=1):
    """The corpus's messages as a store of `accounts` accounts (their INBOXes
    share the messages out) and as one Maildir folder."""
    if accounts > 1:
        name += f"-{accounts}acc"
    path = os.path.join(CORPORA, name)
    stamp = f"{count} {low} {high} {seed} {crlf} {accounts}"
    marker = os.path.join(path, "stamp")
    if os.path.exists(marker) and open(marker).read() == stamp:
        log(f"corpus {name}: reused")
    else:
        shutil.rmtree(path, ignore_errors=True)
        log(f"corpus {name}: writing {count} messages of {low}-{high} bytes in {accounts} account(s)")
        subprocess.run([BIN("bench_corpus"), "messages", path, str(count), str(low), str(high),
                        str(seed), "crlf" if crlf else "lf", str(accounts)], check=True, stdout=subprocess.DEVNULL)
        with open(marker, "w") as f:
            f.write(stamp)
    store = os.path.join(path, "store")
    size = 0
    for root, _, files in os.walk(store):
        if "account.info" in files:
            info = open(os.path.join(root, "account.info")).read()
            size += int(info.split("#StorageUsed = #")[1].split(";")[0])
    account = os.path.join(store, "Accounts", "bench.macnt")
    return {"name": name, "path": path, "count": count, "bytes": size, "account": account,
            "accounts": accounts, "store": store, "mbox": os.path.join(account, "INBOX.mbox"),
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
    """The Vantrel test server in sink mode: counts appended messages, keeps none.
    With `keep`, it keeps every message as a real server does (and has no
    account for the raw clients)."""

    def __init__(self, keep=False):
        script = os.path.join(SOURCE, "tests", "peers", "vantrel_server.py")
        mode = [] if keep else ["--sink", "--account", "blast@bench.example.com:bench"]
        self.server = Server("vantrel", [sys.executable, script, "--master-password", "master"] + mode)
        self.port = int(self.server.first_line()[0])
        self.pid = self.server.proc.pid

    def dump(self):
        """The server's state (X-DUMP): accounts, folders, messages, statistics."""
        with socket.create_connection(("127.0.0.1", self.port)) as conn:
            answers = conn.makefile("rb")
            answers.readline()  # greeting
            conn.sendall(b"D X-DUMP\r\nZ LOGOUT\r\n")
            size = int(re.search(rb"\{(\d+)\}", answers.readline()).group(1))
            return json.loads(answers.read(size))

    def appended(self):
        """Messages the server has accepted so far, from its X-DUMP statistics."""
        return self.dump()["stats"]["appends"]


def migrate_case(vantrel, corp, port=None, extra=()):
    cwd = os.path.join(WORK, "migrate")
    shutil.rmtree(cwd, ignore_errors=True)
    os.makedirs(cwd)
    before = vantrel.appended()
    # -force: later runs migrate into the accounts the first run created.
    run = measure([TARMIG, "-path", corp["store"], "-migrate", "-server", "127.0.0.1",
                   "-port", str(port or vantrel.port), "-password", "master",
                   "-primaryDomain", "bench.example.com", "-quiet", "-force", *extra], vantrel.pid, cwd=cwd)
    logs = [f for f in os.listdir(cwd) if f.endswith(".log")]
    text = open(os.path.join(cwd, logs[0]), errors="replace").read() if logs else ""
    run.complete = ("Result: migration successful" in text and "Error" not in text
                    and vantrel.appended() - before == corp["count"])
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

    def __init__(self, port, rtt_ms, name):
        one_way = str(int(rtt_ms * 1000 / 2))
        self.server = Server(f"delay-{name}-{rtt_ms:g}", [BIN("bench_delay"), "relay", str(port), one_way])
        self.port = int(self.server.first_line()[1])


def proxy_check(rtt_ms):
    """(round trip ms, bulk MB/s) measured through a fresh relay of this round trip."""
    out = subprocess.run([BIN("bench_delay"), "check", str(int(rtt_ms * 1000 / 2))], check=True,
                         capture_output=True, text=True).stdout.split()
    return float(out[1]), float(out[3])


# tarmig's default -window (migrator/RunOptions.h).
DEFAULT_WINDOW = 32
# The bare pipelined client's window: wide enough that the server, not the
# window, limits it at every round trip measured here.
CEILING_WINDOW = 128
ROUND_TRIPS_MS = (0, 0.2, 1, 5)
LARGE_ROUND_TRIPS_MS = (0, 1)
MIGRATE_ROUND_TRIPS_MS = (0, 1)
JOBS = (1, 2, 4, 8)
# The test server is one Python process: above this share of one core over a
# run's wall time, the server is what limits that run.
SERVER_BOUND = 0.85


def rtt_text(rtt):
    return f"{rtt:g} ms"


def ceiling_case(dovecot, corp, user, port):
    """A bare client appending from memory, CEILING_WINDOW in flight: the server's own rate."""
    run = measure([BIN("bench_net"), "pipe", str(port), user, "bench",
                   os.path.join(corp["maildir"], "INBOX", "cur"), str(CEILING_WINDOW)], dovecot.pid)
    # The whole session, as the other rows of the table time their whole run.
    loop = re.search(r"^session (\S+) (\S+)$", run.output, re.M)
    if loop:
        run.wall, run.cpu = float(loop.group(1)), float(loop.group(2))
    run.rss_mb = None  # it holds every message in memory
    run.complete = bool(loop) and dovecot.stored(user) == corp["count"]
    dovecot.drop(user)
    return run


def jobs_migrate_case(vantrel, corp, port, jobs, window=None):
    """tarmig -migrate of a many-account store; -jobs 1 is left to the default."""
    extra = (["-jobs", str(jobs)] if jobs != 1 else []) + (["-window", str(window)] if window else [])
    return migrate_case(vantrel, corp, port, extra)


def jobs_blast_case(vantrel, corp, port, connections):
    before = vantrel.appended()
    run = measure([BIN("bench_net"), "blast", str(port), "blast@bench.example.com", "bench",
                   os.path.join(corp["maildir"], "INBOX", "cur"), str(connections)], vantrel.pid)
    run.complete = (f"appended {corp['count']} " in run.output
                    and vantrel.appended() - before == corp["count"])
    return run


class Measured:
    """The runs of one case at one round trip, summarised."""

    def __init__(self, corp, runs):
        self.runs = runs
        self.complete = all(getattr(r, "complete", True) and r.code == 0 for r in runs)
        self.codes = sorted({r.code for r in runs if r.code != 0})
        self.msgs = [corp["count"] / r.wall for r in runs]
        self.mbs = [corp["bytes"] / MB / r.wall for r in runs]
        self.cpu_k = [r.cpu / (corp["count"] / 1000) for r in runs]
        self.srv_busy = [r.server_cpu / r.wall for r in runs if r.server_cpu is not None]
        rss = [r.rss_mb for r in runs]
        self.rss = None if None in rss else max(rss)

    def mark(self):
        if self.complete:
            return ""
        return "  INCOMPLETE" + (f" (exit {', '.join(map(str, self.codes))})" if self.codes else "")

    def median(self, field):
        """The median of a figure, or None where the row does not count."""
        return statistics.median(getattr(self, field)) if self.complete else None


def over_round_trips(title, target, rtts, cases, reps, checks, only=None):
    """Runs every case at every round trip through a fresh relay to `target`
    (a Server with .port); the repetitions go round the cases. `only` maps a
    case's label to the round trips it runs at, if not all."""
    results = {}
    for rtt in rtts:
        proxy = None
        if rtt:
            if rtt not in checks:
                checks[rtt] = proxy_check(rtt)
            proxy = DelayProxy(target.port, rtt, title)
        try:
            port = proxy.port if proxy else target.port
            for rep in range(reps):
                for label, case in cases.items():
                    if only and rtt not in only.get(label, rtts):
                        continue
                    log(f"{title} {rtt_text(rtt)} rep {rep + 1}/{reps}: {label}")
                    results.setdefault((rtt, label), []).append(case(port))
        finally:
            if proxy:
                proxy.server.stop()
    return results


def cell(measured, field, digits=None):
    values = getattr(measured, field)
    return fmt_range(values, digits) if measured.complete and values else "-"


def ratio(value, base, form="{:.2f}x"):
    return form.format(value / base) if value is not None and base else "-"


def print_distance(title, corp, results, rtts, labels, ceiling_label):
    print()
    runs = len(results[(rtts[0], labels[0])])
    print(f"{title}: {corp['name']} corpus ({corp['count']} messages, {corp['bytes'] / MB:.1f} MB) "
          f"into Dovecot, {runs} run(s) each, median (min-max)")
    print(f"{'round trip':>10}  {'case':<40} {'msg/s':>20} {'MB/s':>18} {'cli CPU s/1k':>13} "
          f"{'srv busy':>9} {'x mbsync default':>17} {'of ceiling':>11}")
    table = {}
    for rtt in rtts:
        rows = {label: Measured(corp, results[(rtt, label)]) for label in labels}
        table[rtt] = rows
        ref = rows["mbsync default pipeline"].median("mbs")
        ceiling = rows[ceiling_label].median("mbs") if ceiling_label else None
        for label, m in rows.items():
            busy = f"{statistics.median(m.srv_busy):.0%}" if m.complete and m.srv_busy else "-"
            print(f"{rtt_text(rtt):>10}  {label:<40} {cell(m, 'msgs'):>20} {cell(m, 'mbs'):>18} "
                  f"{cell(m, 'cpu_k'):>13} {busy:>9} "
                  f"{ratio(m.median('mbs'), ref):>17} {ratio(m.median('mbs'), ceiling, '{:.0%}'):>11}"
                  f"{m.mark()}")
    return table


def print_jobs(corp, results, base_key, ceilings):
    print()
    print(f"tarmig -migrate into the Vantrel test server (--sink): {corp['name']} corpus, "
          f"{corp['count']} messages ({corp['bytes'] / MB:.1f} MB) in {corp['accounts']} accounts, "
          f"default -window {DEFAULT_WINDOW} unless shown; {len(next(iter(results.values())))} run(s) each, "
          f"median (min-max)")
    print(f"{'round trip':>10}  {'case':<40} {'msg/s':>20} {'MB/s':>18} {'cli CPU s/1k':>13} "
          f"{'srv busy':>9} {'RSS MB':>7} {'x base':>8} {'of ceiling':>11}")
    base = Measured(corp, results[base_key]).median("msgs") if base_key in results else None
    table = {}
    for (rtt, label), runs in results.items():
        m = table[(rtt, label)] = Measured(corp, runs)
        busy = f"{statistics.median(m.srv_busy):.0%}" if m.complete and m.srv_busy else "-"
        if m.complete and m.srv_busy and statistics.median(m.srv_busy) >= SERVER_BOUND:
            busy += "*"
        ceiling_key = ceilings.get((rtt, label))
        ceiling = Measured(corp, results[ceiling_key]).median("msgs") if ceiling_key else None
        rss = f"{m.rss:.1f}" if m.complete and m.rss is not None else "-"
        versus = ratio(m.median("msgs"), base) if label.startswith("tarmig") else "-"
        print(f"{rtt_text(rtt):>10}  {label:<40} {cell(m, 'msgs'):>20} {cell(m, 'mbs'):>18} "
              f"{cell(m, 'cpu_k'):>13} {busy:>9} {rss:>7} {versus:>8} "
              f"{ratio(m.median('msgs'), ceiling, '{:.0%}'):>11}{m.mark()}")
    busiest = max((statistics.median(m.srv_busy) for m in table.values() if m.complete and m.srv_busy), default=None)
    if busiest is not None:
        verdict = "it limits the rows marked *" if busiest >= SERVER_BOUND else "it is not the limit of these rows"
        print(f"  The test server (one Python process) was busy at most {busiest:.0%} of one core: {verdict}.")
    print(f"  x base: msg/s relative to '{base_key[1]}' at {rtt_text(base_key[0])}; of ceiling: to the raw "
          f"client with as many connections at the same round trip. srv busy: the server's CPU over the wall "
          f"time; * = at least {SERVER_BOUND:.0%} of its one core, the server limits the row.")
    return table


def throughput_cases(reps, q, crlf, with_migrate=True):
    """The throughput rows: the message path into Dovecot at a distance (small
    and large corpora), -migrate with -jobs into the Vantrel sink, and the
    peak memory of -jobs 8 over large messages. Prints their tables and
    returns the figures the targets need."""
    suffix = "-quick" if q else ""
    small = corpus("small" + suffix, 2000 if q else 10000, 2048, 8192, 1, crlf)
    large = corpus("large" + suffix, 10 if q else 40, 1 << 20, 8 << 20, 2, crlf)
    users = [f"d{i}" for i in range(400)]
    next_user = iter(users)
    checks, figures = {}, {}
    started = []

    def path_cases(corp, windows, ceiling):
        cases = {"mbsync default pipeline": lambda port: mbsync_case(dovecot, corp, next(next_user), 0, port),
                 "mbsync PipelineDepth 1": lambda port: mbsync_case(dovecot, corp, next(next_user), 1, port)}
        for window in windows:
            label = f"tarmig message path -window {window}" + (" (default)" if window == DEFAULT_WINDOW else "")
            cases[label] = lambda port, w=window: append_case(dovecot, corp, next(next_user), w, port)
        if ceiling:
            cases[ceiling] = lambda port: ceiling_case(dovecot, corp, next(next_user), port)
        return cases

    try:
        dovecot = Dovecot(users)
        started.append(dovecot.server)
        ceiling = f"raw pipelined APPEND x{CEILING_WINDOW} (ceiling)"
        small_cases = path_cases(small, (1, DEFAULT_WINDOW), ceiling)
        small_results = over_round_trips("small", dovecot, ROUND_TRIPS_MS, small_cases, reps, checks)
        large_cases = path_cases(large, (1, DEFAULT_WINDOW), None)
        # A large run takes well under a second and one run alone swings widely: three at least.
        large_results = over_round_trips("large", dovecot, LARGE_ROUND_TRIPS_MS, large_cases,
                                         max(reps, 3), checks)
        dovecot.server.stop()
        started.remove(dovecot.server)
        if with_migrate:
            spread = corpus("small" + suffix, small["count"], 2048, 8192, 1, crlf, accounts=16)
            large_spread = corpus("large" + suffix, large["count"], 1 << 20, 8 << 20, 2, crlf, accounts=8)
            vantrel = Vantrel()
            started.append(vantrel.server)
            cases = {}
            for jobs in JOBS:
                cases[f"tarmig -migrate -jobs {jobs}"] = lambda port, j=jobs: jobs_migrate_case(vantrel, spread, port, j)
            cases["tarmig -migrate -jobs 1 -window 1"] = lambda port: jobs_migrate_case(vantrel, spread, port, 1, 1)
            for jobs in JOBS:
                label = f"raw X-APPEND x32, {jobs} connection" + ("s" if jobs > 1 else "")
                cases[label] = lambda port, j=jobs: jobs_blast_case(vantrel, spread, port, j)
            # The -window 1 base matters at a distance only.
            jobs_results = over_round_trips("jobs", vantrel, MIGRATE_ROUND_TRIPS_MS, cases, reps, checks,
                                            only={"tarmig -migrate -jobs 1 -window 1": (1,)})
            log("memory: -jobs 8 over the large corpus in 8 accounts")
            memory_results = {(0, f"tarmig -migrate -jobs {jobs}"): [jobs_migrate_case(vantrel, large_spread,
                                                                                       vantrel.port, jobs)
                                                                    for _ in range(reps)] for jobs in (1, 8)}
    finally:
        for server in reversed(started):
            server.stop()

    print()
    print("Delay proxy (bench_delay), measured through a fresh relay before its rows:")
    for rtt, (measured, bulk) in sorted(checks.items()):
        print(f"  {rtt_text(rtt)}: round trip {measured:.3f} ms, bulk {bulk:.0f} MB/s")
    figures["small"] = print_distance("Message path at a distance", small, small_results, ROUND_TRIPS_MS,
                                      list(small_cases), ceiling)
    figures["large"] = print_distance("Large messages at a distance", large, large_results, LARGE_ROUND_TRIPS_MS,
                                      list(large_cases), None)
    if with_migrate:
        ceilings = {}
        for rtt in MIGRATE_ROUND_TRIPS_MS:
            for jobs in JOBS:
                blast = f"raw X-APPEND x32, {jobs} connection" + ("s" if jobs > 1 else "")
                ceilings[(rtt, f"tarmig -migrate -jobs {jobs}")] = (rtt, blast)
        figures["jobs"] = print_jobs(spread, jobs_results, (1, "tarmig -migrate -jobs 1 -window 1"), ceilings)
        figures["memory"] = print_jobs(large_spread, memory_results, (0, "tarmig -migrate -jobs 1"), {})
    return figures


def throughput_targets(figures):
    """(goal, value, state) lines for the throughput targets, each against its peer in this run."""
    lines = []

    def add(text, value, base, goal, form="{:.2f}x"):
        if value is None or not base:
            lines.append((text, "not measured", "UNMEASURED"))
        else:
            lines.append((text, form.format(value / base), "met" if value / base >= goal else "MISSED"))

    small = figures.get("small", {})
    for rtt, rows in small.items():
        ours = rows[f"tarmig message path -window {DEFAULT_WINDOW} (default)"].median("msgs")
        add(f"message path at {rtt_text(rtt)}: default window >= 1.0x mbsync default", ours,
            rows["mbsync default pipeline"].median("msgs"), 1.0)
        ceiling = next(m for label, m in rows.items() if label.startswith("raw pipelined"))
        add(f"message path at {rtt_text(rtt)}: default window within 10% of the ceiling", ours,
            ceiling.median("msgs"), 0.9, "{:.0%}")
    for rtt, rows in figures.get("large", {}).items():
        add(f"large at {rtt_text(rtt)}: MB/s >= 2x mbsync default",
            rows[f"tarmig message path -window {DEFAULT_WINDOW} (default)"].median("mbs"),
            rows["mbsync default pipeline"].median("mbs"), 2.0)
    jobs = figures.get("jobs")
    if jobs:
        four, base = jobs.get((1, "tarmig -migrate -jobs 4")), jobs.get((1, "tarmig -migrate -jobs 1 -window 1"))
        add("-migrate -jobs 4 at 1 ms >= 8x -jobs 1 -window 1 at 1 ms", four and four.median("msgs"),
            base and base.median("msgs"), 8.0)
    memory = figures.get("memory")
    if memory:
        eight = memory.get((0, "tarmig -migrate -jobs 8"))
        if eight and eight.complete and eight.rss is not None:
            lines.append(("peak RSS of -migrate -jobs 8 over large messages < 64 MB", f"{eight.rss:.1f} MB",
                          "met" if eight.rss < 64 else "MISSED"))
        else:
            lines.append(("peak RSS of -migrate -jobs 8 over large messages < 64 MB", "not measured",
                          "UNMEASURED"))
    return lines


# ---------------------------------------------------------------- incremental runs

INCREMENTAL_ROUND_TRIPS_MS = (0, 1)
# A second -incremental run over a target that holds everything takes at
# most this share of the first run's wall time.
SECOND_RUN_SHARE = 0.10


def incremental_run(vantrel, corp, port, before):
    """One `tarmig -migrate -incremental` of the corpus's store and what the
    server counted meanwhile (`before`: its statistics at the start). Returns
    the run and the server's dump after it."""
    cwd = os.path.join(WORK, "incremental")
    shutil.rmtree(cwd, ignore_errors=True)
    os.makedirs(cwd)
    run = measure(incremental_argv(corp, port), vantrel.pid, cwd=cwd)
    logs = [f for f in os.listdir(cwd) if f.endswith(".log")]
    run.log = open(os.path.join(cwd, logs[0]), errors="replace").read() if logs else ""
    dump = vantrel.dump()
    run.commands = dump["stats"]["commands"] - before["commands"]
    run.appends = dump["stats"]["appends"] - before["appends"]
    run.folders = sum(len(account["folders"]) for account in dump["accounts"])
    run.present = re.search(r"^Info: messages already present: (\d+)$", run.log, re.M)
    run.present = int(run.present.group(1)) if run.present else None
    run.successful = run.code == 0 and "Result: migration successful" in run.log and "Error" not in run.log
    return run, dump


def incremental_argv(corp, port):
    return [TARMIG, "-path", corp["store"], "-migrate", "-incremental", "-server", "127.0.0.1", "-port", str(port),
            "-password", "master", "-primaryDomain", "bench.example.com", "-quiet"]


def incremental_pair(corp, rtt, checks):
    """A first and a second -incremental run into a fresh server that keeps
    the messages, at round trip `rtt` through a fresh relay."""
    vantrel = Vantrel(keep=True)
    proxy = None
    try:
        if rtt:
            if rtt not in checks:
                checks[rtt] = proxy_check(rtt)
            proxy = DelayProxy(vantrel.port, rtt, "incremental")
        port = proxy.port if proxy else vantrel.port
        first, dump = incremental_run(vantrel, corp, port, {"commands": 0, "appends": 0})
        second, _ = incremental_run(vantrel, corp, port, dump["stats"])
    finally:
        if proxy:
            proxy.server.stop()
        vantrel.server.stop()
    first.complete = first.successful and first.appends == corp["count"]
    second.complete = second.successful and second.appends == 0 and second.present == corp["count"]
    return first, second


def normalised_digest(data):
    """Digest of a message's bytes with CR LF line ends, as the target holds it."""
    return hashlib.sha256(data.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")).hexdigest()


def killed_and_resumed(corp, seed, moment_limit):
    """Runs -incremental into a fresh keeping server, SIGKILLs it at a random
    moment below `moment_limit` seconds, kills the resumed run the same way,
    then lets a last run finish; counts the server's messages by content
    against the corpus's. Returns the lines of the block."""
    chance = random.Random(seed)
    vantrel = Vantrel(keep=True)
    events = []
    try:
        cwd = os.path.join(WORK, "killed")
        for attempt in (1, 2):
            shutil.rmtree(cwd, ignore_errors=True)
            os.makedirs(cwd)
            delay = chance.uniform(0, moment_limit)
            log(f"killed and resumed: run {attempt}, SIGKILL after {delay:.2f} s")
            tool = subprocess.Popen(incremental_argv(corp, vantrel.port), cwd=cwd, stdin=subprocess.DEVNULL,
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            try:
                code = tool.wait(timeout=delay)
                events.append(f"run {attempt} ended by itself before its kill at {delay:.2f} s (exit {code})")
            except subprocess.TimeoutExpired:
                tool.kill()
                tool.wait()
                events.append(f"run {attempt} SIGKILLed after {delay:.2f} s")
        appended = vantrel.appended()
        final, dump = incremental_run(vantrel, corp, vantrel.port, {"commands": 0, "appends": appended})
    finally:
        vantrel.server.stop()

    store = collections.Counter()
    cur = os.path.join(corp["maildir"], "INBOX", "cur")
    for name in os.listdir(cur):
        with open(os.path.join(cur, name), "rb") as f:
            store[normalised_digest(f.read())] += 1
    target = collections.Counter(normalised_digest(base64.b64decode(message["data"]))
                                 for account in dump["accounts"] for folder in account["folders"]
                                 for message in folder["messages"])
    duplicates = sum(max(0, n - store[d]) for d, n in target.items())
    missing = sum(max(0, n - target[d]) for d, n in store.items())
    verdict = "each message once" if not duplicates and not missing and final.code == 0 else "NOT each message once"
    return [f"Killed and resumed: {corp['name']} corpus, {corp['count']} messages in {corp['accounts']} accounts, "
            f"tarmig -migrate -incremental, seed {seed}",
            "  " + "; ".join(events) + f"; {appended} messages appended before the last run",
            f"  last run: exit {final.code}, {final.wall:.2f} s, {final.present if final.present is not None else '?'} "
            f"already present, {final.appends} appended",
            f"  messages in the store: {sum(store.values())}, on the target: {sum(target.values())}, "
            f"distinct: {len(target)}, duplicates: {duplicates}, missing: {missing} ({verdict})"]


def dovecot_reconcile_pairs(corp, reps):
    """The same pair against Dovecot, which writes every message it takes as
    a real server does: the corpus through the message path with the
    default window into an empty mailbox, then the reconciliation of the
    store folder with that mailbox (bench_reconcile), everything present.
    Dovecot has no account creation, so both log in with LOGIN."""
    users = [f"r{rep}" for rep in range(reps)]
    dovecot = Dovecot(users)
    firsts, seconds = [], []
    try:
        for user in users:
            log(f"incremental into Dovecot, {user}: message path, then reconciliation")
            first = measure([BIN("bench_append"), "127.0.0.1", str(dovecot.port), user, "bench", corp["account"],
                             "bench", "INBOX", "INBOX", os.path.join(WORK, "append.log"),
                             f"window={DEFAULT_WINDOW}"], dovecot.pid)
            first.complete = dovecot.stored(user) == corp["count"]
            second = measure([BIN("bench_reconcile"), "127.0.0.1", str(dovecot.port), user, "bench",
                              corp["account"], "bench", "INBOX", "INBOX", os.path.join(WORK, "reconcile.log")],
                             dovecot.pid)
            second.complete = f"present {corp['count']} send 0 flags 0" in second.output
            dovecot.drop(user)
            firsts.append(first)
            seconds.append(second)
    finally:
        dovecot.server.stop()
    return firsts, seconds


def incremental_cases(reps, q, crlf, seed):
    """The incremental rows: a first and a second -incremental run of the
    small corpus at each round trip, then a run killed and resumed. Prints
    them and returns the figures their target needs."""
    suffix = "-quick" if q else ""
    small = corpus("small" + suffix, 2000 if q else 10000, 2048, 8192, 1, crlf)
    spread = corpus("small" + suffix, small["count"], 2048, 8192, 1, crlf, accounts=16)
    checks, results = {}, {}
    # Repetitions go round the round trips, so drift on a shared machine hits all alike.
    for rep in range(reps):
        for rtt in INCREMENTAL_ROUND_TRIPS_MS:
            log(f"incremental {rtt_text(rtt)} rep {rep + 1}/{reps}: first and second run")
            first, second = incremental_pair(small, rtt, checks)
            results.setdefault(rtt, ([], []))
            results[rtt][0].append(first)
            results[rtt][1].append(second)
    first_wall = [r.wall for r in results[0][0]]
    killed = killed_and_resumed(spread, seed, statistics.median(first_wall))
    dovecot_firsts, dovecot_seconds = dovecot_reconcile_pairs(small, reps)

    print()
    print(f"Incremental runs: tarmig -migrate -incremental of the {small['name']} corpus ({small['count']} messages, "
          f"{small['bytes'] / MB:.1f} MB, one account) into the Vantrel test server keeping the messages, a fresh "
          f"server each repetition, the same run twice; {reps} run(s) each, median (min-max)")
    for rtt, (measured, bulk) in sorted(checks.items()):
        print(f"  delay proxy at {rtt_text(rtt)}: round trip {measured:.3f} ms, bulk {bulk:.0f} MB/s")
    print(f"{'round trip':>10}  {'run':<32} {'wall s':>18} {'tarmig CPU s':>18} {'srv CPU s':>18} "
          f"{'msg/s':>16} {'appends':>8} {'commands':>9} {'cmds/folder':>12}")
    figures = {}
    for rtt in INCREMENTAL_ROUND_TRIPS_MS:
        firsts, seconds = results[rtt]
        for label, runs in (("first: every message sent", firsts), ("second: every message present", seconds)):
            mark = "" if all(r.complete for r in runs) else "  INCOMPLETE"
            folders = statistics.median([r.folders for r in runs]) or 1
            commands = statistics.median([r.commands for r in runs])
            print(f"{rtt_text(rtt):>10}  {label:<32} {fmt_range([r.wall for r in runs]):>18} "
                  f"{fmt_range([r.cpu for r in runs]):>18} {fmt_range([r.server_cpu for r in runs]):>18} "
                  f"{fmt_range([small['count'] / r.wall for r in runs]):>16} "
                  f"{'/'.join(sorted({str(r.appends) for r in runs})):>8} {commands:>9.0f} "
                  f"{commands / folders:>12.1f}{mark}")
        complete = all(r.complete for r in firsts + seconds)
        share = statistics.median([s.wall / f.wall for f, s in zip(firsts, seconds)]) if complete else None
        figures[rtt] = share
        per = small["count"] / 1e6
        cost = (f"wall {statistics.median([r.wall for r in seconds]) / per:.1f} µs, tarmig CPU "
                f"{statistics.median([r.cpu for r in seconds]) / per:.1f} µs, server CPU "
                f"{statistics.median([r.server_cpu for r in seconds]) / per:.1f} µs")
        print(f"{'':>10}  second/first wall: {'-' if share is None else f'{share:.1%}'}; reconciliation per message "
              f"(second run): {cost}")
    print(f"{'0 ms':>10}  {'Dovecot, first: message path':<32} {fmt_range([r.wall for r in dovecot_firsts]):>18} "
          f"{fmt_range([r.cpu for r in dovecot_firsts]):>18} {fmt_range([r.server_cpu for r in dovecot_firsts]):>18} "
          f"{fmt_range([small['count'] / r.wall for r in dovecot_firsts]):>16}"
          f"{'' if all(r.complete for r in dovecot_firsts) else '  INCOMPLETE'}")
    print(f"{'0 ms':>10}  {'Dovecot, second: reconciliation':<32} {fmt_range([r.wall for r in dovecot_seconds]):>18} "
          f"{fmt_range([r.cpu for r in dovecot_seconds]):>18} {fmt_range([r.server_cpu for r in dovecot_seconds]):>18} "
          f"{fmt_range([small['count'] / r.wall for r in dovecot_seconds]):>16}"
          f"{'' if all(r.complete for r in dovecot_seconds) else '  INCOMPLETE'}")
    complete = all(r.complete for r in dovecot_firsts + dovecot_seconds)
    share = statistics.median([s.wall / f.wall for f, s in zip(dovecot_firsts, dovecot_seconds)]) if complete else None
    figures["Dovecot"] = share
    per = small["count"] / 1e6
    print(f"{'':>10}  second/first wall: {'-' if share is None else f'{share:.1%}'}; reconciliation per message: wall "
          f"{statistics.median([r.wall for r in dovecot_seconds]) / per:.1f} µs, tarmig CPU "
          f"{statistics.median([r.cpu for r in dovecot_seconds]) / per:.1f} µs, server CPU "
          f"{statistics.median([r.server_cpu for r in dovecot_seconds]) / per:.1f} µs")
    print("  Dovecot rows: bench_append (the message path, default window) into an empty mailbox, then "
          "bench_reconcile (SELECT and UID FETCH of the keys sent, the store's keys read meanwhile, the answers "
          "matched) over the same mailbox, which must find every message present; both log in with LOGIN.")
    print("  appends and commands: the server's own counts (X-DUMP statistics before and after each run); the second "
          "run must leave appends unchanged (0) and log \"Info: messages already present: N\" for every message, "
          "or its row is INCOMPLETE. cmds/folder: commands over the folders on the target.")
    print()
    print("\n".join(killed))
    return figures


def incremental_targets(figures):
    """(goal, value, state) lines for the second-run target at each round trip measured."""
    lines = []
    for rtt, share in (figures or {}).items():
        where = "into Dovecot, message path and reconciliation" if rtt == "Dovecot" else f"at {rtt_text(rtt)}"
        text = f"second -incremental run {where} <= {SECOND_RUN_SHARE:.0%} of the first's wall time"
        if share is None:
            lines.append((text, "not measured", "UNMEASURED"))
        else:
            lines.append((text, f"{share:.1%}", "met" if share <= SECOND_RUN_SHARE else "MISSED"))
    return lines


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


def print_targets(rows, print_runs, nested_runs, throughput):
    """The goals side by side with what this run measured; a report, not a test.
    `throughput`: (goal, value, state) lines from throughput_targets."""
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
    lines = [(text, value, "met" if met else "MISSED") for text, value, met in lines] + throughput
    print()
    print("Against the targets, each with its peer from this run")
    for text, value, state in lines:
        print(f"  {text:<68} {value:>22}  {state}")


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
                        help="only the message path into Dovecot through the delay proxy (small and large corpora)")
    parser.add_argument("--throughput-only", action="store_true",
                        help="only the throughput rows: the message path at a distance, -migrate -jobs into the "
                             "Vantrel sink, peak memory of -jobs 8, and their targets")
    parser.add_argument("--incremental-only", action="store_true",
                        help="only the incremental rows: a first and a second tarmig -migrate -incremental into "
                             "the Vantrel test server keeping the messages, and a run killed and resumed, with "
                             "their target")
    parser.add_argument("--seed", type=int, default=None,
                        help="seed of the kill moments of the killed-and-resumed run (default: a random one)")
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
    seed = args.seed if args.seed is not None else random.SystemRandom().randrange(1 << 31)

    if args.incremental_only:
        print_targets([], {}, {}, incremental_targets(incremental_cases(reps, q, crlf, seed)))
        return

    if args.distance_only or args.throughput_only:
        figures = throughput_cases(reps, q, crlf, with_migrate=args.throughput_only)
        print_targets([], {}, {}, throughput_targets(figures))
        return

    account_counts = [1000, 10000] if q else [10000, 100000]
    stores = {n: account_store(n) for n in account_counts}
    nested_stores = {n: account_store(n, nested=True) for n in account_counts}
    rows, profiles, figures, incremental = [], [], {}, {}
    if not args.print_only:
        rows, profiles = message_cases(args, reps, q, crlf)
        figures = throughput_cases(reps, q, crlf)
        incremental = incremental_cases(reps, q, crlf, seed)

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

    print_targets(rows, print_runs, nested_runs, throughput_targets(figures) + incremental_targets(incremental))

    for text in profiles:
        print()
        print("\n".join(text))


if __name__ == "__main__":
    main()
