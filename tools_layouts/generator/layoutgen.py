#!/usr/bin/env python3
"""Generates the layout code of one layout family from its data file.

The data file is the single source of truth of a family: for every layout
its size and, in print order, its fields. This program checks it and writes
three files into the output directory:

  <stem>.h        the records and the prototypes (compiles as C and C++)
  <stem>.cpp      X_pack, X_unpack, X_print, X_size and X_dump of every layout
  <stem>_test.cpp GoogleTest cases: the size of every layout and a pack/unpack
                  round trip of every field, checked against an independent
                  bit placement; and an image of ones unpacked and printed
                  (once per selector choice), staying inside record and image

where <stem> is the data file's name without its extension followed by
"_layouts". Only the Python standard library is used.

Data format (see tools_layouts/data/README.md for the full description):

  family PREFIX                       every layout name starts with PREFIX
  layout NAME SIZE                    a layout of SIZE bytes
  union NAME SIZE packs MEMBER        a plain union; pack and unpack go
                                      through MEMBER only
  enumeration NAME [V=NAME ...]       value names shared by several fields;
                                      rows of V=NAME pairs may follow
    FIELD PLACE [KIND ...] [[COUNT]]  one field row, in print order

PLACE is the field's (or element 0's) position and width:
  0xOFF.MSB:LSB   bits MSB:LSB of the big-endian 32-bit word at byte OFF
                  (63:0 is a 64-bit field over two words)
  0xOFF/W         W bits from the first bit of byte OFF
  @A/W            W bits from bit address A

KIND is one of (nothing means an unsigned bit field):
  enum V=NAME ...                     enumerated field (NAME may be quoted)
  enum ENUMERATION                    enumerated field whose value names are
                                      those of a named enumeration
  text                                characters; needs [COUNT], 8-bit PLACE
  nested LAYOUT                       a nested layout or a plain union
  select SELECTOR UNION V=MEMBER ...  selector union: SELECTOR (an earlier
                                      field) chooses the member
  varray LENGTH/DIVISOR               32-bit words, LENGTH / DIVISOR of them;
                                      the record holds a caller's array and
                                      NAME_len, the words it holds (0: the
                                      LENGTH / DIVISOR words the record asks
                                      for); see varray_count below
A trailing [COUNT] makes the row an array of COUNT elements.
"""

import argparse
import os
import re
import shlex
import sys

# Names that cannot be record members as they stand: C and C++ keywords, and
# object-like macros of the headers a layout's user is likely to include
# (GNU C predefines linux and unix). Such a field keeps its name in print;
# its record member gets a trailing underscore. Function-like macros such as
# assert, major and minor need no change: a member name followed by no
# parenthesis is never expanded, and the generated code never follows one.
RESERVED_NAMES = frozenset("""
    auto break case char const continue default do double else enum extern
    float for goto if inline int long register restrict return short signed
    sizeof static struct switch typedef union unsigned void volatile while
    _Alignas _Alignof _Atomic _Bool _Complex _Generic _Imaginary _Noreturn
    _Static_assert _Thread_local
    alignas alignof and and_eq asm bitand bitor bool catch char8_t char16_t
    char32_t class compl concept consteval constexpr constinit const_cast
    co_await co_return co_yield decltype delete dynamic_cast explicit export
    false friend mutable namespace new noexcept not not_eq nullptr operator or
    or_eq private protected public reinterpret_cast requires static_assert
    static_cast template this thread_local throw true try typeid typename
    using virtual wchar_t xor xor_eq
    linux unix i386 errno stdin stdout stderr NULL EOF BUFSIZ FILENAME_MAX
    FOPEN_MAX TMP_MAX L_tmpnam SEEK_SET SEEK_CUR SEEK_END P_tmpdir
    EXIT_SUCCESS EXIT_FAILURE RAND_MAX MB_CUR_MAX
""".split())

IDENT = re.compile(r"^[A-Za-z_][A-Za-z0-9_]*$")
PLACE_WORD = re.compile(r"^(0x[0-9a-fA-F]+|[0-9]+)\.([0-9]+):([0-9]+)$")
PLACE_BYTE = re.compile(r"^(0x[0-9a-fA-F]+|[0-9]+)/([0-9]+)$")
PLACE_BIT = re.compile(r"^@(0x[0-9a-fA-F]+|[0-9]+)/([0-9]+)$")
COUNT = re.compile(r"^\[([0-9]+)\]$")
VARRAY_LEN = re.compile(r"^([A-Za-z_][A-Za-z0-9_]*)/([0-9]+)$")


class DataError(Exception):
    """An inconsistency of the data file, with its location."""

    def __init__(self, where, message):
        super().__init__("%s: error: %s" % (where, message))


class Field:
    def __init__(self, where, name, addr, width):
        self.where = where
        self.name = name
        self.member = name + "_" if name in RESERVED_NAMES else name
        self.addr = addr  # bit address of the field, or of element 0
        self.width = width  # width of the field, or of one element
        self.kind = "uint"  # uint, enum, text, nested, select, varray, unlimited
        self.count = None  # element count of an array, None for one item
        self.enums = []  # (value, name) pairs
        self.enum_ref = None  # enum: name of a shared enumeration, if any
        self.layout = None  # nested / select: name of the layout
        self.selector = None  # select: name of the selector field
        self.choices = []  # select: (value, member name) pairs
        self.length = None  # varray: name of the length field
        self.divisor = 1  # varray: length / divisor words

    def extent(self):
        """Bits from addr that the field occupies, None for a varray."""
        if self.kind == "varray":
            return None
        return self.width * (self.count if self.count is not None else 1)


class Layout:
    def __init__(self, where, name, size, is_union, packs):
        self.where = where
        self.name = name
        self.size = size
        self.is_union = is_union
        self.packs = packs
        self.fields = []

    def field(self, name):
        for f in self.fields:
            if f.name == name:
                return f
        return None


class Enumeration:
    """Value names that several fields, of one layout or of many, print."""

    def __init__(self, where, name):
        self.where = where
        self.name = name
        self.pairs = []  # (value, name) pairs
        self.used = False


class Family:
    def __init__(self, path):
        self.path = path
        self.prefix = None
        self.layouts = {}
        self.order = []
        self.enumerations = {}
        self.enum_order = []


def number(text, where, what):
    try:
        return int(text, 0)
    except ValueError:
        raise DataError(where, "%s '%s' is not a number" % (what, text))


