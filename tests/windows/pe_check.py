#!/usr/bin/env python3
"""Checks the Windows programs of a laid-out show folder as Windows sees them: the version
information and the application manifest in each program's resources, every program and DLL
stripped of symbols and debugging sections, and no DLL shipped twice. Reads the PE files itself, so it needs no Windows
tools.

  pe_check.py SHOW VERSION
"""
import os
import struct
import sys
import xml.etree.ElementTree as ElementTree

RT_VERSION, RT_MANIFEST = 16, 24
WINDOWS_10_AND_11 = '{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}'
ASM_V3 = '{urn:schemas-microsoft-com:asm.v3}'
SETTINGS_2016 = '{http://schemas.microsoft.com/SMI/2016/WindowsSettings}'

# What each program must tell: its path in the show folder, description and file name.
PROGRAMS = [
    ('LUVRINpREG.exe', 'LUVRIN 场景启动器'),
    ('驱动/LUVRIN.EXE', 'LUVRIN 驱动程序'),
]


class PeFile:
    def __init__(self, path):
        self.data = open(path, 'rb').read()
        d = self.data
        if d[:2] != b'MZ':
            raise ValueError('%s: not a program file' % path)
        pe = struct.unpack_from('<I', d, 0x3c)[0]
        if d[pe:pe + 4] != b'PE\0\0':
            raise ValueError('%s: no PE header' % path)
        (_, sections, _, self.symbol_table, self.symbols, optional_size,
         _) = struct.unpack_from('<HHIIIHH', d, pe + 4)
        optional = pe + 24
        if struct.unpack_from('<H', d, optional)[0] != 0x20b:
            raise ValueError('%s: not a 64-bit program' % path)
        # The resource table is the third data directory, after the 112 bytes of a PE32+ header.
        self.resource_rva = struct.unpack_from('<I', d, optional + 112 + 2 * 8)[0]
        # Names longer than 8 bytes (the debugging sections') are kept in the string table after
        # the symbols, the section header holding "/offset".
        strings = self.symbol_table + 18 * self.symbols
        self.sections = []
        for i in range(sections):
            at = optional + optional_size + 40 * i
            name = d[at:at + 8].rstrip(b'\0').decode('latin-1')
            if name.startswith('/') and name[1:].isdigit():
                start = strings + int(name[1:])
                name = d[start:d.index(b'\0', start)].decode('latin-1')
            size, rva, raw_size, raw = struct.unpack_from('<IIII', d, at + 8)
            self.sections.append((name, rva, max(size, raw_size), raw))

    def offset(self, rva):
        for _, start, size, raw in self.sections:
            if start <= rva < start + size:
                return raw + rva - start
        raise ValueError('address %#x in no section' % rva)

    def resources(self):
        """(type, id) -> bytes of the first language, for resources named by numbers."""
        if not self.resource_rva:
            return {}
        base = self.offset(self.resource_rva)
        d = self.data

        def entries(at):
            named, ids = struct.unpack_from('<HH', d, base + at + 12)
            for i in range(named + ids):
                name, target = struct.unpack_from('<II', d, base + at + 16 + 8 * i)
                yield name, target

        found = {}
        for kind, types in entries(0):
            for name, names in entries(types & 0x7fffffff):
                for _, leaf in entries(names & 0x7fffffff):
                    rva, size = struct.unpack_from('<II', d, base + leaf)
                    found.setdefault((kind, name), d[self.offset(rva):self.offset(rva) + size])
        return found


def version_node(data, at=0):
    """One node of VS_VERSIONINFO: (key, value, children, end)."""
    length, value_length, text = struct.unpack_from('<HHH', data, at)
    end = at + length
    key_end = at + 6
    while data[key_end:key_end + 2] != b'\0\0':
        key_end += 2
    key = data[at + 6:key_end].decode('utf-16-le')
    pos = (key_end + 2 + 3) & ~3
    if text:
        value = data[pos:pos + 2 * value_length].decode('utf-16-le').rstrip('\0')
        pos += 2 * value_length
    else:
        value = data[pos:pos + value_length]
        pos += value_length
    children = []
    pos = (pos + 3) & ~3
    while pos < end:
        child = version_node(data, pos)
        children.append(child)
        pos = (child[3] + 3) & ~3
    return key, value, children, end


