#!/usr/bin/env python3
"""Writes the benchmark's update package: about 2,000 entries and 200 MB,
mixed compressible text and incompressible data, in a few folder levels.

usage: make_package.py <package.zip> <prefix-only package.zip> [entries]

entries (default 2000) sizes the package: the same mix, fewer or more files.

The second archive holds the same entry names without data and one hostile
entry at the end: extracting it runs only the first pass over all entries
(every lookup and path check) and then refuses the package, which measures
what the safety checks cost.
"""
import os
import random
import sys
import zipfile


def main():
    out, checks_only = sys.argv[1], sys.argv[2]
    count = int(sys.argv[3]) if len(sys.argv) > 3 else 2000
    rng = random.Random(20260501)
    words = [b'kelo', b'pdf', b'reader', b'update', b'page', b'font', b'render', b'glyph', b'stream', b'object']
    names = []
    with zipfile.ZipFile(out, 'w', zipfile.ZIP_DEFLATED, compresslevel=6) as z:
        for i in range(count):
            folder = 'pkg/%s/%s' % (rng.choice(['bin', 'res', 'plugins', 'fonts']), 'd%02d' % rng.randrange(20))
            name = '%s/file%04d.%s' % (folder, i, rng.choice(['dll', 'dat', 'txt', 'png']))
            names.append(name)
            size = int(rng.expovariate(1 / 100000.0)) + 16
            if i % 2:
                data = os.urandom(size)  # incompressible
            else:
                line = b' '.join(rng.choice(words) for _ in range(12)) + b'\n'
                data = (line * (size // len(line) + 1))[:size]
            z.writestr(name, data)
    with zipfile.ZipFile(checks_only, 'w', zipfile.ZIP_STORED) as z:
        for name in names:
            z.writestr(name, b'')
        z.writestr('../outside.txt', b'refused')


if __name__ == '__main__':
    main()
