"""Converts one generated table of a million records and ten mixed fields into .xlsx and .xls
with quarlex, and does the same work the way a Linux user does today without it: mdb-export to
CSV, then openpyxl in write-only mode to .xlsx. Prints records per second and peak memory.

    /usr/bin/python3 bench/conversion/run.py BUILD_DIR [ROWS]

BUILD_DIR is a release build holding bin/quarlex2007 and tools/quarlex-mkdb."""
import os
import resource
import subprocess
import sys
import tempfile
import time

build = sys.argv[1]
rows = int(sys.argv[2]) if len(sys.argv) > 2 else 1_000_000
work = tempfile.mkdtemp(prefix="quarlex-bench-")
db = os.path.join(work, "synthetic.mdb")


def measure(label, commands):
    """Runs the commands one after another; wall time in all and the largest peak RSS of any."""
    start = time.monotonic()
    peak = 0
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
            sys.exit(f"{label}: {cmd} failed")
        peak = max(peak, usage.ru_maxrss)
    seconds = time.monotonic() - start
    print(f"{label:44s} {seconds:8.2f} s {rows / seconds:12,.0f} records/s  peak {peak / 1024:8.1f} MB")
    return seconds


subprocess.run([os.path.join(build, "tools", "quarlex-mkdb"), "--synthetic", db, "--rows", str(rows),
                "--columns", "10"], check=True, stdout=subprocess.DEVNULL)
table = subprocess.run(["mdb-tables", "-1", db], check=True, capture_output=True, text=True).stdout.split()[0]
print(f"{rows:,} records of 10 fields in {db} ({os.path.getsize(db) / 2**20:.0f} MB), table {table}")

quarlex = os.path.join(build, "bin", "quarlex2007")
xlsx = measure("quarlex -> .xlsx", [[quarlex, db, os.path.join(work, "q.xlsx"), "/TYPE=2007", "/OVERWRITE=1", "/SILENT"]])
measure("quarlex -> .xls", [[quarlex, db, os.path.join(work, "q.xls"), "/OVERWRITE=1", "/SILENT"]])

csv_path = os.path.join(work, "export.csv")
convert = ("import csv,sys,openpyxl\n"
           "b=openpyxl.Workbook(write_only=True)\n"
           "ws=None\n"
           "for i,row in enumerate(csv.reader(open(sys.argv[1],newline=''))):\n"
           "    if i%65531==0: ws=b.create_sheet('T%d'%(i//65531))\n"
           "    ws.append(row)\n"
           "b.save(sys.argv[2])\n")
pipeline = measure("mdb-export to CSV, then openpyxl write-only", [
    (["mdb-export", db, table], csv_path),
    ["/usr/bin/python3", "-c", convert, csv_path, os.path.join(work, "p.xlsx")],
])
print(f"quarlex .xlsx is {pipeline / xlsx:.1f} times the speed of the pipeline")
subprocess.run(["rm", "-rf", work])
