#!/usr/bin/env python3
"""Writes a program's manual page or its bash completion from its own --help, so that the help,
the page and the completion never disagree.

  make-docs.py man PROGRAM NAME "one-line summary" VERSION OUT.1
  make-docs.py completion PROGRAM NAME OUT

The help's shape: a "usage: ..." line; section heads ("commands:", "options:") alone on a line;
entries indented by two spaces, the name and then its text from a deeper column, continued on
lines indented as deep; paragraphs at the left margin. For a program with commands, each
command's own --help names the options that serve it.
"""
import re
import subprocess
import sys


def help_of(program, *args):
    return subprocess.run([program, *args, "--help"], check=True, capture_output=True,
                          text=True).stdout


def parse(text):
    """The usage line and a list of blocks: ("section", name), ("entry", name, text),
    ("paragraph", text)."""
    usage = ""
    blocks = []
    # The column where the entries' texts begin: that of their continuation lines. A name as long
    # as the column leaves one blank before its text.
    depths = [len(l) - len(l.lstrip(" ")) for l in text.splitlines() if l.startswith("   ")]
    column = max(set(depths), key=depths.count) if depths else 0
    for line in text.splitlines():
        if line.startswith("usage: "):
            usage = line[len("usage: "):]
            continue
        if not line.strip():
            continue
        if re.fullmatch(r"[a-z]+:", line):
            blocks.append(("section", line[:-1]))
            continue
        if (column and line.startswith("  ") and not line.startswith("   ")
                and len(line) > column and line[column - 1] == " " and line[column] != " "):
            blocks.append(["entry", line[:column].strip(), line[column:].strip()])
            continue
        match = re.match(r"  (\S(?:\S| (?! ))*)(?: {2,}(.*))?$", line)
        if match and not line.startswith("   "):
            blocks.append(["entry", match.group(1), match.group(2) or ""])
            continue
        if line.startswith("   ") and blocks and blocks[-1][0] == "entry":
            blocks[-1][2] = (blocks[-1][2] + " " + line.strip()).strip()
            continue
        if blocks and blocks[-1][0] == "paragraph" and not blocks[-1][2]:
            blocks[-1][1] += " " + line.strip()
        else:
            blocks.append(["paragraph", line.strip(), ""])
        # A paragraph ends at the end of a sentence; the next line starts another.
        if line.rstrip().endswith((".", ":")):
            blocks[-1][2] = "end"
    return usage, blocks


def roff(text):
    text = text.replace("\\", "\\e").replace("-", "\\-")
    return "\\&" + text if text.startswith((".", "'")) else text


def man(program, name, summary, version, out):
    usage, blocks = parse(help_of(program))
    page = [f'.TH {name.upper()} 1 "" "{name} {version}" "User Commands"',
            ".SH NAME", f"{roff(name)} \\- {roff(summary)}",
            ".SH SYNOPSIS", f".B {roff(usage)}",
            ".SH DESCRIPTION", roff(summary[0].upper() + summary[1:] + ".")]
    heading = False
    for block in blocks:
        if block[0] == "section":
            page.append(".SH " + block[1].upper())
            heading = True
        elif block[0] == "entry":
            if not heading:
                page.append(".SH OPTIONS")
                heading = True
            page += [".TP", f".B {roff(block[1])}", roff(block[2])]
        else:
            if block[1].startswith("Exit status:") or not heading:
                page.append(".SH " + ("EXIT STATUS" if block[1].startswith("Exit") else "NOTES"))
                heading = True
            page += [".PP", roff(block[1])]
    page += [".SH SEE ALSO", "/usr/share/doc/orvel\\-tools/README.md, "
             "/usr/share/doc/orvel\\-tools/json.md"]
    with open(out, "w", encoding="utf-8") as f:
        f.write("\n".join(page) + "\n")


def options_of(blocks):
    names = []
    for block in blocks:
        if block[0] == "entry" and block[1].startswith("-"):
            for part in block[1].split(", "):
                if part != "--":
                    names.append(part.split(" ")[0])
    return names


def completion(program, name, out):
    text = help_of(program)
    usage, blocks = parse(text)
    options = options_of(blocks)
    commands = []
    section = ""
    for block in blocks:
        if block[0] == "section":
            section = block[1]
        elif block[0] == "entry" and section == "commands":
            commands.append(block[1].split(" ")[0])
    if not commands:
        # Options named only in the usage line or in another option's text (--state, --seed).
        for option in re.findall(r"(?<![\w-])--[a-z][a-z-]*", text):
            if option not in options:
                options.append(option)
    # Options that take a file name.
    files = [o for b in blocks if b[0] == "entry" for o in options_of([b])
             if re.search(r"\b(FILE|DIR)\b", b[1])]
    files += [o for o in re.findall(r"(--[a-z-]+) (?:FILE|DIR)\b", usage) if o not in files]
    function = "_" + name.replace("-", "_")
    lines = [f"# bash completion for {name}, written from its --help by scripts/make-docs.py",
             f"{function}() {{",
             '  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]} word command=',
             '  for word in "${COMP_WORDS[@]:1:COMP_CWORD-1}"; do',
             '    case " ' + " ".join(commands) + ' " in *" $word "*) command=$word ;; esac',
             "  done" if commands else "  done",
             "  case $prev in",
             f'    {"|".join(files) if files else "--never--"}) COMPREPLY=($(compgen -f -- "$cur")); return ;;',
             "  esac",
             f'  local options="{" ".join(options)}"',
             '  case $command in']
    for command in commands:
        own = [o for o in options_of(parse(help_of(program, command))[1]) if o not in options]
        if own:
            lines.append(f'    {command}) options+=" {" ".join(own)}" ;;')
    lines += ["  esac",
              '  if [[ $cur == -* ]]; then',
              '    COMPREPLY=($(compgen -W "$options" -- "$cur"))',
              f'  elif [[ -z $command && -n "{" ".join(commands)}" ]]; then',
              f'    COMPREPLY=($(compgen -W "{" ".join(commands)}" -- "$cur"))',
              "  else",
              '    COMPREPLY=($(compgen -f -- "$cur"))',
              "  fi",
              "}",
              f"complete -o filenames {function} {name}"]
    with open(out, "w", encoding="utf-8") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    if len(sys.argv) == 7 and sys.argv[1] == "man":
        man(*sys.argv[2:])
    elif len(sys.argv) == 5 and sys.argv[1] == "completion":
        completion(*sys.argv[2:])
    else:
        sys.exit(__doc__)
