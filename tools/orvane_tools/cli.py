"""`orvane`: command-line front end, job-announcement service and helpers for the Orvane module."""
import argparse
import os
import re
import sys

from . import frontend, helptexts, i18n, job_settings
from .i18n import N_, _
from .job_settings import TOKEN_ENV, option_values

SECRET_ENV = "ORVANE_SECRET"

def _read_secret_file(path):
    with open(path) as fh:
        return fh.readline().strip()


def _secret(args, parser):
    if args.secret_file:
        secret = _read_secret_file(args.secret_file)
    else:
        secret = args.secret or os.environ.get(SECRET_ENV)
    if not secret:
        parser.error(_("no token secret: give --secret-file FILE or set {}").format(SECRET_ENV))
    if len(secret.encode("utf-8")) < 32:
        sys.stderr.write(_("orvane: warning: a token secret shorter than 32 bytes can be guessed; "
                           "make one with: python -c \"import secrets; print(secrets.token_hex(32))\"\n"))
    return secret


class HelpFormatter(argparse.RawDescriptionHelpFormatter):
    """argparse's help with each heading's colon in the language's own punctuation ("选项：")."""

    def format_help(self):
        return re.sub(r"(?m)^(\S[^\n:：]*):$", lambda m: _("{}:").format(m.group(1)),
                      argparse.RawDescriptionHelpFormatter.format_help(self))


def _command(sub, name, summary, description, statuses, func):
    """A sub-command with its one-line summary, description and exit statuses (all translated)."""
    p = sub.add_parser(name, help=summary, description=description, epilog=_(statuses),
                       formatter_class=HelpFormatter)
    p.set_defaults(func=func, subparser=p)
    return p


def build_parser():
    parser = argparse.ArgumentParser(
        prog="orvane", formatter_class=HelpFormatter,
        description=_("Split scanned PDF batches at their separator sheets with the Orvane module, "
                      "and run the job-announcement service it reports to."))
    sub = parser.add_subparsers(dest="command", metavar=_("COMMAND"))
    sub.required = True

    p = _command(sub, "split", _("split the PDF files of a folder (one job)"),
                 _("Run one split job: check the folders, announce the job to the service named\n"
                   "in the URL database, run the splitter and print every message as it comes."),
                 helptexts.EXIT_STATUSES_SPLIT, cmd_split)
    p.add_argument("source", metavar="SOURCE", help=_("folder holding the scanned PDF files"))
    p.add_argument("target", metavar="TARGET", help=_("existing folder that receives the split documents"))
    _job_options(p)
    p.add_argument("--keep-pages", action="append", metavar="FILE:PAGES", type=_put_back_request,
                   help=_("split only FILE again, keeping PAGES (such as 4,9-10) even where they are blank, and "
                          "put its documents in place of the earlier ones; may be given more than once"))
    p.add_argument("--no-progress", action="store_true", help=_("no progress line, even on a terminal"))

    p = _command(sub, "watch", _("split every PDF file dropped into a folder, as it arrives"),
                 _("Watch INBOX and run one split job for each PDF file once it is complete; the\n"
                   "source then goes to the archive, or to the failed folder with NAME.reason.txt.\n"
                   "Stop with Ctrl-C or SIGTERM: a batch under way is undone and put back."),
                 helptexts.EXIT_STATUSES_WATCH, cmd_watch)
    p.add_argument("inbox", metavar="INBOX", help=_("folder the scanner saves into"))
    p.add_argument("target", metavar="TARGET", help=_("existing folder that receives the split documents"))
    _job_options(p)
    from .watch import add_arguments as watch_arguments
    watch_arguments(p)

    p = _command(sub, "gui", _("open the desktop window: run a job, watch a folder, review the split"),
                 _("Open the Orvane window. The login token is pasted into its masked field (or read\n"
                   "from a token file, or taken from {}) and is never stored.").format(TOKEN_ENV),
                 helptexts.EXIT_STATUSES_GUI, cmd_gui)
    p.add_argument("--review", metavar="TARGET", help=_("show the review of the latest job into TARGET at once"))

    p = _command(sub, "serve", _("run the job-announcement service"),
                 _("Serve the 'commit' endpoint: accept announcements carrying a valid login token\n"
                   "(a JSON Web Token signed with the secret) and record them; refuse others with 401.\n"
                   "Runs until Ctrl-C."), helptexts.EXIT_STATUSES_PLAIN, cmd_serve)
    p.add_argument("--host", default="127.0.0.1", help=_("address to listen on (default: %(default)s)"))
    p.add_argument("--port", type=_port, default=8765, help=_("port, 0 for any free one (default: %(default)s)"))
    p.add_argument("--db", default="announcements.db", metavar="PATH",
                   help=_("SQLite file recording the announcements (default: %(default)s)"))
    _secret_options(p)
    p.add_argument("--leeway", type=_non_negative, default=0, metavar="SECONDS",
                   help=_("clock skew allowed when checking expiry (default: %(default)s)"))
    p.add_argument("--port-file", metavar="FILE", help=_("write the bound port to FILE once serving"))

    p = _command(sub, "token", _("issue a login token for the service"),
                 _("Print a login token (JSON Web Token, HS256) for SUBJECT, signed with the\n"
                   "service's secret."), helptexts.EXIT_STATUSES_PLAIN, cmd_token)
    _secret_options(p)
    p.add_argument("--subject", required=True, help=_("user the token is issued to"))
    p.add_argument("--expires-in", default="8h", metavar="DURATION",
                   help=_("lifetime: seconds, or with a unit s, m, h, d (default: %(default)s)"))

    p = _command(sub, "urldb", _("create or update the URL database"),
                 _("Create the SQLite URL database the module reads (table urldb(url_name, url)) and\n"
                   "register URL under NAME, replacing an earlier row of that name."),
                 helptexts.EXIT_STATUSES_PLAIN, cmd_urldb)
    p.add_argument("path", metavar="PATH", help=_("database file to create or update"))
    p.add_argument("--url", required=True, help=_("endpoint URL, e.g. http://127.0.0.1:8765/commit"))
    p.add_argument("--name", default="commit", help=_("endpoint name (default: %(default)s)"))

    p = _command(sub, "samples", _("write sample scanned batches to try the splitter on"),
                 _("Write a few sample PDF batches, with coloured separator sheets, under FOLDER\n"
                   "(also: python -m orvane_tools.samples FOLDER)."), helptexts.EXIT_STATUSES_PLAIN, cmd_samples)
    p.add_argument("folder", metavar="FOLDER", help=_("folder to write the batches into (made if missing)"))
    from .samples import add_batch_options
    add_batch_options(p)

    p = _command(sub, "log", _("list the announcements the service recorded"),
                 _("Print the job starts and ends (and the refusals) recorded by the service."),
                 helptexts.EXIT_STATUSES_PLAIN, cmd_log)
    p.add_argument("--db", default="announcements.db", metavar="PATH",
                   help=_("the service's SQLite file (default: %(default)s)"))

    p = _command(sub, "standalone", _("run the module's stand-alone block (its fixed-default job)"),
                 _("Execute the Orvane module under the name __main__, which runs its built-in job\n"
                   "with fixed Windows folders and ./url.db; its messages go to standard output."),
                 helptexts.EXIT_STATUSES_STANDALONE, cmd_standalone)
    p.add_argument("--workdir", metavar="DIR", help=_("run in DIR (where ./url.db and the folders are)"))
    return parser


