"""Races: many jobs and stops at once, on one controller and on several.

Threads call run and stopCut in loops for a few seconds, with the real token service on 127.0.0.1
and the real orvaneFun.exe stand-in (which makes folders in the save folder and takes a moment, so
that stops land while it runs). What must hold: no crash (each scenario runs in a forked child, so
a crash fails the test with its signal), no deadlock (every thread ends soon after the deadline),
run never raises, stopCut always returns None, and every folder that was in a save folder before
its jobs started is still there, with its content.

stopCut ends every orvaneFun.exe of the user on this machine, so the scenarios are kept short.
"""
import os
import random
import sys
import threading
import time

import pytest

from test_hostile_input import Job, isolated, quiet_stderr

DURATION = 5.0        # seconds of calls per scenario
JOIN_LIMIT = 30.0     # a thread still busy this long after the deadline is stuck


class DropSink(object):
    """Keeps nothing but counts the splitter's two lines: a job whose splitter was ended between
    them relays the first only."""

    def __init__(self):
        self.calls = 0
        self.first = 0
        self.second = 0

    def mainPrint(self, *args):
        self.calls += 1
        if args == ("page 1\n",):
            self.first += 1
        elif args == ("page 2\n",):
            self.second += 1


class Worker(threading.Thread):
    """Calls ``step()`` until the deadline; keeps every exception."""

    def __init__(self, name, step, deadline, pause=0.0):
        threading.Thread.__init__(self, name=name, daemon=True)
        self.step = step
        self.deadline = deadline
        self.pause = pause
        self.count = 0
        self.errors = []
        self.results = []

    def run(self):
        rng = random.Random(self.name)
        while time.monotonic() < self.deadline:
            try:
                result = self.step()
                if result is not None:
                    self.results.append(result)
            except BaseException as exc:  # reported by the test
                self.errors.append("%s: %r" % (self.name, exc))
            self.count += 1
            if self.pause:
                time.sleep(rng.uniform(0, self.pause))


def run_workers(workers):
    for w in workers:
        w.start()
    stuck = []
    for w in workers:
        w.join(max(w.deadline - time.monotonic(), 0) + JOIN_LIMIT)
        if w.is_alive():
            stuck.append(w.name)
    return stuck


def splitter_script(job, tag):
    """The stand-in makes two folders in the save folder, prints, and takes a moment."""
    script = job.standin.configure(record_argv=False)
    script.mkdir("out-%s" % tag).mkdir("out-%s/part/deeper" % tag)
    script.out("page 1\n").sleep(0.15).out("page 2\n")
    return script


def _one_controller(root, exe):
    job = Job(root, exe)
    err = quiet_stderr()
    try:
        splitter_script(job, "one")
        sink = DropSink()
        ctl = job.ctl(communication=sink)
        deadline = time.monotonic() + DURATION

        def mutate():
            # Other paths of the job at the same time: the worker-count refusal (G1/G2) and the
            # logged splitter-stage failure (G3); the flag is raised again for the next job.
            choice = random.random()
            if choice < 0.2:
                ctl.processors = "x"
            elif choice < 0.4:
                ctl.COLOR_THRESHHOLD = "abc"
            else:
                ctl.processors, ctl.COLOR_THRESHHOLD = 1, 19
            ctl.run_code = 1

        workers = ([Worker("run-%d" % i, ctl.run, deadline) for i in range(3)]
                   + [Worker("stop-%d" % i, ctl.stopCut, deadline, pause=0.05) for i in range(2)]
                   + [Worker("mutate", mutate, deadline, pause=0.2)])
        stuck = run_workers(workers)
        errors = [e for w in workers for e in w.errors]
        returned = [r for w in workers if w.name.startswith("stop") for r in w.results]
        counts = dict((w.name, w.count) for w in workers)
        assert not stuck, "threads still busy %ss after the deadline: %s" % (JOIN_LIMIT, stuck)
        assert not errors, errors[:5]
        assert not returned, "stopCut returned %r" % returned[:3]
        assert job.markers_intact(), os.listdir(job.save)
        # One last stop after all jobs. (What it deletes depends on the last snapshot: a job
        # that started while an earlier job's folder was there counts that folder as old.)
        assert ctl.stopCut() is None
        assert job.markers_intact()
        return counts, len(job.server.requests), (sink.first, sink.second)
    finally:
        job.stop()


