"""The man page against the help texts: every subcommand, option and
argument that `--help` shows must be named in doc/sorvane.1."""

import re
import unittest
from pathlib import Path

import harness

PAGE = Path(__file__).resolve().parents[2] / "doc" / "sorvane.1"


def page_text():
    text = PAGE.read_text()
    return re.sub(r"\\f[BIRP]|\\&", "", text).replace("\\-", "-")


def section(help_text, title):
    """The first words of the rows of a help section ("Commands:", ...)."""
    found = re.search(r"^%s:\n((?:  .*\n)+)" % title, help_text, re.M)
    return found.group(1).splitlines() if found else []


def name_column(rows):
    return [re.split(r"\s{2,}", row.strip(), maxsplit=1)[0] for row in rows]


def names_in_help(args):
    help_text = harness.run(args + ["--help"]).stdout.decode()
    commands = name_column(section(help_text, "Commands"))
    options = name_column(section(help_text, "Options"))
    arguments = name_column(section(help_text, "Arguments"))
    names = re.findall(r"(?<![\w-])--?[A-Za-z][\w-]*", " ".join(options))
    values = re.findall(r"[A-Z][A-Z_]+", " ".join(options + arguments))
    return commands, names + values


@unittest.skipIf(harness.is_windows(), "one build is enough to compare texts")
class ManPage(unittest.TestCase):
    def test_names_everything_the_help_shows(self):
        page = page_text()
        commands, top_names = names_in_help([])
        self.assertEqual(commands, ["list", "exec", "upload", "download", "help"])
        for sub in [None] + commands:
            names = top_names if sub is None else names_in_help([sub])[1]
            self.assertTrue(names or sub == "help", sub)
            for name in ([sub] if sub else []) + names:
                with self.subTest(command=sub, name=name):
                    self.assertRegex(page, r"(?<![\w-])%s(?![\w-])" % re.escape(name))


if __name__ == "__main__":
    unittest.main()
