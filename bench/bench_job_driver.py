"""Benchmarks of the split job driver against the same steps written in plain Python.

    python bench/bench_job_driver.py [--lines N] [--files N] [--repeat N] [--no-memory]

(a) relay: true_run with the orvaneFun.exe stand-in printing N lines (default
    1,000,000) and a sink whose mainPrint does nothing;
(b) walk: true_run over a source tree of N files (default 100,000) with a
    missing splitter executable, so the call returns right after the path-length
    walk and the checks.

Each figure is the module's best time divided by the best time of
`PyController.true_run`, a line-by-line Python transcription of the same steps,
measured alternately in the same run (a ratio below 1.0 means the module is
faster). The memory section starts one fresh interpreter per line count and
prints how much the peak resident set grows over a job whose splitter prints
nothing: the driver reads every line before it relays the first.
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time
import traceback
from multiprocessing import cpu_count

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "tests"))

from fixtures.standin import STANDIN_ENV, Script, build_standin  # noqa: E402


# --------------------------------------------------------------------------------------------
# The peer: the job driver's steps in plain Python


def _posix_quote(value):
    text = str(value)
    for ch in ("\\", '"', "$", "`"):
        text = text.replace(ch, "\\" + ch)
    return text


def get_now():
    return time.strftime("%Y_%m_%d_%H_%M_%S", time.localtime(time.time()))


class PyController(object):
    def __init__(self, src_pdf_path, save_pic_path, processors, COLOR_THRESHHOLD, LoginToken, urldb,
                 PdfExePath, communication=None):
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

    def _report(self, value):
        if self.communication:
            self.communication.mainPrint(value)
        else:
            print(value)

    def true_run(self):
        if self.communication:
            self.communication.mainPrint(self.src_pdf_path)
            self.communication.mainPrint(self.save_pic_path)
        else:
            print(self.src_pdf_path)
            print(self.save_pic_path)
        len_number = 0
        if os.path.exists(self.src_pdf_path):
            if os.path.exists(self.save_pic_path):
                for parent, dirnames, filenames in os.walk(self.src_pdf_path):
                    for filename in filenames:
                        file_path = os.path.join(parent, filename)
                        pathLen = len(file_path) + len(self.save_pic_path) - len(self.src_pdf_path)
                        if pathLen > 258:
                            len_number = 1
                            self._report(file_path + " \n路径过长")
            else:
                self.run_code = 0
                self._report("保存文件不存在，请重新输入\n")
        else:
            self.run_code = 0
            self._report("原路径不存在，请重新输入\n")
        if len_number != 0 and self.run_code:
            self._report("这里是要结束的进程， 这里是待写入的文件路径")
        if not self.COLOR_THRESHHOLD and self.run_code:
            self.COLOR_THRESHHOLD = 19
        if not self.processors:
            self.processors = max(1, int(cpu_count() - 1))
        else:
            try:
                try:
                    if int(self.processors) > int(cpu_count()) or int(self.processors) < 1:
                        self._report("请输入1-{}的整数".format(cpu_count()))
                        return "请输入1-{}的整数".format(cpu_count())
                    self.processors = int(self.processors)
                except BaseException:
                    self.run_code = 0
                    self.processors = ""
                    self._report("请输入1-{}的整数".format(cpu_count()))
                    return "请输入1-{}的整数".format(cpu_count())
            except BaseException:
                traceback.print_exc()
        Db_path = "database"
        if not os.path.exists(Db_path):
            os.makedirs(Db_path)
        if self.run_code:
            main = self.PdfExePath
            if not os.path.isfile(main):
                if self.communication:
                    self.communication.mainPrint("warning", "切分隔页的exe不存在")
                else:
                    print(("warning", "切分隔页的exe不存在"))
                return None
            self._report("执行隔页exe\n")
            try:
                if self.communication:
                    self.communication.mainPrint("执行exe信息")
                    self.communication.mainPrint((self.src_pdf_path, self.save_pic_path, self.processors,
                                                  int(self.COLOR_THRESHHOLD)))
                else:
                    print("执行exe信息")
                    print((self.src_pdf_path, self.save_pic_path, self.processors, int(self.COLOR_THRESHHOLD)))
                command = '"{main}" "{oldPath}" "{savePath}" "{process}" "{num}"'.format(
                    main=_posix_quote(main), oldPath=_posix_quote(self.src_pdf_path),
                    savePath=_posix_quote(self.save_pic_path), process=_posix_quote(self.processors),
                    num=_posix_quote(int(self.COLOR_THRESHHOLD)))
                f = os.popen(command)
                data = f.readlines()
                f.close()
                for i in data:
                    self._report(i)
            except Exception as e:
                self._error_log(e)
            self._report("执行完成")
        self.checkToken1(3, "获取隔页")
        return None

    def _error_log(self, e):
        self._report("执行exe文件报错")
        start_time = get_now()
        index_check_log_name = "./logging/底稿切分隔页UI报错日志_" + str(start_time)
        log_path = os.path.join(os.getcwd(), index_check_log_name.replace("./", "") + ".txt").replace("\\", "/")
        folder, _, name = log_path.rpartition("/")
        self._report("保存运行日志的文件夹为：" + folder + "。运行日志文件名为：" + name + "\n")
        os.makedirs("logging", exist_ok=True)
        with open(index_check_log_name + ".txt", "a", errors="backslashreplace") as file:
            file.write("[Error]" + str(get_now()) + "\n")
            file.write("[报错内容]" + str(e) + "\n")
            file.write("[报错源文件位置]" + str(e.__traceback__.tb_frame.f_globals["__file__"]) + "\n")
            file.write("[报错源码行数]" + str(e.__traceback__.tb_lineno) + "\n")

    def checkToken1(self, id, comments):
        import json
        import random
        import requests
        try:
            if not os.path.exists(self.urldb):
                self._report("保存URl表不存在")
                self.run_code = 0
                return False
            headers = {"token": self.token}
            self._report(self.token)
            import sqlite3
            conn = sqlite3.connect(self.urldb)
            try:
                dbText = conn.execute("select * from urldb where url_name = ?", ("commit",)).fetchall()
            finally:
                conn.close()
            if not dbText:
                return None
            url = dbText[0][1]
            body = {"id": id, "comments": "【执行完成：】 {}".format(comments), "pid": 0}
            response = requests.post(url=url, data=json.dumps(body), headers=headers)
            if response.status_code != 200:
                num = 0
                while num < 3:
                    time.sleep(random.uniform(0.5, 1))
                    response = requests.post(url=url, data=json.dumps(body), headers=headers)
                    if response.status_code == 200:
                        break
                    if num == 2:
                        self._report("登录信息的Token过期")
                        self.run_code = 0
                    num += 1
            else:
                self._report("更新成功")
            return None
        except Exception as e:
            self._report("请求网页失败")
            self._report(str(e))
            self.run_code = 0
            return None


class NullSink(object):
    def mainPrint(self, *args):
        pass


# --------------------------------------------------------------------------------------------
# Measuring


class Finished(object):
    """Tells whether the stand-in ran its script to the end.

    Anything on the machine that ends processes named orvaneFun.exe (a cancellation
    test, say) would cut a run short; such a run is measured again, not counted.
    """

    def __init__(self, path=None):
        self.path = path

    def reset(self):
        if self.path and os.path.exists(self.path):
            os.remove(self.path)

    def ok(self):
        return self.path is None or os.path.exists(self.path)


def timed_run(make, finished, attempts=5):
    """(wall, cpu) seconds of one whole ``make().true_run()`` (construction not timed).

    cpu is this process's own processor time (user + system): on a busy machine it
    varies far less than the wall time. The splitter's own time is the same for
    both sides and is not in it.
    """
    for _ in range(attempts):
        ctl = make()
        finished.reset()
        wall, cpu = time.perf_counter(), time.process_time()
        ctl.true_run()
        wall, cpu = time.perf_counter() - wall, time.process_time() - cpu
        if finished.ok():
            return wall, cpu
    raise RuntimeError("the stand-in was ended from outside {} times in a row".format(attempts))


def compare(title, make_module, make_python, repeat, finished=Finished()):
    module_times, python_times = [], []
    # Alternate so that a slow phase of the machine hits both sides.
    for _ in range(repeat):
        module_times.append(timed_run(make_module, finished))
        python_times.append(timed_run(make_python, finished))
    mw, pw = min(t[0] for t in module_times), min(t[0] for t in python_times)
    mc, pc = min(t[1] for t in module_times), min(t[1] for t in python_times)
    print(title)
    print("    wall: module {:7.3f} s  python {:7.3f} s  ratio {:.3f}".format(mw, pw, mw / pw))
    print("    cpu:  module {:7.3f} s  python {:7.3f} s  ratio {:.3f}".format(mc, pc, mc / pc))
    return mw / pw, mc / pc


def make_tree(root, files, per_folder=1000):
    """``files`` empty files in folders of ``per_folder``; about 1 in 100 paths is too long."""
    made = 0
    folder_no = 0
    while made < files:
        folder = os.path.join(root, "folder_{:04d}".format(folder_no))
        os.makedirs(folder)
        for n in range(min(per_folder, files - made)):
            if n % 100 == 0:
                name = "x" * (265 - len(folder)) + "_{:05d}.pdf".format(n)
            else:
                name = "scan_{:05d}.pdf".format(n)
            with open(os.path.join(folder, name), "wb"):
                pass
            made += 1
        folder_no += 1


MEMORY_CHILD = r"""
import os, sys
sys.path.insert(0, {bench!r})
import bench_job_driver as b
kind, exe, src, save = sys.argv[1:5]
if kind == "module":
    import Orvane
    cls = Orvane.orvaneClass
