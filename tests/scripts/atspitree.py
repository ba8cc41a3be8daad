#!/usr/bin/env python3
"""Prints, as JSON, the accessibility tree of the program with the given process id as a
screen reader reads it over AT-SPI: [[role, name], ...] in tree order.
  atspitree.py PID"""
import json
import sys

import pyatspi


def walk(node, out):
    out.append([node.getRoleName(), node.name])
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
