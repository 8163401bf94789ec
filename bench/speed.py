#!/usr/bin/env python3
"""Speed and memory of a whole run: generates a few SVF and XSVF files, plays
each through orbeskcon on every emulated cable kind in fast mode (no chain
simulated, every captured bit 1, so the CPU time is the player's), and prints
per file and cable the CPU time (the minimum and the median of --runs runs),
scan bits per CPU second, peak memory, bytes written to the cable and driver
calls. With --openocd (installed from Debian when missing) the SVF files are
also played by openocd's "svf" command on its dummy adapter as often, and
the ratio of the minimum CPU times is printed. A "check" line per file gives
the CPU time of the check that reads the whole file before any cable is
looked for (a run with no cable attached) and its share of the fastest run's
CPU. A measurement, not a test.

With --paced it plays other, smaller files instead, on a paced emulated
device with a simulated chain (the device runs the bytes at its own speed,
taking a write once it fits into the chip's buffer), and prints per file and
cable the wall time, the device's busy time, the time it had run everything
written and waited for the host (idle), the idle share of the two and the
bytes written; --before names an older orbeskcon that plays each file on the
same emulator too, a row of its own, with a mark where its bytes differ.

    bench/speed.py [--build build] [--program orbeskcon] [--openocd] [--runs N] [--only NAME ...]
                   [--cables KIND ...] [--keep DIR]
    bench/speed.py --paced [--before OLD_ORBESKCON] [--runs N] [--only NAME ...] [--cables KIND ...]
"""
import argparse
import json
import statistics
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# The cable kinds orbeskcon can be told to use, with a fast emulated device
# of that kind. A kind that the build does not know yet is reported as such.
CABLES = {
    "varnel": ([], {"vid": "0x0403", "pid": "0xF1A0", "serial": "A6010001", "description": "VARNEL"}),
    "mirrow": (["-mirrow"], {"vid": "0xA600", "pid": "0xA003", "serial": "A6040001", "description": "MIRROW"}),
    "druvel": (["-druvel"], {"vid": "0xA600", "pid": "0xDBCA", "serial": "A6020001", "description": "DRUVEL"}),
}

BIG_BITS = 32 * 1024 * 1024
SHORT_REPEATS = 20000
LOOP_PASSES = 2000
LOOP_COUNT = 10


class Case:
    def __init__(self, name, path, scan_bits, largest, statements, reference):
        self.name = name
        self.path = path
        self.scan_bits = scan_bits  # bits shifted in the whole run
        self.largest = largest  # bits of the longest scan
        self.statements = statements  # statements played, loop passes included
        self.reference = reference  # openocd can play it


