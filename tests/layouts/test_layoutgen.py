"""The generator refuses inconsistent data with a message that names the
place and the fault, and accepts the test family."""

import os
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
GENERATOR = os.environ.get(
    "KELVRA_LAYOUT_GENERATOR",
    os.path.join(HERE, "..", "..", "tools_layouts", "generator", "layoutgen.py"))

HEADER = "family t_\n"
INNER = "layout t_inner 4\n  a 0x00.31:0\n"

# (name, data, expected line, expected words of the message)
BAD = [
    ("overlap", "layout t_x 8\n  a 0x00.31:16\n  b 0x00.16:0\n", 4, "'t_x.b' (bits 15 to 31) overlaps 'a' (bits 0 to 15)"),
    ("outside_size", "layout t_x 4\n  a 0x04.31:0\n", 3, "lies outside the 4 bytes of 't_x'"),
    ("array_outside_size", "layout t_x 8\n  a 0x04.31:24 [5]\n", 3, "lies outside the 8 bytes"),
    ("nested_width", INNER + "layout t_x 8\n  n 0x00/64 nested t_inner\n", 5, "is 64 bits wide but layout 't_inner' has 4 bytes"),
    ("unknown_layout", "layout t_x 8\n  n 0x00/32 nested t_nope\n", 3, "refers to unknown layout 't_nope'"),
    ("union_member_offset", INNER + "union t_u 8 packs m\n  m 0x04/32 nested t_inner\n", 5, "starts at bit 32, not at 0"),
    ("union_packs_unknown", INNER + "union t_u 4 packs z\n  m 0x00/32 nested t_inner\n", 4, "packs through 'z', which is not one of its members"),
    ("union_scalar_member", "union t_u 4 packs m\n  m 0x00.31:0\n", 3, "must be a nested layout"),
    ("crosses_word", "layout t_x 8\n  a 0x00/40\n", 3, "40 bits wide"),
    ("crosses_word_narrow", "layout t_x 8\n  a @28/8\n", 3, "crosses a 32-bit word"),
    ("element_zero_crosses", "layout t_x 8\n  a @30/4 [4]\n", 3, "element 0 of 't_x.a'"),
    ("word_unaligned", "layout t_x 8\n  a @8/32\n", 3, "does not start on a 32-bit word"),
    ("enum_too_wide", "layout t_x 4\n  a 0x00.1:0 enum 4=FOUR\n", 3, "enumerator 0x4=FOUR of 't_x.a' does not fit 2 bits"),
    ("enum_twice", "layout t_x 4\n  a 0x00.1:0 enum 1=A 1=B\n", 3, "names one value twice"),
    ("field_twice", "layout t_x 4\n  a 0x00.1:0\n  a 0x00.3:2\n", 4, "field 'a' given twice"),
    ("member_clash", "layout t_x 4\n  class 0x00.1:0\n  class_ 0x00.3:2\n", 4, "has the record member name 'class_'"),
    ("selector_later", INNER + "union t_u 4 packs m\n  m 0x00/32 nested t_inner\nlayout t_x 8\n  d 0x04/32 select s t_u 1=m\n  s 0x00.3:0\n", 7, "selector 's' of 't_x.d' is not an earlier field"),
    ("selector_member", INNER + "union t_u 4 packs m\n  m 0x00/32 nested t_inner\nlayout t_x 8\n  s 0x00.3:0\n  d 0x04/32 select s t_u 1=q\n", 8, "chooses 'q', which is not a member of 't_u'"),
    ("selector_value", INNER + "union t_u 4 packs m\n  m 0x00/32 nested t_inner\nlayout t_x 8\n  s 0x00.3:0\n  d 0x04/32 select s t_u 16=m\n", 8, "selector value 0x10"),
    ("select_not_union", INNER + "layout t_x 8\n  s 0x00.3:0\n  d 0x04/32 select s t_inner 1=a\n", 6, "which is not a union"),
    ("unlimited_args", "layout t_x 8\n  a 0x04/32 unlimited t_inner\n", 3, "unlimited array 'a' takes no arguments"),
    ("unlimited_count", "layout t_x 8\n  a 0x04/32 unlimited [2]\n", 3, "unlimited array 'a' takes no arguments"),
    ("prefix", "layout x_y 4\n", 2, "does not carry the family prefix 't_'"),
    ("cycle", "layout t_a 4\n  b 0x00/32 nested t_b\nlayout t_b 4\n  a 0x00/32 nested t_a\n", 2, "contains itself"),
    ("bad_place", "layout t_x 4\n  a 0x00:31:0\n", 3, "place '0x00:31:0' is none of"),
    ("bits_reversed", "layout t_x 4\n  a 0x00.3:7\n", 3, "bits 3:7 are not msb:lsb"),
    ("word_offset", "layout t_x 8\n  a 0x02.7:0\n", 3, "word offset 0x02 is not a multiple of 4"),
    ("text_width", "layout t_x 8\n  a 0x00/16 text [2]\n", 3, "must be 8-bit characters"),
    ("text_count", "layout t_x 8\n  a 0x00/8 text\n", 3, "needs a [COUNT]"),
    ("varray_last", "layout t_x 8\n  n 0x00.31:0\n  d 0x08/32 varray n/4\n  z 0x04.31:0\n", 4, "must be the last field"),
    ("varray_inside", "layout t_x 8\n  n 0x00.31:0\n  d 0x04/32 varray n/4\n", 4, "starts inside the fixed part"),
    ("varray_length", "layout t_x 8\n  d 0x08/32 varray n/4\n", 3, "length 'n' of 't_x.d' is not an earlier scalar field"),
    ("unknown_kind", "layout t_x 4\n  a 0x00.31:0 float\n", 3, "unknown kind 'float'"),
    ("row_outside", "  a 0x00.31:0\n", 2, "field row outside a layout"),
    ("layout_twice", "layout t_x 4\nlayout t_x 4\n", 3, "layout 't_x' defined twice"),
    ("zero_size", "layout t_x 0\n", 2, "has size 0"),
    ("bad_name", "layout t_x 4\n  2a 0x00.31:0\n", 3, "field name '2a' is not an identifier"),
]

