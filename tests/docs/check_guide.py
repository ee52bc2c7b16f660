#!/usr/bin/python3
"""Holds the technician's guide to what the tools really print.

usage: check_guide.py SOURCE_DIR [--self-test]
       check_guide.py SOURCE_DIR --card-page
       check_guide.py SOURCE_DIR --commands

The guide (docs/technician.md) quotes the tools in two ways:
- prose: text in double quotes (text in `backquotes` is left out);
- screens: blocks of lines indented by four spaces or more. In a screen, a
  line in [square brackets] is what the technician does, a line indented two
  more spaces goes on the line above (joined by one space), and eight more
  spaces stand for the tool's tab.
A quote or a screen line that uses the placeholders <number>, <file>, <folder>,
<PON>, <function> or <reason> must be a line of a message in the tools' sources, with each printf
conversion in its place (%d and %x: <number>; %s: one of the others); a prose
quote may also be the start of such a line, up to a space in it. A quote
without placeholders may instead be a whole screen line of a committed
transcript (the cases of tests/transcripts and tests/restore), and a screen
without placeholders must be a stretch of one, line for line, where the
technician's line may end a line the tool left open. Every message the sources
hold must turn up in the guide. The guide is plain ASCII in lines under 80
characters, for Notepad. The technician's card (docs/quick-card.txt) quotes
the tools in prose only, checked as the guide's are. Each fault names the
line of the file that holds the text.

--card-page: the card fits one printed page (CARD_LINES lines of at most
CARD_WIDTH characters, plain ASCII).
--commands: every file that a fenced command of README.md or docs/*.md names
(a relative path; build output and the demo folder aside), and every file a
link there names, exists.
--self-test alters a quoted message of the guide and of the card, a screen
line, the card's width and a command's file, drops a message, and fails
unless each alteration is caught.
"""
import glob
import os
import re
import shlex
import sys

SOURCE_FOLDERS = ["workflow", "session", "camera", "calibration", "console", "restore"]
TRANSCRIPTS = ["tests/transcripts/cases/*/stdout", "tests/restore/cases/*/stdout"]
PLACEHOLDERS = {"<number>": "%d", "<file>": "%s", "<folder>": "%s", "<PON>": "%s",
                "<function>": "%s", "<reason>": "%s"}
# Literals with words that the tools never print: a compile-time message.
NOT_PRINTED = {
    "KVX_CONFIG_BYTES must leave the library at least 4096 bytes",
}
GUIDE = os.path.join("docs", "technician.md")
CARD = os.path.join("docs", "quick-card.txt")
CARD_LINES = 60
CARD_WIDTH = 78
# Where a fenced command's output lands, not files of the clone.
GENERATED = ("build/", "demo/")
CONVERSION = re.compile(r"%[-+ #0]*\d*(?:\.\d+)?(?:hh|h|ll|l|z)?([diuxXsc%])")
ESCAPES = {"n": "\n", "t": "\t", "r": "\r", "0": "\0", '"': '"', "'": "'", "\\": "\\"}


def string_literals(code):
    """The string literals of a C++ file, adjacent ones joined as the compiler
    joins them; comments, character literals and preprocessor lines skipped."""
    code = re.sub(r"(?m)^[ \t]*#.*$", "", code)
    literals, pending, i = [], None, 0
    while i < len(code):
        c = code[i]
        if code.startswith("//", i):
            i = code.find("\n", i)
            i = len(code) if i < 0 else i
        elif code.startswith("/*", i):
            i = code.index("*/", i) + 2
        elif c in "\"'":
            end, text = i + 1, []
            while code[end] != c:
                if code[end] == "\\":
                    text.append(ESCAPES.get(code[end + 1], code[end + 1]))
                    end += 2
                else:
                    text.append(code[end])
                    end += 1
            if c == '"':
                pending = (pending or "") + "".join(text)
            i = end + 1
            continue
        elif not c.isspace() and pending is not None:
            literals.append(pending)
            pending = None
        i += 1
    if pending is not None:
        literals.append(pending)
    return literals


def template_regex(template, number, text):
    """A regular expression for a printf template, each conversion standing
    for the given patterns."""
    out, last = [], 0
    for m in CONVERSION.finditer(template):
        out.append(re.escape(template[last:m.start()]))
        kind = m.group(1)
        out.append("%" if kind == "%" else text if kind in "sc" else number)
        last = m.end()
    out.append(re.escape(template[last:]))
    return "".join(out)


