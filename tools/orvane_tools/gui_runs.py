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
from .i18n import _
from .outcomes import window_words
from .review_canvas import file_head

TICK_MS = 100


class Runs(object):
    """The window's job and watcher. ``app`` gives the widgets (panes, review, watch panel, dialogs,
    form) and ``app.state`` the decisions; job records are kept in ``jobs_dir``."""

    def __init__(self, app, jobs_dir):
        self.app = app
        self.state = app.state
        self.jobs_dir = jobs_dir
        self.putting_back = None    # the page being put back (gui_put_back.PutBackJob)

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
        if question is not None and self.app.dialogs.ask(question, lambda: self.state.question_stands(job)):
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
        for name, words in job.new_file_lines():
            state.file_said(job, name, words)
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
            if not app.dialogs.ask(question, lambda: state.question_stands(subject)):
                return
            if state.close_confirmed(subject):  # (else it ended while the question was open)
                if subject is state.watcher:
                    self._stop_watching(closing=True)
                else:
                    self._cancel(subject)
                return  # `tick` closes the window once it has ended
        if state.idle:
            app.close_now()

    # -- a page put back from the review: that file split again on a thread of its own

    def put_back(self, f, page):
        from .gui_put_back import PutBackJob

        app = self.app
        if not self.state.idle or self.putting_back is not None:
            app.dialogs.error(_("A page can be put back once the job or watching has ended."))
            return
        token = app.form.current_token()
        if not token:
            app.dialogs.error(_("Paste the login token first: putting a page back splits its file again."))
            return
        try:
            self.putting_back = PutBackJob(app.review.record, f, page, app.form.values(), token)
        except (OSError, TypeError, ValueError) as exc:
            app.dialogs.error(_("The page could not be put back: {}").format(exc))
            return
        app.say(_("Putting page {page} of {file} back…").format(page=page, file=f.name))

    def _put_back_ended(self, put):
        self.putting_back = None
        key = put.end()
        if key != "finished":
            self.app.say(_("Page {page} of {file} was not put back: {why}").format(
                page=put.page, file=put.name, why=window_words(key)))
            return
        record = put.record
        f = next(f for f in record.file_records() if f.name == put.name)
        self.state.file_redone(put.name, lambda f=f: file_head(f))
        self.app.review.show(record)

    # -- the tick

    def tick(self):
        app, state = self.app, self.state
        try:
            job = state.job
            if job is not None:
                for line in job.messages.take():
                    app.details.add(line)
                job.tick()
                for name, words in job.new_file_lines():
                    state.file_said(job, name, words)
                state.job_progress(job, job.record)
                if job.finished.is_set() and job.messages.lines.empty():
                    self._ended(job)
            put = self.putting_back
            if put is not None:
                for line in put.messages.take():
                    app.details.add(line)
                if put.finished and put.messages.lines.empty():
                    self._put_back_ended(put)
            watcher = state.watcher
            if watcher is not None and app.panel.tick():
                self._watch_ended(watcher)
            app.review.tick()
        finally:
            if not app.destroyed:
                app.root.after(TICK_MS, self.tick)
