"""`orvane`: command-line front end, job-announcement service and helpers for the Orvane module."""
import argparse
import os
import shutil
import sys

from . import frontend

TOKEN_ENV = "ORVANE_TOKEN"
SECRET_ENV = "ORVANE_SECRET"
SPLITTER_NAME = frontend.SPLITTER_NAME

EPILOG_SPLIT = """\
exit status:
  0    the job finished: the splitter's summary line came and every file was split
  2    bad command line
  3    the announcement service refused the login token or could not be reached, or the URL
       database is missing, empty or has no 'commit' entry
  4    the job's input was refused (folders, file names, worker count, threshold, splitter
       program), before anything was announced
  5    the splitter ended without its summary line (ended from outside, crashed, refused its
       arguments) or its stage failed (the module wrote an error log under ./logging)
  6    the job ran, but the splitter could not split some source files (damaged, encrypted)
  7    nothing to do: SOURCE holds no PDF file (nothing announced)
  130  cancelled with Ctrl-C; folders the job had made in TARGET were deleted
  1    any other failure

The module keeps its working folder "database" (and "logging" for error logs) in the current
directory, or in --workdir. Cancelling ends every process named orvaneFun.exe of your user.
"""


def _read_secret_file(path):
    with open(path) as fh:
        return fh.readline().strip()


def _secret(args, parser):
    if args.secret_file:
        secret = _read_secret_file(args.secret_file)
    else:
        secret = args.secret or os.environ.get(SECRET_ENV)
    if not secret:
        parser.error("no token secret: give --secret-file FILE or set {}".format(SECRET_ENV))
    if len(secret.encode("utf-8")) < 32:
        sys.stderr.write("orvane: warning: a token secret shorter than 32 bytes can be guessed; "
                         "make one with: python -c \"import secrets; print(secrets.token_hex(32))\"\n")
    return secret