def message_lines(source_dir):
    """Each line of each literal of the tools' sources, and of those the ones
    that hold words: the messages."""
    lines, messages = set(), set()
    for folder in SOURCE_FOLDERS:
        for path in sorted(glob.glob(os.path.join(source_dir, folder, "*.[ch]*"))):
            with open(path, encoding="utf-8") as f:
                for literal in string_literals(f.read()):
                    if " " not in literal and "\n" not in literal:
                        continue  # names, modes, table entries: never a line of their own
                    for line in literal.split("\n"):
                        line = line.strip(" \t\r")
                        if line:
                            lines.add(line)
                        words = re.search("[A-Za-z]", CONVERSION.sub("", line))
                        if words and line not in NOT_PRINTED:
                            messages.add(line)
    return lines, messages


def screen_texts(source_dir):
    """The committed transcripts as a console shows them."""
    texts = []
    for pattern in TRANSCRIPTS:
        for path in sorted(glob.glob(os.path.join(source_dir, pattern))):
            with open(path, encoding="utf-8", newline="") as f:
                text = f.read().replace("\r", "")
            texts.append("\n".join(line.expandtabs(8) for line in text.split("\n")))
    return texts


def parse_guide(text, screens_allowed=True):
    """The guide's prose quotes, each (number of the line it starts on, quote;
    None when its paragraph's quotes do not pair up), and its screens, each a
    list of (line number, screen line, True when the technician's line
    follows). Without screens_allowed every line is prose (the card)."""
    lines = text.split("\n")
    prose, screens, paragraph, i = [], [], [], 0

    def end_paragraph():
        starts, joined = [], ""
        for number, line in paragraph:
            starts.append((len(joined), number))
            joined += line.strip() + " "
        # Backquoted text blanked in place, so that offsets still give lines.
        joined = re.sub(r"`[^`]*`", lambda m: " " * len(m.group()), joined)

        def line_at(offset):
            return [number for start, number in starts if start <= offset][-1]

        marks = [m.start() for m in re.finditer('"', joined)]
        if len(marks) % 2:
            prose.append((line_at(marks[-1]), None))  # unbalanced: reported as such
        for m in re.finditer(r'"([^"]*)"', joined):
            prose.append((line_at(m.start()), re.sub(r"\s+", " ", m.group(1)).strip()))
        paragraph.clear()

    while i < len(lines):
        line = lines[i]
        starts_block = (screens_allowed and line.startswith("    ") and
                        (i == 0 or lines[i - 1].strip() == ""))
        if starts_block:
            end_paragraph()
            block = []
            while i < len(lines) and lines[i].startswith("    "):
                block.append((i + 1, lines[i].rstrip()))
                i += 1
            base = min(len(l) - len(l.lstrip(" ")) for _, l in block)
            screen = []
            for number, raw in block:
                body = raw[base:]
                if body.startswith("[") and body.endswith("]"):
                    if screen:
                        screen[-1] = (screen[-1][0], screen[-1][1], True)
                elif re.match(r"  \S", body) and screen:
                    screen[-1] = (screen[-1][0], screen[-1][1] + " " + body.strip(), False)
                else:
                    screen.append((number, body, False))
            screens.append(screen)
            continue
        if line.strip() == "":
            end_paragraph()
        else:
            paragraph.append((i + 1, line))
        i += 1
    end_paragraph()
    return prose, screens


def uses_placeholder(text):
    return any(p in text for p in PLACEHOLDERS)


