"""The window's state without a display: each event in each state, what it answers, and what of the
window it changes (title, the line under the bar, the bar, the buttons, the Watch box, new lines)."""
import threading

import pytest

import toolsupport  # noqa: F401  (tools/ on sys.path)
from orvane_tools import events, gui_state


def record(looked):
    return events.JobRecord(clock=lambda: 0.0).apply_all([
        {"event": "start", "files": ["a.pdf", "b.pdf"]}, {"event": "pages", "file": "a.pdf", "pages": 10},
        {"event": "looked", "file": "a.pdf", "pages": looked}, {"event": "total", "pages": 20}])


JOB, LATE, WATCHER = "job", "an earlier job", "watcher"   # stand-ins: the state never looks inside
DONE = "Done: every file split."
ENDED, READY = {"mode": "ended", "buttons": "S-W"}, {"mode": "ready", "buttons": "S-W", "box": False}
WAYS_IN = {"ready": [], "running": [("job_started", JOB, "/s", "/t")],
           "stopping": [("job_started", JOB, "/s", "/t"), ("stop_confirmed", JOB)],
           "closing": [("job_started", JOB, "/s", "/t"), ("close_confirmed", JOB), ("stop_confirmed", JOB)],
           "ended": [("job_started", JOB, "/s", "/t"), ("job_ended", JOB, "finished", DONE, None, True)],
           "watching": [("watch_started", WATCHER)],
           "watching a batch": [("watch_started", WATCHER), ("progress", record(10))],
           "watch-closing": [("watch_started", WATCHER), ("close_confirmed", WATCHER)]}


def shown(s):
    return {"mode": s.mode, "title": s.title, "status": s.status, "bar": s.bar, "box": s.watch_box,
            "buttons": "".join("SPW"[i] if on else "-" for i, on in enumerate(s.buttons.values()))}


@pytest.mark.parametrize("way_in, event, answer, changes, said", [
    ("ready", ("job_started", JOB, "/s", "/t"), None, {"mode": "running", "title": "Orvane – splitting", "status":
     "Checking the job and announcing it…", "buttons": "-P-"}, ["Job: /s → /t"]),
    ("running", ("job_progress", JOB, record(5)), None, {"bar": 25.0, "status": "5 of 20 pages, 0 of 2 files"}, []),
    ("running", ("job_progress", JOB, events.JobRecord()), None, {}, []),     # nothing opened yet: kept
    ("stopping", ("job_progress", JOB, record(5)), None, {}, []),              # stopped: the bar stays
    ("running", ("stop_question",), gui_state.STOP_QUESTION, {}, []),
    ("stopping", ("stop_question",), None, {}, []),
    ("running", ("stop_confirmed", JOB), True, {"mode": "stopping", "title": "Orvane – stopping", "status":
     "Stopping: ending the splitter and deleting its partial output…"}, []),
    ("running", ("stop_confirmed", LATE), False, {}, []),                       # answered too late
    ("running", ("job_ended", JOB, "finished", DONE, None, True), gui_state.REVIEW,
     dict(ENDED, title="Orvane – done", status=DONE, bar=100.0), [DONE]),
    ("running", ("job_ended", JOB, "not-split", "Not all.", None, False), None,
     dict(ENDED, title="Orvane – done", status="Not all.", bar=100.0), ["Not all."]),
    ("running", ("job_ended", JOB, "no-summary", "Early.", None, True), gui_state.REVIEW,
     dict(ENDED, title="Orvane – incomplete", status="Early."), ["Early."]),
    ("running", ("job_ended", JOB, "refused", "No.", ("a problem", "advice"), False), gui_state.REFUSED,
     dict(ENDED, title="Orvane – refused", status="No."), ["No."]),
    ("stopping", ("job_ended", JOB, "cancelled", "Stopped.", None, True), None,
     dict(ENDED, title="Orvane – stopped", status="Stopped."), ["Stopped."]),
    ("closing", ("job_ended", JOB, "cancelled", "Stopped.", None, True), gui_state.CLOSE,
     dict(ENDED, title="Orvane – stopped", status="Stopped."), ["Stopped."]),
    ("ended", ("review_state", "review"), None, {"title": "Orvane – review"}, []),
    ("ended", ("language_changed",), None, {"mode": "ready", "status": "Ready.", "bar": 0.0}, []),
    ("running", ("language_may_change",), False, {}, ["The language changes when the window is opened again."]),
    ("ready", ("watch_started", WATCHER), None, {"mode": "watching", "status": "", "buttons": "--W", "box": True}, []),
    ("watching", ("watch_state", "splitting a.pdf"), None, {"title": "Orvane – splitting a.pdf"}, []),
    ("watching a batch", ("progress", None), None, {"bar": 0.0, "status": ""}, []),  # (its batch is over)
    ("watching", ("watch_stop_asked", WATCHER), None, {"mode": "watch-stopping", "box": False}, []),
    ("watching", ("watch_ended", WATCHER), False, READY, []),
    ("watch-closing", ("watch_ended", WATCHER), True, READY, []),
    ("running", ("close_question",), (gui_state.CLOSE_RUNNING, JOB), {}, []),
    ("watching", ("close_question",), (gui_state.CLOSE_WATCHING, WATCHER), {}, []),
    ("closing", ("close_question",), (None, None), {}, []),                   # asked once
    ("ready", ("close_confirmed", LATE), False, {}, []),
])
def test_an_event_in_a_state(way_in, event, answer, changes, said):
    state = gui_state.WindowState()
    for name, *args in WAYS_IN[way_in]:
        getattr(state, name)(*args)
    before, lines = shown(state), list(state.lines)
    assert getattr(state, event[0])(*event[1:]) == answer
    assert {k: v for k, v in shown(state).items() if v != before[k]} == changes and state.lines == lines + said


