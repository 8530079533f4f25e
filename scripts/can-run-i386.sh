#!/usr/bin/env bash
# Exits 0 when this machine executes 32-bit x86 code natively, which wine32
# needs. Some hypervisors offer no 32-bit code segment to guests: there the
# i686 programs can only be built, and the tests run the x86_64 build.
set -u
probe=$(mktemp)
trap 'rm -f "$probe"' EXIT
python3 - "$probe" <<'PY'
import os, struct, sys
# A minimal static i386 ELF that exits with 42 through int 0x80.
code = bytes([0xb8, 1, 0, 0, 0, 0xbb, 42, 0, 0, 0, 0xcd, 0x80])
ehdr = struct.pack('<16sHHIIIIIHHHHHH', b'\x7fELF\x01\x01\x01' + b'\0' * 9,
                   2, 3, 1, 0x08048054, 52, 0, 0, 52, 32, 1, 0, 0, 0)
phdr = struct.pack('<IIIIIIII', 1, 0, 0x08048000, 0x08048000, 84 + len(code), 84 + len(code), 5, 0x1000)
open(sys.argv[1], 'wb').write(ehdr + phdr + code)
os.chmod(sys.argv[1], 0o755)
PY
# An emulator registered for i386 binaries would answer too, but far too slowly for Wine.
for f in /proc/sys/fs/binfmt_misc/*i386*; do
  [ -e "$f" ] && grep -q '^enabled' "$f" && exit 1
done
"$probe" 2>/dev/null
[ $? -eq 42 ]