def check(guide, source_dir, card=""):
    """Every fault found in the guide and the card's quotes, one line each."""
    faults = []
    for number, line in enumerate(guide.split("\n"), 1):
        if len(line) >= 80:
            faults.append("guide line %d: %d characters, 79 at most" % (number, len(line)))
        if re.search(r"[^\x20-\x7e]", line):
            faults.append("guide line %d: not plain ASCII (or a tab)" % number)

    lines, messages = message_lines(source_dir)
    placeholder = "(?:%s)" % "|".join(re.escape(p) for p in PLACEHOLDERS if PLACEHOLDERS[p] == "%s")
    # A message with its conversions as the guide's placeholders.
    written = {m: re.compile(template_regex(m, re.escape("<number>"), placeholder)) for m in lines}
    # A message as it appears on the screen, or in the guide with placeholders.
    printed = {m: re.compile(template_regex(m, r"(?:-?\d+|[0-9a-fA-F]+|<number>)", ".+"))
               for m in messages}
    screens = screen_texts(source_dir)
    screen_lines = {line.strip() for text in screens for line in text.split("\n")}

    def is_message(text, prefix_allowed):
        for m, regex in written.items():
            if regex.fullmatch(text):
                return True
            if prefix_allowed:
                for cut in (k for k, c in enumerate(m) if c == " "):
                    if re.fullmatch(template_regex(m[:cut], re.escape("<number>"), placeholder),
                                    text):
                        return True
        return False

    def check_quotes(name, prose):
        for number, quote in prose:
            if quote is None:
                faults.append("%s line %d: a paragraph with an odd number of double quotes" %
                              (name, number))
            elif not is_message(quote, True) and (uses_placeholder(quote) or
                                                   quote not in screen_lines):
                faults.append('%s line %d: "%s" is not printed by the tools' % (name, number, quote))

    prose, blocks = parse_guide(guide)
    check_quotes("guide", prose)
    quoted = [quote for _, quote in prose if quote is not None]
    card_prose = parse_guide(card, screens_allowed=False)[0]
    check_quotes("card", card_prose)

    screen_line_count = 0
    for screen in blocks:
        screen_line_count += len(screen)
        quoted.extend(body.strip() for _, body, _ in screen)
        stretch = "(?m)^"
        for k, (_, body, open_line) in enumerate(screen):
            stretch += re.escape(body)
            last = k == len(screen) - 1
            stretch += "\n?" if open_line else "(?:\n|\\Z)" if last else "\n"
        with_placeholders = any(uses_placeholder(body) for _, body, _ in screen)
        if not with_placeholders and any(re.search(stretch, text) for text in screens):
            continue
        unknown = [(number, body.strip()) for number, body, _ in screen
                   if not is_message(body.strip(), False) and body.strip() not in screen_lines]
        for number, body in unknown:
            faults.append("guide line %d: screen line %r is not printed by the tools" %
                          (number, body))
        if not unknown and not with_placeholders:
            faults.append("guide line %d: this screen is in no committed transcript in this "
                          "order" % screen[0][0])

    for m in sorted(messages):
        if not any(printed[m].fullmatch(q) for q in quoted):
            faults.append("message not in the guide: %r" % m)
    return faults, len(prose) + len(card_prose), screen_line_count, len(messages)


def check_card_page(card):
    """The card's faults as a printed page: too many lines, too wide a line."""
    lines = card.rstrip("\n").split("\n")
    faults = []
    if len(lines) > CARD_LINES:
        faults.append("card: %d lines, %d at most for one page" % (len(lines), CARD_LINES))
    for number, line in enumerate(lines, 1):
        if len(line) > CARD_WIDTH:
            faults.append("card line %d: %d characters, %d at most" %
                          (number, len(line), CARD_WIDTH))
        if re.search(r"[^\x20-\x7e]", line):
            faults.append("card line %d: not plain ASCII (or a tab)" % number)
    return faults


def named_paths(command):
    """The files of the clone that one shell command names: relative paths,
    also as the value of VAR=..., with a leading $repo/ meaning the clone."""
    try:
        words = shlex.split(command, comments=True)
    except ValueError:
        return []
    paths = []
    for word in words:
        word = word.split("=", 1)[1] if re.match(r"[A-Za-z_]\w*=", word) else word
        word = re.sub(r"^\$\{?repo\}?/", "", word)
        if "/" in word and re.fullmatch(r"[\w.][\w./+-]*", word) and not word.startswith(GENERATED):
            paths.append(word)
    return paths


