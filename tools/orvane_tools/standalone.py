"""Running the Orvane module's stand-alone block.

The block runs only when the module is executed under the name "__main__". `python -m Orvane` cannot
do that for an extension module (runpy wants a code object), so the module is created from its import
spec, renamed to "__main__" before its exec step, and then executed:

    import importlib.util
    spec = importlib.util.find_spec("Orvane")
    module = importlib.util.module_from_spec(spec)
    module.__name__ = "__main__"
    spec.loader.exec_module(module)

The block builds a controller from its fixed defaults (Windows folders under D:\\, "./url.db") and runs
one job whose messages go to standard output. It must be the first import of Orvane in the process:
the module is initialised once per process, and a later exec step returns at once.

`orvane standalone` runs the block unchanged and reads its messages as they are printed, to end
with the exit status of `orvane split` for the same ending (outcomes.py).
"""
import importlib.util
import sys

from . import frontend
from .outcomes import OUTCOMES, classify


def run_standalone():
    if "Orvane" in sys.modules:
        raise RuntimeError("Orvane is already imported in this process; "
                           "its stand-alone block can only run on the first import")
    spec = importlib.util.find_spec("Orvane")
    if spec is None:
        raise ImportError("the Orvane module is not installed (pip install . in the project folder)")
    module = importlib.util.module_from_spec(spec)
    module.__name__ = "__main__"
    spec.loader.exec_module(module)
    return module


class _PrintedLines(object):
    """Standard output while the block runs: each whole line it prints goes to ``sink``, which
    prints it and notes what it tells of the job."""

    def __init__(self, sink):
        self.sink = sink
        self.partial = ""

    def write(self, text):
        *whole, self.partial = (self.partial + text).split("\n")
        for line in whole:
            self.sink.mainPrint(line)
        return len(text)

    def flush(self):
        pass


def run_for_status():
    """Run the block (its messages printed as they come); the exit status of its job's ending."""
    sink = frontend.JobSink(sys.stdout)
    printed = sys.stdout = _PrintedLines(sink)
    try:
        module = run_standalone()
    finally:
        sys.stdout = sink.out
        if printed.partial:
            sink.mainPrint(printed.partial)
    key, _summary = classify(sink, getattr(module, "cutfun", None), False, False)
    return OUTCOMES[key].status
