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
STOPPING = "Stopping: ending the splitter and deleting its partial output…"
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
    ("running", ("stop_confirmed", JOB), True, {"mode": "stopping", "title": "Orvane – stopping",
                                                "status": STOPPING}, []),
    ("running", ("stop_confirmed", LATE), False, {}, []),                       # answered too late
    ("running", ("job_ended", JOB, "finished", DONE, None, True), gui_state.REVIEW, {
        "mode": "ended", "title": "Orvane – done", "status": DONE, "bar": 100.0, "buttons": "S-W"}, [DONE]),
    ("running", ("job_ended", JOB, "not-split", "Some not split.", None, False), None, {
        "mode": "ended", "title": "Orvane – done", "status": "Some not split.", "bar": 100.0, "buttons": "S-W"},
     ["Some not split."]),
    ("running", ("job_ended", JOB, "no-summary", "Ended early.", None, True), gui_state.REVIEW, {
        "mode": "ended", "title": "Orvane – incomplete", "status": "Ended early.", "buttons": "S-W"},
     ["Ended early."]),
    ("running", ("job_ended", JOB, "refused", "Refused.", ("a problem", "advice"), False), gui_state.REFUSED, {
        "mode": "ended", "title": "Orvane – refused", "status": "Refused.", "buttons": "S-W"}, ["Refused."]),
    ("stopping", ("job_ended", JOB, "cancelled", "Stopped.", None, True), None, {
        "mode": "ended", "title": "Orvane – stopped", "status": "Stopped.", "buttons": "S-W"}, ["Stopped."]),
    ("closing", ("job_ended", JOB, "cancelled", "Stopped.", None, True), gui_state.CLOSE, {
        "mode": "ended", "title": "Orvane – stopped", "status": "Stopped.", "buttons": "S-W"}, ["Stopped."]),
    ("ended", ("job_ended", JOB, "error", "Failed.", None, True), None, {}, []),   # the job ended already
    ("ended", ("review_state", "review"), None, {"title": "Orvane – review"}, []),
    ("ended", ("language_may_change",), True, {}, []),
    ("ended", ("language_changed",), None, {"mode": "ready", "status": "Ready.", "bar": 0.0}, []),
    ("running", ("language_may_change",), False, {}, ["The language changes when the window is opened again."]),
    ("ready", ("watch_started", WATCHER), None, {"mode": "watching", "status": "", "buttons": "--W", "box": True}, []),
    ("watching", ("watch_state", "splitting a.pdf"), None, {"title": "Orvane – splitting a.pdf"}, []),
    ("watching", ("progress", record(10)), None, {"bar": 50.0, "status": "10 of 20 pages, 0 of 2 files"}, []),
    ("watching a batch", ("progress", None), None, {"bar": 0.0, "status": ""}, []),  # the batch is over
    ("watching", ("watch_stop_asked", WATCHER), None, {"mode": "watch-stopping", "box": False}, []),
    ("watching", ("watch_ended", WATCHER), False, {"mode": "ready", "buttons": "S-W", "box": False}, []),
    ("watching", ("watch_ended", LATE), False, {}, []),
    ("watch-closing", ("watch_ended", WATCHER), True, {"mode": "ready", "buttons": "S-W", "box": False}, []),
    ("ready", ("close_question",), (None, None), {}, []),
    ("running", ("close_question",), (gui_state.CLOSE_RUNNING, JOB), {}, []),
    ("watching", ("close_question",), (gui_state.CLOSE_WATCHING, WATCHER), {}, []),
    ("closing", ("close_question",), (None, None), {}, []),                   # asked once
    ("ready", ("close_confirmed", LATE), False, {}, []),
])
def test_an_event_in_a_state(way_in, event, answer, changes, said):
    state = gui_state.WindowState()
    for step in WAYS_IN[way_in]:
        getattr(state, step[0])(*step[1:])
    before, lines = shown(state), list(state.lines)
    assert getattr(state, event[0])(*event[1:]) == answer
    after = shown(state)
    assert {k: v for k, v in after.items() if v != before[k]} == changes
    assert state.lines == lines + said


def test_no_other_thread_changes_the_state():
    state, caught = gui_state.WindowState(), []

    def elsewhere():
        try:
            state.say("a line")
        except RuntimeError as exc:
            caught.append(exc)

    worker = threading.Thread(target=elsewhere)
    worker.start()
    worker.join(10)
    assert caught and state.lines == []
