#!/usr/bin/env python3
"""Update packages of the updater's end-to-end tests, as the application
would download them: a folder holding "Update.zip" and "update.ini".

    make_packages.py <out dir> <stand-in KeloPdfReader.exe>

    good/     a new build of the application (the stand-in again), a notes
              file and a file in a subfolder; version 1002 / "1.0.0.2"
    broken/   "Update.zip" that is no zip archive at all
    many/     2,000 small files "files/dNN/fNNNN.txt" holding "new NNNN",
              and a folder the installation lacks, "added" (3 files in
              two levels), for the test that ends the updater part-way
    large/    the good package and 3,000 small files under "bulk", whose
              extraction takes seconds (for closing the updater during it)
"""
import os
import sys
import zipfile

STAMP = (2024, 5, 6, 7, 8, 10)
MANY_FILES = 2000
LARGE_FILES = 3000
ADDED_FILES = ["added/a.txt", "added/sub/b.txt", "added/sub/c.txt"]
VERSION_INI = "[CONFIG]\r\nversion=1002\r\nversion_str=1.0.0.2\r\n"


def entry(zf, name, data):
    info = zipfile.ZipInfo(name, STAMP)
    info.compress_type = zipfile.ZIP_DEFLATED
    info.external_attr = 0x20  # FILE_ATTRIBUTE_ARCHIVE
    info.create_system = 0
    zf.writestr(info, data)


def write_package(folder, zip_bytes_or_builder):
    os.makedirs(folder, exist_ok=True)
    path = os.path.join(folder, "Update.zip")
    tmp = path + ".tmp"
    if callable(zip_bytes_or_builder):
        with zipfile.ZipFile(tmp, "w") as zf:
            zip_bytes_or_builder(zf)
    else:
        with open(tmp, "wb") as f:
            f.write(zip_bytes_or_builder)
    os.replace(tmp, path)
    with open(os.path.join(folder, "update.ini"), "w", newline="") as f:
        f.write(VERSION_INI)


def main():
    out, standin = sys.argv[1], sys.argv[2]
    app = open(standin, "rb").read()

    def good(zf):
        entry(zf, "KeloPdfReader.exe", app)
        entry(zf, "update_notes.txt", b"KeloPDF 1.0.0.2\r\n")
        entry(zf, "plugins/pdfcore.dat", b"core 1.0.0.2\r\n" * 64)

    write_package(os.path.join(out, "good"), good)
    write_package(os.path.join(out, "broken"), b"This is not a zip archive.\r\n" * 8)

    def many(zf):
        for i in range(MANY_FILES):
            entry(zf, "files/d%02d/f%04d.txt" % (i // 100, i), b"new %04d" % i)
        for name in ADDED_FILES:
            entry(zf, name, b"added " + name.encode())

    write_package(os.path.join(out, "many"), many)
    def large(zf):
        good(zf)
        for i in range(LARGE_FILES):
            entry(zf, "bulk/f%04d.dat" % i, (b"bulk %04d " % i) * 200)

    write_package(os.path.join(out, "large"), large)


if __name__ == "__main__":
    main()
