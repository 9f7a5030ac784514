#!/usr/bin/env python3
"""Writes the manual pages vaultora.1 and vaultora-cli.1 from one source: the texts below and the
command table of vaultora-cli itself (its --help), so the pages never drift from the program.

    make_manpages.py VAULTORA_CLI VERSION OUTDIR
"""
import os
import subprocess
import sys


def roff(text):
    """Escapes text for a roff body line."""
    text = text.replace("\\", "\\e").replace("-", "\\-")
    return "\\&" + text if text.startswith((".", "'")) else text


COMMON_FILES = [
    ("$XDG_DATA_HOME/Vaultora", "The data folder: options, jobs, logs and histories (mode 0700)."),
    ("$XDG_CACHE_HOME/VaultoraTmp", "Temporary copies made while jobs run."),
    ("$XDG_CONFIG_HOME/Vaultora/Vaultora.conf", "Service addresses for cloud drives (group cloud)."),
    ("<prefix>/share/vaultora", "Translations, the default excluded folders and other shipped files."),
]


def header(name, section_title, version):
    return ['.TH "%s" "1" "" "Vaultora %s" "%s"' % (name.upper(), version, section_title)]


def files_section():
    lines = [".SH FILES"]
    for path, what in COMMON_FILES:
        lines += [".TP", "\\fI%s\\fR" % roff(path), roff(what)]
    return lines


def gui_page(version):
    lines = header("vaultora", "User Commands", version)
    lines += [".SH NAME", "vaultora \\- back up files, volumes and application data",
              ".SH SYNOPSIS", ".B vaultora", "[\\fB\\-\\-data\\-dir\\fR \\fIDIR\\fR] [\\fIJOBFILE\\fR]",
              ".SH DESCRIPTION",
              roff("Vaultora defines backup jobs (what, where, how and when), runs them on schedule or on "
                   "demand from the notification area, shows their progress, keeps logs and history, "
                   "restores any restore point and e-mails reports."),
              ".PP",
              roff("Only one instance runs per user and data folder; starting it again shows the running "
                   "window, and a stored job file given as JOBFILE is opened there."),
              ".SH OPTIONS", ".TP", "\\fB\\-\\-data\\-dir\\fR \\fIDIR\\fR",
              roff("Use DIR as the data folder instead of the default (portable use)."),
              ]
    lines += files_section()
    lines += [".SH SEE ALSO", ".BR vaultora\\-cli (1)"]
    return lines


def cli_page(version, usage):
    lines = header("vaultora-cli", "User Commands", version)
    lines += [".SH NAME", "vaultora\\-cli \\- run and manage Vaultora backup jobs without a window",
              ".SH SYNOPSIS", ".B vaultora\\-cli", "[\\fB\\-\\-data\\-dir\\fR \\fIDIR\\fR] \\fICOMMAND\\fR [\\fIARGS\\fR]",
              ".br", ".B vaultora\\-cli", "\\fB\\-\\-help\\fR | \\fB\\-\\-version\\fR | \\fBhelp\\fR \\fICOMMAND\\fR",
              ".SH DESCRIPTION",
              roff("vaultora-cli creates, runs, restores and schedules the same jobs as the windowed "
                   "program, on the same data folder. Passwords are read from files named on the "
                   "command line, never from the command line itself."),
              ".SH COMMANDS"]
    commands = []
    for line in usage.splitlines():
        if line.startswith("  ") and not line.startswith("      "):
            commands.append([line.strip()])
        elif line.startswith("      ") and commands:
            commands[-1].append(line.strip())
    if not commands:
        sys.exit("make_manpages: no commands in the usage text")
    for command in commands:
        lines += [".TP", "\\fB%s\\fR" % roff(command[0])]
        for more in command[1:]:
            lines += [".br", roff(more)]
        name = command[0].split()[0]
        summary = subprocess.run([CLI, "help", name], capture_output=True, text=True, check=True).stdout
        text = summary.split("\n\n", 1)[1].strip() if "\n\n" in summary else ""
        if text:
            lines += [".br", roff(text)]
    lines += [".SH EXIT STATUS", ".TP", "0", "Success.", ".TP", "1", "The job ended with warnings.",
              ".TP", "2", "The job ended with errors, or the command failed.", ".TP", "3", "Cancelled.",
              ".TP", "64", "Wrong usage, or the command was refused."]
    lines += files_section()
    lines += [".SH SEE ALSO", ".BR vaultora (1)"]
    return lines


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    CLI, version, out = sys.argv[1], sys.argv[2], sys.argv[3]
    usage = subprocess.run([CLI, "--help"], capture_output=True, text=True, check=True).stdout
    os.makedirs(out, exist_ok=True)
    for name, lines in (("vaultora.1", gui_page(version)), ("vaultora-cli.1", cli_page(version, usage))):
        with open(os.path.join(out, name), "w") as f:
            f.write("\n".join(lines) + "\n")
