#!/usr/bin/env python3
"""Checks Kelvo's compiled resources field by field.

Reads either a compiled resource file (.res, as windres -O res writes it) or a
Windows executable (kelvo.scr), whose resource section it walks, and compares
dialog 2003, the string table and group icon 104 with what the program needs.

Usage:
  tools/check_resources.py FILE            exit 0 when everything matches; otherwise
                                           one line per difference and exit 1
  tools/check_resources.py FILE --dump     print what was read, as JSON
  tools/check_resources.py FILE --ignore-type N
                                           tolerate extra resources of type N (e.g. 24,
                                           a manifest some toolchains add); repeatable

Also importable: read_resources(), parse_dialog(), parse_string_block(),
parse_group_icon(), check().
"""

import json
import struct
import sys

RT_ICON, RT_DIALOG, RT_STRING, RT_GROUP_ICON = 3, 5, 6, 14
JAPANESE = 0x0411
DS_SETFONT = 0x40

# The predefined control classes, as a template may name them by atom.
CLASS_ATOMS = {0x80: "BUTTON", 0x81: "EDIT", 0x82: "STATIC", 0x83: "LISTBOX", 0x84: "SCROLLBAR", 0x85: "COMBOBOX"}

EXPECTED_DIALOG = {
    "form": "standard",
    "style": 0x80C808C0,
    "exstyle": 0,
    "x": 0, "y": 0, "cx": 143, "cy": 121,
    "menu": "",
    "class": "",
    "title": "設定",
    "pointsize": 9,
    "face": "ＭＳ Ｐゴシック",
}
# id, class, text, style, x, y, cx, cy; extended style 0 and no creation data for all.
EXPECTED_CONTROLS = [
    (0xFFFF, "STATIC", "ウエイト", 0x50020000, 7, 41, 26, 10),
    (1004, "STATIC", "Static", 0x50020000, 53, 41, 48, 11),
    (1003, "SCROLLBAR", "", 0x50010000, 7, 53, 97, 9),
    (0xFFFF, "STATIC", "細かさ", 0x50020000, 7, 69, 60, 9),
    (1002, "EDIT", "", 0x50812080, 7, 79, 55, 14),
    (1, "BUTTON", "OK", 0x50010001, 30, 100, 50, 14),
    (2, "BUTTON", "ｷｬﾝｾﾙ", 0x50010000, 86, 100, 50, 14),
    (1005, "COMBOBOX", "", 0x50210103, 7, 25, 63, 55),
    (0xFFFF, "STATIC", "色の変化", 0x50020000, 7, 13, 58, 9),
]
EXPECTED_STRINGS = {1: "Kelvo"}
EXPECTED_ICON = {"width": 32, "height": 32, "colours": 16, "planes": 1, "bits": 4, "bytes": 744}


class Resource:
    def __init__(self, type_, name, language, data):
        self.type, self.name, self.language, self.data = type_, name, language, data

    def __repr__(self):
        return "Resource(type=%r, name=%r, language=0x%04X, %d bytes)" % (
            self.type, self.name, self.language, len(self.data))


def _utf16z(data, offset):
    """A NUL-terminated UTF-16 string and the offset after its NUL."""
    end = offset
    while data[end:end + 2] != b"\0\0":
        end += 2
        if end >= len(data):
            raise ValueError("unterminated string at %d" % offset)
    return data[offset:end].decode("utf-16-le"), end + 2


def _align4(offset):
    return (offset + 3) & ~3


def _name_or_ordinal(data, offset):
    if struct.unpack_from("<H", data, offset)[0] == 0xFFFF:
        return struct.unpack_from("<H", data, offset + 2)[0], offset + 4
    return _utf16z(data, offset)


def read_res(data):
    resources = []
    offset = 0
    while offset + 8 <= len(data):
        data_size, header_size = struct.unpack_from("<II", data, offset)
        # A header holds at least the sizes, two ordinals and the fixed fields; anything
        # smaller (or running past the end) means this is no resource file at all.
        if header_size < 32 or offset + header_size + data_size > len(data):
            raise ValueError("not a resource file")
        type_, position = _name_or_ordinal(data, offset + 8)
        name, position = _name_or_ordinal(data, position)
        position = _align4(position)
        _, _, language, _, _ = struct.unpack_from("<IHHII", data, position)
        body = data[offset + header_size:offset + header_size + data_size]
        if not (type_ == 0 and name == 0 and data_size == 0):  # the file's leading empty entry
            resources.append(Resource(type_, name, language, body))
        offset = _align4(offset + header_size + data_size)
    return resources