def build_parser():
    parser = argparse.ArgumentParser(
        prog="orvane",
        description="Split scanned PDF batches at their separator sheets with the Orvane module, "
                    "and run the job-announcement service it reports to.")
    sub = parser.add_subparsers(dest="command", metavar="COMMAND")
    sub.required = True

    p = sub.add_parser(
        "split", help="split the PDF files of a folder (one job)",
        description="Run one split job: check the folders, announce the job to the service named\n"
                    "in the URL database, run the splitter and print every message as it comes.",
        epilog=EPILOG_SPLIT, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("source", metavar="SOURCE", help="folder holding the scanned PDF files")
    p.add_argument("target", metavar="TARGET", help="existing folder that receives the split documents")
    _job_options(p)
    p.add_argument("--no-progress", action="store_true", help="no progress line, even on a terminal")
    p.set_defaults(func=cmd_split, subparser=p)

    p = sub.add_parser(
        "watch", help="split every PDF file dropped into a folder, as it arrives",
        description="Watch INBOX and run one split job for each PDF file once it is complete; the\n"
                    "source then goes to the archive, or to the failed folder with NAME.reason.txt.\n"
                    "Stop with Ctrl-C or SIGTERM: a batch under way is undone and put back.",
        formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("inbox", metavar="INBOX", help="folder the scanner saves into")
    p.add_argument("target", metavar="TARGET", help="existing folder that receives the split documents")
    _job_options(p)
    from .watch import add_arguments as watch_arguments
    watch_arguments(p)
    p.set_defaults(func=cmd_watch, subparser=p)

    p = sub.add_parser(
        "standalone", help="run the module's stand-alone block (its fixed-default job)",
        description="Execute the Orvane module under the name __main__, which runs its built-in job "
                    "with fixed Windows folders and ./url.db; its messages go to standard output.")
    p.add_argument("--workdir", metavar="DIR", help="run in DIR (where ./url.db and the folders are)")
    p.set_defaults(func=cmd_standalone, subparser=p)

    p = sub.add_parser(
        "serve", help="run the job-announcement service",
        description="Serve the 'commit' endpoint: accept announcements carrying a valid login token "
                    "(a JSON Web Token signed with the secret) and record them; refuse others with 401.")
    p.add_argument("--host", default="127.0.0.1", help="address to listen on (default: %(default)s)")
    p.add_argument("--port", type=_port, default=8765, help="port, 0 for any free one (default: %(default)s)")
    p.add_argument("--db", default="announcements.db", metavar="PATH",
                   help="SQLite file recording the announcements (default: %(default)s)")
    _secret_options(p)
    p.add_argument("--leeway", type=_non_negative, default=0, metavar="SECONDS",
                   help="clock skew allowed when checking expiry (default: %(default)s)")
    p.add_argument("--port-file", metavar="FILE", help="write the bound port to FILE once serving")
    p.set_defaults(func=cmd_serve, subparser=p)

    p = sub.add_parser(
        "urldb", help="create or update the URL database",
        description="Create the SQLite URL database the module reads (table urldb(url_name, url)) and "
                    "register URL under NAME, replacing an earlier row of that name.")
    p.add_argument("path", metavar="PATH", help="database file to create or update")
    p.add_argument("--url", required=True, help="endpoint URL, e.g. http://127.0.0.1:8765/commit")
    p.add_argument("--name", default="commit", help="endpoint name (default: %(default)s)")
    p.set_defaults(func=cmd_urldb, subparser=p)

    p = sub.add_parser(
        "token", help="issue a login token for the service",
        description="Print a login token (JSON Web Token, HS256) for SUBJECT, signed with the "
                    "service's secret.")
    _secret_options(p)
    p.add_argument("--subject", required=True, help="user the token is issued to")
    p.add_argument("--expires-in", default="8h", metavar="DURATION",
                   help="lifetime: seconds, or with a unit s, m, h, d (default: %(default)s)")
    p.set_defaults(func=cmd_token, subparser=p)

    p = sub.add_parser(
        "log", help="list the announcements the service recorded",
        description="Print the job starts and ends (and the refusals) recorded by the service.")
    p.add_argument("--db", default="announcements.db", metavar="PATH",
                   help="the service's SQLite file (default: %(default)s)")
    p.set_defaults(func=cmd_log, subparser=p)

    p = sub.add_parser(
        "gui", help="open the desktop window: run a job, watch it, review the split",
        description="Open the Orvane window. The login token comes from {} or the window's masked "
                    "field and is never stored.".format(TOKEN_ENV))
    p.add_argument("--review", metavar="TARGET", help="show the review of the latest job into TARGET at once")
    p.set_defaults(func=cmd_gui, subparser=p)
    return parser


def _job_options(p):
    """The options of one split job, shared by `split` and `watch`."""
    p.add_argument("-w", "--workers", type=_non_negative, default=_default_workers(), metavar="N",
                   help="worker count for the splitter, 1 to the processor count "
                        "(default: processor count minus one, at least 1: %(default)s)")
    p.add_argument("-t", "--threshold", type=_non_negative, default=19, metavar="T",
                   help="colour threshold of a separator sheet, 0-255 chroma (default: %(default)s)")
    p.add_argument("--token", metavar="TOKEN",
                   help="login token; better set it in the environment variable {} so that other "
                        "users cannot read it from the process list".format(TOKEN_ENV))
    p.add_argument("--token-file", metavar="FILE", help="read the login token from the first line of FILE")
    p.add_argument("--urldb", default="url.db", metavar="PATH",
                   help="URL database naming the announcement endpoint (default: %(default)s)")
    p.add_argument("--splitter", metavar="PATH",
                   help="splitter program (default: {} found on PATH)".format(SPLITTER_NAME))
    p.add_argument("--workdir", metavar="DIR",
                   help="folder for the module's 'database' and 'logging' folders (default: current)")


def _secret_options(p):
    p.add_argument("--secret-file", metavar="FILE", help="read the token secret from the first line of FILE")
    p.add_argument("--secret", help="token secret (prefer --secret-file or the environment variable {})"
                   .format(SECRET_ENV))


def _default_workers():
    # The module's own default (processors minus one) would be 0 on a one-processor machine.
    return max(1, (os.cpu_count() or 2) - 1)


def _non_negative(text):
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError("not a whole number: {!r}".format(text))
    if value < 0:
        raise argparse.ArgumentTypeError("must not be negative: {}".format(value))
    return value


def _port(text):
    value = _non_negative(text)
    if value > 65535:
        raise argparse.ArgumentTypeError("not a port number: {}".format(value))
    return value


def _job_inputs(args, parser):
    """(exit status or None, token, splitter, URL database) of the job(s) the command line asks for,
    checked as far as they can be before a job runs."""
    if args.token_file:
        token = _read_secret_file(args.token_file)
    else:
        token = args.token or os.environ.get(TOKEN_ENV)
    if not token:
        parser.error("no login token: set {} (or give --token-file FILE)".format(TOKEN_ENV))
    splitter = args.splitter or shutil.which(SPLITTER_NAME) or SPLITTER_NAME
    # Paths are taken relative to where the command was given, before any change of folder.
    urldb = os.path.abspath(args.urldb)
    if os.path.sep in splitter or (os.path.altsep and os.path.altsep in splitter):
        splitter = os.path.abspath(splitter)

    from . import inputs
    if args.command == "split":
        folders = ((args.source, "source folder"), (args.target, "target folder"))
    else:
        folders = ((args.inbox, "INBOX folder"), (args.target, "TARGET folder"))
    try:
        inputs.check_job(folders, args.workers, args.threshold, splitter, urldb)
    except inputs.Refused as refused:
        sys.stderr.write("orvane: job refused: {}\n".format(refused))
        return refused.status, None, None, None

    try:
        import Orvane  # noqa: F401
    except ImportError as exc:
        sys.stderr.write("orvane: cannot import the Orvane module: {}\n".format(exc))
        return frontend.EXIT_ERROR, None, None, None
    return None, token, splitter, urldb


def _enter_workdir(args):
    if args.workdir:
        os.makedirs(args.workdir, exist_ok=True)
        os.chdir(args.workdir)


def cmd_split(args, parser):
    status, token, splitter, urldb = _job_inputs(args, parser)
    if status is not None:
        return status
    import Orvane

    src, dst = (os.path.abspath(p) for p in (args.source, args.target))
    if not frontend.count_pdfs(src):
        # Announcing a job that cannot split anything would only put a false start on record.
        sys.stderr.write("orvane: nothing to do: {} holds no PDF file\n".format(src))
        return frontend.EXIT_NOTHING
    _enter_workdir(args)

    def controller(sink):
        return Orvane.orvaneClass(src, dst, args.workers, args.threshold, token, urldb, splitter, sink)

    progress = None if not args.no_progress else False
    return frontend.run_job(controller, src, dst, token, progress=progress)


def cmd_watch(args, parser):
    from . import watch

    status, token, splitter, urldb = _job_inputs(args, parser)
    if status is not None:
        return status
    if args.token_file:
        token = watch.TokenFile(args.token_file, _read_secret_file, token)
    settings = watch.Settings(args.inbox, args.target, token, urldb, splitter, archive=args.archive,
                              failed=args.failed, workers=args.workers, threshold=args.threshold,
                              settle=args.settle, poll=args.poll, damaged_after=args.damaged_after)
    log_file = os.path.abspath(args.log) if args.log else None
    _enter_workdir(args)
    return watch.run_command(settings, log_file, args.exit_when_idle)


def cmd_standalone(args, parser):
    from .standalone import run_standalone

    if args.workdir:
        os.chdir(args.workdir)
    run_standalone()
    return 0


def cmd_serve(args, parser):
    from .service import create_app, serve

    app = create_app(_secret(args, parser), args.db, leeway=args.leeway)
    serve(app, args.host, args.port, port_file=args.port_file)
    return 0


def cmd_urldb(args, parser):
    from .urldb import write_url

    write_url(args.path, args.url, args.name)
    print("{}: '{}' -> {}".format(args.path, args.name, args.url))
    return 0


def cmd_token(args, parser):
    from .tokens import issue, parse_duration

    try:
        lifetime = parse_duration(args.expires_in)
    except ValueError as exc:
        parser.error(str(exc))
    print(issue(_secret(args, parser), args.subject, lifetime))
    return 0


def cmd_log(args, parser):
    from .service import AnnouncementStore

    if not os.path.exists(args.db):
        parser.error("no such file: {}".format(args.db))
    store = AnnouncementStore(args.db)
    for row in store.announcements():
        print("{received_at}  {event:<5}  {subject}  {comments}".format(**row))
    for row in store.refusals():
        print("{received_at}  refused  {reason}".format(**row))
    return 0


def cmd_gui(args, parser):
    from . import gui

    return gui.main(review=args.review)


def main(argv=None):
    # Messages are Chinese texts: never let an unusual terminal encoding break a running job.
    for stream in (sys.stdout, sys.stderr):
        reconfigure = getattr(stream, "reconfigure", None)
        if reconfigure is not None:
            try:
                reconfigure(errors="backslashreplace")
            except (ValueError, OSError):
                pass
    parser = build_parser()
    args = parser.parse_args(argv)
    try:
        return args.func(args, args.subparser)
    except KeyboardInterrupt:
        sys.stderr.write("\norvane: interrupted\n")
        return frontend.EXIT_CANCELLED
    except ImportError as exc:
        if getattr(exc, "name", None) in ("flask", "jwt", "werkzeug"):
            sys.stderr.write("orvane: {} needs the service packages: pip install 'orvane[tools]' "
                             "(missing: {})\n".format(args.command, exc.name))
            return frontend.EXIT_ERROR
        raise
    except OSError as exc:
        sys.stderr.write("orvane: {}\n".format(exc))
        return frontend.EXIT_ERROR


if __name__ == "__main__":
    sys.exit(main())
