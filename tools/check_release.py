#!/usr/bin/env python3
"""Checks what a release build of kelvo.scr carries beside the program's own resources.

  tools/check_release.py [--version X.Y.Z] FILE...

For each file: the program's own resources still match (tools/check_resources.py); there is
exactly one application manifest, resource 1, asking for per-monitor DPI awareness (version 2
first, the older forms as fallback), common controls version 6 and naming the supported
systems; there is one version resource naming the product, describing the file and carrying the
project's version (read from CMakeLists.txt unless given); the symbols are stripped; the PE checksum
is the file's (the linker writes it, signing rewrites it).
Prints one line per problem and exits 1 when there is any.
"""

import os
import re
import struct
import sys
import xml.etree.ElementTree as ElementTree

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_resources  # noqa: E402

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
RT_VERSION, RT_MANIFEST = 16, 24
FIXED_FILE_INFO_SIGNATURE = 0xFEEF04BD

ASSEMBLY = "{urn:schemas-microsoft-com:asm.v1}"
ASSEMBLY_V3 = "{urn:schemas-microsoft-com:asm.v3}"
COMPATIBILITY = "{urn:schemas-microsoft-com:compatibility.v1}"
SETTINGS_2005 = "{http://schemas.microsoft.com/SMI/2005/WindowsSettings}"
SETTINGS_2016 = "{http://schemas.microsoft.com/SMI/2016/WindowsSettings}"
SUPPORTED_SYSTEMS = {
    "{e2011457-1546-43c5-a5fe-008deee3d3f0}": "Vista",
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}": "7",
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}": "8",
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}": "8.1",
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}": "10 and 11",
}


def project_version():
    with open(os.path.join(ROOT, "CMakeLists.txt"), encoding="utf-8") as handle:
        match = re.search(r"project\(\s*Kelvo\s+VERSION\s+([0-9.]+)", handle.read())
    return match.group(1) if match else None


def check_manifest(data, problems):
    try:
        root = ElementTree.fromstring(data)
    except ElementTree.ParseError as error:
        problems.append("the manifest is not well-formed XML: %s" % error)
        return
    if root.tag != ASSEMBLY + "assembly" or root.get("manifestVersion") != "1.0":
        problems.append("the manifest's root is %s, not an assembly of manifest version 1.0" % root.tag)

    controls = [identity for identity in root.iter(ASSEMBLY + "assemblyIdentity")
                if identity.get("name") == "Microsoft.Windows.Common-Controls"]
    if len(controls) != 1:
        problems.append("the manifest names the common controls %d times, not once" % len(controls))
    else:
        wanted = {"type": "win32", "version": "6.0.0.0", "publicKeyToken": "6595b64144ccf1df",
                  "processorArchitecture": "*", "language": "*"}
        for key, value in wanted.items():
            if controls[0].get(key) != value:
                problems.append("the common controls' %s is %r, not %r" % (key, controls[0].get(key), value))

    awareness = [element.text or "" for element in root.iter(SETTINGS_2016 + "dpiAwareness")]
    forms = [form.strip() for form in awareness[0].split(",")] if len(awareness) == 1 else []
    if forms[:2] != ["PerMonitorV2", "PerMonitor"]:
        problems.append("dpiAwareness is %r, not \"PerMonitorV2, PerMonitor\"" % awareness)
    aware = [(element.text or "").strip().lower() for element in root.iter(SETTINGS_2005 + "dpiAware")]
    if aware != ["true/pm"]:
        problems.append("dpiAware is %r, not \"true/pm\"" % aware)
    for element in list(root.iter(SETTINGS_2016 + "dpiAwareness")) + list(root.iter(SETTINGS_2005 + "dpiAware")):
        parents = [parent for parent in root.iter(ASSEMBLY_V3 + "windowsSettings") if element in list(parent)]
        if not parents:
            problems.append("%s is not inside an application's windowsSettings" % element.tag)

    systems = {element.get("Id", "").lower() for element in root.iter(COMPATIBILITY + "supportedOS")}
    for guid, name in SUPPORTED_SYSTEMS.items():
        if guid not in systems:
            problems.append("the manifest does not name Windows %s as supported" % name)
    for guid in sorted(systems - set(SUPPORTED_SYSTEMS)):
        problems.append("the manifest names an unknown system %s" % guid)


def _version_node(data, offset):
    """One node of a version resource: key, value bytes, children, and the offset after it."""
    length, value_length, value_type = struct.unpack_from("<HHH", data, offset)
    if length < 6 or offset + length > len(data):
        raise ValueError("a node of length %d at %d" % (length, offset))
    end = offset + length
    key, position = check_resources._utf16z(data, offset + 6)
    position = check_resources._align4(position)
    value_size = value_length * 2 if value_type == 1 else value_length
    value = data[position:position + value_size]
    position = check_resources._align4(position + value_size)
    children = []
    while position + 6 <= end:
        child, position = _version_node(data, position)
        children.append(child)
        position = check_resources._align4(position)
    return (key, value_type, value, children), end