# Shared enumerations: checked on their own and against every field that uses
# them.
SHARED = "layout t_x 4\n  a 0x00.1:0 enum t_e\n"
BAD += [
    ("shared_enum_unknown", SHARED, 3, "'t_x.a' uses unknown enumeration 't_e'"),
    ("shared_enum_unused", "enumeration t_e 0=A\n" + INNER, 2, "enumeration 't_e' is used by no field"),
    ("shared_enum_value_twice", "enumeration t_e 0=A\n  1=B 0=C\n" + SHARED, 2, "names the value 0x0 twice ('A' and 'C')"),
    ("shared_enum_does_not_fit", "enumeration t_e 0=A 4=B\n" + SHARED, 4, "enumerator 0x4=B of 't_x.a' does not fit 2 bits"),
    ("shared_enum_defined_twice", "enumeration t_e 0=A\nenumeration t_e 1=B\n", 3, "enumeration 't_e' defined twice"),
    ("shared_enum_bad_row", "enumeration t_e 0=A\n  B\n", 3, "enumerator 'B' is not VALUE=NAME"),
    ("shared_enum_empty", "enumeration t_e\n" + SHARED, 2, "enumeration 't_e' names no value"),
]


def run(data, *extra):
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "t.layouts")
        with open(path, "w") as stream:
            stream.write(data)
        result = subprocess.run([sys.executable, GENERATOR, path, "--out-dir", os.path.join(tmp, "out"),
                                 "--include-dir", "t"] + list(extra), capture_output=True, text=True)
        produced = sorted(os.listdir(os.path.join(tmp, "out"))) if os.path.isdir(os.path.join(tmp, "out")) else []
        return result, path, produced


class RejectsInconsistentData(unittest.TestCase):
    def test_each_fault(self):
        for name, body, line, words in BAD:
            with self.subTest(name):
                result, path, produced = run(HEADER + body)
                self.assertEqual(result.returncode, 1, result.stderr)
                self.assertIn("%s:%d: error: " % (path, line), result.stderr)
                self.assertIn(words, result.stderr)
                self.assertEqual(produced, [], "nothing is written for bad data")

    def test_missing_family_line(self):
        result, path, _ = run("layout t_x 4\n")
        self.assertEqual(result.returncode, 1)
        self.assertIn("'layout' before the family line", result.stderr)


class AcceptsGoodData(unittest.TestCase):
    def test_writes_three_files(self):
        result, _, produced = run(HEADER + INNER)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(produced, ["t_layouts.cpp", "t_layouts.h", "t_layouts_test.cpp"])

    def test_a_family_in_several_files(self):
        with tempfile.TemporaryDirectory() as tmp:
            first = os.path.join(tmp, "t.layouts")
            part = os.path.join(tmp, "t.more.layouts")
            with open(first, "w") as stream:
                stream.write(HEADER + "layout t_outer 8\n  n 0x04/32 nested t_inner\n")
            with open(part, "w") as stream:
                stream.write(INNER)
            out = os.path.join(tmp, "out")
            result = subprocess.run([sys.executable, GENERATOR, first, part, "--out-dir", out, "--include-dir", "t"],
                                    capture_output=True, text=True)
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertEqual(sorted(os.listdir(out)), ["t_layouts.cpp", "t_layouts.h", "t_layouts_test.cpp"])
            with open(os.path.join(out, "t_layouts.h")) as stream:
                header = stream.read()
            self.assertIn("struct t_inner {", header)
            self.assertLess(header.index("struct t_inner {"), header.index("struct t_outer {"))

            # A part repeating the family line, or a layout of another file,
            # is refused with its place.
            with open(part, "w") as stream:
                stream.write(HEADER + INNER)
            result = subprocess.run([sys.executable, GENERATOR, first, part, "--out-dir", out, "--include-dir", "t"],
                                    capture_output=True, text=True)
            self.assertEqual(result.returncode, 1)
            self.assertIn("%s:1: error: family given twice" % part, result.stderr)
            with open(part, "w") as stream:
                stream.write(INNER + "layout t_outer 4\n")
            result = subprocess.run([sys.executable, GENERATOR, first, part, "--out-dir", out, "--include-dir", "t"],
                                    capture_output=True, text=True)
            self.assertEqual(result.returncode, 1)
            self.assertIn("%s:3: error: layout 't_outer' defined twice (first at %s:2)" % (part, first), result.stderr)

    def test_the_test_family_and_the_product_families_check(self):
        families = [[os.path.join(HERE, "data", "lt_kinds.layouts")]]
        product = os.path.join(HERE, "..", "..", "tools_layouts", "data")
        names = sorted(n for n in os.listdir(product) if n.endswith(".layouts"))
        for name in names:
            stem = name[:-len(".layouts")]
            if "." not in stem:  # a family's own file, then its parts
                parts = [n for n in names if n.startswith(stem + ".") and n != name]
                families.append([os.path.join(product, n) for n in [name] + parts])
        for paths in families:
            with self.subTest(os.path.basename(paths[0])):
                result = subprocess.run([sys.executable, GENERATOR] + paths + ["--out-dir", "unused", "--include-dir", "x",
                                         "--check-only"], capture_output=True, text=True)
                self.assertEqual(result.returncode, 0, result.stderr)


if __name__ == "__main__":
    unittest.main()
