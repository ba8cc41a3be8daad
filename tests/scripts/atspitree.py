#!/usr/bin/env python3
"""Prints, as JSON, the accessibility tree of the program with the given process id as a
screen reader reads it over AT-SPI: [[role, name, [state, ...]], ...] in tree order, the
states among enabled, sensitive, focused, showing.
  atspitree.py PID"""
import json
import sys

import pyatspi

STATES = {pyatspi.STATE_ENABLED: "enabled", pyatspi.STATE_SENSITIVE: "sensitive",
          pyatspi.STATE_FOCUSED: "focused", pyatspi.STATE_SHOWING: "showing"}


def walk(node, out):
    states = node.getState()
    out.append([node.getRoleName(), node.name, [n for s, n in STATES.items() if states.contains(s)]])
    for i in range(node.childCount):
        child = node.getChildAtIndex(i)
        if child is not None:
            walk(child, out)


def main(pid):
    for app in pyatspi.Registry.getDesktop(0):
        if app is not None and app.get_process_id() == pid:
            out = []
            walk(app, out)
            print(json.dumps(out))
            return 0
    print("no application with process id %d on the accessibility bus" % pid, file=sys.stderr)
    return 1


if __name__ == "__main__":
    sys.exit(main(int(sys.argv[1])))
