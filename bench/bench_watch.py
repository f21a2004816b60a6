"""Soak run of `orvane watch`: many small batches through one watcher, as a scanner drops them.

    python bench/bench_watch.py [--batches 1000] [--peer 100] [--splitter EXE] [--keep]

A Watcher runs in this process (settle 0, the usual log file) against the reference announcement
service in a child process and the real splitter. Each batch is a one- or two-document PDF dropped
into INBOX (written under a hidden name, then renamed in) when the batch before it has been
reported. Printed: resident memory at batch 100 and at the last batch, the batches per minute, and
the same batches through `orvane split` one by one (one command per batch, its own source folder)
as the peer measured in the same run, with the ratio of the two rates (above 1: the watcher is
faster). Memory is flat when the last figure stays within a few hundred KiB of the first; the same
batches run as bare module jobs in this process afterwards show what the module's jobs alone add.
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tools"))

from orvane_tools import frontend, samples, tokens, urldb, watch  # noqa: E402
from orvane_tools.job_runner import JobRun  # noqa: E402
from orvane_tools.job_settings import JobSettings  # noqa: E402

SECRET = "bench-secret-0123456789abcdef0123456789abcdef"


def resident_kib():
    with open("/proc/self/status") as fh:
        for line in fh:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def open_files():
    return len(os.listdir("/proc/self/fd"))


def batch_pdf(n):
    pages = [("doc", "Batch {} - page 1".format(n))]
    if n % 2:
        pages += [("sep", samples.PINK), ("doc", "Batch {} - second document".format(n))]
    return samples.build_pdf(pages)


def drop(folder, n):
    name = "batch{:05d}.pdf".format(n)
    hidden = os.path.join(folder, "." + name)
    with open(hidden, "wb") as fh:
        fh.write(batch_pdf(n))
    os.replace(hidden, os.path.join(folder, name))


def start_service(root):
    env = dict(os.environ, PYTHONPATH=os.path.join(ROOT, "tools"), ORVANE_SECRET=SECRET)
    port_file = os.path.join(root, "port")
    proc = subprocess.Popen([sys.executable, "-m", "orvane_tools", "serve", "--port", "0", "--port-file",
                             port_file, "--db", os.path.join(root, "announcements.db")],
                            env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    deadline = time.monotonic() + 30
    while not os.path.exists(port_file) and time.monotonic() < deadline:
        time.sleep(0.05)
    with open(port_file) as fh:
        port = int(fh.read())
    db = os.path.join(root, "url.db")
    urldb.write_url(db, "http://127.0.0.1:{}/commit".format(port))
    return proc, db


def soak(root, db, token, splitter, count):
    """Batches per minute, {batch number: (resident KiB, open files)} and the batches not finished
    of one watcher over ``count`` batches."""
    inbox, target = os.path.join(root, "inbox"), os.path.join(root, "out")
    os.makedirs(inbox)
    os.makedirs(target)
    memory = {}
    done = threading.Event()
    failed = []

    def next_batch(batch):
        if batch.status != watch.FINISHED:
            failed.append(batch)
        n = watcher.batches
        if n in (1, 100, count) or n % 250 == 0:
            memory[n] = (resident_kib(), open_files())
        if n >= count:
            done.set()
        else:
            drop(inbox, n + 1)

    settings = watch.Settings(inbox, target, token, db, splitter, settle=0, poll=0.01)
    watcher = watch.Watcher(settings, on_batch=next_batch)
    handler = watch.open_log(os.path.join(settings.state_dir, "watch.log"))
    started = time.monotonic()
    drop(inbox, 1)
    watcher.start()
    done.wait(count * 10)
    elapsed = time.monotonic() - started
    watcher.stop(60)
    watch.LOG.removeHandler(handler)
    handler.close()
    if watcher.batches < count:
        raise SystemExit("soak: {} of {} batches, failures: {}".format(watcher.batches, count, failed[:3]))
    return count / elapsed * 60, memory, failed


def bare_jobs(root, db, token, splitter, count):
    """The same batches as bare module jobs in this process, one after the other (no watching, no
    journal, no moves): batches per minute and {batch number: (resident KiB, open files)}."""
    import io
    import Orvane

    target = os.path.join(root, "bare-out")
    os.makedirs(target)
    memory = {}
    started = time.monotonic()
    for n in range(1, count + 1):
        src = os.path.join(root, "bare-src", str(n))
        os.makedirs(src)
        drop(src, n)
        sink = frontend.JobSink(io.StringIO(), token=token)
        job = JobSettings(source=src, target=target, workers=1, urldb=db, splitter=splitter)
        JobRun(lambda: job.controller(sink, token, controller_class=Orvane.orvaneClass)).start().finished.wait()
        if n in (1, 100, count) or n % 250 == 0:
            memory[n] = (resident_kib(), open_files())
    return count / (time.monotonic() - started) * 60, memory


def growth(memory, count):
    first, last = memory.get(100, memory[count]), memory[count]
    return "growth from batch 100 to batch {}: {:+d} KiB; open files {} and {}".format(
        count, last[0] - first[0], first[1], last[1])


def peer(root, db, token, splitter, count):
    """Batches per minute of `orvane split`, one command per batch."""
    env = dict(os.environ, PYTHONPATH=os.path.join(ROOT, "tools"), ORVANE_TOKEN=token)
    target = os.path.join(root, "peer-out")
    os.makedirs(target)
    started = time.monotonic()
    for n in range(1, count + 1):
        src = os.path.join(root, "peer-src", str(n))
        os.makedirs(src)
        drop(src, n)
        done = subprocess.run([sys.executable, "-m", "orvane_tools", "split", src, target, "--workers", "1",
                               "--urldb", db, "--splitter", splitter, "--no-progress"],
                              cwd=root, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        if done.returncode:
            raise SystemExit("peer: batch {} ended with {}: {}".format(n, done.returncode, done.stderr[-500:]))
    return count / (time.monotonic() - started) * 60


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--batches", type=int, default=1000)
    parser.add_argument("--peer", type=int, default=100, help="batches through `orvane split` (default 100)")
    parser.add_argument("--splitter", default=shutil.which("orvaneFun.exe") or
                        os.path.join(os.path.dirname(sys.executable), "orvaneFun.exe"))
    parser.add_argument("--keep", action="store_true", help="keep the run's folder")
    args = parser.parse_args()
    args.splitter = os.path.abspath(args.splitter)

    root = tempfile.mkdtemp(prefix="orvane-soak-")
    os.chdir(root)
    service, db = start_service(root)
    try:
        token = tokens.issue(SECRET, "soak", 24 * 3600)
        rate, memory, failed = soak(root, db, token, args.splitter, args.batches)
        bare_rate, bare_memory = bare_jobs(root, db, token, args.splitter, args.batches)
        peer_rate = peer(root, db, token, args.splitter, args.peer)
    finally:
        service.terminate()
        service.wait(30)
        if not args.keep:
            shutil.rmtree(root, ignore_errors=True)

    print("orvane watch, {} batches (Python {}.{})".format(args.batches, *sys.version_info[:2]))
    print("  resident memory: " + ", ".join("batch {}: {} KiB".format(n, kib)
                                            for n, (kib, _fds) in sorted(memory.items())))
    print("  " + growth(memory, args.batches))
    print("  watcher: {:.1f} batches per minute".format(rate))
    # On a shared machine another program's "end every orvaneFun.exe" can end a splitter: such a
    # batch must go to the failed folder, and is counted here.
    print("  batches not finished: {}{}".format(len(failed), "".join("\n    " + watch.format_status(b)
                                                                     for b in failed[:5])))
    print("  peer, `orvane split` per batch ({} batches): {:.1f} batches per minute".format(args.peer, peer_rate))
    print("  ratio watcher / peer: {:.2f}".format(rate / peer_rate))
    print("the same batches as bare module jobs in this process, after the watcher:")
    print("  resident memory: " + ", ".join("batch {}: {} KiB".format(n, kib)
                                            for n, (kib, _fds) in sorted(bare_memory.items())))
    print("  " + growth(bare_memory, args.batches))
    print("  {:.1f} batches per minute; ratio watcher / bare jobs: {:.2f}".format(bare_rate, rate / bare_rate))
    if args.keep:
        print("  run folder kept: " + root)


if __name__ == "__main__":
    main()
