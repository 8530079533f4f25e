#!/usr/bin/env python3
"""has_wide_text.py FILE TEXT: exits 0 when FILE holds TEXT as a UTF-16LE
string, the form in which a Windows program keeps its wide literals."""
import sys

data = open(sys.argv[1], 'rb').read()
text = sys.argv[2]
if text.encode('utf-16-le') in data:
    sys.exit(0)
print(f'{sys.argv[1]}: no wide string "{text}"', file=sys.stderr)
sys.exit(1)