def parse_place(text, where):
    m = PLACE_WORD.match(text)
    if m:
        offset = number(m.group(1), where, "offset")
        msb = int(m.group(2))
        lsb = int(m.group(3))
        if offset % 4 != 0:
            raise DataError(where, "word offset %s is not a multiple of 4" % m.group(1))
        if (msb, lsb) == (63, 0):
            return 8 * offset, 64
        if not (0 <= lsb <= msb <= 31):
            raise DataError(where, "bits %d:%d are not msb:lsb inside a 32-bit word" % (msb, lsb))
        return 8 * offset + 31 - msb, msb - lsb + 1
    m = PLACE_BYTE.match(text)
    if m:
        return 8 * number(m.group(1), where, "offset"), int(m.group(2))
    m = PLACE_BIT.match(text)
    if m:
        return number(m.group(1), where, "bit address"), int(m.group(2))
    raise DataError(where, "place '%s' is none of 0xOFF.MSB:LSB, 0xOFF/WIDTH, @ADDRESS/WIDTH" % text)


def parse_pairs(tokens, where, what):
    pairs = []
    for token in tokens:
        value, sep, name = token.partition("=")
        if not sep or not name:
            raise DataError(where, "%s '%s' is not VALUE=NAME" % (what, token))
        pairs.append((number(value, where, what + " value"), name))
    return pairs


def parse_field(tokens, where):
    name = tokens[0]
    if not IDENT.match(name):
        raise DataError(where, "field name '%s' is not an identifier" % name)
    if len(tokens) < 2:
        raise DataError(where, "field '%s' has no place" % name)
    addr, width = parse_place(tokens[1], where)
    field = Field(where, name, addr, width)
    rest = tokens[2:]
    if rest and COUNT.match(rest[-1]):
        field.count = int(COUNT.match(rest[-1]).group(1))
        rest = rest[:-1]
        if field.count < 1:
            raise DataError(where, "field '%s' has an array count of 0" % name)
    if not rest:
        return field
    kind, args = rest[0], rest[1:]
    if kind == "enum":
        field.kind = "enum"
        if len(args) == 1 and "=" not in args[0]:
            # A shared enumeration, resolved once the whole file is read.
            field.enum_ref = args[0]
            return field
        field.enums = parse_pairs(args, where, "enumerator")
        if not field.enums:
            raise DataError(where, "enumerated field '%s' names no value" % name)
    elif kind == "text":
        field.kind = "text"
        if args:
            raise DataError(where, "text field '%s' takes no arguments" % name)
    elif kind == "nested":
        field.kind = "nested"
        if len(args) != 1:
            raise DataError(where, "nested field '%s' needs exactly one layout name" % name)
        field.layout = args[0]
    elif kind == "select":
        field.kind = "select"
        if len(args) < 3:
            raise DataError(where, "selector union '%s' needs SELECTOR UNION VALUE=MEMBER..." % name)
        field.selector, field.layout = args[0], args[1]
        field.choices = parse_pairs(args[2:], where, "selector choice")
    elif kind == "varray":
        field.kind = "varray"
        m = VARRAY_LEN.match(args[0]) if len(args) == 1 else None
        if not m:
            raise DataError(where, "variable-length array '%s' needs LENGTH_FIELD/DIVISOR" % name)
        field.length = m.group(1)
        field.divisor = int(m.group(2))
    elif kind == "unlimited":
        field.kind = "unlimited"
        if args or field.count is not None:
            raise DataError(where, "unlimited array '%s' takes no arguments and no [COUNT]" % name)
    else:
        raise DataError(where, "field '%s' has unknown kind '%s'" % (name, kind))
    return field


def parse(paths):
    """Reads a family from its data file, or from several: the first holds
    the family line, the others add layouts and enumerations to it."""
    if isinstance(paths, str):
        paths = [paths]
    family = Family(paths[0])
    for path in paths:
        parse_file(family, path)
    return family


def parse_file(family, path):
    current = None
    with open(path, encoding="utf-8") as stream:
        for number_, line in enumerate(stream, 1):
            where = "%s:%d" % (path, number_)
            try:
                tokens = shlex.split(line, comments=True)
            except ValueError as error:
                raise DataError(where, "cannot split the line: %s" % error)
            if not tokens:
                continue
            head = tokens[0]
            if head == "family":
                if len(tokens) != 2 or not IDENT.match(tokens[1]):
                    raise DataError(where, "family needs one identifier prefix")
                if family.prefix is not None:
                    raise DataError(where, "family given twice")
                family.prefix = tokens[1]
                current = None
            elif head == "enumeration":
                if len(tokens) < 2 or not IDENT.match(tokens[1]):
                    raise DataError(where, "expected 'enumeration NAME [VALUE=NAME...]'")
                name = tokens[1]
                if name in family.enumerations:
                    raise DataError(where, "enumeration '%s' defined twice (first at %s)" % (name, family.enumerations[name].where))
                current = Enumeration(where, name)
                current.pairs.extend(parse_pairs(tokens[2:], where, "enumerator"))
                family.enumerations[name] = current
                family.enum_order.append(current)
            elif head in ("layout", "union"):
                if family.prefix is None:
                    raise DataError(where, "'%s' before the family line" % head)
                is_union = head == "union"
                expected = 5 if is_union else 3
                if len(tokens) != expected or (is_union and tokens[3] != "packs"):
                    form = "union NAME SIZE packs MEMBER" if is_union else "layout NAME SIZE"
                    raise DataError(where, "expected '%s'" % form)
                name = tokens[1]
                if not IDENT.match(name):
                    raise DataError(where, "layout name '%s' is not an identifier" % name)
                if not name.startswith(family.prefix):
                    raise DataError(where, "layout '%s' does not carry the family prefix '%s'" % (name, family.prefix))
                if name in family.layouts:
                    raise DataError(where, "layout '%s' defined twice (first at %s)" % (name, family.layouts[name].where))
                size = number(tokens[2], where, "size")
                if size <= 0:
                    raise DataError(where, "layout '%s' has size %d" % (name, size))
                current = Layout(where, name, size, is_union, tokens[4] if is_union else None)
                family.layouts[name] = current
                family.order.append(current)
            elif isinstance(current, Enumeration):
                current.pairs.extend(parse_pairs(tokens, where, "enumerator"))
            else:
                if current is None:
                    raise DataError(where, "field row outside a layout")
                field = parse_field(tokens, where)
                if current.field(field.name) is not None:
                    raise DataError(where, "field '%s' given twice in '%s'" % (field.name, current.name))
                current.fields.append(field)
        if family.prefix is None:
            raise DataError(path, "no family line")


