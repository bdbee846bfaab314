#!/usr/bin/env python3
"""Shape of the product code: call circles between files, the largest files and
the longest functions. A measure, not a test: it prints figures.

Usage: bench/code_shape.py [SOURCE_ROOT]   (default: this checkout; needs
Universal Ctags)

A file calls another when it names a function that only the other defines (a
name defined in several files, such as a helper of an anonymous namespace, is
left out). A call circle is a set of files that reach each other through such
calls; each daemon's folder is mapped together with support/.
"""
import collections
import os
import re
import subprocess
import sys

NOT_TYPES = {'return', 'else', 'case', 'goto', 'sizeof', 'delete', 'throw'}
PRODUCT = ['support', 'sms', 'tunnelwatch', 'traffic', 'gps', 'serialbridge']


def functions(root, dirs):
    out = subprocess.run(['ctags', '-R', '--c++-kinds=f', '--fields=+ne', '--language-force=C++', '-o', '-'] + dirs,
                         cwd=root, capture_output=True, text=True, check=True).stdout
    found = []
    for line in out.splitlines():
        cols = line.split('\t')
        fields = dict(c.split(':', 1) for c in cols[3:] if ':' in c)
        if 'line' in fields and 'end' in fields:
            found.append((cols[0], cols[1], int(fields['line']), int(fields['end'])))
    return found


def names_in(path):
    text = open(path, encoding='utf-8', errors='replace').read()
    text = re.sub(r'/\*.*?\*/', '', re.sub(r'//[^\n]*', '', text), flags=re.S)
    text = re.sub(r'"(\\.|[^"\\])*"', '""', text)
    # Names the file declares as variables are its own, whatever else defines them.
    declared = {name for kind, name in re.findall(r'\b([A-Za-z_]\w*)[\s*&]+([A-Za-z_]\w*)\s*[=;:,)\[{]', text)
                if kind not in NOT_TYPES}
    return set(re.findall(r'\b[A-Za-z_]\w*\b', text)) - declared


def circles(root, dirs):
    defined = collections.defaultdict(set)
    for name, path, _, _ in functions(root, dirs):
        if path.endswith('.cpp'):
            defined[name].add(path)
    files = sorted({p for paths in defined.values() for p in paths})
    calls = {f: {next(iter(defined[n])) for n in names_in(os.path.join(root, f))
                 if len(defined.get(n, ())) == 1 and f not in defined[n]} for f in files}
    # Files reach each other when each is in the other's closure.
    reach = {}
    for f in files:
        seen, todo = set(), [f]
        while todo:
            for g in calls[todo.pop()]:
                if g not in seen:
                    seen.add(g)
                    todo.append(g)
        reach[f] = seen
    groups = []
    for f in files:
        group = sorted(g for g in files if g in reach[f] and f in reach[g])
        if group and group not in groups:
            groups.append(group)
    return groups


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), '..')
    for folder in PRODUCT[1:]:
        groups = circles(root, [folder, 'support'])
        print(f'call circles in {folder}/: {len(groups)}')
        for group in groups:
            print('   ', ' '.join(group))
    sizes = []
    for folder in PRODUCT:
        for base, _, names in os.walk(os.path.join(root, folder)):
            for name in names:
                if name.endswith(('.cpp', '.h')):
                    path = os.path.join(base, name)
                    with open(path, encoding='utf-8', errors='replace') as f:
                        sizes.append((sum(1 for _ in f), os.path.relpath(path, root)))
    print('largest files (lines):')
    for lines, path in sorted(sizes, reverse=True)[:3]:
        print(f'  {lines:5d} {path}')
    print('longest functions (lines):')
    lengths = sorted(((end - line + 1, f'{path}:{line}', name) for name, path, line, end in functions(root, PRODUCT)),
                     reverse=True)
    for lines, where, name in lengths[:3]:
        print(f'  {lines:5d} {where} {name}')


if __name__ == '__main__':
    main()