def _job_options(p):
    """The options of one split job, shared by `split` and `watch`: one for each field of a job that
    the command line gives (the folders are the commands' own arguments)."""
    for field in job_settings.FIELDS:
        if not field.flags:
            continue
        p.add_argument(*field.flags, dest=field.name, metavar=field.metavar, default=field.default(),
                       type=_non_negative if field.kind == "number" else None,
                       help=_(field.help).format(*field.help_args))
    p.add_argument("--workdir", metavar="DIR",
                   help=_("folder for the module's 'database' and 'logging' folders (default: the current one)"))


def _secret_options(p):
    p.add_argument("--secret-file", metavar="FILE", help=_("read the token secret from the first line of FILE"))
    p.add_argument("--secret", help=_("token secret (prefer --secret-file or the environment variable {})")
                   .format(SECRET_ENV))


def _non_negative(text):
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(_("not a whole number: {!r}").format(text))
    if value < 0:
        raise argparse.ArgumentTypeError(_("must not be negative: {}").format(value))
    return value


def _put_back_request(text):
    from .put_back import parse_request
    from .splitter_options import BadValue
    try:
        return parse_request(text)
    except BadValue as bad:
        raise argparse.ArgumentTypeError(str(bad))


def _port(text):
    value = _non_negative(text)
    if value > 65535:
        raise argparse.ArgumentTypeError(_("not a port number: {}").format(value))
    return value


def _job_inputs(args, parser):
    """(exit status or None, the job's settings, its login token) of the job(s) the command line asks
    for, checked as far as they can be before a job runs."""
    if args.command == "split":
        given, what = {}, {}
    else:
        given = {"source": args.inbox}
        what = {"source": N_("INBOX folder"), "target": N_("TARGET folder")}
    # Paths are taken relative to where the command was given, before any change of folder.
    job = job_settings.JobSettings.from_args(args, **given).resolved()
    token = job.current_token()
    if not token:
        parser.error(_("no login token: set {} (or give --token-file FILE)").format(TOKEN_ENV))
    try:
        job.check(what)
    except job_settings.Refused as refused:
        sys.stderr.write(_("orvane: job refused: {}\n").format(refused))
        return refused.status, None, None

    try:
        import Orvane  # noqa: F401
    except ImportError as exc:
        sys.stderr.write(_("orvane: cannot import the Orvane module: {}\n").format(exc))
        return frontend.EXIT_ERROR, None, None
    return None, job, token


