"""Deep ParentPrereq chains: the selection walks 20,000 links of the real
prereq.exe configuration without running out of stack, in quiet mode (on the
main thread) and outside it (on the search worker), and the run ends with its
exit code and closing line.

These runs keep Wine's error reports on (WINEDEBUG with err+seh and
err+virtual): with -all, a stack overflow inside the program can look like an
ordinary exit with code 0 or 1."""

from __future__ import annotations

import os
import re
import signal
import subprocess
import time
from pathlib import Path

import pytest

from winehelp import END_OF_LOG, TOOLS, read_log

LINKS = 20000
SELECTED = "Prerequisite selected for install:"
# What Wine writes when a thread overflows its stack or dies of an exception.
CRASH_RE = re.compile(r"err:(seh|virtual)|stack overflow|Unhandled exception|unhandled exception",
                      re.IGNORECASE)


def chain_config(setup, options: str) -> Path:
    """App1's parent is App2, App2's is App3, ... up to App20000; none is
    installed (Operator 1 without searches), so selecting App1 climbs the
    whole chain. App1 is mandatory and its shipped file is missing: the
    install loop stops at its failed launch."""
    log = setup.folder / "run.log"
    lines = ["[GeneralOptions]", f"Options={options}", f"ExtractionFolder={setup.win(setup.folder)}",
             "[PREREQUISITES]"]
    lines += [f"App{i}=id{i}" for i in range(1, LINKS + 1)]
    lines += ["[PREREQ_CHAINER]", f"LogFile={setup.win(log)}"]
    for i in range(1, LINKS + 1):
        lines += [f"[App{i}]", f"DisplayName=Link{i}", "SetupFile=missing.exe", "Operator=1"]
        if i < LINKS:
            lines.append(f"ParentPrereq=Link{i + 1}")
        if i == 1:
            lines.append("Options=m")
    setup.write_config("\n".join(lines) + "\n")
    return log


def run_with_error_reports(setup, timeout: float):
    """Runs prereq.exe through runwait.exe with Wine's error channels on;
    returns (exit code or None, Wine's output, seconds)."""
    env = dict(setup.prefix.env, WINEDEBUG="-all,err+seh,err+virtual")
    output = setup.folder.parent / f"{setup.folder.name}.out"
    started = time.time()
    with open(output, "wb") as sink:
        proc = subprocess.Popen([setup.prefix.loader, str(TOOLS / "runwait.exe"), setup.win(setup.exe)],
                                env=env, cwd=setup.cwd, stdin=subprocess.DEVNULL, stdout=sink,
                                stderr=subprocess.STDOUT, start_new_session=True)
        try:
            proc.wait(timeout)
        except subprocess.TimeoutExpired:
            os.killpg(proc.pid, signal.SIGKILL)
            setup.prefix.kill_matching(setup.win(setup.exe))
            proc.wait()
            pytest.fail(f"prereq.exe did not end within {timeout} s: "
                        f"{output.read_bytes().decode('utf-8', 'replace')[-2000:]}")
    text = output.read_bytes().decode("utf-8", "replace")
    m = re.search(r"exit=(-?\d+)", text)
    return (int(m.group(1)) if m else None), text, time.time() - started


@pytest.mark.parametrize("options,exit_code", [
    ("q", 1),  # quiet: the mandatory App1 fails to launch
    ("", 0),   # neither "q" nor "b": search and selection only, on the search worker
])
def test_a_chain_of_20000_parents(prefix32, make_setup, display, options, exit_code):
    setup = make_setup(prefix32)
    log = chain_config(setup, options)
    code, output, seconds = run_with_error_reports(setup, timeout=180)
    assert not CRASH_RE.search(output), output[-4000:]
    assert code == exit_code, (code, output[-2000:])

    lines = read_log(log).lines
    assert lines[-1] == END_OF_LOG
    # Selecting App1 climbs to App20000, one line per link, in link order.
    selected = [line[len(SELECTED):] for line in lines if line.startswith(SELECTED)]
    assert selected[:LINKS] == [f"Link{i}" for i in range(1, LINKS + 1)]
    if options == "q":
        assert "Launch failed. Error:File not found." in lines
        # After the install loop every link is searched again and stays selected.
        assert len(selected) == LINKS
        assert lines.count("Searching for:Link20000") == 2
    else:
        assert len(selected) == LINKS
        # The run's summary, a line for each link, then the closing line.
        assert lines[-LINKS - 3] == "After running prerequisites we have:  Reboot was required=false"
        assert lines[-2] == f"  App{LINKS} Link{LINKS}: missing; the run only searched"
