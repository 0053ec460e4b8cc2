#!/usr/bin/python3
"""Reads a Windows program's branding with pefile, a PE reader independent of the project's own,
and prints one fact per line (key=value) for the branding tests: the checksum's validity, the
icon group's entries and each image's bytes in hexadecimal (in group order), the version
strings and numbers, and the manifest's execution level."""
import re
import struct
import sys

import pefile

RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24


def resources(pe):
    found = {}
    for t in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        for n in t.directory.entries:
            for lang in n.directory.entries:
                data = pe.get_data(lang.data.struct.OffsetToData, lang.data.struct.Size)
                found.setdefault((t.id, n.id), data)
    return found


def main():
    pe = pefile.PE(sys.argv[1])
    print("checksum_ok=%d" % pe.verify_checksum())
    print("checksum=%08x" % pe.OPTIONAL_HEADER.CheckSum)
    res = resources(pe)
    group = res[(RT_GROUP_ICON, 107)]
    count = struct.unpack_from("<H", group, 4)[0]
    print("icons=%d" % count)
    for i in range(count):
        entry = group[6 + 14 * i: 6 + 14 * i + 14]
        (icon_id,) = struct.unpack_from("<H", entry, 12)
        print("entry%d=%s" % (i, entry[:12].hex()))
        print("image%d=%s" % (i, res[(RT_ICON, icon_id)].hex()))
    fixed = pe.VS_FIXEDFILEINFO[0]
    for name, ms, ls in (("file", fixed.FileVersionMS, fixed.FileVersionLS),
                         ("product", fixed.ProductVersionMS, fixed.ProductVersionLS)):
        print("fixed.%s=%d.%d.%d.%d" % (name, ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF))
    for info in pe.FileInfo[0]:
        for table in getattr(info, "StringTable", []):
            for key, value in table.entries.items():
                print("string.%s=%s" % (key.decode(), value.decode()))
    manifest = res[(RT_MANIFEST, 1)].decode("utf-8")
    level = re.search(r'<requestedExecutionLevel[^>]*level="([^"]*)"', manifest)
    print("level=%s" % (level.group(1) if level else ""))
    print("dpiAwareness=%s" % ("PerMonitorV2" in manifest))


if __name__ == "__main__":
    main()
