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
"""
import importlib.util
import sys


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