def version_info(data):
    """(file version numbers, {string name: value}) of a VS_VERSIONINFO resource."""
    key, fixed, children, _ = version_node(data)
    if key != 'VS_VERSION_INFO' or struct.unpack_from('<I', fixed)[0] != 0xFEEF04BD:
        raise ValueError('no VS_VERSION_INFO')
    ms, ls = struct.unpack_from('<II', fixed, 8)
    strings = {}
    for name, _, tables, _ in children:
        if name == 'StringFileInfo':
            for _, _, values, _ in tables:
                strings.update({k: v for k, v, _, _ in values})
    return (ms >> 16, ms & 0xffff, ls >> 16, ls & 0xffff), strings


def binary_version(version):
    """3.150919 -> (3, 15, 919, 0), as cmake/windows_resources.cmake writes it."""
    major, minor = (int(p) for p in version.split('.'))
    return major, minor // 10000, minor % 10000, 0


def manifest_faults(text):
    root = ElementTree.fromstring(text)
    level = [e.get('level') for e in root.iter() if e.tag.endswith('requestedExecutionLevel')]
    systems = [e.get('Id', '').lower() for e in root.iter() if e.tag.endswith('supportedOS')]
    settings = {e.tag: (e.text or '').strip() for block in root.iter(ASM_V3 + 'windowsSettings')
                for e in block}
    faults = []
    if level != ['asInvoker']:
        faults.append('execution level %r' % level)
    if WINDOWS_10_AND_11 not in systems:
        faults.append('Windows 10/11 not among the supported systems %r' % systems)
    if settings.get(SETTINGS_2016 + 'dpiAwareness') != 'PerMonitorV2':
        faults.append('DPI awareness %r' % settings.get(SETTINGS_2016 + 'dpiAwareness'))
    if settings.get(SETTINGS_2016 + 'longPathAware') != 'true':
        faults.append('long paths %r' % settings.get(SETTINGS_2016 + 'longPathAware'))
    return faults


def program_faults(path, description, version):
    resources = PeFile(path).resources()
    faults = []
    versions = [data for (kind, _), data in resources.items() if kind == RT_VERSION]
    if not versions:
        faults.append('no version information')
    else:
        numbers, strings = version_info(versions[0])
        wanted = {'ProductName': 'LUVRIN', 'ProductVersion': version, 'FileVersion': version,
                  'CompanyName': 'TALVEN', 'FileDescription': description,
                  'OriginalFilename': os.path.basename(path)}
        faults += ['%s %r, not %r' % (k, strings.get(k), v) for k, v in wanted.items()
                   if strings.get(k) != v]
        if numbers != binary_version(version):
            faults.append('file version %r, not %r' % (numbers, binary_version(version)))
    manifest = resources.get((RT_MANIFEST, 1))
    if manifest is None:
        faults.append('no application manifest')
    else:
        faults += manifest_faults(manifest)
    return faults


def unstripped(path):
    pe = PeFile(path)
    return pe.symbols or any(name.startswith('.debug') for name, _, _, _ in pe.sections)


def main():
    show, version = sys.argv[1], sys.argv[2]
    failed = False
    for rel, description in PROGRAMS:
        faults = program_faults(os.path.join(show, rel), description, version)
        print('%s %s: %s' % ('FAIL' if faults else 'ok  ', rel,
                             '; '.join(faults) or 'version information and manifest'))
        failed |= bool(faults)
    shipped = [os.path.join(d, n) for d, _, names in os.walk(show) for n in names
               if n.lower().endswith(('.exe', '.dll'))]
    fat = sorted(os.path.relpath(p, show) for p in shipped if unstripped(p))
    print('%s %d programs and DLLs stripped%s' % ('FAIL' if fat else 'ok  ', len(shipped),
                                                 ': not ' + ', '.join(fat) if fat else ''))
    names = [os.path.basename(p).lower() for p in shipped if p.lower().endswith('.dll')]
    twice = sorted({n for n in names if names.count(n) > 1})
    print('%s %d DLLs, each shipped once%s' % ('FAIL' if twice else 'ok  ', len(names),
                                              ': not ' + ', '.join(twice) if twice else ''))
    return 1 if failed or fat or twice else 0


if __name__ == '__main__':
    sys.exit(main())
