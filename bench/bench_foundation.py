"""Call cost of the module's basic pieces against the same code written in plain Python.

Measures, in one run and with the same timer:
  * get_now() against a Python get_now that resolves `time` through its globals;
  * constructing orvaneClass with eight arguments against a Python class with the same __init__.
Prints each ratio (module time / Python time); at most 1.0 means the module is not slower.
Times are the process's CPU time, so that other load on a shared machine does not count.

    python bench/bench_foundation.py [--repeat 30] [--quick]
"""
import argparse
import platform
import sys
import time
import timeit

import Orvane

PEER_SOURCE = '''
import time


def get_now():
    return time.strftime("%Y_%m_%d_%H_%M_%S", time.localtime(time.time()))


class orvaneClass:
    def __init__(self, src_pdf_path, save_pic_path, processors, COLOR_THRESHHOLD, LoginToken,
                 urldb, PdfExePath, communication=None):
        self.user = ""
        self.src_pdf_path = src_pdf_path
        self.save_pic_path = save_pic_path
        self.processors = processors
        self.COLOR_THRESHHOLD = COLOR_THRESHHOLD
        self.token = LoginToken
        self.run_code = 1
        self.urldb = urldb
        self.PdfExePath = PdfExePath
        self.communication = communication
'''


def plain_python_peer():
    """The same function and class as Python code of a module of their own."""
    namespace = {"__name__": "peer", "__builtins__": __builtins__}
    exec(compile(PEER_SOURCE, "peer.py", "exec"), namespace)
    return namespace


class Sink:
    def mainPrint(self, text):
        pass


def best_per_call(stmt, namespace, repeat, number):
    timer = timeit.Timer(stmt, timer=time.process_time, globals=namespace)
    return min(timer.repeat(repeat=repeat, number=number)) / number


def measure(label, stmt, ours, peer, repeat, quick):
    # Many short runs, the two sides interleaved, so that drift and bursts of other load on the
    # machine affect both alike and the best run of each is a quiet one.
    number = max(1, timeit.Timer(stmt, globals=peer).autorange()[0] // 10)
    if quick:
        repeat = min(repeat, 3)
    our_times, peer_times = [], []
    for _ in range(repeat):
        our_times.append(best_per_call(stmt, ours, 1, number))
        peer_times.append(best_per_call(stmt, peer, 1, number))
    ours_best, peer_best = min(our_times), min(peer_times)
    ratio = ours_best / peer_best
    print("%-28s Orvane %8.1f ns   Python %8.1f ns   ratio %.2f"
          % (label, ours_best * 1e9, peer_best * 1e9, ratio))
    return ratio


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeat", type=int, default=30)
    parser.add_argument("--quick", action="store_true", help="fewer loops, for a smoke run")
    options = parser.parse_args()

    peer = plain_python_peer()
    args = ("D:\\0000src", "D:\\0000save", 4, 19, "eyJ.token.sig", "./url.db",
            "D:\\orvaneFun.exe", Sink())
    ours = {"get_now": Orvane.get_now, "orvaneClass": Orvane.orvaneClass, "args": args}
    theirs = {"get_now": peer["get_now"], "orvaneClass": peer["orvaneClass"], "args": args}

    # Both sides must compute the same thing before their speed means anything.
    assert len(ours["get_now"]()) == len(theirs["get_now"]()) == 19
    assert vars(ours["orvaneClass"](*args)) == vars(theirs["orvaneClass"](*args))

    print("Python %s on %s" % (platform.python_version(), platform.machine()))
    ratios = {
        "get_now()": measure("get_now()", "get_now()", ours, theirs, options.repeat, options.quick),
        "orvaneClass(8 args)": measure(
            "orvaneClass(8 args)",
            "orvaneClass(args[0], args[1], args[2], args[3], args[4], args[5], args[6], args[7])",
            ours, theirs, options.repeat, options.quick),
    }
    target = all(r <= 1.0 for r in ratios.values())
    print("target ratio <= 1.0: %s" % ("met" if target else "NOT met"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
