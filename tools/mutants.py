#!/usr/bin/env python3
"""Plants single-line faults in a copy of the source and runs the test suite against each.

Usage: tools/mutants.py [--list tools/mutants.txt] [--only N[,N...]] [--jobs 2]
                        [--timeout 120] [--check] [--keep]

Each fault in the list is one line of four fields separated by " | ":
    file | text as it stands in the file | text to put in its place | what the fault is
The text must occur exactly once in the file (after stripping the fields of the blanks around
" | "); a fault whose text is not found, or found twice, is reported as "stale" and not run.
Lines starting with "#" and blank lines are skipped.

The copy lives in build/mutants/src (tracked files of the working tree); it is built once with
the default preset and then rebuilt incrementally per fault. A fault counts as caught when the
build fails, any test fails, or a test runs past --timeout seconds; the report lists each fault
with its time and the tests that failed, then the score and every fault not caught.
--check only reports the faults whose text is not found exactly once, without building.
Standard library only.
"""

import argparse
import os
import shutil
import signal
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def run(cmd, cwd, timeout=None):
    # Own process group, so that a hanging suite is ended with every program it started.
    p = subprocess.Popen(cmd, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                         text=True, start_new_session=True)
    try:
        out, _ = p.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        os.killpg(p.pid, signal.SIGKILL)
        p.communicate()
        raise
    return p.returncode, out


def read_faults(path):
    faults = []
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if not line.strip() or line.lstrip().startswith("#"):
                continue
            parts = [p.strip() for p in line.split(" | ")]
            if len(parts) != 4:
                sys.exit("%s:%d: want 4 fields separated by ' | '" % (path, number))
            faults.append({"line": number, "file": parts[0], "old": parts[1], "new": parts[2],
                           "what": parts[3]})
    return faults


def copy_tree(dst):
    if os.path.isdir(dst):
        shutil.rmtree(dst)
    files = subprocess.run(["git", "ls-files", "-z"], cwd=ROOT, stdout=subprocess.PIPE,
                           check=True).stdout.decode().split("\0")
    for rel in files:
        if not rel or not os.path.exists(os.path.join(ROOT, rel)):
            continue
        os.makedirs(os.path.join(dst, os.path.dirname(rel)), exist_ok=True)
        shutil.copy2(os.path.join(ROOT, rel), os.path.join(dst, rel))


def failed_tests(output):
    names = []
    for line in output.splitlines():
        line = line.strip()
        # ctest: "12 - Suite.Name (Failed)"
        if line.endswith(("(Failed)", "(Timeout)", "(SEGFAULT)", "(Subprocess aborted)")):
            name = line.split(" - ", 1)[-1].rsplit(" (", 1)[0]
            names.append(name.split("  # GetParam()", 1)[0].strip())
    return names


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--list", default=os.path.join(ROOT, "tools", "mutants.txt"))
    ap.add_argument("--only", default="", help="run only these fault numbers (1-based)")
    ap.add_argument("--jobs", default=str(os.cpu_count() or 2))
    ap.add_argument("--timeout", default="120", help="seconds one test may take")
    ap.add_argument("--check", action="store_true", help="only check that each text is found")
    ap.add_argument("--keep", action="store_true", help="keep build/mutants afterwards")
    args = ap.parse_args()

    faults = read_faults(args.list)
    only = {int(n) for n in args.only.split(",") if n}
    if args.check:
        stale = 0
        for i, fault in enumerate(faults, 1):
            try:
                with open(os.path.join(ROOT, fault["file"]), encoding="utf-8") as f:
                    count = f.read().count(fault["old"])
            except OSError:
                count = 0
            if count != 1:
                stale += 1
                print("%3d stale (%d found) %s: %s" % (i, count, fault["file"], fault["old"]))
        print("%d faults, %d stale" % (len(faults), stale))
        return 1 if stale else 0
    print("faults from %s: %d" % (os.path.relpath(args.list, ROOT), len(faults)), flush=True)
    work = os.path.join(ROOT, "build", "mutants")
    src = os.path.join(work, "src")
    build = os.path.join(src, "build", "default")
    copy_tree(src)

    print("building the unchanged copy ...", flush=True)
    rc, out = run(["cmake", "--preset", "default"], src)
    if rc == 0:
        rc, out = run(["cmake", "--build", "--preset", "default", "-j", args.jobs], src)
    if rc == 0:
        rc, out = run(["ctest", "--preset", "default", "-j", args.jobs], src)
    if rc != 0:
        print(out[-3000:])
        sys.exit("mutants.py: the unchanged copy does not build or pass its tests")

    results = []
    for i, fault in enumerate(faults, 1):
        if only and i not in only:
            continue
        path = os.path.join(src, fault["file"])
        try:
            with open(path, encoding="utf-8") as f:
                text = f.read()
        except OSError:
            text = ""
        if text.count(fault["old"]) != 1:
            results.append((i, fault, "stale", []))
            print("%3d stale   %s" % (i, fault["what"]), flush=True)
            continue
        with open(path, "w", encoding="utf-8") as f:
            f.write(text.replace(fault["old"], fault["new"], 1))
        start = time.time()
        try:
            rc, out = run(["cmake", "--build", "--preset", "default", "-j", args.jobs], src)
            if rc != 0:
                verdict, names = "caught", ["(build fails)"]
            else:
                try:
                    rc, out = run(["ctest", "--preset", "default", "-j", args.jobs,
                                   "--timeout", args.timeout], src, timeout=900)
                    names = failed_tests(out)
                    verdict = "caught" if rc != 0 else "MISSED"
                except subprocess.TimeoutExpired:
                    verdict, names = "caught", ["(suite hangs)"]
        finally:
            with open(path, "w", encoding="utf-8") as f:
                f.write(text)
            os.utime(path)  # the next build must see the restored file as changed
        results.append((i, fault, verdict, names))
        print("%3d %-7s %s:%s  [%.0f s]%s" % (i, verdict, fault["file"], fault["what"],
                                             time.time() - start,
                                             ("  " + ", ".join(names[:3])) if names else ""),
              flush=True)

    ran = [r for r in results if r[2] != "stale"]
    caught = [r for r in ran if r[2] == "caught"]
    print()
    print("caught %d of %d faults (%d stale)" % (len(caught), len(ran),
                                                 len(results) - len(ran)))
    for i, fault, verdict, _ in results:
        if verdict != "caught":
            print("  %s %3d %s:%d %s: %s" % (verdict, i, os.path.basename(args.list),
                                            fault["line"], fault["file"], fault["what"]))
    if not args.keep:
        shutil.rmtree(work, ignore_errors=True)
    return 0 if len(caught) == len(ran) and len(ran) == len(results) else 1


if __name__ == "__main__":
    sys.exit(main())