# ---------------------------------------------------------------------------
# Checks


def ctype(width):
    if width <= 8:
        return "uint8_t"
    if width <= 16:
        return "uint16_t"
    if width <= 32:
        return "uint32_t"
    return "uint64_t"


def check_scalar_width(field, layout):
    w = field.width
    where = field.where
    if not (1 <= w <= 32 or w == 64):
        raise DataError(where, "'%s.%s' is %d bits wide: scalars have 1 to 32 or 64 bits" % (layout.name, field.name, w))
    a = field.addr
    if field.count is None:
        if w < 32 and a // 32 != (a + w - 1) // 32:
            raise DataError(where, "'%s.%s' (%d bits at bit %d) crosses a 32-bit word" % (layout.name, field.name, w, a))
    elif w < 32 and a // 32 != (a + w - 1) // 32:
        raise DataError(where, "element 0 of '%s.%s' (%d bits at bit %d) crosses a 32-bit word" % (layout.name, field.name, w, a))
    if w >= 32 and a % 32 != 0:
        raise DataError(where, "'%s.%s' (%d bits) does not start on a 32-bit word (bit %d)" % (layout.name, field.name, w, a))


def resolve_enumerations(family):
    for enumeration in family.enum_order:
        if not enumeration.pairs:
            raise DataError(enumeration.where, "enumeration '%s' names no value" % enumeration.name)
        seen = {}
        for value, name in enumeration.pairs:
            if value in seen:
                raise DataError(enumeration.where, "enumeration '%s' names the value %s twice ('%s' and '%s')" % (enumeration.name, hex(value), seen[value], name))
            seen[value] = name
    for layout in family.order:
        for field in layout.fields:
            if field.enum_ref is None:
                continue
            enumeration = family.enumerations.get(field.enum_ref)
            if enumeration is None:
                raise DataError(field.where, "'%s.%s' uses unknown enumeration '%s'" % (layout.name, field.name, field.enum_ref))
            enumeration.used = True
            field.enums = list(enumeration.pairs)
    for enumeration in family.enum_order:
        if not enumeration.used:
            raise DataError(enumeration.where, "enumeration '%s' is used by no field" % enumeration.name)


def check(family):
    layouts = family.layouts
    resolve_enumerations(family)
    for layout in family.order:
        seen_members = {}
        for index, field in enumerate(layout.fields):
            where = field.where
            full = "%s.%s" % (layout.name, field.name)
            if field.member in seen_members:
                raise DataError(where, "'%s' has the record member name '%s' of field '%s'" % (full, field.member, seen_members[field.member]))
            seen_members[field.member] = field.name
            if field.kind == "varray":
                if field.member + "_len" in seen_members:
                    raise DataError(where, "'%s' needs the record member '%s_len', which field '%s' has" % (full, field.member, seen_members[field.member + "_len"]))
                seen_members[field.member + "_len"] = field.name
            if field.width < 1:
                raise DataError(where, "'%s' has width 0" % full)
            if field.kind in ("uint", "enum"):
                check_scalar_width(field, layout)
                for value, name in field.enums:
                    if value < 0 or value >= (1 << field.width):
                        raise DataError(where, "enumerator %s=%s of '%s' does not fit %d bits" % (hex(value), name, full, field.width))
                values = [v for v, _ in field.enums]
                if len(set(values)) != len(values):
                    raise DataError(where, "'%s' names one value twice" % full)
            elif field.kind == "text":
                if field.count is None:
                    raise DataError(where, "text field '%s' needs a [COUNT]" % full)
                if field.width != 8 or field.addr % 8 != 0:
                    raise DataError(where, "text field '%s' must be 8-bit characters from a byte boundary" % full)
            elif field.kind in ("nested", "select"):
                target = layouts.get(field.layout)
                if target is None:
                    raise DataError(where, "'%s' refers to unknown layout '%s'" % (full, field.layout))
                if field.width != 8 * target.size:
                    raise DataError(where, "'%s' is %d bits wide but layout '%s' has %d bytes (%d bits)" % (full, field.width, target.name, target.size, 8 * target.size))
                if field.addr % 8 != 0:
                    raise DataError(where, "'%s' does not start on a byte boundary (bit %d)" % (full, field.addr))
                if field.kind == "select":
                    if not target.is_union:
                        raise DataError(where, "selector field '%s' refers to '%s', which is not a union" % (full, target.name))
                    if field.count is not None:
                        raise DataError(where, "selector union '%s' cannot be an array" % full)
                    selector = layout.field(field.selector)
                    if selector is None or layout.fields.index(selector) > index:
                        raise DataError(where, "selector '%s' of '%s' is not an earlier field of '%s'" % (field.selector, full, layout.name))
                    if selector.kind not in ("uint", "enum") or selector.count is not None:
                        raise DataError(where, "selector '%s' of '%s' is not a scalar field" % (field.selector, full))
                    for value, member in field.choices:
                        if target.field(member) is None:
                            raise DataError(where, "'%s' chooses '%s', which is not a member of '%s'" % (full, member, target.name))
                        if value < 0 or value >= (1 << selector.width):
                            raise DataError(where, "selector value %s of '%s' does not fit '%s'" % (hex(value), full, selector.name))
                    values = [v for v, _ in field.choices]
                    if len(set(values)) != len(values):
                        raise DataError(where, "'%s' chooses twice for one selector value" % full)
                elif field.count is not None and field.width <= 32 and field.addr // 32 != (field.addr + field.width - 1) // 32:
                    raise DataError(where, "element 0 of '%s' crosses a 32-bit word" % full)
            elif field.kind == "varray":
                if field.width != 32 or field.addr % 32 != 0:
                    raise DataError(where, "variable-length array '%s' must be 32-bit words from a word boundary" % full)
                if field.count is not None:
                    raise DataError(where, "variable-length array '%s' cannot have a [COUNT]" % full)
                if field.divisor < 1:
                    raise DataError(where, "variable-length array '%s' has divisor 0" % full)
                length = layout.field(field.length)
                if length is None or layout.fields.index(length) > index or length.kind not in ("uint", "enum") or length.count is not None:
                    raise DataError(where, "length '%s' of '%s' is not an earlier scalar field" % (field.length, full))
                if index != len(layout.fields) - 1:
                    raise DataError(where, "variable-length array '%s' must be the last field" % full)
                if field.addr < 8 * layout.size:
                    raise DataError(where, "variable-length array '%s' starts inside the fixed part (bit %d of %d)" % (full, field.addr, 8 * layout.size))
                if layout.is_union:
                    raise DataError(where, "union '%s' cannot hold a variable-length array" % layout.name)
            if field.kind != "varray":
                end = field.addr + field.extent()
                if end > 8 * layout.size:
                    raise DataError(where, "'%s' (bits %d to %d) lies outside the %d bytes of '%s'" % (full, field.addr, end - 1, layout.size, layout.name))
        if layout.is_union:
            if not layout.fields:
                raise DataError(layout.where, "union '%s' has no members" % layout.name)
            for field in layout.fields:
                if field.kind != "nested" or field.count is not None:
                    raise DataError(field.where, "union member '%s.%s' must be a nested layout" % (layout.name, field.name))
                if field.addr != 0:
                    raise DataError(field.where, "union member '%s.%s' starts at bit %d, not at 0" % (layout.name, field.name, field.addr))
            if layout.field(layout.packs) is None:
                raise DataError(layout.where, "union '%s' packs through '%s', which is not one of its members" % (layout.name, layout.packs))
        else:
            check_overlaps(layout)
    check_cycles(family)


