#!/usr/bin/env python3
"""Single-point changes to the system's code, and which of them some test notices.

A fair measure of what the suites catch: each mutant flips one comparison, swaps && and
||, moves a constant by one or turns a returned true into false (or back), in cpp/; the
tree is built and the suites run; a mutant is caught when a suite fails, and invalid when
the tree does not build, and not built here when the machine code it compiles to is the
same (code for another CPU, or a change the compiler folds away). Sites are drawn with a
fixed seed, so runs compare.

    tests/scripts/mutants.py [--count N] [--seed S] [--build DIR] [--only FILE:LINE]...

Needs a configured build folder (default build-mutants, made with the default options if
missing); restores every file it changes, also when interrupted. Prints one line per
mutant and the share caught. Survivors are listed with their diff, to be judged by hand:
one that changes nothing a caller can see is equivalent, not a miss.
"""
import argparse
import os
import random
import re
import subprocess
import sys
import time

TOP = os.path.abspath(os.path.join(os.path.dirname(__file__), '..', '..'))

# (pattern, replacement) per operator; each applies to one match on one line.
OPERATORS = [
    ('<=', re.compile(r'(?<![<>=!])<=(?!=)'), '<'),
    ('>=', re.compile(r'(?<![<>=!])>=(?!=)'), '>'),
    ('<', re.compile(r'(?<![<>=!-])<(?![<=])(?=\s)'), '<='),
    ('>', re.compile(r'(?<![<>=!-])>(?![>=])(?=\s)'), '>='),
    ('==', re.compile(r'(?<![<>=!])==(?!=)'), '!='),
    ('!=', re.compile(r'!=(?!=)'), '=='),
    ('&&', re.compile(r'&&'), '||'),
    ('||', re.compile(r'\|\|'), '&&'),
    ('return true', re.compile(r'\breturn true;'), 'return false;'),
    ('return false', re.compile(r'\breturn false;'), 'return true;'),
    ('constant+1', re.compile(r'(?<![\w.])([1-9][0-9]*)(?![\w.])'), None),
]

# Code that never runs on this machine or is not behaviour (the ARM block functions, logging).
SKIP_LINE = re.compile(r'^\s*(#|//|\*|/\*)|qCDebug|qDebug|qWarning|static_assert|Q_DECLARE|Q_ENUM')


def sources():
    out = []
    for folder, _, files in os.walk(os.path.join(TOP, 'cpp')):
        for name in sorted(files):
            if name.endswith(('.cpp', '.c')):
                out.append(os.path.join(folder, name))
    return sorted(out)


def sites():
    found = []
    for path in sources():
        # One entry per open #if: whether its current branch is ARM code, its parent's included.
        stack = [False]
        with open(path, encoding='utf-8') as f:
            for number, line in enumerate(f, 1):
                branch = re.match(r'\s*#\s*(if|ifdef|ifndef|elif|else|endif)\b(.*)', line)
                if branch:
                    kind, condition = branch.groups()
                    names_arm = re.search(r'aarch64|__arm__|ARM', condition) is not None
                    if kind in ('if', 'ifdef', 'ifndef'):
                        stack.append(stack[-1] or names_arm)
                    elif len(stack) > 1 and kind == 'endif':
                        stack.pop()
                    elif len(stack) > 1:
                        stack[-1] = stack[-2] or (kind == 'elif' and names_arm)
                if stack[-1] or SKIP_LINE.search(line) or '#include' in line:
                    continue
                for name, pattern, replacement in OPERATORS:
                    for match in pattern.finditer(line):
                        found.append((path, number, name, match.start(), match.end(), replacement))
    return found


def apply(site):
    path, number, name, start, end, replacement = site
    with open(path, encoding='utf-8') as f:
        lines = f.readlines()
    line = lines[number - 1]
    old = line[start:end]
    new = str(int(old) + 1) if replacement is None else replacement
    lines[number - 1] = line[:start] + new + line[end:]
    with open(path, 'w', encoding='utf-8') as f:
        f.writelines(lines)
    return line.rstrip('\n'), lines[number - 1].rstrip('\n')


def run(command, cwd, timeout, output=None):
    try:
        done = subprocess.run(command, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              timeout=timeout, shell=isinstance(command, str))
    except subprocess.TimeoutExpired:
        return -1
    if output is not None:
        output.append(done.stdout.decode(errors='replace'))
    return done.returncode