def read_pe(data):
    header = struct.unpack_from("<I", data, 0x3C)[0]
    if data[header:header + 4] != b"PE\0\0":
        raise ValueError("not a PE file")
    _, sections, _, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", data, header + 4)
    optional = header + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    directories = optional + (96 if magic == 0x10B else 112)
    resource_rva, _ = struct.unpack_from("<II", data, directories + 2 * 8)
    table = optional + optional_size
    spans = []
    for i in range(sections):
        _, virtual_size, virtual_address, raw_size, raw_pointer = struct.unpack_from("<8sIIII", data, table + 40 * i)
        spans.append((virtual_address, max(virtual_size, raw_size), raw_pointer))

    def file_offset(rva):
        for virtual_address, size, raw_pointer in spans:
            if virtual_address <= rva < virtual_address + size:
                return rva - virtual_address + raw_pointer
        raise ValueError("address 0x%X lies in no section" % rva)

    if resource_rva == 0:
        return []
    base = file_offset(resource_rva)

    def entries(directory):
        named, numbered = struct.unpack_from("<HH", data, base + directory + 12)
        for i in range(named + numbered):
            name, target = struct.unpack_from("<II", data, base + directory + 16 + 8 * i)
            if name & 0x80000000:
                length = struct.unpack_from("<H", data, base + (name & 0x7FFFFFFF))[0]
                start = base + (name & 0x7FFFFFFF) + 2
                name = data[start:start + 2 * length].decode("utf-16-le")
            yield name, target

    resources = []
    for type_, types in entries(0):
        for name, names in entries(types & 0x7FFFFFFF):
            for language, leaf in entries(names & 0x7FFFFFFF):
                rva, size, _, _ = struct.unpack_from("<IIII", data, base + leaf)
                start = file_offset(rva)
                resources.append(Resource(type_, name, language, data[start:start + size]))
    return resources


def read_resources(data):
    return read_pe(data) if data[:2] == b"MZ" else read_res(data)


def parse_dialog(data):
    if struct.unpack_from("<HH", data, 0) == (1, 0xFFFF):
        return {"form": "extended"}
    style, exstyle, count, x, y, cx, cy = struct.unpack_from("<IIHhhhh", data, 0)
    offset = 18
    menu, offset = _name_or_ordinal(data, offset)
    class_, offset = _name_or_ordinal(data, offset)
    title, offset = _utf16z(data, offset)
    dialog = {"form": "standard", "style": style, "exstyle": exstyle, "x": x, "y": y, "cx": cx, "cy": cy,
              "menu": menu, "class": class_, "title": title, "pointsize": None, "face": None, "controls": []}
    if style & DS_SETFONT:
        dialog["pointsize"] = struct.unpack_from("<H", data, offset)[0]
        dialog["face"], offset = _utf16z(data, offset + 2)
    for _ in range(count):
        offset = _align4(offset)
        item_style, item_exstyle, ix, iy, icx, icy, item_id = struct.unpack_from("<IIhhhhH", data, offset)
        item_class, offset = _name_or_ordinal(data, offset + 18)
        text, offset = _name_or_ordinal(data, offset)
        extra = struct.unpack_from("<H", data, offset)[0]
        offset += 2 + extra
        if isinstance(item_class, int):
            item_class = CLASS_ATOMS.get(item_class, "#%d" % item_class)
        dialog["controls"].append({"id": item_id, "class": item_class.upper(), "text": text, "style": item_style,
                                   "exstyle": item_exstyle, "x": ix, "y": iy, "cx": icx, "cy": icy,
                                   "extra": extra})
    return dialog


def parse_string_block(data):
    """The 16 strings of one string table block."""
    strings = []
    offset = 0
    for _ in range(16):
        length = struct.unpack_from("<H", data, offset)[0]
        strings.append(data[offset + 2:offset + 2 + 2 * length].decode("utf-16-le"))
        offset += 2 + 2 * length
    return strings


def parse_group_icon(data):
    reserved, type_, count = struct.unpack_from("<HHH", data, 0)
    images = []
    for i in range(count):
        width, height, colours, _, planes, bits, size, icon_id = struct.unpack_from("<BBBBHHIH", data, 6 + 14 * i)
        images.append({"width": width or 256, "height": height or 256, "colours": colours, "planes": planes,
                       "bits": bits, "bytes": size, "id": icon_id})
    return {"reserved": reserved, "type": type_, "images": images}


def _one(resources, type_, name, problems, what):
    found = [r for r in resources if r.type == type_ and r.name == name]
    if not found:
        problems.append("%s is missing" % what)
        return None
    if len(found) > 1:
        problems.append("%s exists %d times (languages %s)" % (
            what, len(found), ", ".join("0x%04X" % r.language for r in found)))
    if found[0].language != JAPANESE:
        problems.append("%s has language 0x%04X, not 0x%04X" % (what, found[0].language, JAPANESE))
    return found[0]