def test_runs_and_stops_on_one_controller(tmp_path, standin_exe):
    counts, requests, lines = isolated(_one_controller, tmp_path, standin_exe,
                                       timeout=DURATION + 60)
    print("one controller: calls %s, service requests %d, splitters that printed their first "
          "line %d, their second %d" % (counts, requests, lines[0], lines[1]))
    # Stops landed while splitters ran.
    assert lines[0] > lines[1]
    assert sum(v for k, v in counts.items() if k.startswith("run")) >= 3
    assert sum(v for k, v in counts.items() if k.startswith("stop")) >= 3


def _several_controllers(root, exe):
    job = Job(root, exe)
    err = quiet_stderr()
    try:
        # Two controllers share one save folder, a third has its own; a fourth never runs (its
        # stops take the except path: no snapshot).
        other_save = os.path.join(job.root, "save-b")
        os.makedirs(os.path.join(other_save, "kept-b", "inner"))
        with open(os.path.join(other_save, "kept-b", "inner", "data.bin"), "wb") as fh:
            fh.write(b"existing output")
        job.markers.append(os.path.join(other_save, "kept-b"))
        splitter_script(job, "many")
        sinks = [DropSink() for _ in range(4)]
        ctls = [job.ctl(communication=sinks[0]), job.ctl(communication=sinks[1]),
                job.ctl(communication=sinks[2], save_pic_path=other_save),
                job.ctl(communication=sinks[3])]
        deadline = time.monotonic() + DURATION
        rng = random.Random(8)

        def stop_any():
            return rng.choice(ctls).stopCut()

        workers = ([Worker("run-%d" % i, ctls[i].run, deadline) for i in range(3)]
                   + [Worker("run-0-again", ctls[0].run, deadline)]
                   + [Worker("stop-%d" % i, stop_any, deadline, pause=0.05) for i in range(3)])
        stuck = run_workers(workers)
        errors = [e for w in workers for e in w.errors]
        returned = [r for w in workers if w.name.startswith("stop") for r in w.results]
        counts = dict((w.name, w.count) for w in workers)
        assert not stuck, "threads still busy %ss after the deadline: %s" % (JOIN_LIMIT, stuck)
        assert not errors, errors[:5]
        assert not returned, "stopCut returned %r" % returned[:3]
        assert job.markers_intact()
        for ctl in ctls:
            assert ctl.stopCut() is None
        assert job.markers_intact()
        assert not hasattr(ctls[3], "oldDir")
        return (counts, len(job.server.requests),
                (sum(s.first for s in sinks), sum(s.second for s in sinks)))
    finally:
        job.stop()


def test_runs_and_stops_on_several_controllers(tmp_path, standin_exe):
    counts, requests, lines = isolated(_several_controllers, tmp_path, standin_exe,
                                       timeout=DURATION + 60)
    print("several controllers: calls %s, service requests %d, splitters that printed their "
          "first line %d, their second %d" % (counts, requests, lines[0], lines[1]))
    assert lines[0] > lines[1]
    assert all(v >= 1 for k, v in counts.items())


class _PathAtTheGate(object):
    """os.path whose exists("database") holds every caller until all of them have asked."""

    def __init__(self, real, barrier):
        self._real = real
        self._barrier = barrier

    def exists(self, path):
        answer = self._real.exists(path)
        if path == "database":
            self._barrier.wait(10)
        return answer

    def __getattr__(self, name):
        return getattr(self._real, name)


class _OsAtTheGate(object):
    def __init__(self, real, barrier):
        self.path = _PathAtTheGate(real.path, barrier)
        self._real = real

    def __getattr__(self, name):
        return getattr(self._real, name)


def _two_jobs_make_the_working_folder(root, exe):
    import Orvane
    job = Job(root, exe)
    try:
        assert not os.path.exists(os.path.join(job.root, "database"))
        job.standin.configure(record_argv=False, out="page 1\n")
        # Both jobs find "database" missing before either makes it: the window any two jobs
        # starting at the same moment in a fresh working directory have.
        Orvane.os = _OsAtTheGate(os, threading.Barrier(2))
        ctls = [job.ctl(communication=DropSink()) for _ in range(2)]
        errors = []

        def one_job(ctl):
            try:
                ctl.true_run()
            except BaseException as exc:  # reported below
                errors.append(repr(exc))

        threads = [threading.Thread(target=one_job, args=(c,), daemon=True) for c in ctls]
        for t in threads:
            t.start()
        for t in threads:
            t.join(JOIN_LIMIT)
        assert not [t for t in threads if t.is_alive()], "a job did not end"
        assert not errors, errors
        assert os.path.isdir(os.path.join(job.root, "database"))
        assert all(c.run_code == 1 for c in ctls)
    finally:
        job.stop()


def test_two_jobs_making_the_working_folder_at_once(tmp_path, standin_exe):
    isolated(_two_jobs_make_the_working_folder, tmp_path, standin_exe)