else:
    cls = b.PyController
def peak():
    # The peak of this process's own memory: unlike ru_maxrss it does not carry over the
    # parent's peak through fork and exec.
    with open("/proc/self/status") as fh:
        for line in fh:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
before = peak()
cls(src, save, 1, 19, "t", os.path.join(save, "no.db"), exe, b.NullSink()).true_run()
print(before, peak())
"""


def peak_rss(kind, exe, src, save, lines, workdir, attempts=5):
    script = Script(os.path.join(workdir, "mem-{}-{}.script".format(kind, lines)))
    finished = Finished(script.path + ".done")
    script.lines(lines, "line ").touch(finished.path)
    env = dict(os.environ)
    env[STANDIN_ENV] = script.path
    for _ in range(attempts):
        finished.reset()
        out = subprocess.run([sys.executable, "-c", MEMORY_CHILD.format(bench=HERE), kind, exe, src, save],
                             env=env, cwd=workdir, stdout=subprocess.PIPE, check=True).stdout.split()
        if finished.ok():
            return int(out[0]), int(out[1])  # KiB
    raise RuntimeError("the stand-in was ended from outside {} times in a row".format(attempts))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--lines", type=int, default=1000000)
    parser.add_argument("--files", type=int, default=100000)
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--no-memory", action="store_true")
    args = parser.parse_args()

    import Orvane

    exe = build_standin()
    work = tempfile.mkdtemp(prefix="orvane-bench-")
    old_cwd = os.getcwd()
    try:
        os.chdir(work)
        src = os.path.join(work, "src")
        save = os.path.join(work, "save")
        os.makedirs(src)
        os.makedirs(save)
        no_db = os.path.join(work, "no-url.db")  # the completion report stops at once
        sink = NullSink()
        print("Python {}, {} processors".format(sys.version.split()[0], cpu_count()))

        # (a) relaying the splitter's lines
        script = Script(os.path.join(work, "relay.script"))
        done = os.path.join(work, "relay.done")
        script.lines(args.lines, "line ").touch(done)
        os.environ[STANDIN_ENV] = script.path
        relay = compare(
            "(a) relay {:,} lines to a no-op sink".format(args.lines),
            lambda: Orvane.orvaneClass(src, save, 1, 19, "t", no_db, exe, sink),
            lambda: PyController(src, save, 1, 19, "t", no_db, exe, sink),
            args.repeat, Finished(done))
        del os.environ[STANDIN_ENV]

        # (b) the path-length walk; a missing executable ends the call after the checks
        tree = os.path.join(work, "tree")
        os.makedirs(tree)
        start = time.perf_counter()
        make_tree(tree, args.files)
        print("    (tree of {:,} files made in {:.1f} s)".format(args.files, time.perf_counter() - start))
        missing = os.path.join(work, "missing", "orvaneFun.exe")
        walk = compare(
            "(b) walk {:,} files, missing executable".format(args.files),
            lambda: Orvane.orvaneClass(tree, save, 1, 19, "t", no_db, missing, sink),
            lambda: PyController(tree, save, 1, 19, "t", no_db, missing, sink),
            args.repeat)
        shutil.rmtree(tree)

        if not args.no_memory:
            print("Peak resident set (VmHWM) of a fresh interpreter running one job, KiB, and its growth"
                  " over a job of 0 lines:")
            for kind in ("module", "python"):
                base = None
                row = []
                for lines in (0, 10 ** 5, 10 ** 6):
                    before, after = peak_rss(kind, exe, src, save, lines, work)
                    if base is None:
                        base = after
                    row.append("{:>9,} lines: {:>9,} (+{:,})".format(lines, after, after - base))
                print("    {:<7} {}".format(kind, " | ".join(row)))
        print("ratios (module / python, best of {}; target at most 1.0): relay wall {:.3f} cpu {:.3f}, "
              "walk wall {:.3f} cpu {:.3f}".format(args.repeat, relay[0], relay[1], walk[0], walk[1]))
    finally:
        os.chdir(old_cwd)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
