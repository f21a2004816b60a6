"""Lines of text that fit a width, broken as Chinese is: a closing mark ("。", "，", "）" ...) never
begins a line and an opening one ("（", "《" ...) never ends one; a Chinese text may break between any
two characters, a Latin word only at a blank.

Tk breaks a label's text at blanks, and between any two characters of a run too long for the line,
so a lone "。" can start a line. The window's wrapping labels and its dialogs (on X11, where Tk draws
them itself) give Tk lines broken here instead. Nothing here knows about Tk: ``measure(text)`` is
the text's width in the font it is shown in."""
import re

CLOSING = set("。，、；：！？）》」』】〕〉’”…‥·％,.;:!?)]}%")
OPENING = set("（《「『【〔〈‘“([{")
_WIDE = "\u2e80-\u9fff\uf900-\ufaff\ufe30-\ufe4f\uff00-\uffef\u3000-\u303f\u2018-\u201d\u2026"
# A Latin word with the blanks after it, a run of blanks, or one character of a wide script.
_UNIT = re.compile(r"[^\s" + _WIDE + r"]+\s*|\s+|.", re.S)


def units(paragraph):
    """The pieces a line may not be broken inside: closing marks kept with what comes before them,
    opening marks with what comes after."""
    pieces = []
    for unit in _UNIT.findall(paragraph):
        if pieces and (unit[0] in CLOSING or pieces[-1].rstrip()[-1:] in OPENING):
            pieces[-1] += unit
        else:
            pieces.append(unit)
    return pieces


def break_lines(text, width, measure):
    """``text`` as lines no wider than ``width`` (a piece wider than a whole line stands alone, cut
    where it must be); the text's own line ends are kept."""
    lines = []
    for paragraph in text.split("\n"):
        line = ""
        for unit in units(paragraph):
            if line and measure((line + unit).rstrip()) > width:
                lines.append(line.rstrip())
                line = unit.lstrip()
            else:
                line += unit
            while len(line) > 1 and measure(line.rstrip()) > width:
                cut = max(1, next((n for n in range(len(line) - 1, 0, -1) if measure(line[:n]) <= width), 1))
                lines.append(line[:cut])
                line = line[cut:]
        lines.append(line.rstrip())
    return lines
