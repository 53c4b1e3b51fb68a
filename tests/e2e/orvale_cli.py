#!/usr/bin/python3
"""Orvale's command line, on the real program: what it prints and how it exits before any
window is made. No display is needed; a command line that Orvale wrongly accepted would start
the window (offscreen here) and run into the time limit.

    orvale_cli.py --orvale build/dev/app/Orvale [--qt-version 6.4.2] CASE
"""

import argparse
import os
import re
import resource
import shutil
import subprocess
import sys
import tempfile

# Generous: Orvale answers these at once; only one that went on to run its window waits.
TIME_LIMIT = 20.0

VERSION_LINE = "Orvale Ver. 1.00A, Build: 01072019-01"

# Refused command lines: the arguments and what the message on stderr must name.
REFUSED = (
    (["--frobnicate"], "--frobnicate"),
    (["--port", "COM99=/dev/x"], "COM99"),
    (["--port"], "--port"),
    (["--simulate=model=300"], "model"),
    (["--log"], "--log"),
    (["-frobnicate"], "-frobnicate"),
    (["-platform"], "-platform"),
    (["-platform=offscreen"], "-platform"),
)

# Command lines with Qt's own options that Orvale accepts and answers before any window.
ACCEPTED_WITH_QT_OPTIONS = (
    (["-platform", "offscreen", "--version"], VERSION_LINE),
    (["-style", "Fusion", "-reverse", "-geometry", "800x600+0+0", "--version"], VERSION_LINE),
    (["--platform", "offscreen", "-stylesheet", "none.qss", "-nograb", "--help"], "Usage: Orvale"),
)

# A platform that does not exist: Qt itself gives up on it, which it can only do when the
# option reached QApplication.
MISSING_PLATFORM = "orvale-no-such-platform"


class Failure(AssertionError):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def run(orvale, arguments):
    """Runs a copy of Orvale in a directory of its own, so that a run that got as far as its
    window would leave its port file there and not beside the build."""
    with tempfile.TemporaryDirectory(prefix="orvale-cli-") as directory:
        exe = os.path.join(directory, "Orvale")
        shutil.copy2(orvale, exe)
        env = {key: value for key, value in os.environ.items()
               if key not in ("DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS")}
        env.update(QT_QPA_PLATFORM="offscreen", HOME=directory,
                   XDG_CONFIG_HOME=os.path.join(directory, "config"),
                   XDG_RUNTIME_DIR=directory)
        try:
            # No core file: Qt aborts on a platform it cannot load.
            done = subprocess.run([exe, *arguments], cwd=directory, env=env,
                                  stdin=subprocess.DEVNULL, capture_output=True,
                                  timeout=TIME_LIMIT, check=False,
                                  preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_CORE,
                                                                        (0, 0)))
        except subprocess.TimeoutExpired as expired:
            raise Failure(f"Orvale {' '.join(arguments)} still ran after {TIME_LIMIT:.0f} s: "
                          "it accepted the command line") from expired
        left = sorted(os.listdir(directory))
    out, err = done.stdout.decode(errors="replace"), done.stderr.decode(errors="replace")
    print(f"$ Orvale {' '.join(arguments)}  -> {done.returncode}\n"
          f"stdout: {out!r}\nstderr: {err!r}", flush=True)
    check(left == ["Orvale"], f"Orvale {' '.join(arguments)} left files: {left}")
    return done.returncode, out, err


def case_help(args):
    """--help: the usage on stdout, naming every option, and status 0."""
    code, out, err = run(args.orvale, ["--help"])
    check(code == 0, f"--help exited with {code}")
    check(err == "", f"--help wrote to stderr: {err!r}")
    for option in ("--port", "--simulate", "--log", "--help", "--version"):
        check(re.search(r"^\s+" + re.escape(option) + r"\b", out, re.M),
              f"--help does not list {option}")


def case_version(args):
    """--version: the window's version line and the Qt version, status 0."""
    code, out, err = run(args.orvale, ["--version"])
    check(code == 0, f"--version exited with {code}")
    check(err == "", f"--version wrote to stderr: {err!r}")
    qt = re.escape(args.qt_version) if args.qt_version else r"6\.\d+\.\d+"
    check(re.fullmatch(re.escape(VERSION_LINE) + r" \(Qt " + qt + r"\)\n", out),
          f"--version printed {out!r}, expected {VERSION_LINE!r} and the Qt version "
          f"{args.qt_version or ''}")


def case_refused(args):
    """Malformed command lines: status 2, nothing on stdout, a message on stderr that names
    what is wrong."""
    problems = []
    for arguments, named in REFUSED:
        code, out, err = run(args.orvale, arguments)
        line = " ".join(arguments)
        if code != 2:
            problems.append(f"Orvale {line}: exit status {code}, expected 2")
        if out:
            problems.append(f"Orvale {line}: wrote {out!r} to stdout")
        if named not in err:
            problems.append(f"Orvale {line}: stderr {err!r} does not name {named!r}")
    check(not problems, "\n  ".join(["refused command lines:", *problems]))


def case_qt_options(args):
    """Qt's own options are no unknown options: --help and --version still answer beside
    them, and QApplication receives them."""
    problems = []
    for arguments, expected in ACCEPTED_WITH_QT_OPTIONS:
        code, out, err = run(args.orvale, arguments)
        line = " ".join(arguments)
        if code != 0:
            problems.append(f"Orvale {line}: exit status {code}, expected 0")
        if err:
            problems.append(f"Orvale {line}: wrote {err!r} to stderr")
        if not out.startswith(expected):
            problems.append(f"Orvale {line}: stdout {out!r} does not start with {expected!r}")

    code, _, err = run(args.orvale, ["-platform", MISSING_PLATFORM])
    if code in (0, 2) or MISSING_PLATFORM not in err:
        problems.append(f"Orvale -platform {MISSING_PLATFORM}: exit status {code}, stderr "
                        f"{err!r}; Qt did not get the option")
    check(not problems, "\n  ".join(["Qt's options:", *problems]))


CASES = {"help": case_help, "version": case_version, "refused": case_refused,
         "qt_options": case_qt_options}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--orvale", required=True, help="the Orvale executable")
    parser.add_argument("--qt-version", help="the Qt version that Orvale was built with")
    parser.add_argument("case", choices=sorted(CASES))
    args = parser.parse_args()
    try:
        CASES[args.case](args)
    except Failure as failure:
        print(f"FAIL cli.{args.case}: {failure}", flush=True)
        return 1
    print(f"PASS cli.{args.case}", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
