"""The ``velaro`` command.

``velaro polar``, ``velaro cp``, ``velaro bl`` and ``velaro geometry`` are a
thin layer over the :mod:`velaro` package: they read the arguments, run the
package, and present the result as a table, a file and a picture.

Exit codes: 0 every point converged; 1 some point did not (the output says
which); 2 a usage or input error (one line on stderr); 130 interrupted
(Ctrl-C; finished work is kept); 3 an internal error.

Adding a subcommand: write a module in this package with ``NAME``, ``HELP``,
``add_arguments(parser)`` and ``run(args, console) -> int`` and list it in
:data:`COMMANDS`.
"""

from __future__ import annotations

import argparse
import importlib
import os
import re
import sys
import traceback
from typing import Optional, Sequence

from ._common import EXIT_INTERRUPTED, EXIT_USAGE, CliError, Console

__all__ = ["main", "build_parser", "COMMANDS", "CliError"]

#: Subcommand modules of this package, in the order ``velaro --help`` lists them.
COMMANDS = ["polar", "cp", "bl", "geometry", "database"]

EXIT_INTERNAL = 3


class _Parser(argparse.ArgumentParser):
    """argparse with one-line errors and negative numbers as values.

    Errors raise :class:`CliError` instead of printing the usage block, so
    every usage error is one line on stderr.  Values such as ``-4:16:0.5`` or
    ``-1e6`` are taken as values, not as unknown options (argparse by itself
    accepts only plain negative numbers like ``-4`` or ``-0.5``).
    """

    def __init__(self, *args, **kw) -> None:
        super().__init__(*args, **kw)
        self._negative_number_matcher = re.compile(r"^-(?:\d|\.\d|inf|nan)", re.IGNORECASE)

    def error(self, message: str) -> "NoReturn":  # type: ignore[name-defined]  # noqa: F821
        raise CliError(f"{message} (see '{self.prog} --help')")


def _common_options() -> argparse.ArgumentParser:
    common = _Parser(add_help=False)
    group = common.add_argument_group("output control")
    group.add_argument("-q", "--quiet", action="store_true",
                       help="no progress bar and no notes on stderr (errors and warnings still appear)")
    group.add_argument("--debug", action="store_true", help="show the traceback of an error")
    return common


def build_parser() -> argparse.ArgumentParser:
    from velaro import __version__

    parser = _Parser(
        prog="velaro",
        description="Two-dimensional airfoil analysis: polars, surface pressure, boundary layers and contours.",
        epilog="Exit codes: 0 all points converged, 1 some did not, 2 usage or input error, "
        "130 interrupted, 3 internal error.  'velaro COMMAND --help' describes each command.",
    )
    parser.add_argument("--version", action="version", version=f"velaro {__version__}")
    sub = parser.add_subparsers(dest="command", metavar="COMMAND", parser_class=_Parser)
    sub.required = True
    common = _common_options()
    for name in COMMANDS:
        module = importlib.import_module(f"{__name__}.{name}")
        p = sub.add_parser(module.NAME, help=module.HELP, description=module.__doc__.strip().splitlines()[0],
                           parents=[common], formatter_class=argparse.RawDescriptionHelpFormatter,
                           epilog=getattr(module, "EPILOG", None))
        module.add_arguments(p)
        p.set_defaults(run=module.run)
    return parser


def main(argv: Optional[Sequence[str]] = None) -> int:
    """Run the command with ``argv`` (default ``sys.argv[1:]``); returns the exit code."""
    argv = list(sys.argv[1:] if argv is None else argv)
    debug = "--debug" in argv
    console = Console(quiet="--quiet" in argv or "-q" in argv)
    try:
        args = build_parser().parse_args(argv)
        console = Console(quiet=args.quiet)
        return int(args.run(args, console))
    except BrokenPipeError:
        raise
    except CliError as exc:
        if debug:
            traceback.print_exc()
        console.warn(f"error: {exc}")
        return EXIT_USAGE
    except (ValueError, OSError, NotImplementedError) as exc:
        # Input the package refused (a contour that crosses itself, an
        # unreadable file, a feature the engine does not have).
        if debug:
            traceback.print_exc()
        text = str(exc).strip().splitlines()[0] if str(exc).strip() else type(exc).__name__
        console.warn(f"error: {text}")
        return EXIT_USAGE
    except KeyboardInterrupt:
        console.warn("interrupted")
        return EXIT_INTERRUPTED
    except Exception as exc:  # a fault of velaro itself
        if debug:
            traceback.print_exc()
        console.warn(f"internal error: {type(exc).__name__}: {exc} (run with --debug for the traceback)")
        return EXIT_INTERNAL


def run() -> None:
    """Console entry point."""
    try:
        code = main()
        sys.stdout.flush()
    except BrokenPipeError:
        # The reader of our output went away (velaro polar ... | head).
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
        code = 0
    if code == EXIT_INTERRUPTED:
        # Do not wait for engine threads still finishing the chunk they were
        # on: everything worth keeping has been written.
        sys.stderr.flush()
        os._exit(code)
    sys.exit(code)
