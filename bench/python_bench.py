#!/usr/bin/env python3
"""Reports over many mail captures: the Python package against cfdump, Dask
on two worker processes against one, and Python's email package.

    PYTHONPATH=build/python /usr/bin/python3 bench/python_bench.py
        [--captures 20000] [--size 21000] [--runs 3] [--email-runs 3]
        [--cfdump build/tools/cfdump/cfdump] [--dir /dev/shm/...]

Makes (or reuses) a set of mail captures of about 30 KB each, then runs
every contender `--runs` times, round-robin, so that a slow spell of the
shared machine hits all of them alike, and prints each one's median time,
the spread (fastest and slowest run) and the ratios of the targets:

  python loop / cfdump --json -j 1   contentfile.report() on every capture
                                     in one process of its own (timed from
                                     inside), against the tool writing the
                                     same reports (target 1.3)
  dask 1 worker / dask 2 workers     LocalCluster of single-threaded worker
                                     processes, started before timing
                                     (target 1.4)

The email package reads each message (after the log head) with the
default policy and collects what a report holds: the address fields, the
subject and the attachments' names and decoded sizes.
"""

import argparse
import email
import email.policy
import json
import os
import resource
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "python", "tests"))

import capture_maker  # noqa: E402
import contentfile  # noqa: E402

STAMP = "python_bench 1"


def make_corpus(folder, count, size):
    stamp = os.path.join(folder, "stamp")
    wanted = "%s %d %d\n" % (STAMP, count, size)
    if os.path.exists(stamp) and open(stamp).read() == wanted:
        return sorted(os.path.join(folder, "mail", n)
                      for n in os.listdir(os.path.join(folder, "mail")))
    mail = os.path.join(folder, "mail")
    os.makedirs(mail, exist_ok=True)
    for name in os.listdir(mail):
        os.unlink(os.path.join(mail, name))
    paths = []
    for i in range(count):
        path = os.path.join(mail, "m%06d.cf" % i)
        capture_maker.write_capture(
            path, capture_maker.log_head("POP3" if i % 4 == 1 else "SMTP"),
            capture_maker.message(i, size))
        paths.append(path)
    with open(stamp, "w") as f:
        f.write(wanted)
    return paths


def python_loop(paths):
    return [contentfile.report(p) for p in paths]


def python_objects(paths):
    """The object interface: what a script reads of each capture."""
    out = []
    for path in paths:
        with contentfile.open(path) as cap:
            log = cap.log
            out.append((log.src, log.src_port, cap.from_, cap.to, cap.subject,
                        [(a.name, a.stored_size) for a in cap.attachments]))
    return out


def cfdump_json(cfdump, folder):
    began_cpu = children_cpu()
    result = subprocess.run([cfdump, "info", "--json", "-j", "1", folder],
                            stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL, check=False)
    if result.returncode not in (0, 1):
        sys.exit("cfdump failed with status %d" % result.returncode)
    CPU_TIMES.setdefault("cfdump", []).append(children_cpu() - began_cpu)


def email_package(paths):
    out = []
    for path in paths:
        body = capture_maker.split_file(path)[1]
        message = email.message_from_bytes(body, policy=email.policy.default)
        attachments = [(part.get_filename(),
                        len(part.get_payload(decode=True) or b""))
                       for part in message.iter_attachments()]
        out.append((str(message["from"]), str(message["to"]),
                    str(message["cc"]), str(message["subject"]),
                    attachments))
    return out


CHILD_WORK = {"report": python_loop, "objects": python_objects,
              "email": email_package}


def in_child(work, folder):
    """Runs an in-process contender in a process of its own (the clusters'
    scheduler threads in this one would take turns with it for the GIL)
    and gives the time it measured there, interpreter start-up excluded."""
    result = subprocess.run(
        [sys.executable, os.path.abspath(__file__), "--child", work,
         "--dir", folder], capture_output=True, text=True, check=True)
    wall, cpu = map(float, result.stdout.split()[-2:])
    CPU_TIMES.setdefault(work, []).append(cpu)
    return wall


def run_child(work, folder):
    paths = sorted(os.path.join(folder, name) for name in os.listdir(folder))
    began, began_cpu = time.perf_counter(), time.process_time()
    CHILD_WORK[work](paths)
    print(time.perf_counter() - began, time.process_time() - began_cpu)


