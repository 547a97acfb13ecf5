"""Converts one generated table (ten mixed fields by default) into .xlsx and .xls with quarlex,
and exports the same table to CSV with mdb-export, the tool a Linux user has without quarlex, in
the same run. Each command runs --runs times, the three in turns (median wall time, largest peak
memory); prints records and cells per second, CPU time of all threads, peak memory and file size, and how many
times faster than mdb-export each format is: from the medians, and round by round. On a machine busy with other work the wall times
say little; the CPU times still compare.

    /usr/bin/python3 bench/conversion/run.py BUILD_DIR [ROWS] [--columns N] [--runs N]
        [--quarlex PROGRAM] [--keep DIR] [--pipeline]

BUILD_DIR is a release build holding bin/quarlex2007 and tools/quarlex-mkdb. --quarlex measures
another quarlex program (an older build) on the same table; --keep leaves the database and the
outputs in DIR; --pipeline also times mdb-export followed by openpyxl in write-only mode."""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

parser = argparse.ArgumentParser()
parser.add_argument("build")
parser.add_argument("rows", nargs="?", type=int, default=1_000_000)
parser.add_argument("--columns", type=int, default=10)
parser.add_argument("--runs", type=int, default=3)
parser.add_argument("--quarlex")
parser.add_argument("--keep")
parser.add_argument("--pipeline", action="store_true")
args = parser.parse_args()

rows, columns = args.rows, args.columns
work = args.keep or tempfile.mkdtemp(prefix="quarlex-bench-")
os.makedirs(work, exist_ok=True)
db = os.path.join(work, f"synthetic-{rows}x{columns}.mdb")


def run_once(commands):
    """Runs the commands one after another: wall time in all, CPU time (user and system, all
    threads) in all, and the largest peak RSS (MB)."""
    start = time.monotonic()
    peak = 0
    cpu = 0.0
    for cmd in commands:
        pid = os.fork()
        if pid == 0:
            if isinstance(cmd, tuple):
                with open(cmd[1], "wb") as out:
                    os.dup2(out.fileno(), 1)
                cmd = cmd[0]
            os.execvp(cmd[0], cmd)
        _, status, usage = os.wait4(pid, 0)
        if os.waitstatus_to_exitcode(status) != 0:
            sys.exit(f"{cmd} failed")
        peak = max(peak, usage.ru_maxrss)
        cpu += usage.ru_utime + usage.ru_stime
    return time.monotonic() - start, cpu, peak / 1024


def measure(cases):
    """Runs each case (label, commands, output) --runs times, in turns: a round runs every case
    once, so that a machine that speeds up or slows down between rounds does so for all of them
    alike. Prints a line per case; returns each case's median wall time and the median, over the
    rounds, of how many times as long the last case took as each of the others."""
    times = {label: [] for label, _, _ in cases}
    cpus = {label: [] for label, _, _ in cases}
    peaks = {label: [] for label, _, _ in cases}
    for _ in range(args.runs):
        for label, commands, _ in cases:
            seconds, cpu, peak = run_once(commands)
            times[label].append(seconds)
            cpus[label].append(cpu)
            peaks[label].append(peak)
    medians, ratios = {}, {}
    last = cases[-1][0]
    for label, _, output in cases:
        seconds = statistics.median(times[label])
        medians[label] = seconds
        ratios[label] = statistics.median(r / t for r, t in zip(times[last], times[label]))
        size = os.path.getsize(output) / 2**20
        print(f"{label:20s} {seconds:7.2f} s {rows / seconds:11,.0f} rec/s {rows * columns / seconds:12,.0f} cells/s"
              f"  cpu {statistics.median(cpus[label]):6.2f} s  peak {max(peaks[label]):6.1f} MB  file {size:7.1f} MB"
              f"  (runs: {', '.join(f'{t:.2f}' for t in times[label])})")
    return medians, ratios

if not os.path.exists(db):
    subprocess.run([os.path.join(args.build, "tools", "quarlex-mkdb"), "--synthetic", db, "--rows", str(rows),
                    "--columns", str(columns)], check=True, stdout=subprocess.DEVNULL)
table = subprocess.run(["mdb-tables", "-1", db], check=True, capture_output=True, text=True).stdout.split()[0]
print(f"{rows:,} records of {columns} fields in {db} ({os.path.getsize(db) / 2**20:.0f} MB), table {table}, "
      f"median of {args.runs}")

quarlex = args.quarlex or os.path.join(args.build, "bin", "quarlex2007")
xlsx_out, xls_out = os.path.join(work, "q.xlsx"), os.path.join(work, "q.xls")
csv_path = os.path.join(work, "export.csv")
medians, ratios = measure([
    ("quarlex -> .xlsx", [[quarlex, db, xlsx_out, "/TYPE=2007", "/OVERWRITE=1", "/SILENT"]], xlsx_out),
    ("quarlex -> .xls", [[quarlex, db, xls_out, "/OVERWRITE=1", "/SILENT"]], xls_out),
    ("mdb-export -> .csv", [(["mdb-export", db, table], csv_path)], csv_path),
])
csv = medians["mdb-export -> .csv"]
print(f"against mdb-export (medians): .xlsx {csv / medians['quarlex -> .xlsx']:.1f} times as fast, "
      f".xls {csv / medians['quarlex -> .xls']:.1f} times as fast")
print(f"against mdb-export (round by round, median): .xlsx {ratios['quarlex -> .xlsx']:.1f} times as fast, "
      f".xls {ratios['quarlex -> .xls']:.1f} times as fast")

if args.pipeline:
    convert = ("import csv,sys,openpyxl\n"
               "b=openpyxl.Workbook(write_only=True)\n"
               "ws=None\n"
               "for i,row in enumerate(csv.reader(open(sys.argv[1],newline=''))):\n"
               "    if i%65531==0: ws=b.create_sheet('T%d'%(i//65531))\n"
               "    ws.append(row)\n"
               "b.save(sys.argv[2])\n")
    p_out = os.path.join(work, "p.xlsx")
    measure([("mdb-export, then openpyxl", [(["mdb-export", db, table], csv_path),
                                            ["/usr/bin/python3", "-c", convert, csv_path, p_out]], p_out)])

if not args.keep:
    shutil.rmtree(work)
