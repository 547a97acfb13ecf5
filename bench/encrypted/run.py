"""Peak memory and time of converting a large password-encrypted .accdb, next to the same
conversion of the plain file. Writes a synthetic table (`quarlex-mkdb --synthetic`, ten mixed
fields), encrypts it as Access 2010 and later do by default (agile: AES-256, SHA-512, a spin count
of 100,000; `bench_encrypt_database`), and converts both with `quarlex2007 /SILENT` into .xlsx,
--runs times in turns. Prints the median wall time, the median CPU time (all threads) and the
largest peak memory of each: ru_maxrss, and, sampled while it runs, resident memory together with
the anonymous memory files it holds (a memfd's pages count in neither RSS nor ru_maxrss unless
mapped); then what decrypting one page costs.

    /usr/bin/python3 bench/encrypted/run.py BUILD_DIR [--records N] [--runs N]
        [--quarlex PROGRAM] [--keep DIR]

BUILD_DIR is a release build holding bin/quarlex2007, tools/quarlex-mkdb and
bench/bench_encrypt_database. --quarlex converts with another quarlex program (an older build) on
the same databases; --keep leaves the databases and the workbooks in DIR."""
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
parser.add_argument("--records", type=int, default=1_000_000)
parser.add_argument("--runs", type=int, default=3)
parser.add_argument("--quarlex")
parser.add_argument("--keep")
args = parser.parse_args()

PASSWORD = "bench secret"
work = args.keep or tempfile.mkdtemp(prefix="quarlex-bench-encrypted-")
os.makedirs(work, exist_ok=True)
plain = os.path.join(work, f"synthetic-{args.records}.accdb")
encrypted = os.path.join(work, f"synthetic-{args.records}-encrypted.accdb")
encryptor = os.path.join(args.build, "bench", "bench_encrypt_database")
quarlex = args.quarlex or os.path.join(args.build, "bin", "quarlex2007")

if not os.path.exists(plain):
    subprocess.run([os.path.join(args.build, "tools", "quarlex-mkdb"), "--synthetic", plain,
                    "--rows", str(args.records), "--columns", "10"], check=True, stdout=subprocess.DEVNULL)
if not os.path.exists(encrypted):
    subprocess.run([encryptor, plain, encrypted, PASSWORD], check=True)
print(f"{args.records:,} records of 10 fields, {os.path.getsize(plain) / 2**20:.0f} MB, "
      f"plain and encrypted (agile AES-256); {quarlex}; median of {args.runs}")


def memory_files(pid):
    """Bytes held in the child's anonymous memory files (memfd): memory it uses that ru_maxrss
    does not count while no page of them is mapped."""
    files = {}  # by inode: a memory file opened twice (through /proc/self/fd) counts once
    try:
        fds = os.listdir(f"/proc/{pid}/fd")
    except OSError:
        return 0
    for fd in fds:
        path = f"/proc/{pid}/fd/{fd}"
        try:
            if os.readlink(path).startswith("/memfd:"):
                st = os.stat(path)
                files[(st.st_dev, st.st_ino)] = st.st_blocks * 512
        except OSError:
            pass
    return sum(files.values())


def resident(pid):
    try:
        with open(f"/proc/{pid}/status") as status:
            for line in status:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1]) * 1024
    except OSError:
        pass
    return 0


def run_once(command):
    """Wall time, CPU time (user and system, all threads), peak RSS (MB), and the peak of RSS and
    memory files together (MB, sampled every 5 ms) of one child."""
    start = time.monotonic()
    pid = os.fork()
    if pid == 0:
        os.execv(command[0], command)
    sampled = 0
    while True:
        done, status, usage = os.wait4(pid, os.WNOHANG)
        if done:
            break
        sampled = max(sampled, resident(pid) + memory_files(pid))
        time.sleep(0.005)
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"{command} failed")
    peak = usage.ru_maxrss / 1024
    return time.monotonic() - start, usage.ru_utime + usage.ru_stime, peak, max(peak, sampled / 2**20)


cases = [
    ("plain -> .xlsx", [quarlex, plain, os.path.join(work, "plain.xlsx"), "/TYPE=2007", "/OVERWRITE=1",
                        "/SILENT"]),
    ("encrypted -> .xlsx", [quarlex, encrypted, os.path.join(work, "encrypted.xlsx"), "/TYPE=2007",
                            "/OVERWRITE=1", "/SILENT", f"/PASSWORD={PASSWORD}"]),
]
results = {label: [] for label, _ in cases}
for _ in range(args.runs):
    for label, command in cases:  # in turns, so that a machine changing speed changes both alike
        results[label].append(run_once(command))
for label, _ in cases:
    walls, cpus, peaks, withFiles = zip(*results[label])
    print(f"{label:20s} wall {statistics.median(walls):7.2f} s  cpu {statistics.median(cpus):6.2f} s  "
          f"peak RSS {max(peaks):7.1f} MB  with memory files {max(withFiles):7.1f} MB  "
          f"(runs: {', '.join(f'{t:.2f}' for t in walls)})")
subprocess.run([encryptor, "--pages", encrypted, PASSWORD], check=True)

if not args.keep:
    shutil.rmtree(work)