# CPU seconds of the runs, by contender: less disturbed than wall time by
# other work on a shared machine.
CPU_TIMES = {}


def children_cpu():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def dask_reports(client, folder):
    import contentfile.dask
    return contentfile.dask.reports([folder]).pluck(
        "status").frequencies().compute()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--captures", type=int, default=20000)
    parser.add_argument("--size", type=int, default=24000,
                        help="attachment bytes per message (about 30 KB "
                             "captures with the default)")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--email-runs", type=int, default=3)
    parser.add_argument("--cfdump", default=os.path.join(
        HERE, "..", "build", "tools", "cfdump", "cfdump"))
    parser.add_argument("--dir", default="/dev/shm/contentfile-python-bench")
    parser.add_argument("--child", choices=sorted(CHILD_WORK),
                        help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.child:
        run_child(args.child, args.dir)
        return

    start = time.perf_counter()
    paths = make_corpus(args.dir, args.captures, args.size)
    folder = os.path.join(args.dir, "mail")
    total = sum(os.path.getsize(p) for p in paths)
    print("%d captures, %.1f MB (mean %.1f KB); corpus ready in %.1f s"
          % (len(paths), total / 1e6, total / len(paths) / 1e3,
             time.perf_counter() - start))

    from dask.distributed import Client, LocalCluster
    clusters = {}
    for workers in (1, 2):
        cluster = LocalCluster(n_workers=workers, threads_per_worker=1,
                               processes=True, dashboard_address=":0")
        clusters[workers] = (cluster, Client(cluster, set_as_default=False))
        clusters[workers][1].wait_for_workers(workers)

    def with_client(workers):
        cluster, client = clusters[workers]
        def run():
            with client.as_current():
                import dask
                with dask.config.set(scheduler=client.get):
                    dask_reports(client, folder)
        return run

    contenders = {
        "python report() loop": lambda: in_child("report", folder),
        "python open() objects": lambda: in_child("objects", folder),
        "cfdump --json -j 1": lambda: cfdump_json(args.cfdump, folder),
        "dask, 1 worker": with_client(1),
        "dask, 2 workers": with_client(2),
        "email package": lambda: in_child("email", folder),
    }
    if args.email_runs == 0:
        del contenders["email package"]
    # The object interface needs the part list; leave it out where the
    # library does not have it.
    try:
        python_objects(paths[:1])
    except contentfile.Error:
        del contenders["python open() objects"]
    times = {name: [] for name in contenders}
    for run in range(max(args.runs, args.email_runs)):
        for name, work in contenders.items():
            runs = args.email_runs if name == "email package" else args.runs
            if run >= runs:
                continue
            began = time.perf_counter()
            measured = work()
            times[name].append(measured if measured is not None else
                               time.perf_counter() - began)
            print("  run %d %-24s %7.2f s" % (run + 1, name, times[name][-1]),
                  flush=True)
    for cluster, client in clusters.values():
        client.close()
        cluster.close()

    median = {name: statistics.median(t) for name, t in times.items()}
    print("\n%-24s %9s %9s %9s" % ("", "median s", "fastest", "slowest"))
    for name, t in times.items():
        print("%-24s %9.2f %9.2f %9.2f" % (name, median[name], min(t), max(t)))
    loop = median["python report() loop"] / median["cfdump --json -j 1"]
    scale = median["dask, 1 worker"] / median["dask, 2 workers"]
    email_ratio = (median["email package"] / median["python report() loop"]
                   if "email package" in median else float("nan"))
    cpu_loop = (statistics.median(CPU_TIMES["report"]) /
                statistics.median(CPU_TIMES["cfdump"]))
    print("\npython loop / cfdump: %.2fx (target at most 1.3); in CPU "
          "seconds %.2fx" % (loop, cpu_loop))
    print("dask 1 worker / 2 workers: %.2fx (target at least 1.4)" % scale)
    print("email package / python loop: %.1fx" % email_ratio)
    print(json.dumps({"loop_over_cfdump": round(loop, 3),
                      "loop_over_cfdump_cpu": round(cpu_loop, 3),
                      "dask_speedup": round(scale, 3),
                      "email_over_loop": round(email_ratio, 1),
                      "medians": median}))


if __name__ == "__main__":
    main()