def check_overlaps(layout):
    spans = []
    for field in layout.fields:
        if field.kind == "varray":
            continue
        spans.append((field.addr, field.addr + field.extent(), field))
    spans.sort(key=lambda s: (s[0], s[1]))
    for (a0, a1, f), (b0, b1, g) in zip(spans, spans[1:]):
        if b0 < a1:
            raise DataError(g.where, "'%s.%s' (bits %d to %d) overlaps '%s' (bits %d to %d)" % (layout.name, g.name, b0, b1 - 1, f.name, a0, a1 - 1))


def check_cycles(family):
    state = {}

    def visit(layout, trail):
        mark = state.get(layout.name)
        if mark == "done":
            return
        if mark == "open":
            raise DataError(layout.where, "layout '%s' contains itself (%s)" % (layout.name, " -> ".join(trail + [layout.name])))
        state[layout.name] = "open"
        for field in layout.fields:
            if field.layout is not None:
                visit(family.layouts[field.layout], trail + [layout.name])
        state[layout.name] = "done"

    for layout in family.order:
        visit(layout, [])


def definition_order(family):
    """Layouts ordered so that every nested record is defined before use."""
    ordered, done = [], set()

    def visit(layout):
        if layout.name in done:
            return
        done.add(layout.name)
        for field in layout.fields:
            if field.layout is not None:
                visit(family.layouts[field.layout])
        ordered.append(layout)

    for layout in family.order:
        visit(layout)
    return ordered


# ---------------------------------------------------------------------------
# Code


