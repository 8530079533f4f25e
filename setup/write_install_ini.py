#!/usr/bin/env python3
"""Writes the delivered "install.ini": section CONFIG with appname, version_str
and, when given, channel. UTF-16LE with a byte-order mark, which the wide INI
functions read the same on every system code page.

usage: write_install_ini.py <install.ini> <appname> <version_str> [channel]
"""
import sys


def main(argv):
    if len(argv) < 4:
        sys.stderr.write(__doc__)
        return 2
    path, appname, version = argv[1], argv[2], argv[3]
    channel = argv[4] if len(argv) > 4 else ""
    lines = ["[CONFIG]", "appname=" + appname, "version_str=" + version]
    if channel:
        lines.append("channel=" + channel)
    text = "\r\n".join(lines) + "\r\n"
    with open(path, "wb") as f:
        f.write(b"\xff\xfe" + text.encode("utf-16-le"))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
