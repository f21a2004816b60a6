"""Why a source file was not split, in the user's words: from the `kind` the splitter gives in its
events, with what to do about it.

The splitter's reason is its own English text (it stays in its line, in Details and in the
watcher's status line, where scripts read it); the window shows these words instead, and falls back
to the splitter's text for a kind it does not know (an older or newer splitter)."""
from .i18n import N_, _

# kind -> (what is wrong, what to do)
KINDS = {
    "damaged": (N_("the file is damaged or not a PDF file"),
                N_("Scan the pages again, or save the file again from the program that made it.")),
    "encrypted": (N_("the file is protected by a password"),
                  N_("Ask the sender for the password or for a copy without one.")),
    "over-limits": (N_("the file is larger than the splitter can take"),
                    N_("Split it into smaller files and put those in the source folder.")),
    "unreadable": (N_("the file cannot be read"),
                   N_("Check that the file can be opened and that you may read it, then start again.")),
    "no-pages": (N_("the file has no pages"),
                 N_("Scan the pages again.")),
    "changed": (N_("the file changed while it was being split"),
                N_("Wait until the scanner has finished writing it, then start again.")),
    "unwritable": (N_("its documents cannot be written to the target folder"),
                   N_("Free some space in the target folder, or check that you may write there.")),
}


def reason_words(kind, reason):
    """What the window says after "NOT SPLIT": the kind's words and their hint, or the splitter's
    own reason when the kind is unknown."""
    if kind not in KINDS:
        return reason
    wrong, hint = KINDS[kind]
    return _("{reason}. {hint}").format(reason=_(wrong), hint=_(hint))
