#!/usr/bin/env python3
"""The screens' translations, two checks:

  checktranslations.py marked FILE_OR_FOLDER...
      fails on a visible text the screens show without qsTr: a string literal with a
      letter in a binding or assignment of a property that shows text (text, title,
      placeholderText, Accessible.name, ...) or returned by a JavaScript library, other
      than one compared, passed to a call or marked.
  checktranslations.py current LUPDATE QML_DIR TS...
      fails unless each .ts holds exactly the messages lupdate finds in QML_DIR today,
      every one of them translated.
"""
import os
import re
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

SHOWN = {"text", "title", "placeholderText", "label", "value", "message", "feedbackMessage",
         "Accessible.name", "Accessible.description", "ToolTip.text"}
MARKERS = {"qsTr", "qsTranslate", "QT_TR_NOOP", "QT_TRANSLATE_NOOP", "qsTrId"}
COMPARISONS = {"===", "!==", "==", "!="}
# A line ending in one of these goes on on the next.
CONTINUES = {"+", "-", "*", "/", "%", "&&", "||", "?", ":", ",", "=", ".", "(", "[", "{"} | COMPARISONS
TOKEN = re.compile(r"""
    (?P<comment>//[^\n]*|/\*.*?\*/)
  | (?P<string>"(?:\\.|[^"\\\n])*"|'(?:\\.|[^'\\\n])*'|`(?:\\.|[^`\\])*`)
  | (?P<name>[A-Za-z_$][\w$]*(?:\.[A-Za-z_$][\w$]*)*)
  | (?P<newline>\n)
  | (?P<op>===|!==|==|!=|<=|>=|&&|\|\||[-+*/%]=|[^\s\w])
  | (?P<other>[^\n])""", re.S | re.X)


def visible(literal):
    """Whether it has a letter a person reads: markup, entities and colours aside."""
    text = re.sub(r"<[^>]*>|&\w+;|%\d|^#[0-9a-fA-F]{3,8}$", "", literal[1:-1])
    return re.search(r"[^\W\d_]", text) is not None


def unmarked(path):
    source = open(path, encoding="utf-8").read()
    library = path.endswith(".js")
    tokens = [(m.lastgroup, m.group(), source.count("\n", 0, m.start()) + 1)
              for m in TOKEN.finditer(source) if m.lastgroup not in ("comment", "other")]
    problems = []
    # Per open bracket: its kind, the call it belongs to, the key its contents bind to,
    # and the ternaries waiting for their ':'.
    levels = [{"open": "{", "call": None, "key": None, "ternaries": 0}]
    previous = ("newline", "\n", 0)
    for i, (kind, value, line) in enumerate(tokens):
        level = levels[-1]
        following = tokens[i + 1][1] if i + 1 < len(tokens) else ""
        if kind == "newline":
            # A statement ends at a line's end unless something holds it open.
            if level["open"] == "{" and not level["ternaries"] and previous[1] not in CONTINUES:
                level["key"] = None
        elif kind == "op" and value in "({[":
            call = previous[1] if value == "(" and previous[0] == "name" else None
            levels.append({"open": value, "call": call, "key": None, "ternaries": 0})
        elif kind == "op" and value in ")}]" and len(levels) > 1:
            levels.pop()
        elif kind == "op" and value == "?":
            level["ternaries"] += 1
        elif kind == "op" and value == ":":
            if level["ternaries"]:
                level["ternaries"] -= 1
            elif previous[0] == "name":
                level["key"] = previous[1]
        elif kind == "op" and value == "=" and previous[0] == "name":
            level["key"] = previous[1].split(".")[-1]
        elif kind == "op" and value == ";":
            level["key"] = None
        elif kind == "name" and value == "return" and library:
            level["key"] = "return"
        elif kind == "string" and visible(value):
            compared = previous[1] in COMPARISONS or following in COMPARISONS
            calls = [l["call"] for l in levels if l["call"]]
            marked = any(c.split(".")[-1] in MARKERS for c in calls)
            in_call = levels[-1]["call"] is not None
            key = next((l["key"] for l in reversed(levels) if l["key"]), None)
            if not compared and not marked and not in_call and (key in SHOWN or key == "return"):
                problems.append("%s:%d: %s shown without qsTr" % (path, line, value))
        if kind != "newline":
            previous = (kind, value, line)
    return problems


def messages(ts):
    """(context, source, comment) of every live message, and those left untranslated."""
    found, untranslated = set(), []
    for context in ET.parse(ts).getroot().iter("context"):
        name = context.findtext("name")
        for message in context.iter("message"):
            translation = message.find("translation")
            kind = translation.get("type") if translation is not None else None
            if kind in ("vanished", "obsolete"):
                continue
            key = (name, message.findtext("source"), message.findtext("comment") or "")
            found.add(key)
            if kind == "unfinished" or not (translation.text or "").strip():
                untranslated.append(key)
    return found, untranslated


def current(lupdate, qml_dir, ts_files):
    problems = []
    with tempfile.TemporaryDirectory() as work:
        fresh = os.path.join(work, "fresh.ts")
        run = subprocess.run([lupdate, "-silent", "-locations", "none", qml_dir, "-ts", fresh],
                             capture_output=True, text=True)
        if run.returncode != 0 or not os.path.exists(fresh):
            return ["lupdate failed: " + run.stdout + run.stderr]
        wanted, _ = messages(fresh)
        if not wanted:
            return ["lupdate found no message in " + qml_dir]
        for ts in ts_files:
            kept, untranslated = messages(ts)
            problems += ["%s: lacks %r (run lupdate)" % (ts, m) for m in sorted(wanted - kept)]
            problems += ["%s: keeps %r, which the screens no longer have (run lupdate -no-obsolete)" % (ts, m)
                         for m in sorted(kept - wanted)]
            problems += ["%s: %r not translated" % (ts, m) for m in untranslated]
    return problems


def main(argv):
    if len(argv) > 2 and argv[1] == "marked":
        files = []
        for path in argv[2:]:
            files += sorted(os.path.join(path, f) for f in os.listdir(path)
                            if f.endswith((".qml", ".js"))) if os.path.isdir(path) else [path]
        problems = [p for path in files for p in unmarked(path)]
    elif len(argv) > 4 and argv[1] == "current":
        problems = current(argv[2], argv[3], argv[4:])
    else:
        print(__doc__, file=sys.stderr)
        return 2
    for p in problems:
        print(p, file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