def check_commands(docs, source_dir):
    """Each file named by a fenced command or a link of DOCS ({path: text})
    that is not in the clone, one line each."""
    faults = []
    for path, text in sorted(docs.items()):
        folder = os.path.dirname(path)
        command, fence = "", False
        for number, line in enumerate(text.split("\n"), 1):
            if line.strip().startswith("```"):
                fence = not fence
                continue
            for link in re.findall(r"\]\(([^)#:]+)\)", line):
                if not os.path.exists(os.path.join(source_dir, folder, link)):
                    faults.append("%s line %d: the link %s names no file" % (path, number, link))
            if not fence:
                continue
            command += line.strip()
            if command.endswith("\\"):
                command = command[:-1] + " "
                continue
            for named in named_paths(command):
                if not os.path.exists(os.path.join(source_dir, named)):
                    faults.append("%s line %d: %s names no file of the clone" %
                                  (path, number, named))
            command = ""
    return faults


def read_docs(source_dir):
    """README.md and docs/*.md, by path from the clone's root."""
    docs = {}
    for path in ["README.md"] + sorted(glob.glob(os.path.join(source_dir, "docs", "*.md"))):
        path = os.path.relpath(os.path.join(source_dir, path), source_dir)
        with open(os.path.join(source_dir, path), encoding="utf-8") as f:
            docs[path] = f.read()
    return docs


def self_test(guide, card, docs, source_dir):
    """Each alteration must be caught; the faults of the unaltered texts do not count."""
    prose, screens = parse_guide(guide)
    first_quote = next(q for _, q in prose if q and " " in q)
    screen_line = next(body for screen in screens for _, body, _ in screen
                       if re.search(r"\d", body) and not uses_placeholder(body))
    # The last digit, so that the line still reads as its message.
    digit = list(re.finditer(r"\d", screen_line))[-1]
    altered_line = (screen_line[:digit.start()] + str((int(digit.group()) + 1) % 10) +
                    screen_line[digit.end():])
    card_quote = next(q for _, q in parse_guide(card, False)[0] if q and " " in q)

    def guide_faults(altered_guide=guide, altered_card=card):
        return check(altered_guide, source_dir, altered_card)[0]

    readme = docs["README.md"]
    alterations = {
        "a quoted message with one letter more": lambda: guide_faults(guide.replace(
            '"%s"' % first_quote, '"%s"' % first_quote.replace(" ", " X", 1), 1)),
        "a screen line with one digit changed": lambda: guide_faults(
            guide.replace(screen_line, altered_line, 1)),
        "a message left out": lambda: guide_faults(
            guide.replace('"No register data to be written."', "a message")),
        "a quote of the card with one letter more": lambda: guide_faults(altered_card=card.replace(
            '"%s"' % card_quote, '"%s"' % card_quote.replace(" ", " X", 1), 1)),
        "a card line too wide": lambda: check_card_page(
            card.replace("\n", " " * CARD_WIDTH + "x\n", 1)),
        "a command naming a file that is not there": lambda: check_commands(
            dict(docs, **{"README.md": readme.replace(
                "tests/transcripts/record.sh\n", "tests/transcripts/recorded.sh\n", 1)}), source_dir),
    }
    before = set(guide_faults()) | set(check_card_page(card)) | set(check_commands(docs, source_dir))
    failed = False
    for what, faults_of in alterations.items():
        if not set(faults_of()) - before:
            print("self-test: not caught: " + what)
            failed = True
    return 1 if failed else 0


def main():
    source_dir = sys.argv[1]
    texts = []
    for name in (GUIDE, CARD):
        with open(os.path.join(source_dir, name), encoding="ascii", errors="replace",
                  newline="") as f:
            texts.append(f.read().replace("\r\n", "\n"))
    guide, card = texts
    docs = read_docs(source_dir)
    if "--self-test" in sys.argv[2:]:
        return self_test(guide, card, docs, source_dir)
    if "--card-page" in sys.argv[2:]:
        faults = check_card_page(card)
        summary = "the card fits its page: %d lines of at most %d characters" % (
            len(card.rstrip("\n").split("\n")), CARD_WIDTH)
    elif "--commands" in sys.argv[2:]:
        faults = check_commands(docs, source_dir)
        summary = "every file named by the commands and links of %d files exists" % len(docs)
    else:
        faults, quotes, screen_lines, messages = check(guide, source_dir, card)
        summary = ("%d prose quotes and %d screen lines checked; %d messages of the tools, "
                   "each in the guide" % (quotes, screen_lines, messages))
    for fault in faults:
        print(fault)
    print(summary if not faults else "%d faults" % len(faults))
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