def cstr(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def record_keyword(layout):
    return "union" if layout.is_union else "struct"


def record_type(family, name):
    layout = family.layouts[name]
    return "%s %s" % (record_keyword(layout), name)


def start_position(addr, width):
    """Start argument of adb2c_calc_array_field_address for element 0."""
    if width > 32:
        return addr
    return 32 * (addr // 32) + 32 - (addr % 32) - width


def member_declaration(family, layout, field):
    if field.kind == "unlimited":
        return None
    if field.kind in ("uint", "enum"):
        decl = "%s %s" % (ctype(field.width), field.member)
    elif field.kind == "text":
        return "\tchar %s[%d];" % (field.member, field.count + 1)
    elif field.kind in ("nested", "select"):
        decl = "%s %s" % (record_type(family, field.layout), field.member)
    else:  # varray: a caller-owned word array and how many words it holds
        length = layout.field(field.length)
        return ("\t/* The caller's words: %s / %d of them follow the fixed part in\n"
                "\t * the image. %s_len is how many words the array holds, 0 meaning\n"
                "\t * the %s / %d that the record asks for. Unpack moves no more words\n"
                "\t * than the array held before it ran, reads no more than the fixed\n"
                "\t * part and one word for each of them from the image, and cuts a\n"
                "\t * longer answer's %s to them. */\n"
                "\tuint32_t* %s;\n\tuint32_t %s_len;") % (
                    length.name, field.divisor, field.member, length.name, field.divisor, length.name,
                    field.member, field.member)
    if field.count is not None:
        decl += "[%d]" % field.count
    return "\t%s;" % decl


def emit_header(family, stem, source_name):
    guard = "KELVRA_GENERATED_%s_H" % stem.upper()
    out = []
    out.append("/* Generated by tools_layouts/generator/layoutgen.py from %s. Do not edit. */" % source_name)
    out.append("#ifndef %s\n#define %s\n" % (guard, guard))
    out.append("#include <stdint.h>\n#include <stdio.h>\n")
    out.append('#include "tools_layouts/adb_to_c_utils.h"\n')
    out.append("#ifdef __cplusplus\nextern \"C\" {\n#endif\n")
    for layout in definition_order(family):
        if layout.is_union:
            # Callers filling another view must know it does not travel.
            out.append("/* %s: %d bytes, a union. Pack and unpack move the member %s\n"
                       " * alone; the other members are views that print reads. */" % (layout.name, layout.size, layout.packs))
        else:
            out.append("/* %s: %d bytes */" % (layout.name, layout.size))
        out.append("%s {" % record_type(family, layout.name))
        members = [d for d in (member_declaration(family, layout, f) for f in layout.fields) if d is not None]
        if not members:
            out.append("\tuint8_t empty_record_placeholder;")
        out.extend(members)
        out.append("};\n")
    for layout in family.order:
        t = record_type(family, layout.name)
        n = layout.name
        out.append("void %s_pack(const %s* ptr_struct, uint8_t* ptr_buff);" % (n, t))
        out.append("void %s_unpack(%s* ptr_struct, const uint8_t* ptr_buff);" % (n, t))
        out.append("void %s_print(const %s* ptr_struct, FILE* fd, int indent_level);" % (n, t))
        out.append("unsigned int %s_size(void);" % n)
        out.append("void %s_dump(const %s* ptr_struct, FILE* fd);\n" % (n, t))
    out.append("#ifdef __cplusplus\n}\n#endif\n\n#endif")
    return "\n".join(out) + "\n"


def scalar_push(field, addr_expr, value_expr):
    if field.width == 64:
        return "adb2c_push_integer_to_buff(ptr_buff, %s, 8, %s);" % (addr_expr, value_expr)
    if field.width == 32:
        return "adb2c_push_integer_to_buff(ptr_buff, %s, 4, %s);" % (addr_expr, value_expr)
    return "adb2c_push_bits_to_buff(ptr_buff, %s, %d, (uint32_t)%s);" % (addr_expr, field.width, value_expr)


def scalar_pop(field, addr_expr, target_expr):
    t = ctype(field.width)
    if field.width in (32, 64):
        return "%s = (%s)adb2c_pop_integer_from_buff(ptr_buff, %s, %d);" % (target_expr, t, addr_expr, field.width // 8)
    return "%s = (%s)adb2c_pop_bits_from_buff(ptr_buff, %s, %d);" % (target_expr, t, addr_expr, field.width)


def array_address(layout, field):
    return "adb2c_calc_array_field_address(%d, %d, i, %d, 1)" % (start_position(field.addr, field.width), field.width, 8 * layout.size)


def emit_move(family, layout, field, direction):
    """Lines of pack (direction 'pack') or unpack ('unpack') for one field."""
    m = "ptr_struct->" + field.member
    lines = []
    if field.kind in ("uint", "enum", "text"):
        move = scalar_push if direction == "pack" else scalar_pop
        if field.count is None:
            lines.append(move(field, str(field.addr), m))
        else:
            lines.append("for (i = 0; i < %d; ++i) {" % field.count)
            lines.append("\toffset = %s;" % array_address(layout, field))
            lines.append("\t" + move(field, "offset", m + "[i]"))
            lines.append("}")
            if field.kind == "text" and direction == "unpack":
                lines.append("%s[%d] = 0;" % (m, field.count))
    elif field.kind == "nested":
        call = "%s_%s" % (field.layout, direction)
        if field.count is None:
            lines.append("%s(&(%s), ptr_buff + %d);" % (call, m, field.addr // 8))
        else:
            lines.append("for (i = 0; i < %d; ++i) {" % field.count)
            lines.append("\toffset = %s;" % array_address(layout, field))
            lines.append("\t%s(&(%s[i]), ptr_buff + offset / 8);" % (call, m))
            lines.append("}")
    elif field.kind == "select":
        union = family.layouts[field.layout]
        selector = layout.field(field.selector)
        lines.append("switch (ptr_struct->%s) {" % selector.member)
        for value, member_name in field.choices:
            member = union.field(member_name)
            lines.append("case %s:" % hex(value))
            lines.append("\t%s_%s(&(%s.%s), ptr_buff + %d);" % (member.layout, direction, m, member.member, field.addr // 8))
            lines.append("\tbreak;")
        lines.append("default:\n\tbreak;\n}")
    elif field.kind == "varray":
        if direction == "pack":
            lines.extend(varray_count(layout, field))
        else:
            # The answer's length is the device's word: it moves no more
            # words than the caller's array held, and a longer answer is
            # cut to them so that the record never announces more.
            length = layout.field(field.length)
            lines.append("count = %s ? ptr_struct->%s / %d : 0;" % (m, length.member, field.divisor))
            lines.append("if (count > capacity) {")
            lines.append("\tcount = capacity;")
            lines.append("\tptr_struct->%s = (%s)(capacity * %d);" % (length.member, ctype(length.width), field.divisor))
            lines.append("}")
        lines.append("for (i = 0; i < (int)count; ++i) {")
        lines.append("\toffset = adb2c_calc_array_field_address(%d, 32, i, %d + 32 * count, 1);" % (field.addr, field.addr))
        lines.append("\t" + (scalar_push if direction == "pack" else scalar_pop)(field, "offset", m + "[i]"))
        lines.append("}")
    return lines


def print_fixed_function(layout):
    return "%s_print_fixed_part" % layout.name


def varray_count(layout, field):
    """Words that pack and print move: LENGTH / DIVISOR, at most NAME_len
    when the caller gave it, none without an array."""
    m = "ptr_struct->" + field.member
    length = layout.field(field.length)
    return ["count = %s ? ptr_struct->%s / %d : 0;" % (m, length.member, field.divisor),
            "if (%s_len != 0 && count > %s_len) {\n\tcount = %s_len;\n}" % (m, m, m)]


def varray_capacity(layout):
    """Unpack's first statement: the words the caller's array holds, taken
    before the header's length field is overwritten by the answer's."""
    for field in layout.fields:
        if field.kind == "varray":
            m = "ptr_struct->" + field.member
            length = layout.field(field.length)
            return ["capacity = %s == NULL ? 0 : %s_len != 0 ? %s_len : ptr_struct->%s / %d;" % (
                m, m, m, length.member, field.divisor)]
    return []


def enum_function(layout, field):
    if field.enum_ref is not None:
        return "enum__%s_name" % field.enum_ref
    return "%s__%s_name" % (layout.name, field.name)


def value_format(field):
    if field.kind == "enum":
        return "%s (0x%08x)" if field.width == 32 else "%s (0x%x)"
    if field.width == 64:
        return '0x%016" PRIx64 "'
    if field.width == 32:
        return "0x%08x"
    return "0x%x"


def value_arguments(layout, field, expr):
    if field.kind == "enum":
        return "%s(%s), (unsigned)%s" % (enum_function(layout, field), expr, expr)
    if field.width == 64:
        return "(uint64_t)%s" % expr
    return "(unsigned)%s" % expr


def emit_print_field(family, layout, field):
    m = "ptr_struct->" + field.member
    lines = []
    indent = "adb2c_add_indentation(fd, indent_level);"
    if field.kind in ("uint", "enum") and field.count is None:
        lines.append(indent)
        lines.append('fprintf(fd, "%-20s : ' + value_format(field) + '\\n", ' + cstr(field.name) + ", " + value_arguments(layout, field, m) + ");")
    elif field.kind in ("uint", "enum", "varray"):
        pad = " " * max(0, 20 - (len(field.name) + 5))
        fmt = '"%s_%%03d%s : %s\\n"' % (field.name, pad, value_format(field))
        bound = str(field.count) if field.kind != "varray" else "(int)count"
        if field.kind == "varray":
            lines.extend(varray_count(layout, field))
        lines.append("for (i = 0; i < %s; ++i) {" % bound)
        lines.append("\t" + indent)
        lines.append("\tfprintf(fd, %s, i, %s);" % (fmt, value_arguments(layout, field, m + "[i]")))
        lines.append("}")
    elif field.kind == "text":
        # A record filled by its owner need not hold the terminating zero:
        # never read past the field's own characters.
        lines.append('fprintf(fd, "%%-20s : \\"%%.*s\\"\\n", %s, %d, %s);' % (cstr(field.name), field.count, m))
    elif field.kind == "nested":
        if field.count is None:
            lines.append(indent)
            lines.append('fprintf(fd, "%s:\\n");' % field.name)
            lines.append("%s_print(&(%s), fd, indent_level + 1);" % (field.layout, m))
        else:
            lines.append("for (i = 0; i < %d; ++i) {" % field.count)
            lines.append("\t" + indent)
            lines.append('\tfprintf(fd, "%s_%%03d:\\n", i);' % field.name)
            lines.append("\t%s_print(&(%s[i]), fd, indent_level + 1);" % (field.layout, m))
            lines.append("}")
    elif field.kind == "unlimited":
        lines.append(indent)
        lines.append('fprintf(fd, "unlimited array subnode: (%s)\\n");' % field.name)
    elif field.kind == "select":
        union = family.layouts[field.layout]
        selector = layout.field(field.selector)
        lines.append("switch (ptr_struct->%s) {" % selector.member)
        for value, member_name in field.choices:
            member = union.field(member_name)
            lines.append("case %s:" % hex(value))
            lines.append("\t" + indent)
            lines.append('\tfprintf(fd, "%s:\\n");' % member.name)
            lines.append("\t%s_print(&(%s.%s), fd, indent_level + 1);" % (member.layout, m, member.member))
            lines.append("\tbreak;")
        lines.append("default:\n\tbreak;\n}")
    return lines


def indent_block(lines, depth=1):
    out = []
    for line in lines:
        for part in line.split("\n"):
            out.append("\t" * depth + part if part else part)
    return out


def emit_source(family, stem, subdir, source_name):
    out = []
    out.append("/* Generated by tools_layouts/generator/layoutgen.py from %s. Do not edit. */" % source_name)
    out.append('#include "%s/%s.h"\n' % (subdir, stem))
    out.append("#include <inttypes.h>\n")
    for enumeration in family.enum_order:
        out.append("static const char* enum__%s_name(uint32_t value)\n{\n\tswitch (value) {" % enumeration.name)
        for value, name in enumeration.pairs:
            out.append("\tcase %s:\n\t\treturn %s;" % (hex(value), cstr(name)))
        out.append("\tdefault:\n\t\treturn \"unknown\";\n\t}\n}\n")
    for layout in family.order:
        for field in layout.fields:
            if field.kind == "enum" and field.enum_ref is None:
                out.append("static const char* %s(uint32_t value)\n{\n\tswitch (value) {" % enum_function(layout, field))
                for value, name in field.enums:
                    out.append("\tcase %s:\n\t\treturn %s;" % (hex(value), cstr(name)))
                out.append("\tdefault:\n\t\treturn \"unknown\";\n\t}\n}\n")
    for layout in family.order:
        if any(f.kind == "varray" for f in layout.fields):
            out.append("static void %s(const %s* ptr_struct, FILE* fd, int indent_level);\n" % (print_fixed_function(layout), record_type(family, layout.name)))
    for layout in family.order:
        n = layout.name
        t = record_type(family, n)
        uses_i = any(f.count is not None or f.kind == "varray" for f in layout.fields)
        uses_count = any(f.kind == "varray" for f in layout.fields)
        for direction in ("pack", "unpack"):
            if direction == "pack":
                out.append('extern "C" void %s_pack(const %s* ptr_struct, uint8_t* ptr_buff)\n{' % (n, t))
            else:
                out.append('extern "C" void %s_unpack(%s* ptr_struct, const uint8_t* ptr_buff)\n{' % (n, t))
            body = []
            if uses_i:
                body.append("int i;\nuint32_t offset;")
            if uses_count:
                body.append("uint32_t count;")
                if direction == "unpack":
                    body.append("uint32_t capacity;")
                    body.extend(varray_capacity(layout))
            if layout.is_union:
                member = layout.field(layout.packs)
                body.append("%s_%s(&(ptr_struct->%s), ptr_buff);" % (member.layout, direction, member.member))
            else:
                if all(f.kind == "unlimited" for f in layout.fields):
                    body.append("(void)ptr_struct;\n(void)ptr_buff;")
                for field in layout.fields:
                    body.extend(emit_move(family, layout, field, direction))
            out.extend(indent_block(body))
            out.append("}\n")
        varray = next((f for f in layout.fields if f.kind == "varray"), None)
        fixed = [f for f in layout.fields if f.kind != "varray"]
        if varray is not None:
            # The fixed part prints on its own too: a union that overlays this
            # record has no words of its own for the data pointer to reach.
            out.append("static void %s(const %s* ptr_struct, FILE* fd, int indent_level)\n{" % (print_fixed_function(layout), t))
            body = []
            if any(f.count is not None and f.kind != "text" for f in fixed):
                body.append("int i;")
        else:
            out.append('extern "C" void %s_print(const %s* ptr_struct, FILE* fd, int indent_level)\n{' % (n, t))
            body = []
            uses_i_print = any(f.count is not None and f.kind != "text" for f in layout.fields) and not layout.is_union
            if uses_i_print:
                body.append("int i;")
        body.append("adb2c_add_indentation(fd, indent_level);")
        body.append('fprintf(fd, "======== %s ========\\n");' % n)
        if layout.is_union:
            for member in layout.fields:
                body.append("adb2c_add_indentation(fd, indent_level);")
                body.append('fprintf(fd, "%s:\\n");' % member.name)
                target = family.layouts[member.layout]
                if any(f.kind == "varray" for f in target.fields):
                    body.append("%s(&(ptr_struct->%s), fd, indent_level + 1);" % (print_fixed_function(target), member.member))
                else:
                    body.append("%s_print(&(ptr_struct->%s), fd, indent_level + 1);" % (member.layout, member.member))
        else:
            if all(f.kind == "unlimited" for f in fixed):
                body.append("(void)ptr_struct;")
            for field in fixed:
                body.extend(emit_print_field(family, layout, field))
        out.extend(indent_block(body))
        out.append("}\n")
        if varray is not None:
            out.append('extern "C" void %s_print(const %s* ptr_struct, FILE* fd, int indent_level)\n{' % (n, t))
            body = ["int i;", "uint32_t count;", "%s(ptr_struct, fd, indent_level);" % print_fixed_function(layout)]
            body.extend(emit_print_field(family, layout, varray))
            out.extend(indent_block(body))
            out.append("}\n")
        out.append('extern "C" unsigned int %s_size(void)\n{\n\treturn %d;\n}\n' % (n, layout.size))
        out.append('extern "C" void %s_dump(const %s* ptr_struct, FILE* fd)\n{\n\t%s_print(ptr_struct, fd, 0);\n}\n' % (n, t, n))
    return "\n".join(out)


# ---------------------------------------------------------------------------
# Tests


class Leaf:
    def __init__(self, label, path, width, addr, ctype_, preconditions):
        self.label = label
        self.path = path
        self.width = width
        self.addr = addr
        self.ctype = ctype_
        self.preconditions = preconditions  # list of (path, ctype, addr, width, value)


def leaves_of(family, layout, base, path, preconditions, whole):
    """Every scalar the layout's pack moves, with its absolute bit address.

    With whole false (a nested layout, whose own test covers its inside)
    only the first and the last are kept: enough to prove where the nested
    image is placed."""
    result = []
    if layout.is_union:
        member = layout.field(layout.packs)
        inner = leaves_of(family, family.layouts[member.layout], base, path + member.member + ".", preconditions, False)
        return inner if whole else inner[:1] + inner[-1:] if len(inner) > 1 else inner
    for field in layout.fields:
        p = path + field.member
        if field.kind in ("uint", "enum", "text"):
            t = "char" if field.kind == "text" else ctype(field.width)
            if field.count is None:
                result.append(Leaf(p, p, field.width, base + field.addr, t, preconditions))
            else:
                for i in range(field.count):
                    result.append(Leaf("%s[%d]" % (p, i), "%s[%d]" % (p, i), field.width, base + field.addr + i * field.width, t, preconditions))
        elif field.kind == "nested":
            target = family.layouts[field.layout]
            items = [(p, base + field.addr)] if field.count is None else [("%s[%d]" % (p, i), base + field.addr + i * field.width) for i in range(field.count)]
            for item_path, item_base in items:
                result.extend(leaves_of(family, target, item_base, item_path + ".", preconditions, False))
        elif field.kind == "select":
            union = family.layouts[field.layout]
            selector = layout.field(field.selector)
            for value, member_name in field.choices:
                member = union.field(member_name)
                pre = preconditions + [(path + selector.member, ctype(selector.width), base + selector.addr, selector.width, value)]
                result.extend(leaves_of(family, family.layouts[member.layout], base + field.addr, "%s.%s." % (p, member.member), pre, False))
    if not whole and len(result) > 2:
        result = [result[0], result[-1]]
    return result


def emit_tests(family, stem, subdir, source_name):
    ident = re.sub(r"[^A-Za-z0-9_]", "_", stem)
    out = []
    out.append("/* Generated by tools_layouts/generator/layoutgen.py from %s. Do not edit. */" % source_name)
    out.append("""#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "%s/%s.h"

namespace {

struct Precondition {
    size_t offset;
    size_t bytes;
    uint32_t addr;
    uint32_t width;
    uint64_t value;
};

struct Leaf {
    const char* label;
    size_t offset;
    size_t bytes;
    uint32_t addr;
    uint32_t width;
    const Precondition* pre;
    size_t npre;
};

struct LayoutCase {
    const char* name;
    unsigned declared_size;
    unsigned (*size)();
    size_t record_size;
    void (*pack)(const void*, uint8_t*);
    void (*unpack)(void*, const uint8_t*);
    void (*print)(const void*, FILE*, int);
    const Leaf* leaves;
    size_t nleaves;
};

void PrintTo(const LayoutCase& c, std::ostream* os)
{
    *os << c.name;
}

// Places a value by the definition of a bit address alone, independent of
// the run-time under test: bit j of the field (most significant first) is
// address addr + j, bit 7 - (address mod 8) of byte address / 8.
void place(std::vector<uint8_t>& image, uint32_t addr, uint32_t width, uint64_t value)
{
    for (uint32_t j = 0; j < width; ++j) {
        uint32_t a = addr + j;
        uint8_t mask = static_cast<uint8_t>(0x80u >> (a %% 8));
        if ((value >> (width - 1 - j)) & 1u) {
            image[a / 8] |= mask;
        } else {
            image[a / 8] &= static_cast<uint8_t>(~mask);
        }
    }
}

void store(std::vector<uint8_t>& record, size_t offset, size_t bytes, uint64_t value)
{
    std::memcpy(record.data() + offset, &value, bytes);  // host order: little-endian
}

uint64_t width_mask(uint32_t width)
{
    return width >= 64 ? ~0ull : ((1ull << width) - 1);
}

constexpr size_t kGuard = 16;

class Layouts_%s : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(Layouts_%s, SizeAndFieldRoundTrips)
{
    const LayoutCase& c = GetParam();
    ASSERT_EQ(c.size(), c.declared_size);
    // Every member set to ones beyond its width first, then to patterns
    // that tell the bit order apart.
    for (size_t n = 0; n < c.nleaves; ++n) {
        const Leaf& leaf = c.leaves[n];
        SCOPED_TRACE(leaf.label);
        const uint64_t patterns[] = {~0ull, 0x5555555555555555ull, 1ull, 0x8000000000000000ull >> (64 - leaf.width)};
        for (uint64_t pattern : patterns) {
            std::vector<uint8_t> record(c.record_size, 0);
            std::vector<uint8_t> expected(c.declared_size + kGuard, 0);
            for (size_t p = 0; p < leaf.npre; ++p) {
                store(record, leaf.pre[p].offset, leaf.pre[p].bytes, leaf.pre[p].value);
                place(expected, leaf.pre[p].addr, leaf.pre[p].width, leaf.pre[p].value);
            }
            std::memset(expected.data() + c.declared_size, 0xa5, kGuard);
            store(record, leaf.offset, leaf.bytes, pattern);
            const uint64_t field_value = pattern & width_mask(leaf.width);
            place(expected, leaf.addr, leaf.width, field_value);

            std::vector<uint8_t> image(c.declared_size + kGuard, 0);
            std::memset(image.data() + c.declared_size, 0xa5, kGuard);
            c.pack(record.data(), image.data());
            ASSERT_EQ(image, expected) << "pattern 0x" << std::hex << pattern;

            // The record read back holds the value cut to the field's width,
            // and nothing else changed.
            std::vector<uint8_t> back(c.record_size, 0);
            c.unpack(back.data(), image.data());
            store(record, leaf.offset, leaf.bytes, field_value);
            ASSERT_EQ(back, record) << "pattern 0x" << std::hex << pattern;
        }
    }
}

// Unpacks an image of ones (with the selector values of pre placed in it)
// and prints the record. Record and image are heap blocks of exactly their
// sizes, so that the sanitizers report any access beyond either; a copy of
// the record with a guard behind it shows a stray write in any build.
void unpack_ones_and_print(const LayoutCase& c, const Precondition* pre, size_t npre)
{
    std::unique_ptr<uint8_t[]> image(new uint8_t[c.declared_size]);
    std::memset(image.get(), 0xff, c.declared_size);
    std::vector<uint8_t> placed(image.get(), image.get() + c.declared_size);
    for (size_t p = 0; p < npre; ++p) {
        place(placed, pre[p].addr, pre[p].width, pre[p].value);
    }
    std::memcpy(image.get(), placed.data(), c.declared_size);

    std::unique_ptr<uint8_t[]> record(new uint8_t[c.record_size]());
    c.unpack(record.get(), image.get());
    ASSERT_EQ(std::vector<uint8_t>(image.get(), image.get() + c.declared_size), placed) << "unpack wrote to its image";

    std::vector<uint8_t> guarded(c.record_size + kGuard, 0);
    std::memset(guarded.data() + c.record_size, 0xa5, kGuard);
    c.unpack(guarded.data(), image.get());
    for (size_t g = 0; g < kGuard; ++g) {
        ASSERT_EQ(guarded[c.record_size + g], 0xa5) << "unpack wrote past the record";
    }

    char* text = nullptr;
    size_t length = 0;
    FILE* stream = open_memstream(&text, &length);
    ASSERT_NE(stream, nullptr);
    c.print(record.get(), stream, 1);
    std::fclose(stream);
    const std::string printed(text, length);
    std::free(text);
    const std::string header = std::string("\\t======== ") + c.name + " ========\\n";
    EXPECT_EQ(printed.compare(0, header.size(), header), 0) << printed.substr(0, 200);
    EXPECT_EQ(printed.back(), '\\n');
}

TEST_P(Layouts_%s, OnesImageUnpacksAndPrintsInBounds)
{
    const LayoutCase& c = GetParam();
    unpack_ones_and_print(c, nullptr, 0);
    // Once more for every choice of a selector union, so that each member
    // is unpacked and printed too.
    std::vector<const Precondition*> done;
    for (size_t n = 0; n < c.nleaves; ++n) {
        const Leaf& leaf = c.leaves[n];
        if (leaf.npre == 0 || std::find(done.begin(), done.end(), leaf.pre) != done.end()) {
            continue;
        }
        done.push_back(leaf.pre);
        SCOPED_TRACE(leaf.label);
        unpack_ones_and_print(c, leaf.pre, leaf.npre);
    }
}
""" % (subdir, stem, ident, ident, ident))
    cases = []
    for index, layout in enumerate(family.order):
        t = record_type(family, layout.name)
        leaves = leaves_of(family, layout, 0, "", [], True)
        pre_tables = {}
        lines = []
        for k, leaf in enumerate(leaves):
            if leaf.preconditions:
                key = tuple(leaf.preconditions)
                if key not in pre_tables:
                    name = "pre_%d_%d" % (index, len(pre_tables))
                    pre_tables[key] = name
                    rows = ", ".join("{offsetof(%s, %s), sizeof(%s), %d, %d, %d}" % (t, pp, pt, pa, pw, pv) for pp, pt, pa, pw, pv in leaf.preconditions)
                    out.append("const Precondition %s[] = {%s};" % (name, rows))
                pre = pre_tables[key]
                npre = len(leaf.preconditions)
            else:
                pre, npre = "nullptr", 0
            lines.append('\t{"%s", offsetof(%s, %s), sizeof(%s), %d, %d, %s, %d},' % (leaf.label, t, leaf.path, leaf.ctype, leaf.addr, leaf.width, pre, npre))
        if lines:
            out.append("const Leaf leaves_%d[] = {" % index)
            out.extend(lines)
            out.append("};")
            leaves_ref = "leaves_%d, %d" % (index, len(lines))
        else:
            leaves_ref = "nullptr, 0"
        out.append("void pack_%d(const void* r, uint8_t* b) { %s_pack(static_cast<const %s*>(r), b); }" % (index, layout.name, t))
        out.append("void unpack_%d(void* r, const uint8_t* b) { %s_unpack(static_cast<%s*>(r), b); }" % (index, layout.name, t))
        out.append("void print_%d(const void* r, FILE* f, int n) { %s_print(static_cast<const %s*>(r), f, n); }" % (index, layout.name, t))
        cases.append('\t{"%s", %d, %s_size, sizeof(%s), pack_%d, unpack_%d, print_%d, %s},' % (layout.name, layout.size, layout.name, t, index, index, index, leaves_ref))
    out.append("const LayoutCase kCases[] = {")
    out.extend(cases)
    out.append("};\n")
    out.append("""INSTANTIATE_TEST_SUITE_P(Generated, Layouts_%s, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<LayoutCase>& info) { return std::string(info.param.name); });

}  // namespace""" % ident)
    return "\n".join(out) + "\n"


# ---------------------------------------------------------------------------


def write_if_changed(path, text):
    try:
        with open(path, encoding="utf-8") as stream:
            if stream.read() == text:
                return
    except FileNotFoundError:
        pass
    tmp = path + ".tmp"
    with open(tmp, "w", encoding="utf-8") as stream:
        stream.write(text)
    os.replace(tmp, path)


def main(argv=None):
    parser = argparse.ArgumentParser(description="Generate the layout code of one family.")
    parser.add_argument("data", nargs="+", help="the family's data file (the one with its family line), then any further files of the family")
    parser.add_argument("--out-dir", required=True, help="directory for the generated files")
    parser.add_argument("--include-dir", required=True, help="directory name under which the header is included")
    parser.add_argument("--check-only", action="store_true", help="check the data and write nothing")
    args = parser.parse_args(argv)
    try:
        family = parse(args.data)
        check(family)
    except DataError as error:
        print(error, file=sys.stderr)
        return 1
    except OSError as error:
        print("%s: error: %s" % (error.filename or args.data[0], error.strerror), file=sys.stderr)
        return 1
    if args.check_only:
        return 0
    stem = os.path.splitext(os.path.basename(args.data[0]))[0] + "_layouts"
    source_name = ", ".join(os.path.basename(path) for path in args.data)
    os.makedirs(args.out_dir, exist_ok=True)
    write_if_changed(os.path.join(args.out_dir, stem + ".h"), emit_header(family, stem, source_name))
    write_if_changed(os.path.join(args.out_dir, stem + ".cpp"), emit_source(family, stem, args.include_dir, source_name))
    write_if_changed(os.path.join(args.out_dir, stem + "_test.cpp"), emit_tests(family, stem, args.include_dir, source_name))
    return 0


if __name__ == "__main__":
    sys.exit(main())
