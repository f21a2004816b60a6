#!/usr/bin/env python3
"""Screenshots of a real window on a private Xvfb server, in a chosen language, for the READMEs.

    python3 scripts/screenshot.py --lang zh_CN --out docs/window-zh.png \\
        [--title '^Orvane'] [--until 'review$'] [--settle 1.5] [--size 1100x760] -- orvane gui --review DIR

Starts Xvfb, runs the command with DISPLAY and the language's locale variables set (LANGUAGE and
LANG, with LC_ALL unset; LC_CTYPE stays C.UTF-8, which every system has, so that file names decode
whether or not the language's locale is installed; Tk draws Chinese with any CJK font fontconfig finds, e.g. Debian's fonts-wqy-microhei), waits for a
window whose name matches --title and then, if given, for its name to match --until (the window
puts its state in its title), lets it draw for --settle seconds and saves it as PNG with
ImageMagick's `import`. Then the command is ended and the server stopped. Several shots of one
window, in order: `--shot 'PATTERN=FILE'`, repeated; between them `--key 'PATTERN=KEYS'` sends keys
(xdotool's names, e.g. ctrl+d) once the name matches, and `--move 'PATTERN=X,Y'` puts the pointer
at X,Y in the window (a hover shown in the next shot). `--colours N` keeps a shot as an N-colour
palette PNG (Pillow), a tenth the size of a true-colour one.

Needs xvfb, xdotool and imagemagick (packaging/apt-packages.txt)."""
import argparse
import os
import re
import subprocess
import sys
import time

LOCALES = {"zh_CN": "zh_CN.UTF-8", "en": "en_US.UTF-8"}


def tool_env(env=None):
    # The X server and tools are not what is shown: no sanitizer runtime preloaded into them.
    env = dict(os.environ if env is None else env)
    env.pop("LD_PRELOAD", None)
    return env


def start_server(size):
    read, write = os.pipe()
    server = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", size + "x24", "-nolisten", "tcp"],
                              pass_fds=(write,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=tool_env())
    os.close(write)
    with os.fdopen(read) as fh:
        number = fh.readline().strip()
    if not number:
        server.kill()
        sys.exit("screenshot: Xvfb did not start")
    return server, ":" + number


def xdotool(display, *args):
    done = subprocess.run(["xdotool"] + list(args), env=tool_env(dict(os.environ, DISPLAY=display)),
                          stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, universal_newlines=True, timeout=20)
    return done.stdout.strip()


def wait(probe, timeout, what, proc):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        found = probe()
        if found:
            return found
        if proc.poll() is not None:
            sys.exit("screenshot: the command ended ({}) before {}".format(proc.returncode, what))
        time.sleep(0.1)
    sys.exit("screenshot: timed out waiting for {}".format(what))


def shoot(display, window, path, colours=None):
    os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
    # -screen: read from the root window, so that a popup over the window (a hover) is in the shot.
    subprocess.run(["import", "-display", display, "-screen", "-window", window, path], check=True, timeout=30,
                   env=tool_env())
    if colours:
        from PIL import Image

        with Image.open(path) as im:
            small = im.convert("RGB").quantize(colors=colours, method=Image.MEDIANCUT)
        small.save(path, optimize=True)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--lang", choices=sorted(LOCALES), default="en")
    parser.add_argument("--title", default="^Orvane", help="pattern of the window's name to wait for")
    parser.add_argument("--shot", action="append", dest="steps", default=[], metavar="PATTERN=FILE",
                        type=lambda v: ("shot",) + tuple(v.rsplit("=", 1)),
                        help="once the window's name matches PATTERN, save it to FILE (in order)")
    parser.add_argument("--key", action="append", dest="steps", metavar="PATTERN=KEYS",
                        type=lambda v: ("key",) + tuple(v.rsplit("=", 1)),
                        help="once the window's name matches PATTERN, send it KEYS (in order with the shots)")
    parser.add_argument("--move", action="append", dest="steps", metavar="PATTERN=X,Y",
                        type=lambda v: ("move",) + tuple(v.rsplit("=", 1)),
                        help="once the window's name matches PATTERN, put the pointer at X,Y in it (in order)")
    parser.add_argument("--colours", type=int, help="save the shots as palette PNGs of this many colours")
    parser.add_argument("--until", default="", help="with --out: the pattern to wait for")
    parser.add_argument("--out", help="the one shot's file (same as --shot UNTIL=OUT)")
    parser.add_argument("--settle", type=float, default=1.5, help="seconds to let the window draw")
    parser.add_argument("--timeout", type=float, default=120)
    parser.add_argument("--size", default="1280x900")
    parser.add_argument("command", nargs=argparse.REMAINDER)
    args = parser.parse_args(argv)
    command = args.command[1:] if args.command[:1] == ["--"] else args.command
    steps = args.steps + ([("shot", args.until, args.out)] if args.out else [])
    if not command or not any(step[0] == "shot" for step in steps):
        parser.error("a command to run and at least one shot (--out or --shot) are needed")
    server, display = start_server(args.size)
    locale_name = LOCALES[args.lang]
    env = dict(os.environ, DISPLAY=display, LANGUAGE=args.lang, LANG=locale_name, LC_CTYPE="C.UTF-8")
    for variable in ("LC_ALL", "LC_MESSAGES"):
        env.pop(variable, None)
    proc = subprocess.Popen(command, env=env)
    try:
        window = wait(lambda: (xdotool(display, "search", "--name", args.title).split() or [None])[0],
                      args.timeout, "a window named like " + args.title, proc)
        for kind, pattern, value in steps:
            wait(lambda: re.search(pattern, xdotool(display, "getwindowname", window)), args.timeout,
                 "the window's name to match " + pattern, proc)
            if kind == "key":
                xdotool(display, "key", "--window", window, value)
                continue
            if kind == "move":
                xdotool(display, "mousemove", "--window", window, *value.split(","))
                continue
            time.sleep(args.settle)
            shoot(display, window, value, args.colours)
            print(value)
    finally:
        if proc.poll() is None:
            proc.terminate()
            try:
                proc.wait(10)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait()
        server.terminate()
        server.wait(10)
    return 0


if __name__ == "__main__":
    sys.exit(main())