def hex_run(digit, bits):
    return digit * ((bits + 3) // 4)


def write_big(folder, with_tdo):
    name = "sdr32m_tdo" if with_tdo else "sdr32m_tdi"
    path = os.path.join(folder, name + ".svf")
    with open(path, "w") as f:
        f.write("! one scan of 32 Mbit\nSIR 4 TDI (E);\n")
        f.write("SDR %d TDI (" % BIG_BITS)
        # A pattern, not all zeros, so nothing gets an easy ride.
        f.write(("0123456789ABCDEF" * (BIG_BITS // 64)))
        f.write(")")
        if with_tdo:
            f.write(" TDO (" + hex_run("F", BIG_BITS) + ") MASK (" + hex_run("F", BIG_BITS) + ")")
        f.write(";\n")
    return Case(name, path, BIG_BITS + 4, BIG_BITS, 2, True)


def write_short(folder):
    path = os.path.join(folder, "short20k.svf")
    with open(path, "w") as f:
        for i in range(SHORT_REPEATS):
            f.write("SIR 4 TDI (%X);\nSDR 32 TDI (%08X) TDO (FFFFFFFF);\nRUNTEST 10 TCK;\n" % (i & 0xF, i * 2654435761 & 0xFFFFFFFF))
    return Case("short20k", path, SHORT_REPEATS * 36, 32, SHORT_REPEATS * 3, True)


def write_loops(folder):
    path = os.path.join(folder, "loops.svf")
    with open(path, "w") as f:
        # Only a matching SDR breaks a loop: with none in it every pass runs.
        for _ in range(LOOP_COUNT):
            f.write("LOOP %d;\nSIR 4 TDI (E) TDO (F);\nRUNTEST 10 TCK;\nENDLOOP;\n" % LOOP_PASSES)
    return Case("loops", path, LOOP_COUNT * LOOP_PASSES * 4, 4, LOOP_COUNT * (1 + LOOP_PASSES * 3), False)


def be_bytes(value, bits):
    return value.to_bytes((bits + 7) // 8, "big")


XTDOMASK, XSIR, XRUNTEST, XSDRSIZE, XSDRTDO, XCOMPLETE, XREPEAT = 0x01, 0x02, 0x04, 0x08, 0x09, 0x00, 0x07


def write_xsvf_short(f, instruction):
    """The short statements in XSVF: SIR 4 of instruction(i), SDR 32 with TDO."""
    f.write(bytes([XREPEAT, 0]))
    f.write(bytes([XRUNTEST]) + (0).to_bytes(4, "big"))
    f.write(bytes([XSDRSIZE]) + (32).to_bytes(4, "big"))
    f.write(bytes([XTDOMASK]) + be_bytes(0xFFFFFFFF, 32))
    for i in range(SHORT_REPEATS):
        f.write(bytes([XSIR, 4, instruction(i)]))
        f.write(bytes([XSDRTDO]) + be_bytes(i * 2654435761 & 0xFFFFFFFF, 32) + be_bytes(0xFFFFFFFF, 32))


def write_xsvf(folder):
    # The short-statement file and one 32-Mbit checked scan, in XSVF.
    path = os.path.join(folder, "xsvf_mix.xsvf")
    with open(path, "wb") as f:
        write_xsvf_short(f, lambda i: i & 0xF)
        f.write(bytes([XSDRSIZE]) + BIG_BITS.to_bytes(4, "big"))
        f.write(bytes([XTDOMASK]) + b"\xff" * (BIG_BITS // 8))
        f.write(bytes([XSDRTDO]) + bytes(range(256)) * (BIG_BITS // 8 // 256) + b"\xff" * (BIG_BITS // 8))
        f.write(bytes([XCOMPLETE]))
    return Case("xsvf_mix", path, SHORT_REPEATS * 36 + BIG_BITS, BIG_BITS, SHORT_REPEATS * 2 + 6, False)


def run_measured(argv, env, timeout):
    """CPU seconds (user + sys), peak RSS in bytes, exit status, output.

    The peak comes from GNU time: a child forked from this script would count
    the script's own pages in its peak. The CPU time comes from the kernel's
    account of the waited-for children, to the microsecond."""
    with tempfile.NamedTemporaryFile() as usage, tempfile.TemporaryFile() as out:
        timed = [TIME, "-q", "-f", "%M %x", "-o", usage.name] + argv
        proc = subprocess.Popen(timed, env=env, stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT)
        start = time.monotonic()
        while True:
            pid, status, rusage = os.wait4(proc.pid, os.WNOHANG)
            if pid:
                break
            if time.monotonic() - start > timeout:
                proc.kill()
                os.wait4(proc.pid, 0)
                return 0.0, 0, "timeout", ""
            time.sleep(0.005)
        proc.returncode = os.waitstatus_to_exitcode(status)
        out.seek(0)
        text = out.read().decode("latin-1")
        fields = open(usage.name).read().split()[-2:]
    return rusage.ru_utime + rusage.ru_stime, int(fields[0]) * 1024, int(fields[1]), text


def driver_dir(build):
    cache = open(os.path.join(build, "CMakeCache.txt")).read()
    m = re.search(r"^ORBESK_SIM_D2XX_PLAIN_DIR:INTERNAL=(.*)$", cache, re.M)
    return m.group(1) if m else os.path.join(build, "sim", "d2xx", "plain")


def run_emulated(build, program, mode, device, kind, case, settings, folder, timeout):
    """One play of orbeskcon on one emulated device of the kind (device: its
    keys besides the kind's ids): the run's figures, the bytes written to
    the cable and the emulator's trace lines."""
    flags, ids = CABLES[kind]
    scenario = os.path.join(folder, "%s-%s.json" % (mode, kind))
    with open(scenario, "w") as f:
        json.dump({"devices": [dict(ids, kind=kind, **device)]}, f)
    trace = os.path.join(folder, "trace-%s-%s-%s.txt" % (mode, case.name, kind))
    if os.path.exists(trace):
        os.remove(trace)
    # Locks in the bench's own folder: no wait for, or on, anyone else.
    env = dict(os.environ, LD_LIBRARY_PATH=driver_dir(build), ORBESK_SIM_SCENARIO=scenario, ORBESK_SIM_TRACE=trace,
               ORBESK_SEARCH_LOCK_DIR=folder, ORBESK_SIM_LOCK_DIR=folder)
    ini = os.path.join(folder, "%s-%s.ini" % (mode, case.name))
    with open(ini, "w") as f:
        f.write("[Params]\n" + settings)
    argv = [program or os.path.join(build, "console", "orbeskcon"), "-i", ini] + flags + [case.path]
    start = time.monotonic()
    cpu, rss, code, out = run_measured(argv, env, timeout)
    wall = time.monotonic() - start
    lines = open(trace, errors="replace").read().splitlines() if os.path.exists(trace) else []
    written = None
    for line in lines:
        m = re.search(r" close written=(\d+)", line)
        if m:
            written = int(m.group(1))
    ok = code == 0 and "completed successfully" in out
    return dict(cpu=cpu, rss=rss, wall=wall, ok=ok, code=code, out=out, written=written), lines


def play_orbesk(build, program, case, kind, folder, timeout):
    # RUNTEST counts are clocked as written, as the reference does; the
    # default turns each into a wait and logs a line for it.
    r, lines = run_emulated(build, program, "fast", {"fast": True}, kind, case, "RuntestRecalculate=0\n", folder, timeout)
    r.update(writes=None, reads=None)
    for line in lines:
        m = re.search(r"d2xx calls FT_Write=(\d+) FT_Read=(\d+)", line)
        if m:
            r.update(writes=int(m.group(1)), reads=int(m.group(2)))
    return r


def check_orbesk(build, program, case, folder, timeout):
    """The check of the whole file before any cable is looked for: the run
    with no cable attached does that check and then finds no cable."""
    scenario = os.path.join(folder, "no-cable.json")
    with open(scenario, "w") as f:
        json.dump({"devices": []}, f)
    env = dict(os.environ, LD_LIBRARY_PATH=driver_dir(build), ORBESK_SIM_SCENARIO=scenario,
               ORBESK_SEARCH_LOCK_DIR=folder, ORBESK_SIM_LOCK_DIR=folder)
    argv = [program or os.path.join(build, "console", "orbeskcon"), case.path]
    cpu, rss, code, out = run_measured(argv, env, timeout)
    # Checked and passed: refused for the missing cable only.
    ok = code == 2 and "Cannot open any JTAG cable" in out
    return dict(cpu=cpu, rss=rss, ok=ok, code=code, out=out)


# ---- paced: how busy the host keeps a device that runs at its own speed

# One device: IR of 4 bits, each opcode but BYPASS's (F) a 32-bit register
# that captures all ones; so the short statements read what they expect,
# and a scan through BYPASS reads its TDI one bit later.
PACED_CHAIN = [{"name": "dev", "ir_length": 4,
                "instructions": [{"name": "R%X" % i, "opcode": i, "length": 32, "capture": "FFFFFFFF"}
                                 for i in range(15)]}]
PACED_SCAN_BITS = 1 << 20
PACED_SCANS = 3
PACED_WAITS = 3000


class PacedCase:
    def __init__(self, name, path, settings="", kinds=None, about=""):
        self.name = name
        self.path = path
        self.settings = settings  # lines for [Params]
        self.kinds = kinds  # cable kinds that can play it; None: all
        self.about = about


def scan_pattern(index, bits):
    digits = "0123456789ABCDEF"[index % 16:] + "0123456789ABCDEF"[:index % 16]
    return (digits * (bits // 64 + 1))[:bits // 4]


def write_paced_scans(folder, with_tdo):
    name = "scans_tdo" if with_tdo else "scans_tdi"
    path = os.path.join(folder, name + ".svf")
    bits = PACED_SCAN_BITS
    with open(path, "w") as f:
        f.write("SIR 4 TDI (F);\n")
        for i in range(PACED_SCANS):
            tdi = scan_pattern(i, bits)
            f.write("SDR %d TDI (%s)" % (bits, tdi))
            if with_tdo:
                # BYPASS: its captured 0 first, then TDI one bit later.
                tdo = (int(tdi, 16) << 1) & ((1 << bits) - 1)
                f.write(" TDO (%0*X) MASK (%s)" % (bits // 4, tdo, hex_run("F", bits)))
            f.write(";\n")
    return PacedCase(name, path, about="%d scans of %d bits%s" % (PACED_SCANS, bits, ", TDO checked" if with_tdo else ""))


def write_paced_short(folder):
    path = os.path.join(folder, "short.svf")
    with open(path, "w") as f:
        for i in range(SHORT_REPEATS):
            f.write("SIR 4 TDI (%X);\nSDR 32 TDI (%08X) TDO (FFFFFFFF);\nRUNTEST 10 TCK;\n" % (i % 15, i * 2654435761 & 0xFFFFFFFF))
    return PacedCase("short", path, about="%d x SIR 4, SDR 32 with TDO, RUNTEST 10 TCK" % SHORT_REPEATS)


def write_paced_waits(folder, name, statement, count, settings="", kinds=None):
    path = os.path.join(folder, name + ".svf")
    with open(path, "w") as f:
        f.write("FREQUENCY 1E6 HZ;\nSTATE RESET;\nSTATE IDLE;\n")
        f.write(statement * count)
        f.write("STATE RESET;\n")
    return PacedCase(name, path, settings, kinds, "%d x %s%s" % (count, statement.strip(), " " + settings if settings else ""))


def write_paced_xsvf(folder):
    path = os.path.join(folder, "xsvf_mix.xsvf")
    bits = PACED_SCAN_BITS
    with open(path, "wb") as f:
        write_xsvf_short(f, lambda i: i % 15)
        f.write(bytes([XSIR, 4, 0xF]))
        f.write(bytes([XSDRSIZE]) + bits.to_bytes(4, "big"))
        f.write(bytes([XTDOMASK]) + b"\xff" * (bits // 8))
        tdi = int(scan_pattern(0, bits), 16)
        f.write(bytes([XSDRTDO]) + be_bytes(tdi, bits) + be_bytes((tdi << 1) & ((1 << bits) - 1), bits))
        f.write(bytes([XCOMPLETE]))
    return PacedCase("xsvf_mix", path, about="XSVF: %d x XSIR, XSDRTDO 32; one checked scan of %d bits" % (SHORT_REPEATS, bits))


PACED_FILES = {
    "scans_tdi": lambda d: write_paced_scans(d, False),
    "scans_tdo": lambda d: write_paced_scans(d, True),
    "short": write_paced_short,
    "waits90ms": lambda d: write_paced_waits(d, "waits90ms", "RUNTEST IDLE 0.09 SEC;\n", 30),
    "waits1ms": lambda d: write_paced_waits(d, "waits1ms", "RUNTEST IDLE 0.001 SEC;\n", PACED_WAITS),
    # The clock stopped: the wait is timed by the cable or the host; a
    # Druvel refuses it.
    "waits1ms_stopped": lambda d: write_paced_waits(d, "waits1ms_stopped", "RUNTEST IDLE 0.001 SEC;\n", PACED_WAITS,
                                                    "DefFreqRuntestTime=0", ["varnel", "mirrow"]),
    "counts": lambda d: write_paced_waits(d, "counts", "RUNTEST 1000 TCK;\n", PACED_WAITS),
    "xsvf_mix": write_paced_xsvf,
}


def play_paced(build, program, case, kind, folder, timeout):
    device = {"paced": True, "chain": PACED_CHAIN, "trace": False}
    settings = "RuntestRecalculate=0\n" + (case.settings + "\n" if case.settings else "")
    r, lines = run_emulated(build, program, "paced", device, kind, case, settings, folder, timeout)
    r.update(busy=0.0, idle=0.0)
    for line in lines:
        # One line each open that wrote; the run's opens together.
        m = re.search(r" paced busy_ms=([\d.]+) idle_ms=([\d.]+)", line)
        if m:
            r["busy"] += float(m.group(1)) / 1000
            r["idle"] += float(m.group(2)) / 1000
    return r


PACED_COLUMNS = [("file", -16), ("cable", -7), ("engine", -6), ("wall s", 7), ("busy s", 7), ("idle min s", 10),
                 ("idle med s", 10), ("idle %", 6), ("CPU s", 6), ("bytes written", 13), ("", 0)]


def paced_row(values):
    return " ".join("%*s" % (w, v) for (_, w), v in zip(PACED_COLUMNS, values)).rstrip()


def paced_runs(plays, runs):
    """Each play's runs, taken in turn so that a change in the machine's
    load falls on all of them: each figure the median, and the least
    idle. A play's first failure ends its runs."""
    results = [[] for _ in plays]
    failed = [None for _ in plays]
    for _ in range(runs):
        for i, play in enumerate(plays):
            if failed[i] is None:
                r = play()
                if r["ok"]:
                    results[i].append(r)
                else:
                    failed[i] = r
    out = []
    for done, failure in zip(results, failed):
        if failure is not None:
            out.append(failure)
            continue
        r = dict(done[-1], idle_min=min(r["idle"] for r in done))
        for key in ("wall", "cpu", "busy", "idle"):
            r[key] = statistics.median(d[key] for d in done)
        out.append(r)
    return out


def main_paced(args):
    folder = args.keep or tempfile.mkdtemp(prefix="orbesk-paced-")
    os.makedirs(folder, exist_ok=True)
    names = args.only or list(PACED_FILES)
    cases = [PACED_FILES[n](folder) for n in names]
    engines = [("after", args.program)]
    if args.before:
        engines.insert(0, ("before", args.before))
    runs = args.runs or 1
    print("paced emulator, chip buffer 4096 bytes; %d run(s) of each, the engines in turn; the median of each figure" % runs)
    print("wall: the whole run; busy: device time run; idle: time the device had run everything written and")
    print("waited for the host, from the first write to the close, the least and the median (the load of the")
    print("machine moves it: compare the least); idle %: least idle / (busy + least idle), lower is better")
    for case in cases:
        print("  %-16s %s" % (case.name, case.about))
    header = paced_row([name for name, _ in PACED_COLUMNS])
    print(header)
    print("-" * len(header))
    for case in cases:
        for kind in args.cables:
            if case.kinds and kind not in case.kinds:
                print(paced_row([case.name, kind, "-", "n/a: the cable kind refuses these settings"]))
                continue
            written = {}
            plays = [lambda program=program: play_paced(args.build, program, case, kind, folder, args.timeout)
                     for _, program in engines]
            for (engine, _), r in zip(engines, paced_runs(plays, runs)):
                if not r["ok"]:
                    reason = r["out"].strip().splitlines()[-1:] or [str(r["code"])]
                    print(paced_row([case.name, kind, engine, "failed: " + reason[0][:90]]))
                    continue
                written[engine] = r["written"]
                span = r["busy"] + r["idle_min"]
                mark = "bytes differ from before" if engine == "after" and written.get("before") not in (None, r["written"]) else ""
                print(paced_row([case.name, kind, engine, "%.2f" % r["wall"], "%.3f" % r["busy"], "%.3f" % r["idle_min"],
                                 "%.3f" % r["idle"], "%.1f" % (100 * r["idle_min"] / span) if span else "-", "%.2f" % r["cpu"],
                                 r["written"] if r["written"] is not None else "-", mark]))
                sys.stdout.flush()
    if not args.keep:
        shutil.rmtree(folder, ignore_errors=True)


TIME = "/usr/bin/time"


def ensure_package(program, package):
    if shutil.which(program):
        return True
    print("== installing Debian's %s" % package)
    subprocess.run(["apt-get", "install", "-y", package], stdout=subprocess.DEVNULL, check=False)
    return shutil.which(program) is not None


def ensure_openocd():
    if shutil.which("openocd"):
        return True
    print("== installing Debian's openocd (a timing reference only)")
    subprocess.run(["apt-get", "install", "-y", "openocd"], stdout=subprocess.DEVNULL, check=False)
    return shutil.which("openocd") is not None


def play_openocd(case, timeout):
    commands = ("adapter driver dummy; transport select jtag; adapter speed 1000; "
                "jtag newtap chip tap -irlen 4; init; svf -quiet %s; shutdown" % case.path)
    cpu, rss, code, out = run_measured(["openocd", "-c", commands], dict(os.environ), timeout)
    return dict(cpu=cpu, rss=rss, ok=code == 0, code=code, out=out)


def repeated(play, runs):
    """The runs of one play: CPU min and median, peak median; the first
    failure ends them."""
    results = []
    for _ in range(runs):
        r = play()
        if not r["ok"]:
            return r
        results.append(r)
    cpus = [r["cpu"] for r in results]
    return dict(results[-1], cpu_min=min(cpus), cpu_median=statistics.median(cpus),
                rss=statistics.median(r["rss"] for r in results))


# Columns: heading, width, and which way is better.
COLUMNS = [
    ("file", -11), ("cable", -7),
    ("CPU min s", 9), ("CPU med s", 9), ("Mbit/CPUs", 9), ("peak MB", 8),
    ("B/bit", 6), ("wr B/bit", 8), ("writes/st", 9), ("reads/st", 8),
    ("ocd CPU min", 11), ("ocd CPU med", 11), ("CPU vs openocd", 14), ("ocd peak MB", 11),
]


def row(values):
    return " ".join("%*s" % (w, v) for (_, w), v in zip(COLUMNS, values))


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build", default=os.path.join(ROOT, "build"))
    ap.add_argument("--program", help="another orbeskcon to measure (an older build) on this build's emulator")
    ap.add_argument("--openocd", action="store_true", help="also time openocd (installs it when missing)")
    ap.add_argument("--only", nargs="*", help="file names to play (sdr32m_tdo sdr32m_tdi short20k loops xsvf_mix;"
                    " paced: " + " ".join(PACED_FILES) + ")")
    ap.add_argument("--cables", nargs="*", default=list(CABLES))
    ap.add_argument("--keep", help="folder for the generated files (kept); default a temporary one")
    ap.add_argument("--timeout", type=float, default=600)
    ap.add_argument("--runs", type=int, help="runs of each play (default 5; paced 1)")
    ap.add_argument("--paced", action="store_true", help="the paced files on a paced device: how busy the cable stays")
    ap.add_argument("--before", help="paced: an older orbeskcon played on the same emulator too")
    args = ap.parse_args()

    if not ensure_package(TIME, "time"):
        sys.exit("GNU time is needed to measure")
    if args.paced:
        main_paced(args)
        return
    if args.before:
        sys.exit("--before goes with --paced")
    args.runs = args.runs or 5
    folder = args.keep or tempfile.mkdtemp(prefix="orbesk-speed-")
    os.makedirs(folder, exist_ok=True)
    writers = {"sdr32m_tdo": lambda: write_big(folder, True), "sdr32m_tdi": lambda: write_big(folder, False),
               "short20k": lambda: write_short(folder), "loops": lambda: write_loops(folder),
               "xsvf_mix": lambda: write_xsvf(folder)}
    names = args.only or list(writers)
    cases = [writers[n]() for n in names]
    reference = args.openocd and ensure_openocd()

    print("%d runs of each; CPU: user + sys seconds, min and median (lower is better); Mbit/CPUs: scan bits per"
          % args.runs)
    print("CPU second of the fastest run (higher is better); peak: the median largest resident size (lower is")
    print("better); B/bit: peak bytes per bit of the largest scan, for the files with a 32-Mbit scan only;")
    print("wr B/bit: bytes written to the cable per scan bit; writes/st, reads/st: FT_Write, FT_Read per")
    print("statement; ocd: openocd on its dummy adapter; CPU vs openocd: our CPU min / openocd's CPU min,")
    print("lower is better (below 1: faster than openocd)")
    shown = len(COLUMNS) if reference else len(COLUMNS) - 4  # the openocd columns only with it
    header = row([name for name, _ in COLUMNS][:shown])
    print(header)
    print("-" * len(header))
    for case in cases:
        ref = None
        if reference and case.reference:
            ref = repeated(lambda: play_openocd(case, args.timeout), args.runs)
        runs = []
        for kind in args.cables:
            r = repeated(lambda: play_orbesk(args.build, args.program, case, kind, folder, args.timeout), args.runs)
            if not r["ok"]:
                reason = r["out"].strip().splitlines()[-1:] or [str(r["code"])]
                print("%-11s %-7s failed: %s" % (case.name, kind, reason[0][:90]))
                continue
            per_bit = lambda v: "%.3f" % (v / case.scan_bits) if v is not None else "-"
            per_st = lambda v: "%.3f" % (v / case.statements) if v is not None else "-"
            refs = ["-"] * 4
            if ref and ref["ok"]:
                refs = ["%.3f" % ref["cpu_min"], "%.3f" % ref["cpu_median"],
                        "%.2f" % (r["cpu_min"] / ref["cpu_min"]) if ref["cpu_min"] else "-", "%.1f" % (ref["rss"] / 1e6)]
            elif ref:
                refs = ["failed (%s)" % ref["code"]] + ["-"] * 3
            elif reference and not case.reference:
                refs = ["n/a"] * 4
            print(row(([case.name, kind, "%.3f" % r["cpu_min"], "%.3f" % r["cpu_median"],
                       "%.1f" % (case.scan_bits / 1e6 / max(r["cpu_min"], 1e-6)), "%.1f" % (r["rss"] / 1e6),
                       "%.2f" % (r["rss"] / case.largest) if case.largest == BIG_BITS else "-",
                       per_bit(r["written"]), per_st(r["writes"]), per_st(r["reads"])] + refs)[:shown]))
            runs.append(r["cpu_min"])
            sys.stdout.flush()
        check = repeated(lambda: check_orbesk(args.build, args.program, case, folder, args.timeout), args.runs)
        if not check["ok"]:
            reason = check["out"].strip().splitlines()[:1] or [str(check["code"])]
            print("%-11s %-7s failed: %s" % (case.name, "check", reason[0][:90]))
        else:
            share = "  %.0f%% of the fastest run's CPU" % (100 * check["cpu_min"] / min(runs)) if runs else ""
            print(row([case.name, "check", "%.3f" % check["cpu_min"], "%.3f" % check["cpu_median"], "-",
                       "%.1f" % (check["rss"] / 1e6)]) + "  the file's check before the cable" + share)
        sys.stdout.flush()
    if not args.keep:
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
