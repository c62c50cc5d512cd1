"""How the configuration file is read, seen from outside: the log file is
written only when [PREREQ_CHAINER] LogFile was read, so whether (and where)
a log appears shows what the parser made of the file."""

from __future__ import annotations

import pytest

from winehelp import END_OF_LOG, read_log, unique

# {log} / {other} are replaced by Windows paths in the setup folder.
# expect: "log" = log written to {log}; None = no log anywhere.
CASES = [
    # id, raw text, BOM, line end, expect
    ("bom-crlf", "[PREREQ_CHAINER]\nLogFile={log}\n", True, "\r\n", "log"),
    ("no-bom-loses-first-char", "[PREREQ_CHAINER]\nLogFile={log}\n", False, "\r\n", None),
    # Without a mark the first character lost is the CR of an empty first line;
    # the lone LF left is skipped before the "[" like any control character.
    ("no-bom-leading-empty-line", "\n[PREREQ_CHAINER]\nLogFile={log}\n", False, "\r\n", "log"),
    ("second-bom-removed", "\ufeff[PREREQ_CHAINER]\nLogFile={log}\n", True, "\r\n", "log"),
    ("lf-only-is-one-line", "[PREREQ_CHAINER]\nLogFile={log}\n", True, "\n", None),
    ("cr-only-is-one-line", "[PREREQ_CHAINER]\nLogFile={log}\n", True, "\r", None),
    ("no-final-line-end", "[PREREQ_CHAINER]\nLogFile={log}", True, "\r\n", "log"),
    ("empty-lines", "\n\n[PREREQ_CHAINER]\n\n\nLogFile={log}\n\n", True, "\r\n", "log"),
    ("blanks-around-header", " \t[PREREQ_CHAINER] \t\nLogFile={log}\n", True, "\r\n", "log"),
    ("blanks-inside-header", "[ PREREQ_CHAINER ]\nLogFile={log}\n", True, "\r\n", None),
    ("section-name-case", "[prereq_chainer]\nLogFile={log}\n", True, "\r\n", None),
    ("key-case", "[PREREQ_CHAINER]\nlogfile={log}\n", True, "\r\n", None),
    ("blanks-around-key-and-value", "[PREREQ_CHAINER]\n  LogFile \t=  {log} \t\n", True, "\r\n", "log"),
    ("first-of-two-keys", "[PREREQ_CHAINER]\nLogFile={log}\nLogFile={other}\n", True, "\r\n", "log"),
    ("first-of-two-sections",
     "[PREREQ_CHAINER]\nCleanupScript=\n[PREREQ_CHAINER]\nLogFile={log}\n", True, "\r\n", None),
    ("after-other-sections",
     "[GeneralOptions]\nOptions=q\n[PREREQUISITES]\n[PREREQ_CHAINER]\nLogFile={log}\n",
     True, "\r\n", "log"),
    ("key-before-any-section", "LogFile={log}\n[PREREQ_CHAINER]\n", True, "\r\n", None),
    ("semicolon-is-no-comment", "[PREREQ_CHAINER]\n;LogFile={log}\n", True, "\r\n", None),
    ("header-without-closing-bracket", "[PREREQ_CHAINER\nLogFile={log}\n", True, "\r\n", None),
    ("empty-value", "[PREREQ_CHAINER]\nLogFile=\n", True, "\r\n", None),
    ("blank-value", "[PREREQ_CHAINER]\nLogFile=   \n", True, "\r\n", None),
]


@pytest.mark.parametrize("text, bom, eol, expect", [c[1:] for c in CASES], ids=[c[0] for c in CASES])
def test_log_appears_only_when_logfile_was_read(prefix32, make_setup, text, bom, eol, expect):
    setup = make_setup(prefix32, unique("cfg") + ".exe")
    log = setup.folder / "chain.log"
    other = setup.folder / "other.log"
    config = text.replace("{log}", setup.win(log)).replace("{other}", setup.win(other))
    setup.write_config(config, bom=bom, eol=eol)

    result = setup.run()

    assert result.code == 0, result
    assert not other.exists()
    if expect == "log":
        assert log.exists(), sorted(p.name for p in setup.folder.iterdir())
        assert read_log(log).lines[-1] == END_OF_LOG
    else:
        assert not log.exists()
        assert not setup.fallback_log.exists(), "a log was written although none was configured"


def test_further_equals_signs_belong_to_the_value(prefix32, make_setup):
    setup = make_setup(prefix32)
    log = setup.folder / "a=b.log"
    setup.write_config(f"[PREREQ_CHAINER]\nLogFile={setup.win(log)}\n")

    assert setup.run().code == 0
    assert read_log(log).lines[-1] == END_OF_LOG
    assert not (setup.folder / "a").exists()


def test_configuration_is_utf16_not_ansi(prefix32, make_setup):
    """Non-ASCII characters in a value reach the file system unchanged."""
    setup = make_setup(prefix32)
    log = setup.folder / "Größe-日本.log"
    setup.write_config(f"[PREREQ_CHAINER]\nLogFile={setup.win(log)}\n")

    assert setup.run().code == 0
    assert read_log(log).lines[-1] == END_OF_LOG

