#!/usr/bin/env python3
"""Writes the zip archives that the extraction tests read.

usage: make_fixtures.py <output folder>

Most archives are written byte by byte by RawZip below, so that names,
attributes, extra fields and every header field can be exactly what a test
wants (hostile names, headers that lie). Encrypted archives also come from
Info-ZIP zip -P, an encryptor that is not ours.
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import zlib
import zipfile

GBK = 'gbk'

# ---------------------------------------------------------------- raw writer

CRC_TABLE = []
for n in range(256):
    c = n
    for _ in range(8):
        c = (0xEDB88320 ^ (c >> 1)) if (c & 1) else (c >> 1)
    CRC_TABLE.append(c)


class PkwareEncryptor:
    """Traditional PKWARE encryption."""

    def __init__(self, password):
        self.k = [0x12345678, 0x23456789, 0x34567890]
        for b in password:
            self._update(b)

    def _crc(self, crc, b):
        return CRC_TABLE[(crc ^ b) & 0xFF] ^ (crc >> 8)

    def _update(self, b):
        k0, k1, k2 = self.k
        k0 = self._crc(k0, b)
        k1 = ((k1 + (k0 & 0xFF)) * 134775813 + 1) & 0xFFFFFFFF
        k2 = self._crc(k2, k1 >> 24)
        self.k = [k0, k1, k2]

    def encrypt(self, data):
        out = bytearray()
        for b in data:
            t = (self.k[2] & 0xFFFF) | 2
            out.append(b ^ (((t * (t ^ 1)) >> 8) & 0xFF))
            self._update(b)
        return bytes(out)


def dos_datetime(year, month, day, hour, minute, second):
    date = ((year - 1980) << 9) | (month << 5) | day
    tm = (hour << 11) | (minute << 5) | (second // 2)
    return date, tm


class Entry:
    def __init__(self, name, data=b'', method=8, host=0, ext_attr=0x20, flags=0,
                 dos=(2020, 5, 17, 10, 20, 30), local_extra=b'', central_extra=b'',
                 password=None, check_from_time=False):
        self.name = name if isinstance(name, bytes) else name.encode(GBK)
        self.data = data if isinstance(data, bytes) else data.encode(GBK)
        self.method = method
        self.host = host
        self.ext_attr = ext_attr
        self.flags = flags
        self.date, self.time = dos_datetime(*dos)
        self.local_extra = local_extra
        self.central_extra = central_extra
        self.password = password
        self.check_from_time = check_from_time
        # Overrides that make headers lie; None keeps the true value.
        self.local_name = None
        self.local_method = None
        self.local_crc = None
        self.local_csize = None
        self.crc = None
        self.csize = None
        self.usize = None
        # (uncompressed, compressed) sizes for a zip64 extra field; the
        # 32-bit fields then hold 0xFFFFFFFF.
        self.zip64 = None


def deflate_raw(data):
    c = zlib.compressobj(9, zlib.DEFLATED, -15)
    return c.compress(data) + c.flush()


def build_zip(entries):
    out = bytearray()
    central = bytearray()
    for e in entries:
        crc = zlib.crc32(e.data) & 0xFFFFFFFF
        payload = deflate_raw(e.data) if e.method == 8 else e.data
        flags = e.flags
        if e.password is not None:
            flags |= 1
            if e.check_from_time:
                flags |= 8
            check = (e.time >> 8) & 0xFF if e.check_from_time else crc >> 24
            enc = PkwareEncryptor(e.password)
            # Fixed filler keeps the fixtures identical from build to build.
            header = bytes((i * 37 + len(e.name)) & 0xFF for i in range(11)) + bytes([check])
            payload = enc.encrypt(header + payload)
        csize = len(payload) if e.csize is None else e.csize
        usize = len(e.data) if e.usize is None else e.usize
        crc_c = crc if e.crc is None else e.crc
        offset = len(out)
        lname = e.name if e.local_name is None else e.local_name
        local_extra, central_extra = e.local_extra, e.central_extra
        if e.zip64 is not None:
            z64 = struct.pack('<HHQQ', 1, 16, e.zip64[0], e.zip64[1])
            local_extra, central_extra = z64 + local_extra, z64 + central_extra
            usize = csize = 0xFFFFFFFF
        out += struct.pack('<IHHHHHIIIHH', 0x04034B50, 20, flags,
                           e.method if e.local_method is None else e.local_method,
                           e.time, e.date,
                           crc_c if e.local_crc is None else e.local_crc,
                           csize if e.local_csize is None else e.local_csize,
                           usize, len(lname), len(local_extra))
        out += lname + local_extra + payload
        if flags & 8:
            out += struct.pack('<IIII', 0x08074B50, crc_c, csize, usize)
        central += struct.pack('<IHHHHHHIIIHHHHHII', 0x02014B50, (e.host << 8) | 20, 20, flags,
                               e.method, e.time, e.date, crc_c, csize, usize, len(e.name),
                               len(central_extra), 0, 0, 0, e.ext_attr, offset)
        central += e.name + central_extra
    cd_offset = len(out)
    out += central
    out += struct.pack('<IHHHHIIH', 0x06054B50, 0, 0, len(entries), len(entries), len(central), cd_offset, 0)
    return bytes(out)


def write(folder, name, data):
    with open(os.path.join(folder, name), 'wb') as f:
        f.write(data)


def ut_block(flags, *times):
    body = bytes([flags]) + b''.join(struct.pack('<i', t) for t in times)
    return b'UT' + struct.pack('<H', len(body)) + body


TEXT = ('KeloPdfReader update payload line\n' * 40)


# ---------------------------------------------------------------- archives

def name_rules(folder):
    """Names the stripping rules turn into relative names: all accepted."""
    names = ['C:\\Windows\\x.dll', '\\a\\b.txt', 'a\\..\\b.txt', 'x/../y/../z.txt', '/abs/unix.txt',
             'D:/drive/slash.txt', 'p/..\\q.txt', 'deep\\..\\..\\dots\\..\\n.txt',
             'sub/dir/file.txt', '中文目录/说明.txt', './dot/here.txt', 'a/b/../../../up.txt']
    write(folder, 'names.zip', build_zip([Entry(n, 'content of ' + n) for n in names]))
    # Stored under a drive-relative name: found by that name, never written there.
    write(folder, 'drive_relative.zip', build_zip([Entry('C:evil.dll', 'escaped!')]))


HOSTILE = {
    # still above the root after the rules
    'dotdot_back': '..\\evil.txt',
    'dotdot_slash': '../evil.txt',
    'dotdot_after_rule': 'a\\..\\..\\evil.txt',
    'dotdot_deep': 'a/b/../..',
    'dotdot_mixed': 'a/b\\..\\../evil.txt',
    'dotdot_drive': 'C:..\\evil.txt',
    'dotdot_drive_root': 'C:\\..\\evil.txt',
    'dotdot_alone': '..',
    'dotdot_trailing': 'a/..',
    'dotdot_folder': '../evil/',
    'three_dots': '.../evil.txt',
    # UNC and device-namespace forms
    'unc_back': '\\\\server\\share\\evil.txt',
    'unc_slash': '//server/share/evil.txt',
    'long_prefix': '\\\\?\\C:\\evil.txt',
    'device_ns': '\\\\.\\C:\\evil.txt',
    'device_ns_disk': '\\\\.\\PhysicalDrive0',
    # device names
    'dev_con': 'CON',
    'dev_nul_ext': 'nul.txt',
    'dev_aux_ext2': 'dir/aux.tar.gz',
    'dev_com1': 'COM1',
    'dev_lpt9': 'logs/LPT9.log',
    'dev_prn_lower': 'prn',
    'dev_conin': 'CONIN$',
    'dev_con_space': 'CON .txt',
    # alternate data streams and other ':' forms
    'ads': 'file.txt:stream',
    'ads_data': 'dir/x::$DATA',
    'ads_folder': 'dir:hidden/evil.txt',
    # names that become empty
    'empty_drive': 'C:',
    'empty_slash': '/',
    'empty_back': '\\',
    'empty_drive_slash': 'C:/',
    # Windows would silently drop these trailing characters
    'trailing_dot': 'evil.txt.',
    'trailing_space': 'evil.txt ',
    'trailing_dot_folder': 'dir./evil.txt',
    # wildcards and control characters
    'wildcard_star': 'a*b.txt',
    'wildcard_q': 'a?b.txt',
    'pipe': 'a|b.txt',
    'control': 'a\x01b.txt',
}


def hostile(folder):
    """Each archive: a harmless entry first, then one hostile entry."""
    os.makedirs(os.path.join(folder, 'hostile'), exist_ok=True)
    for key, name in HOSTILE.items():
        entries = [Entry('good.txt', 'harmless'), Entry(name, 'escaped!')]
        if name.endswith('/'):
            entries[1] = Entry(name, '', ext_attr=0x10)
        write(folder, os.path.join('hostile', key + '.zip'), build_zip(entries))
    # Bytes that the other forms cannot express.
    nul = Entry('good2.txt', 'escaped!')
    nul.name = b'ok.txt\x00../../evil.txt'
    write(folder, os.path.join('hostile', 'nul_in_name.zip'), build_zip([Entry('good.txt', 'harmless'), nul]))
    long_name = Entry('x', 'escaped!')
    long_name.name = b'L' * 250 + b'/../../evil.txt'
    write(folder, os.path.join('hostile', 'name_too_long.zip'),
          build_zip([Entry('good.txt', 'harmless'), long_name]))
    # A symbolic link stored by a Unix zip is only ever a plain file here.
    link = Entry('link_to_windows', 'C:/Windows', method=0, host=3, ext_attr=(0o120777 << 16))
    write(folder, 'symlink.zip', build_zip([link]))


def attributes(folder):
    entries = [
        Entry('dos_ro.txt', 'r', host=0, ext_attr=0x01 | 0x20),
        Entry('dos_hidden.txt', 'h', host=0, ext_attr=0x02),
        Entry('dos_system.txt', 's', host=0, ext_attr=0x04 | 0x20),
        Entry('vfat_plain.txt', 'p', host=14, ext_attr=0x00),
        Entry('unix_ro.txt', 'u', host=3, ext_attr=(0o100444 << 16)),
        Entry('unix_rw.txt', 'w', host=3, ext_attr=(0o100644 << 16)),
        Entry('unix_dir/', '', host=3, ext_attr=(0o040755 << 16)),
        Entry('dos_dir/', '', host=0, ext_attr=0x10),
        # a folder stored without any folder attribute, as jar tools write them
        Entry('bare_dir/', '', host=0, ext_attr=0x00),
    ]
    write(folder, 'attributes.zip', build_zip(entries))


# Fixed Unix times for the "UT" cases.
T_WRITE = 1262304000   # 2010-01-01 00:00:00 UTC
T_ACCESS = 1293840000  # 2011-01-01
T_CREATE = 1325376000  # 2012-01-01


def times(folder):
    entries = [
        Entry('dos_only.txt', 'd', dos=(2020, 5, 17, 10, 20, 30)),
        Entry('ut_write.txt', 'w', dos=(2020, 5, 17, 10, 20, 30), local_extra=ut_block(1, T_WRITE)),
        Entry('ut_all.txt', 'a', dos=(2020, 5, 17, 10, 20, 30),
              local_extra=b'XY\x02\x00ab' + ut_block(7, T_WRITE, T_ACCESS, T_CREATE)),
        # the flag promises three times but the block holds one: only what is there counts
        Entry('ut_short.txt', 's', dos=(2020, 5, 17, 10, 20, 30), local_extra=ut_block(7, T_WRITE)),
        Entry('empty.txt', '', dos=(2001, 1, 1, 0, 0, 0)),
    ]
    write(folder, 'times.zip', build_zip(entries))


def folders_only(folder):
    entries = [Entry(n, '', ext_attr=0x10) for n in ('top/', 'top/inner/', 'other/', 'top/inner/deepest/')]
    write(folder, 'folders.zip', build_zip(entries))
    write(folder, 'zero.zip', build_zip([]))
    write(folder, 'zero_comment.zip', build_zip([])[:-2] + struct.pack('<H', 7) + b'comment')


def encrypted(folder, tmp):
    src = os.path.join(tmp, 'enc')
    os.makedirs(src)
    with open(os.path.join(src, 'plain.txt'), 'w') as f:
        f.write(TEXT)
    with open(os.path.join(src, 'random.bin'), 'wb') as f:
        f.write(bytes((i * 7919 + 13) % 251 for i in range(3000)))
    # Info-ZIP: deflated text and stored data, data descriptors (check byte from the time).
    subprocess.run(['zip', '-q', '-X', '-P', 'secret', os.path.join(tmp, 'infozip.zip'),
                    'plain.txt', 'random.bin'], cwd=src, check=True)
    shutil.copy(os.path.join(tmp, 'infozip.zip'), os.path.join(folder, 'enc_infozip.zip'))
    # Our own writer: check byte from the CRC (no data descriptor) and from the time.
    entries = [Entry('crc_check.txt', TEXT, password=b'secret'),
               Entry('time_check.txt', TEXT, password=b'secret', check_from_time=True),
               Entry('clear.txt', 'not encrypted')]
    write(folder, 'enc_own.zip', build_zip(entries))


def many_entries(folder):
    """More than 65,535 entries: the count lives in the zip64 end record."""
    path = os.path.join(folder, 'many.zip')
    with zipfile.ZipFile(path, 'w', zipfile.ZIP_STORED) as z:
        for i in range(65537):
            z.writestr('m/%05d' % i, b'')
        z.writestr('m/last.txt', b'the last entry')
    # The same count, and a hostile last entry that must stop the whole run.
    path = os.path.join(folder, 'many_hostile.zip')
    with zipfile.ZipFile(path, 'w', zipfile.ZIP_STORED) as z:
        for i in range(65537):
            z.writestr('m/%05d' % i, b'')
        z.writestr('../evil.txt', b'escaped!')


def malformed(folder):
    d = os.path.join(folder, 'malformed')
    os.makedirs(d, exist_ok=True)

    def one(key, entry, more=()):
        write(d, key + '.zip', build_zip([entry] + list(more)))

    e = Entry('bad_crc.txt', TEXT)
    e.crc = 0x12345678
    e.local_crc = 0x12345678
    one('bad_crc', e)
    e = Entry('method.txt', TEXT)
    e.local_method = 0
    one('local_method_differs', e)
    e = Entry('csize.txt', TEXT)
    e.local_csize = 5
    one('local_size_differs', e)
    e = Entry('name.txt', TEXT)
    e.local_name = b'other_name_longer.txt'
    one('local_name_length_differs', e)
    e = Entry('usize_big.txt', TEXT)
    e.usize = len(TEXT) * 4
    one('usize_too_big', e)
    e = Entry('usize_small.txt', TEXT)
    e.usize = 10
    one('usize_too_small', e)
    e = Entry('csize_big.txt', TEXT)
    e.csize = 1 << 20
    one('csize_past_end', e)
    e = Entry('stored_short.txt', TEXT, method=0)
    e.usize = len(TEXT) + 100
    one('stored_usize_too_big', e)
    e = Entry('lzma.txt', TEXT, method=14)
    one('unsupported_method', e)
    e = Entry('bzip2.txt', TEXT, method=12)
    one('bzip2_method', e)
    # damaged deflate stream: flip bytes inside the compressed data
    good = bytearray(build_zip([Entry('deflate.txt', TEXT * 4)]))
    start = 30 + len('deflate.txt')
    for i in range(start + 5, start + 25):
        good[i] ^= 0x5A
    write(d, 'damaged_deflate.zip', bytes(good))
    # invalid block type right at the start of the stream
    bad = bytearray(build_zip([Entry('blocktype.txt', TEXT)]))
    bad[30 + len('blocktype.txt')] = 0x07
    write(d, 'bad_block_type.zip', bytes(bad))
    one('encrypted_no_password', Entry('secret.txt', TEXT, password=b'secret'))
    # end record pointing past the file, and a count that lies
    z = bytearray(build_zip([Entry('a.txt', 'a')]))
    struct.pack_into('<I', z, len(z) - 6, 0x7FFFFFF0)
    write(d, 'cd_offset_past_end.zip', bytes(z))
    z = bytearray(build_zip([Entry('a.txt', 'a')]))
    struct.pack_into('<HH', z, len(z) - 14, 9, 9)
    write(d, 'count_lies.zip', bytes(z))
    z = bytearray(build_zip([Entry('a.txt', 'a')]))
    struct.pack_into('<H', z, len(z) - 12, 9)
    write(d, 'count_differs.zip', bytes(z))
    # end record cut inside its fixed part
    write(d, 'end_record_cut.zip', build_zip([Entry('a.txt', 'a')])[:-10])
    write(d, 'not_a_zip.zip', b'this is not an archive at all' * 10)
    # inflates past its declared size; the CRC is that of the declared prefix,
    # so only the size tells
    e = Entry('past_size.txt', TEXT)
    e.usize = 100
    e.crc = e.local_crc = zlib.crc32(TEXT.encode(GBK)[:100]) & 0xFFFFFFFF
    one('inflates_past_size', e)
    # zip64 sizes claiming 4 GiB (0 in 32 bits) for a small entry
    e = Entry('claims_4gib.txt', TEXT)
    e.zip64 = (1 << 32, len(deflate_raw(TEXT.encode(GBK))))
    one('zip64_claims_4gib', e)
    write(d, 'empty_file.zip', b'')


def zip64_entries(folder):
    """Entries whose sizes live in zip64 extra fields: unpacked like any other."""
    data = TEXT.encode(GBK) * 3
    deflated = Entry('z64_deflated.txt', data)
    deflated.zip64 = (len(data), len(deflate_raw(data)))
    stored = Entry('z64_stored.bin', bytes(range(256)) * 4, method=0)
    stored.zip64 = (1024, 1024)
    write(folder, 'zip64.zip', build_zip([deflated, stored]))


def mutation_base(folder):
    """Small valid archive that the mutation loop damages in many ways."""
    entries = [
        Entry('dir/', '', ext_attr=0x10),
        Entry('dir/a.txt', TEXT[:300], local_extra=ut_block(1, T_WRITE), central_extra=ut_block(1, T_WRITE)),
        Entry('b.bin', bytes(range(64)), method=0),
    ]
    write(folder, 'mutation_base.zip', build_zip(entries))


def update_packages(folder):
    """Packages for the update engine tests."""
    d = os.path.join(folder, 'update')
    os.makedirs(d, exist_ok=True)
    ini = '[CONFIG]\r\nversion=2.3.4.5\r\nversion_str=2.3.4 正式版\r\n'.encode(GBK)
    write(d, 'good.zip', build_zip([
        Entry('KeloPdfReader.exe', 'new reader binary'),
        Entry('plugins/', '', ext_attr=0x10),
        Entry('plugins/render.dll', TEXT),
        Entry('Update/update.ini', ini),
    ]))
    write(d, 'no_config.zip', build_zip([
        Entry('readme.txt', 'x'),
        Entry('Update/update.ini', b'[OTHER]\r\nversion=9\r\n'),
    ]))
    write(d, 'zero.zip', build_zip([]))
    write(d, 'hostile.zip', build_zip([Entry('readme.txt', 'x'), Entry('..\\evil.txt', 'escaped!')]))
    write(d, 'replaces_file.zip', build_zip([Entry('locked.dat', 'new content')]))
    write(d, 'replaces_two.zip', build_zip([Entry('locked.dat', 'new content'), Entry('locked2.dat', 'new content')]))
    broken = bytearray(build_zip([Entry('broken.txt', TEXT)]))
    broken[40:60] = b'\xFF' * 20
    write(d, 'broken.zip', bytes(broken[:len(broken) - 30]))
    failing_packages(d, ini)


def failing_packages(d, ini):
    """Packages that must leave the installation as it was (update/fail).

    The installation they meet: KeloPdfReader.exe, readme.txt,
    plugins/render.dll, plugins/old.dll and a folder lib/ holding keep.dll.
    """
    d = os.path.join(d, 'fail')
    os.makedirs(d, exist_ok=True)

    def base():
        return [Entry('KeloPdfReader.exe', 'new reader binary'),
                Entry('plugins/', '', ext_attr=0x10),
                Entry('plugins/render.dll', TEXT),
                Entry('plugins/new.dll', 'new plugin'),
                Entry('newdir/deeper/added.txt', 'added'),
                Entry('readme.txt', 'new readme'),
                Entry('Update/update.ini', ini)]

    def damaged():
        e = Entry('damaged.bin', TEXT * 3)
        e.crc = e.local_crc = 0x12345678
        return e

    write(d, 'fits.zip', build_zip(base()))
    for key, at in (('first', 0), ('middle', 3), ('last', len(base()))):
        entries = base()
        entries.insert(at, damaged())
        write(d, 'damaged_%s.zip' % key, build_zip(entries))
    write(d, 'clash_file_and_folder.zip', build_zip(base() + [Entry('readme.txt/inner.txt', 'x')]))
    write(d, 'clash_case.zip', build_zip(base() + [Entry('PLUGINS/Render.DLL', 'other')]))
    write(d, 'file_over_installed_folder.zip', build_zip(base() + [Entry('lib', 'a file where a folder is')]))
    # The package leaves KeloPdfReader.exe out but needs a folder of that name.
    write(d, 'folder_over_installed_file.zip',
          build_zip(base()[1:] + [Entry('KeloPdfReader.exe/x.txt', 'x')]))
    # Compresses to a few KiB, unpacks to 8 MiB: more than the small volume holds.
    write(d, 'larger_than_volume.zip', build_zip(base() + [Entry('big.bin', bytes(8 << 20))]))


def main():
    out = sys.argv[1]
    tmp = tempfile.mkdtemp()
    try:
        if os.path.isdir(out):
            shutil.rmtree(out)
        os.makedirs(out)
        name_rules(out)
        hostile(out)
        attributes(out)
        times(out)
        folders_only(out)
        encrypted(out, tmp)
        many_entries(out)
        malformed(out)
        zip64_entries(out)
        mutation_base(out)
        update_packages(out)
    finally:
        shutil.rmtree(tmp)


if __name__ == '__main__':
    main()
