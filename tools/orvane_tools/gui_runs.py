"""What the window's buttons set going, and the tick that follows it: a job, the source folder's
watcher, and the window's closing around them.

Between threads: the job runs the module on a thread of its own, the watcher on another, the
review's thumbnails on a third. None of them touches a widget or the window's state. The job's
thread writes only into its sink (a queue) and sets the job's `controller` as the module starts,
its `failure` and then `finished` as it ends; the splitter writes the job's events file; the watcher
and the thumbnails queue their reports. The Tk thread takes it all in `Runs.tick`, every TICK_MS:
the queues and the events file while the job runs, its `failure` and its outcome only once
`finished` is set and its queue is empty; it reaches `controller` only to stop the job
(`Job.cancel`). The state (gui_state) refuses a change from any other thread."""
import os
import time

from . import events, gui_job
from .gui_state import CLOSE, REFUSED, REVIEW, WATCHING, refusal_notice

TICK_MS = 100


class Runs(object):
    """The window's job and watcher. ``app`` gives the widgets (panes, review, watch panel, dialogs,
    form) and ``app.state`` the decisions; job records are kept in ``jobs_dir``."""

    def __init__(self, app, jobs_dir):
        self.app = app
        self.state = app.state
        self.jobs_dir = jobs_dir

    # -- the job

    def start(self):
        app, state = self.app, self.state
        if not state.idle:
            return
        checked = app.checked_values()
        if checked is None:
            return
        v, token = checked
        if not app.form.job(v).has_work():
            app.review.clear()
            state.nothing_to_do(v["source"], v["target"])
            return
        os.makedirs(self.jobs_dir, exist_ok=True)
        events.prune_records(self.jobs_dir)
        events_path = os.path.join(self.jobs_dir, "{}-{}-{:03d}.jsonl".format(
            time.strftime("%Y%m%d-%H%M%S"), os.getpid(), int(time.time() * 1000) % 1000))
        job = gui_job.Job(v, token, events_path)
        job.run.__enter__()
        app.review.clear()
        app.details.add("— {} → {}".format(v["source"], v["target"]))
        state.job_started(job, v["source"], v["target"])
        job.thread.start()

    def stop(self):
        job, question = self.state.job, self.state.stop_question()
        if question is not None and self.app.dialogs.ask(question):
            self._cancel(job)

    def _cancel(self, job):
        if self.state.stop_confirmed(job):
            job.cancel()

    def _ended(self, job):
        app, state = self.app, self.state
        job.run.__exit__(None, None, None)
        job.record.apply_all(job.tail.poll())
        if job.failure:
            app.details.add(job.failure.rstrip())
        for line in job.new_file_lines():
            state.say(line)
        key, words, refused = job.outcome()
        follows = state.job_ended(job, key, words, refused, bool(job.record.files))
        if follows == CLOSE:
            self.close()
        elif follows == REFUSED:
            app.dialogs.error(refusal_notice(refused))
        elif follows == REVIEW:
            app.review.show(job.record)

    # -- watching the source folder: each complete PDF dropped into it is split as its own job

    def toggle_watch(self):
        app, state = self.app, self.state
        if state.watcher is not None:
            if state.mode == WATCHING:
                self._stop_watching()
        elif state.job is None:
            checked = app.checked_values()
            if checked is not None:
                problem = app.panel.start(checked[0], app.form.token_source(), checked[1])
                if problem:
                    app.dialogs.error(problem)
                else:
                    state.watch_started(app.panel.watcher)
        app.apply()  # the box shows the state again, whatever the click made of it

    def _stop_watching(self, closing=False):
        self.app.panel.stop(closing=closing)
        self.state.watch_stop_asked(self.state.watcher)

    def _watch_ended(self, watcher):
        self.app.panel.ended()
        if self.state.watch_ended(watcher):
            self.close()

    # -- closing the window: a job or a watcher is stopped first, and the window closes once it has ended

    def close(self):
        app, state = self.app, self.state
        question, subject = state.close_question()
        if question is not None:
            if not app.dialogs.ask(question):
                return
            if state.close_confirmed(subject):  # (else it ended while the question was open)
                if subject is state.watcher:
                    self._stop_watching(closing=True)
                else:
                    self._cancel(subject)
                return  # `tick` closes the window once it has ended
        if state.idle:
            app.close_now()

    # -- the tick

    def tick(self):
        app, state = self.app, self.state
        try:
            job = state.job
            if job is not None:
                for line in job.messages.take():
                    app.details.add(line)
                job.tick()
                for line in job.new_file_lines():
                    state.say(line)
                state.job_progress(job, job.record)
                if job.finished.is_set() and job.messages.lines.empty():
                    self._ended(job)
            watcher = state.watcher
            if watcher is not None and app.panel.tick():
                self._watch_ended(watcher)
            app.review.tick()
        finally:
            if not app.destroyed:
                app.root.after(TICK_MS, self.tick)
