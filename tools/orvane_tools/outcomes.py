"""Every way a job can end, and what each front end makes of it: the one table of outcomes.

`classify` says which way a job that has ended went, from what its message sink noted; the table
gives that ending's exit status (of `orvane split`), the watcher's status word, the window's words
and the window's title word. The front ends only word an ending: none of them decides one."""
import collections

from .i18n import N_, _, ngettext

# Exit statuses of `orvane split`.
EXIT_OK = 0
EXIT_ERROR = 1        # the job raised: a bug or an environment fault; the traceback is printed
EXIT_USAGE = 2        # bad command line (argparse uses 2 as well)
EXIT_REFUSED = 3      # the announcement service refused the token or could not be reached
EXIT_CHECKS = 4       # the job's input was refused: folders, file names, worker count, splitter
EXIT_SPLITTER = 5     # the splitter stage failed; the module wrote an error log
EXIT_INCOMPLETE = 6   # the job ran, but the splitter named source files it could not split
EXIT_NOTHING = 7      # the source folder holds no PDF file: nothing was announced or split
EXIT_CANCELLED = 130  # stopped by Ctrl-C (128 + SIGINT), partial output deleted

# ``status``: the exit status; ``watch``: the watcher's status word (the same in every language:
# scripts read it); ``window``: the window's line, marked for the catalogues; ``title``: the state
# the window's title shows. "finished" is said only when the splitter's summary line came.
Outcome = collections.namedtuple("Outcome", "status watch window title")
OUTCOMES = {
    "finished": Outcome(EXIT_OK, "finished", N_("Done: every file split."), "done"),
    "not-split": Outcome(EXIT_INCOMPLETE, "not-split", N_("Finished, but some files could not be split."), "done"),
    "nothing": Outcome(EXIT_NOTHING, "empty", N_("Nothing to do: the source folder holds no PDF file."),
                       "nothing to do"),
    "cancelled": Outcome(EXIT_CANCELLED, "restored",
                         N_("Stopped. The folders the job had made in the target folder were deleted."), "stopped"),
    "refused": Outcome(EXIT_REFUSED, "refused", N_("Job refused by the announcement service."), "refused"),
    "refused-input": Outcome(EXIT_CHECKS, "refused-input", N_("Job refused: an input must be corrected."),
                             "refused"),
    "no-summary": Outcome(EXIT_SPLITTER, "no-summary", N_("The splitter ended before it had finished (see Details)."),
                          "incomplete"),
    "error": Outcome(EXIT_ERROR, "failed", N_("The job ended with an error (see Details)."), "failed"),
}


def classify(sink, controller, failure, cancelled):
    """How a job that has ended went: (a key of OUTCOMES, the one-line summary). ``sink`` is the
    job's `frontend.JobSink` (or one like it), ``failure`` true when the job's run raised and
    ``cancelled`` when it was stopped on purpose."""
    if cancelled:
        return "cancelled", _("job cancelled; folders it had made in the target folder were deleted")
    if failure:
        return "error", _("the job stopped with an error")
    if sink.check_failure:
        return "refused-input", _("job refused: {}").format(_(sink.check_failure))
    if sink.exe_missing:
        return "refused-input", _("job refused: the splitter program does not exist "
                                  "(give --splitter or put orvaneFun.exe on PATH)")
    if sink.refusal and not sink.refused_after_done:
        return "refused", _("job refused: {}").format(_(sink.refusal))
    if sink.splitter_failed:
        return "no-summary", _("the splitter stage failed; see the error log named above")
    if sink.splitter_started and not sink.summary_seen:
        return "no-summary", _("the splitter ended without its summary line (it was ended from outside, "
                               "crashed or refused its arguments); nothing is known to be split")
    if sink.refusal:
        return "refused", _("the split ran, but the end of the job was not recorded: {}").format(_(sink.refusal))
    if not (sink.done and getattr(controller, "run_code", 0)):
        return "error", _("the job ended without finishing (see the messages above)")
    if sink.summary_files == 0:
        return "nothing", _("nothing to do: the source folder holds no PDF file")
    if sink.not_split:
        return "not-split", ngettext("job finished, but {} source file could not be split (see above)",
                                     "job finished, but {} source files could not be split (see above)",
                                     sink.not_split).format(sink.not_split)
    return "finished", _("job finished")


def window_words(key):
    """The window's line for an ending, in the user's language."""
    return _(OUTCOMES[key].window)