def machine_code(build, path):
    """The disassembly of the library's object for path, or None when it cannot be found."""
    suffix = os.sep + os.path.relpath(path, os.path.join(TOP, 'cpp')) + '.o'
    for folder, _, files in os.walk(os.path.join(build, 'cpp', 'CMakeFiles')):
        for name in files:
            candidate = os.path.join(folder, name)
            if candidate.endswith(suffix):
                done = subprocess.run(['objdump', '-d', '--no-show-raw-insn', candidate],
                                      stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
                return done.stdout if done.returncode == 0 else None
    return None


def failed_suites(log):
    """The suites ctest lists as failed, so that a catch can be told from a flaky suite."""
    names = re.findall(r'^\s*\d+ - (\S+) \(', log, re.M)
    return ','.join(names) or '?'


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--count', type=int, default=40)
    parser.add_argument('--seed', type=int, default=20)
    parser.add_argument('--build', default=os.path.join(TOP, 'build-mutants'))
    parser.add_argument('--only', action='append', default=[])
    # Suites that test the service, the packaging or the screens, not cpp/, are left out: a
    # mutant only they caught would not count, so the share is if anything understated.
    parser.add_argument('--ctest', default='-E "^(bench_|package|qmltypes|qmllint|serviceaddress|translations'
                        '|waylandtest|phonescreentest|accessibilitytest|touchtest|moduletest|balancer'
                        '|serviceabusetest|servicehttptest|packageindextest)"')
    args = parser.parse_args()

    every = sites()
    chosen = random.Random(args.seed).sample(every, min(args.count, len(every)))
    if args.only:
        chosen = [s for s in every if '%s:%d' % (os.path.relpath(s[0], TOP), s[1]) in args.only][:args.count]
    if not os.path.exists(os.path.join(args.build, 'CMakeCache.txt')):
        subprocess.run(['cmake', '-S', TOP, '-B', args.build, '-DCMAKE_BUILD_TYPE=RelWithDebInfo'], check=True,
                       stdout=subprocess.DEVNULL)
    env = dict(os.environ, QT_QPA_PLATFORM='offscreen')
    os.environ.update(env)
    if run(['cmake', '--build', args.build, '-j2'], TOP, 3600) != 0:
        sys.exit('mutants: the unchanged tree does not build')

    results = []
    for site in chosen:
        path = site[0]
        with open(path, encoding='utf-8') as f:
            original = f.read()
        after_by = ''
        unchanged = machine_code(args.build, path)
        try:
            before, after = apply(site)
            started = time.time()
            if run(['cmake', '--build', args.build, '-j2'], TOP, 3600) != 0:
                verdict = 'invalid'
            elif unchanged is not None and machine_code(args.build, path) == unchanged:
                verdict = 'notbuilt'
            else:
                log = []
                code = run('ctest -j2 --stop-on-failure --timeout 300 ' + args.ctest, args.build, 3600, log)
                verdict = 'caught' if code != 0 else 'survived'
                if code != 0:
                    after_by = failed_suites(log[0] if log else '')
        finally:
            with open(path, 'w', encoding='utf-8') as f:
                f.write(original)
        where = '%s:%d' % (os.path.relpath(path, TOP), site[1])
        results.append((verdict, where, site[2], before.strip(), after.strip()))
        by = ' by ' + after_by if verdict == 'caught' else ''
        print('%-8s %-40s %-12s %4.0fs  %s%s' % (verdict, where, site[2], time.time() - started, after.strip(), by),
              flush=True)
    run(['cmake', '--build', args.build, '-j2'], TOP, 3600)

    valid = [r for r in results if r[0] in ('caught', 'survived')]
    caught = [r for r in valid if r[0] == 'caught']
    print('\n%d mutants: %d invalid, %d not built here, %d caught of %d that change the code (%.0f%%)' %
          (len(results), sum(r[0] == 'invalid' for r in results), sum(r[0] == 'notbuilt' for r in results),
           len(caught), len(valid), 100.0 * len(caught) / max(1, len(valid))))
    for r in valid:
        if r[0] == 'survived':
            print('survived %s (%s)\n  - %s\n  + %s' % (r[1], r[2], r[3], r[4]))


if __name__ == '__main__':
    main()
