"""Start-up cost of one process per database: converts COUNT small databases (four tables of 1,000
records each) once as one process per database, the way GNU parallel and Slurm recipes run them,
and once in one /BATCH run, in turns, --runs rounds; prints the median wall and CPU times and how
many times the batch's time per database one process costs, and the minor page faults of each
(fresh memory a process touches, which a batch pays once and then reuses).

    /usr/bin/python3 bench/startup/run.py BUILD_DIR [--count N] [--runs N] [--quarlex PROGRAM] [--keep DIR]

BUILD_DIR is a release build holding bin/quarlex2007 and tools/quarlex-mkdb. --quarlex measures
another quarlex program (an older build) on the same databases; --keep leaves them in DIR."""
import argparse
import os
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

parser = argparse.ArgumentParser()
parser.add_argument("build")
parser.add_argument("--count", type=int, default=100)
parser.add_argument("--runs", type=int, default=5)
parser.add_argument("--tables", type=int, default=4)
parser.add_argument("--records", type=int, default=1000)
parser.add_argument("--columns", type=int, default=5)
parser.add_argument("--quarlex")
parser.add_argument("--keep")
args = parser.parse_args()

program = os.path.abspath(args.quarlex or os.path.join(args.build, "bin", "quarlex2007"))
mkdb = os.path.join(args.build, "tools", "quarlex-mkdb")
work = args.keep or tempfile.mkdtemp(prefix="quarlex-startup-")
databases = os.path.join(work, "databases")
os.makedirs(databases, exist_ok=True)
first = os.path.join(databases, "db000.mdb")
subprocess.run([mkdb, "--synthetic", first, "--rows", str(args.records), "--columns", str(args.columns),
                "--tables", str(args.tables)], check=True, stdout=subprocess.DEVNULL)
for index in range(1, args.count):
    shutil.copyfile(first, os.path.join(databases, "db%03d.mdb" % index))
paths = sorted(os.path.join(databases, name) for name in os.listdir(databases))

# No display: the programs never consider the wizard.
env = dict(os.environ, DISPLAY="", WAYLAND_DISPLAY="", QT_QPA_PLATFORM="")


def children_usage():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime, usage.ru_minflt


def timed(commands):
    """Wall time, CPU time (user and system, all threads) and minor page faults of the commands,
    one after another."""
    start, (cpu, faults) = time.monotonic(), children_usage()
    for command in commands:
        subprocess.run(command, env=env, check=True, stdin=subprocess.DEVNULL)
    end_cpu, end_faults = children_usage()
    return time.monotonic() - start, end_cpu - cpu, end_faults - faults


def one_process_each():
    out = os.path.join(work, "single")
    os.makedirs(out, exist_ok=True)
    return timed([[program, path, os.path.join(out, os.path.basename(path)[:-4] + ".xlsx"),
                   "/TYPE=2007", "/OVERWRITE=1", "/SILENT"] for path in paths])


def one_batch():
    out = os.path.join(work, "batch")
    os.makedirs(out, exist_ok=True)
    return timed([[program, os.path.join(databases, "*.mdb"), out + "/", "/BATCH", "/TYPE=2007", "/OVERWRITE=1"]])


singles, batches = [], []
for _ in range(args.runs):
    singles.append(one_process_each())
    batches.append(one_batch())
single, batch = statistics.median(s[0] for s in singles), statistics.median(b[0] for b in batches)
single_cpu, batch_cpu = statistics.median(s[1] for s in singles), statistics.median(b[1] for b in batches)
single_faults, batch_faults = statistics.median(s[2] for s in singles), statistics.median(b[2] for b in batches)
ratios = [s[0] / b[0] for s, b in zip(singles, batches)]

libraries = subprocess.run(["ldd", program], capture_output=True, text=True).stdout
print("program:              %s (%d shared libraries, Qt %s)" % (
    program, libraries.count("=>"), "linked" if "libQt" in libraries else "not linked"))
print("databases:            %d x %d tables x %d records x %d fields" % (args.count, args.tables, args.records, args.columns))
print("one process each:     %.3f s (%.1f ms a database), median of %d" % (single, 1000 * single / args.count, args.runs))
print("one /BATCH run:       %.3f s (%.1f ms a database)" % (batch, 1000 * batch / args.count))
print("process / batch:      %.2fx from the medians, %.2fx median of the rounds" % (single / batch, statistics.median(ratios)))
print("CPU, process / batch: %.1f ms / %.1f ms a database = %.2fx" % (
    1000 * single_cpu / args.count, 1000 * batch_cpu / args.count, single_cpu / batch_cpu))
print("page faults:          %.0f a process, %.0f a database in the batch" % (
    single_faults / args.count, batch_faults / args.count))
if not args.keep:
    shutil.rmtree(work)