def test_no_other_thread_changes_the_state():
    state, caught = gui_state.WindowState(), []
    worker = threading.Thread(target=lambda: caught.append(pytest.raises(RuntimeError, state.say, "a line")))
    worker.start()
    worker.join(10)
    assert caught and state.lines == []



def job_into(target, left, ended=True, failed=0):
    """The record of a job into ``target`` that wrote a/a_1.pdf and a/a_2.pdf, ``left`` of them still there."""
    (target / "a").mkdir(parents=True)
    for n in range(1, left + 1):
        (target / "a" / "a_{}.pdf".format(n)).write_bytes(b"%PDF-")
    docs = [{"name": "a_{}.pdf".format(n), "first": n, "last": n} for n in (1, 2)]
    return events.JobRecord().apply_all([{"event": "start", "target": str(target), "files": ["a.pdf"]},
                                         {"event": "file", "file": "a.pdf", "folder": "a", "documents": docs}]
                                        + [{"event": "not split", "file": "b{}.pdf".format(n)} for n in range(failed)]
                                        + [{"event": "end"}] * ended)


@pytest.mark.parametrize("jobs, shown, why", [
    ([], None, None),
    ([(1,), (2,)], 0, None),                                          # the latest, as ever
    ([(0, False), (2,)], 1, "was stopped, or ended, before it had finished, and its documents were deleted"),
    ([(0, True, 2), (2,)], 1, "could not split its files"),
    ([(0,), (2,)], 1, "has no documents left in the folder"),
    ([(0, False), (0,)], 0, None),                                    # none left: the latest
])
def test_the_review_shows_the_latest_job_that_left_documents(tmp_path, jobs, shown, why):
    records = [job_into(tmp_path / str(n), *job) for n, job in enumerate(jobs)]
    record, said = gui_state.review_choice((1e9 - n, r) for n, r in enumerate(records))  # newest first
    assert record is (records[shown] if records else None)
    assert said == (why and "The latest job into this folder ({}) {}. Shown instead: the last job that wrote "
                    "documents, {}.".format(gui_state.job_words(1e9, records[0]), why,
                                            gui_state.job_words(1e9 - shown, records[shown])))