def _compare(problems, what, actual, expected):
    if actual != expected:
        if what.endswith("style") and isinstance(actual, int) and isinstance(expected, int):
            problems.append("%s is 0x%08X, not 0x%08X" % (what, actual, expected))
        else:
            problems.append("%s is %r, not %r" % (what, actual, expected))


def check(resources, ignored_types=()):
    """Every difference from what the program needs, as readable lines."""
    problems = []
    expected_keys = {(RT_DIALOG, 2003), (RT_STRING, 1), (RT_GROUP_ICON, 104)}

    dialog_resource = _one(resources, RT_DIALOG, 2003, problems, "dialog 2003")
    if dialog_resource is not None:
        dialog = parse_dialog(dialog_resource.data)
        for key, value in EXPECTED_DIALOG.items():
            _compare(problems, "dialog 2003 %s" % key, dialog.get(key), value)
        controls = dialog.get("controls", [])
        _compare(problems, "dialog 2003 control count", len(controls), len(EXPECTED_CONTROLS))
        for number, (control, expected) in enumerate(zip(controls, EXPECTED_CONTROLS), 1):
            fields = dict(zip(("id", "class", "text", "style", "x", "y", "cx", "cy"), expected))
            fields.update(exstyle=0, extra=0)
            for key, value in fields.items():
                _compare(problems, "dialog 2003 control %d %s" % (number, key), control[key], value)

    strings_resource = _one(resources, RT_STRING, 1, problems, "string block 1")
    if strings_resource is not None:
        strings = parse_string_block(strings_resource.data)
        for index, text in enumerate(strings):
            _compare(problems, "string %d" % index, text, EXPECTED_STRINGS.get(index, ""))

    group_resource = _one(resources, RT_GROUP_ICON, 104, problems, "group icon 104")
    if group_resource is not None:
        group = parse_group_icon(group_resource.data)
        _compare(problems, "group icon 104 header", (group["reserved"], group["type"]), (0, 1))
        _compare(problems, "group icon 104 image count", len(group["images"]), 1)
        for image in group["images"][:1]:
            for key, value in EXPECTED_ICON.items():
                _compare(problems, "group icon 104 image %s" % key, image[key], value)
            _compare(problems, "group icon 104 image id", image["id"], 1)
            expected_keys.add((RT_ICON, image["id"]))
            icon = _one(resources, RT_ICON, image["id"], problems, "icon %d" % image["id"])
            if icon is not None:
                _compare(problems, "icon %d size" % image["id"], len(icon.data), EXPECTED_ICON["bytes"])
                if len(icon.data) >= 40:
                    header = struct.unpack_from("<IiiHH", icon.data, 0)
                    _compare(problems, "icon %d bitmap header (size, width, height, planes, bits)" % image["id"],
                             header, (40, 32, 64, 1, 4))

    for resource in resources:
        if (resource.type, resource.name) not in expected_keys and resource.type not in ignored_types:
            problems.append("unexpected resource: type %r, name %r, language 0x%04X" % (
                resource.type, resource.name, resource.language))
    return problems


def dump(resources):
    out = []
    for resource in resources:
        entry = {"type": resource.type, "name": resource.name, "language": resource.language,
                 "size": len(resource.data)}
        if resource.type == RT_DIALOG:
            entry["dialog"] = parse_dialog(resource.data)
        elif resource.type == RT_STRING:
            entry["strings"] = parse_string_block(resource.data)
        elif resource.type == RT_GROUP_ICON:
            entry["group"] = parse_group_icon(resource.data)
        out.append(entry)
    return json.dumps(out, ensure_ascii=False, indent=1)


def main(arguments):
    if not arguments or arguments[0].startswith("-"):
        print(__doc__.strip(), file=sys.stderr)
        return 2
    path, options = arguments[0], arguments[1:]
    ignored = []
    while "--ignore-type" in options:
        at = options.index("--ignore-type")
        ignored.append(int(options[at + 1], 0))
        del options[at:at + 2]
    try:
        with open(path, "rb") as file:
            resources = read_resources(file.read())
    except (OSError, ValueError, struct.error, UnicodeDecodeError) as error:
        print("%s: cannot read resources: %s" % (path, error), file=sys.stderr)
        return 2
    if "--dump" in options:
        print(dump(resources))
        return 0
    problems = check(resources, ignored)
    for problem in problems:
        print(problem)
    if not problems:
        print("%s: resources match" % path)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
