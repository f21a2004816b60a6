"""The exit statuses of each command, shown under its help: one table per command, in the same words."""
from .i18n import N_

EXIT_STATUSES_SPLIT = N_("""\
exit status:
  0    the job finished: the splitter's summary line came and every file was split
  1    any other failure
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

The module keeps its working folder "database" (and "logging" for error logs) in the current
directory, or in --workdir. Cancelling ends every process named orvaneFun.exe of your user.
""")
EXIT_STATUSES_WATCH = N_("""\
exit status:
  0    stopped (Ctrl-C, SIGTERM), or INBOX idle with --exit-when-idle; each batch's outcome is its
       status line and the log, not the exit status
  1    any other failure
  2    bad command line
  3    the URL database is missing, empty or has no 'commit' entry
  4    a folder or the splitter program is missing, or another watcher holds INBOX
  130  stopped at once by a second Ctrl-C; the next start takes the batch back
""")
EXIT_STATUSES_PLAIN = N_("""\
exit status:
  0    done
  1    failed (the reason is printed)
  2    bad command line
""")
EXIT_STATUSES_STANDALONE = N_("""\
exit status: those of orvane split for the block's job, read from its messages:
  0    the job finished
  1    any other failure
  2    bad command line
  3    the announcement service refused the login token or could not be reached
  4    the job's input was refused (a folder missing, ...)
  5    the splitter ended without its summary line, or its stage failed
  6    the splitter could not split some source files
  7    nothing to do: the source folder holds no PDF file
""")
EXIT_STATUSES_GUI = N_("""\
exit status:
  0    the window was closed
  1    no window could be opened (no display)
  2    bad command line
""")