def _enter_workdir(args):
    if args.workdir:
        os.makedirs(args.workdir, exist_ok=True)
        os.chdir(args.workdir)


def cmd_split(args, parser):
    status, job, token = _job_inputs(args, parser)
    if status is not None:
        return status

    progress = None if not args.no_progress else False
    if args.keep_pages:
        return _put_back(args, job, token, progress)
    if not job.has_work():
        sys.stderr.write(_("orvane: nothing to do: {} holds no PDF file\n").format(job.source))
        return frontend.EXIT_NOTHING
    _enter_workdir(args)
    return frontend.run_job(lambda sink: job.controller(sink, token), job.source, job.target, token,
                            progress=progress, environ=job.environ(), recognises=job.recognises())


def _put_back(args, job, token, progress):
    """Each FILE:PAGES split again on its own and swapped into place; the first failure's status."""
    from .put_back import PutBack, source_name

    requests = []
    for given, pages in args.keep_pages:
        path, name = source_name(job.source, given)
        if not os.path.isfile(path):
            sys.stderr.write(_("orvane: no such source file: {}\n").format(path))
            return frontend.EXIT_CHECKS
        requests.append((path, name, pages))
    _enter_workdir(args)
    for path, name, pages in requests:
        with PutBack(job, name, path, pages) as put:
            settings = put.settings()
            status = frontend.run_job(lambda sink: settings.controller(sink, token), put.source, put.target,
                                      token, progress=progress, environ=put.environ())
            if status != frontend.EXIT_OK:
                return status
            for moved in put.swap():
                print(_("orvane: written again: {}").format(moved))
    return frontend.EXIT_OK


def cmd_watch(args, parser):
    from . import watch

    status, job, token = _job_inputs(args, parser)
    if status is not None:
        return status
    if job.token_file:
        token = watch.TokenFile(job.token_file, job_settings.read_token_file, token)
    settings = watch.Settings(job.source, job.target, token, job.urldb, job.splitter, archive=args.archive,
                              failed=args.failed, workers=job.workers, threshold=job.threshold,
                              settle=args.settle, poll=args.poll, damaged_after=args.damaged_after,
                              **option_values(job))
    log_file = os.path.abspath(args.log) if args.log else None
    _enter_workdir(args)
    return watch.run_command(settings, log_file, args.exit_when_idle)


def cmd_standalone(args, parser):
    from .standalone import run_for_status

    if args.workdir:
        os.chdir(args.workdir)
    return run_for_status()


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
        parser.error(_("no such file: {}").format(args.db))
    store = AnnouncementStore(args.db)
    lines = [(row["received_at"],
              "{}  {event:<5}  {subject}  {comments}".format(_to_second(row["received_at"]), **row))
             for row in store.announcements()]
    lines += [(row["received_at"], "{}  refused  {reason}".format(_to_second(row["received_at"]), **row))
              for row in store.refusals()]
    # In the order they came: the times are ISO 8601 in UTC, so they sort as text (stably, ties kept).
    for _when, line in sorted(lines, key=lambda pair: pair[0]):
        print(line)
    return 0


def _to_second(when):
    """A recorded time as the log shows it, to the second: "2026-12-07T09:37:33+00:00"."""
    return re.sub(r"\.\d+", "", when, count=1)


def cmd_samples(args, parser):
    from . import samples

    return samples.write_listing(args.folder, args.codes, args.duplex, args.text)


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
    from . import settings
    i18n.setup(settings.load().get("language") or None)
    i18n.translate_argparse()
    parser = build_parser()
    args = parser.parse_args(argv)
    try:
        return args.func(args, args.subparser)
    except KeyboardInterrupt:
        sys.stderr.write(_("\norvane: interrupted\n"))
        return frontend.EXIT_CANCELLED
    except ImportError as exc:
        if getattr(exc, "name", None) in ("flask", "jwt", "werkzeug"):
            sys.stderr.write(_("orvane: {} needs the service packages: pip install 'orvane[tools]' "
                               "(missing: {})\n").format(args.command, exc.name))
            return frontend.EXIT_ERROR
        raise
    except OSError as exc:
        sys.stderr.write("orvane: {}\n".format(exc))
        return frontend.EXIT_ERROR


if __name__ == "__main__":
    sys.exit(main())
