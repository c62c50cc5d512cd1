"""How the configuration file is read, seen from outside: the log file is
written only when [PREREQ_CHAINER] LogFile was read, so whether (and where)
a log appears shows what the parser made of the file."""

from __future__ import annotations

import pytest

from uihelp import ship
from winehelp import END_OF_LOG, encode_config, read_log, unique

# {log} / {other} are replaced by Windows paths in the setup folder.
# expect: "log" = log written to {log}; None = no log anywhere.
CASES = [
    # id, raw text, BOM, line end, expect
    ("bom-crlf", "[PREREQ_CHAINER]\nLogFile={log}\n", True, "\r\n", "log"),
    # Without a mark, UTF-16 LE is told by its zero high bytes, and nothing is
    # lost of the first line.
    ("no-bom-read-whole", "[PREREQ_CHAINER]\nLogFile={log}\n", False, "\r\n", "log"),
    ("no-bom-leading-empty-line", "\n[PREREQ_CHAINER]\nLogFile={log}\n", False, "\r\n", "log"),
    ("second-bom-removed", "\ufeff[PREREQ_CHAINER]\nLogFile={log}\n", True, "\r\n", "log"),
    ("lf-only", "[PREREQ_CHAINER]\nLogFile={log}\n", True, "\n", "log"),
    ("cr-only", "[PREREQ_CHAINER]\nLogFile={log}\n", True, "\r", "log"),
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


# --------------------------------------------------------------------------
# Encodings and line ends: one configuration in every form an author keeps

# id, encoding, byte-order mark, line end, the log line after the header
# (None: the form every version reads, no line).
FORMS = [
    ("utf16le-crlf", "utf-16-le", True, "\r\n", None),
    ("utf16le-lf", "utf-16-le", True, "\n", "UTF-16 LE with byte-order mark, LF line ends"),
    ("utf16le-no-bom", "utf-16-le", False, "\r\n", "UTF-16 LE without byte-order mark, CR LF line ends"),
    ("utf8-lf", "utf-8", False, "\n", "UTF-8 without byte-order mark, LF line ends"),
    ("utf8-bom-crlf", "utf-8", True, "\r\n", "UTF-8 with byte-order mark, CR LF line ends"),
    ("utf8-cr", "utf-8", False, "\r", "UTF-8 without byte-order mark, CR line ends"),
]


@pytest.mark.parametrize("encoding, bom, eol, read_as", [f[1:] for f in FORMS], ids=[f[0] for f in FORMS])
def test_every_form_runs_as_its_author_meant(prefix32, make_setup, encoding, bom, eol, read_as):
    setup = make_setup(prefix32, unique("form") + ".exe")
    ship(setup, "package.exe")
    log = setup.folder / "chain.log"
    # Letters beyond ASCII in a path: a wrong decoding would miss the file.
    marker = setup.folder / "Größe-日本.txt"
    setup.write_config(
        "[GeneralOptions]\nOptions=q\n"
        f"ExtractionFolder={setup.win(setup.folder)}\n"
        "[PREREQUISITES]\nApp1=runtime\n"
        f"[PREREQ_CHAINER]\nLogFile={setup.win(log)}\n"
        "[App1]\nDisplayName=Größe Runtime\nSetupFile=package.exe\nOperator=1\n"
        f"NoUiCommandLine=0 \"{setup.win(marker)}\" quiet\n",
        encoding=encoding, bom=bom, eol=eol)

    result = setup.run(timeout=120)

    assert result.code == 0, result
    assert marker.read_text(encoding="utf-8").startswith("show="), "the package did not run"
    lines = read_log(log).lines
    expected_first = f"Configuration file read as:{read_as}" if read_as else "Searching for:Größe Runtime"
    assert lines[0] == expected_first, lines
    assert not any(line.startswith("Configuration file read as:") for line in lines[1:]), lines


@pytest.mark.parametrize("raw", [
    encode_config("[PREREQ_CHAINER]\nLogFile=C:\\x.log\n", encoding="utf-16-be"),
    encode_config("[PREREQ_CHAINER]\nLogFile=C:\\x.log\n", encoding="utf-16-be", bom=False),
    encode_config("[PREREQ_CHAINER]\nLogFile=C:\\Größe.log\n", encoding="cp1252", bom=False),
], ids=["utf16be", "utf16be-no-bom", "ansi"])
def test_forms_that_cannot_be_read_are_an_empty_configuration(prefix32, make_setup, raw):
    setup = make_setup(prefix32, unique("unread") + ".exe")
    setup.write_config_bytes(raw)

    result = setup.run()

    assert result.code == 0, result
    assert sorted(p.name for p in setup.folder.iterdir()) == sorted([setup.name, setup.ini.name])
    assert not setup.fallback_log.exists()


def test_configuration_without_prerequisites_section_says_so(prefix32, make_setup):
    setup = make_setup(prefix32)
    log = setup.folder / "chain.log"
    # A misspelt section name: the App section is never listed.
    setup.write_config("[GeneralOptions]\nOptions=q\n[PREREQUISITE]\nApp1=a\n"
                       f"[PREREQ_CHAINER]\nLogFile={setup.win(log)}\n"
                       "[App1]\nDisplayName=A\nSetupFile=a.exe\n", encoding="utf-8", bom=False, eol="\n")

    result = setup.run()

    assert result.code == 0, result  # as designed: nothing to install
    assert read_log(log).lines == [
        "Configuration file read as:UTF-8 without byte-order mark, LF line ends",
        "The configuration has no [PREREQUISITES] section: no prerequisite is read.",
        END_OF_LOG,
    ]
