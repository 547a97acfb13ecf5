"""Bounded memory: conversions under an address-space limit (RLIMIT_AS, as `ulimit -v` sets it).

    /usr/bin/python3 bench/memory/run.py BUILD_DIR [--limit-mb 200] [--rows 20000]

BUILD_DIR is a release build (the sanitizers reserve terabytes of shadow memory, so no limit fits
them) holding bin/quarlex2007 and tools/quarlex-mkdb. First every shared Access file with
expectations is converted into .xlsx and .xls under --limit-mb (those with saved queries with
/QUERIES=1); each must succeed. Then a generated table is converted over an existing book, with
/OVERWRITE=0 and 1, under limits from
--limit-mb down in steps: each run must either succeed or end with exit 1 and "out of memory"
naming the file, the old book byte for byte as it was and nothing left beside it; never a signal.
Limits too small for the program to start at all are told apart (the loader's message) and
skipped. Prints what each run did and exits 1 on any fault."""
import argparse
import glob
import os
import resource
import shutil
import subprocess
import sys
import tempfile

parser = argparse.ArgumentParser()
parser.add_argument("build")
parser.add_argument("--limit-mb", type=int, default=200)
parser.add_argument("--rows", type=int, default=20000)
args = parser.parse_args()
program = os.path.join(args.build, "bin", "quarlex2007")
mkdb = os.path.join(args.build, "tools", "quarlex-mkdb")
shared = os.path.join(os.path.dirname(__file__), "..", "..", "..", "shared", "testdata", "access")
work = tempfile.mkdtemp(prefix="quarlex-memory-")
faults = []


def run(argv, limit_mb):
    def limit():
        size = limit_mb * 1024 * 1024
        resource.setrlimit(resource.RLIMIT_AS, (size, size))
    env = dict(os.environ, DISPLAY="", WAYLAND_DISPLAY="", QT_QPA_PLATFORM="", TMPDIR=work,
               XDG_RUNTIME_DIR=work, XDG_CONFIG_HOME=os.path.join(work, "config"))
    return subprocess.run(argv, preexec_fn=limit, env=env, capture_output=True, text=True, timeout=600)


def did_not_start(r):
    return r.returncode == 127 or "error while loading shared libraries" in r.stderr


# The shared files, each format, under the limit.
converted = 0
queries = os.path.join(shared, "..", "queries")
sources = sorted(glob.glob(os.path.join(shared, "*.mdb")) + glob.glob(os.path.join(shared, "*.accdb")))
sources += sorted(glob.glob(os.path.join(queries, "*.mdb")) + glob.glob(os.path.join(queries, "*.accdb")))
for source in sources:
    if not os.path.exists(source + ".expected.json"):
        continue
    # The databases with saved queries convert them too.
    with_queries = ["/QUERIES=1"] if os.path.exists(source + ".queries.jsonl") else []
    with open(source + ".expected.json") as f:
        password = '"password"' in f.read()
    for out, kind in (("out.xlsx", "/TYPE=2007"), ("out.xls", "/TYPE=ANY")):
        target = os.path.join(work, out)
        argv = [program, source, target, kind, "/OVERWRITE=1", "/SILENT"] + with_queries + (["/PASSWORD=password"] if password else [])
        r = run(argv, args.limit_mb)
        # A table the reader refuses is the file's own damage (exit 1 without memory running short).
        if r.returncode < 0 or "out of memory" in r.stderr:
            faults.append(f"{os.path.basename(source)} -> {out} under {args.limit_mb} MB: exit {r.returncode}: {r.stderr.strip()[:300]}")
        else:
            converted += 1
print(f"{converted} conversions of the shared files under {args.limit_mb} MB of address space")

# A larger generated table over an existing book, under shrinking limits.
db = os.path.join(work, "big.mdb")
subprocess.run([mkdb, "--synthetic", db, "--rows", str(args.rows), "--columns", "10"], check=True, capture_output=True)
for out, kind in (("book.xlsx", "/TYPE=2007"), ("book.xls", "/TYPE=ANY")):
    for overwrite in ("/OVERWRITE=0", "/OVERWRITE=1"):
        folder = os.path.join(work, "limits")
        for limit_mb in range(args.limit_mb, 0, -10):
            shutil.rmtree(folder, ignore_errors=True)
            os.makedirs(folder)
            target = os.path.join(folder, out)
            first = run([program, os.path.join(shared, "delTestV2003.mdb"), target, kind, "/OVERWRITE=1", "/SILENT"], 4096)
            if first.returncode != 0:
                sys.exit(f"cannot make the old book: {first.stderr}")
            with open(target, "rb") as f:
                old = f.read()
            r = run([program, db, target, kind, overwrite, "/SILENT"], limit_mb)
            left = sorted(set(os.listdir(folder)) - {out})
            if did_not_start(r):
                print(f"{out} {overwrite} under {limit_mb} MB: the program cannot start")
                break
            if r.returncode == 0:
                what = "converted"
            elif r.returncode == 1 and "out of memory" in r.stderr and target in r.stderr:
                with open(target, "rb") as f:
                    what = "out of memory, old book kept" if f.read() == old else None
                if what is None:
                    faults.append(f"{out} {overwrite} under {limit_mb} MB: the old book changed")
            else:
                what = f"exit {r.returncode}"
                faults.append(f"{out} {overwrite} under {limit_mb} MB: exit {r.returncode}: {r.stderr.strip()[:300]}")
            if left:
                faults.append(f"{out} {overwrite} under {limit_mb} MB: left {left}")
            print(f"{out} {overwrite} under {limit_mb} MB: {what}")

shutil.rmtree(work, ignore_errors=True)
for fault in faults:
    print("FAULT:", fault)
sys.exit(1 if faults else 0)