def read_version(data):
    """The fixed file and product versions and the strings of a version resource."""
    (key, _, value, children), _ = _version_node(data, 0)
    if key != "VS_VERSION_INFO" or len(value) < 52:
        raise ValueError("no VS_VERSION_INFO with a fixed file info")
    signature, _, file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<IIIIII", value, 0)
    if signature != FIXED_FILE_INFO_SIGNATURE:
        raise ValueError("the fixed file info's signature is 0x%08X" % signature)

    def numbers(most, least):
        return "%d.%d.%d.%d" % (most >> 16, most & 0xFFFF, least >> 16, least & 0xFFFF)

    strings = {}
    for child_key, _, _, tables in children:
        if child_key != "StringFileInfo":
            continue
        for _, _, _, entries in tables:
            for name, value_type, text, _ in entries:
                strings[name] = text.decode("utf-16-le").rstrip("\0") if value_type == 1 else text
    return numbers(file_ms, file_ls), numbers(product_ms, product_ls), strings


def check_version(data, version, problems):
    try:
        file_version, product_version, strings = read_version(data)
    except (ValueError, struct.error, UnicodeDecodeError) as error:
        problems.append("the version resource cannot be read: %s" % error)
        return
    four = version + ".0" * (3 - version.count("."))
    for what, actual in (("file version", file_version), ("product version", product_version)):
        if actual != four:
            problems.append("the %s is %s, not %s" % (what, actual, four))
    for name, expected in (("ProductName", "Kelvo"), ("FileVersion", version), ("ProductVersion", version),
                           ("OriginalFilename", "kelvo.scr")):
        if strings.get(name) != expected:
            problems.append("the version string %s is %r, not %r" % (name, strings.get(name), expected))
    if not strings.get("FileDescription"):
        problems.append("the version resource has no file description")


def check_stripped(data, problems):
    header = struct.unpack_from("<I", data, 0x3C)[0]
    _, sections, _, symbol_table, symbol_count, optional_size, _ = struct.unpack_from("<HHIIIHH", data, header + 4)
    if symbol_table != 0 or symbol_count != 0:
        problems.append("the program keeps a symbol table of %d symbols: not stripped" % symbol_count)
    table = header + 24 + optional_size
    for i in range(sections):
        name = data[table + 40 * i:table + 40 * i + 8].rstrip(b"\0").decode("latin-1")
        if name.startswith(".debug") or name.startswith("/"):
            problems.append("the program keeps the section %s: not stripped" % name)


def check_checksum(data, problems):
    header = struct.unpack_from("<I", data, 0x3C)[0]
    at = header + 24 + 64  # CheckSum, at the same place in PE32 and PE32+
    stored = struct.unpack_from("<I", data, at)[0]
    # As ImageHlp's CheckSumMappedFile: the 16-bit words with end-around carry, the field left out,
    # plus the file's length.
    words = data[:at] + data[at + 4:] + b"\0" * (len(data) % 2)
    total = sum(struct.unpack("<%dH" % (len(words) // 2), words))
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    if stored != total + len(data):
        problems.append("the PE checksum is 0x%08X, not the file's 0x%08X" % (stored, total + len(data)))


def check_file(path, version):
    with open(path, "rb") as handle:
        data = handle.read()
    if data[:2] != b"MZ":
        return ["not a Windows program"]
    resources = check_resources.read_pe(data)
    problems = check_resources.check(resources, ignored_types=(RT_VERSION, RT_MANIFEST))

    manifests = [r for r in resources if r.type == RT_MANIFEST]
    if [r.name for r in manifests] != [1]:
        problems.append("the program carries manifests %r, not exactly one, resource 1"
                        % [(r.name, "0x%04X" % r.language) for r in manifests])
    if manifests:
        check_manifest(manifests[0].data, problems)

    versions = [r for r in resources if r.type == RT_VERSION]
    if [r.name for r in versions] != [1]:
        problems.append("the program carries version resources %r, not exactly one, resource 1"
                        % [r.name for r in versions])
    if versions:
        check_version(versions[0].data, version, problems)

    check_stripped(data, problems)
    check_checksum(data, problems)
    return problems


def main(arguments):
    version = project_version()
    if "--version" in arguments:
        at = arguments.index("--version")
        version = arguments[at + 1]
        del arguments[at:at + 2]
    if not arguments or not version:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    failed = False
    for path in arguments:
        try:
            problems = check_file(path, version)
        except (OSError, ValueError, struct.error) as error:
            problems = ["cannot be read: %s" % error]
        for problem in problems:
            print("check_release: %s: %s" % (path, problem))
        if problems:
            failed = True
        else:
            print("check_release: %s: resources, manifest, version %s, stripping and checksum as they should be"
                  % (path, version))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
