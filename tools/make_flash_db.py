#!/usr/bin/env python3
"""Build flash_db.cfg from tab-separated tables of SPI NOR chip facts.

The first table holds the chips of 16 MiB and below; tools/chip_facts.tsv (beside this
script) corrects and completes it with datasheet facts, one fact a row. The second table holds
the chips above 16 MiB in the same columns plus the record keys they need: addr4, erase_4b
(4-byte erase commands, opcode:size), die_erase (opcode:size), ads, ear, poll, bp, unit.
Both may name the record a row belongs to (record) and split parts that share an id into
alternatives the tool tells apart by SFDP (alt).

Usage: make_flash_db.py spi_nor_chips.tsv tools/large_chips.tsv > flash_db.cfg
(Python 3, standard library only)
"""

import csv
import fnmatch
import os
import re
import sys
from collections import OrderedDict

KIB = 1024
MIB = 1024 * KIB
THREE_BYTE_LIMIT = 16 * MIB

FACTS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "chip_facts.tsv")

# Which setup field the tool erases by, per manufacturer id; others erase by unit= or by the
# smallest size erase= lists with the opcode the tool sends for it.
BLOCK_RULE = {0xEF, 0x1F}
SECTOR_RULE = {0xBF, 0x01, 0xC2, 0x20}

# Status-register bits the tool takes as block protection when a record has no bp=.
MAKER_BP = {0x1F: 0x0C, 0x20: 0x5C, 0x9D: 0x3C, 0xC2: 0x3C}
DEFAULT_BP = 0x1C
BP_BITS = 0x7C  # bits 2-6; bit 7 locks only the status register

# The tool's erase command for a unit size, first match wins; None stands for sector=.
UNIT_COMMANDS = [(0x20, 4 * KIB), (0x40, 8 * KIB), (0x52, 32 * KIB), (0xD8, None)]
FOUR_BYTE_ERASE = {0x20: 0x21, 0x52: 0x5C, 0xD8: 0xDC}

ANY = "any"
ADDR4_MODES = ("opcodes", "en4b", "wren_en4b")


def fail(text):
    sys.exit("make_flash_db.py: " + text)


def parse_size(text):
    """'4K', '64K', '32M' in bytes."""
    m = re.fullmatch(r"(\d+)([KM])", text.strip())
    if not m:
        fail("size %r is not a number of K or M" % text)
    return int(m.group(1)) * (KIB if m.group(2) == "K" else MIB)


def parse_ops(text):
    """'0x21:4K,0xDC:64K' as a set of (opcode, size)."""
    ops = set()
    for item in filter(None, text.split(",")):
        op, size = item.split(":")
        ops.add((int(op, 16), parse_size(size)))
    return ops


def size_text(n):
    return "%dM" % (n // MIB) if n >= MIB and n % MIB == 0 else "%dK" % (n // KIB)


def ext_text(ext):
    return "any" if ext == ANY else "0x%04X" % ext


def tool_command(size, sector):
    """The erase opcode the tool sends for a unit of `size` bytes; None when no rule fits."""
    for op, s in UNIT_COMMANDS:
        if size == (s if s is not None else sector):
            return op
    return None


def usable_sizes(erases):
    """Sizes of the erase commands the tool can send for a unit: 0x20 4K, 0x52 32K, 0xD8 a
    sector of 64K or more."""
    return sorted(u for op, u in erases if op == 0xD8 and u >= 64 * KIB
                  or (op, u) in ((0x20, 4 * KIB), (0x52, 32 * KIB)))


class Facts:
    """Datasheet facts by id and part name; a fact replaces the row's value of its field."""

    def __init__(self, path):
        with open(path, newline="") as f:
            self.rows = list(csv.DictReader(f, delimiter="\t"))
        self.used = set()

    def apply(self, row):
        applied = []
        for i, fact in enumerate(self.rows):
            if int(fact["mfr_id"], 16) != int(row["mfr_id"], 16):
                continue
            if fact["device_id"] != "*" and int(fact["device_id"], 16) != int(row["device_id"], 16):
                continue
            if not fnmatch.fnmatchcase(row["name"], fact["name"]):
                continue
            row[fact["field"]] = fact["value"]
            applied.append(fact["field"])
            self.used.add(i)
        return applied

    def check_all_used(self):
        unused = [self.rows[i] for i in range(len(self.rows)) if i not in self.used]
        if unused:
            fail("facts that match no chip: %s" % ", ".join(
                "%s %s %s" % (r["mfr_id"], r["device_id"], r["name"]) for r in unused))


class Chip:
    def __init__(self, row, facts_applied=()):
        self.name = row["name"]
        self.vendor = row["vendor"]
        self.mfr = int(row["mfr_id"], 16)
        self.dev = int(row["device_id"], 16)
        self.drop = row.get("drop") or ""
        after = [int(b, 16) for b in row["bytes_after_id"].split()]
        # The tool compares the two bytes after the id; where a datasheet defines fewer, or
        # none, the part takes whatever follows.
        self.ext = (after[0] << 8 | after[1]) if len(after) >= 2 else ANY
        self.size = int(row["total_size_bytes"], 16)
        self.page = int(row["page_size"])
        self.chip_erase = row["chip_erase"]
        self.notes = row.get("notes", "")
        # Records made from id-table rows with a 4 KiB flag kept that unit; they keep it.
        self.prefers_4k = ("table only" in self.notes and row["erase_4k"] == "yes"
                           and "erase_4k" not in facts_applied)
        self.erases = self._erases(row)
        self.erases_4b = parse_ops(row.get("erase_4b") or "")
        die = row.get("die_erase") or ""
        self.die_erase = parse_ops(die).pop() if die else None
        self.addr4 = row.get("addr4") or None
        self.ads = row.get("ads") or None
        self.ear = row.get("ear") or None
        self.poll = row.get("poll") or None
        self.bp = int(row["bp"], 16) if row.get("bp") else MAKER_BP.get(self.mfr, DEFAULT_BP)
        self.unit_key = row.get("unit") or None
        self.record = row.get("record") or None
        self.alt = row.get("alt") or ""
        self.remark = row.get("remark") or ""

    def _erases(self, row):
        """Uniform erase commands as a set of (opcode, size)."""
        ops = set()
        if row["erase_4k"] == "yes":
            ops.add((0x20, 4 * KIB))
        if row["erase_32k"] == "yes":
            ops.add((0x52, 32 * KIB))
        e64 = row["erase_64k"]
        if e64 == "yes":
            ops.add((0xD8, 64 * KIB))
        else:
            m = re.fullmatch(r"(\d+) KiB", e64)
            if m:
                ops.add((0xD8, int(m.group(1)) * KIB))
        return ops

    def chip_erase_ops(self):
        """The chip erase opcodes, or an empty set for none."""
        if self.chip_erase == "unknown":
            fail("%s: chip erase unknown; add the datasheet's to %s" % (self.name, FACTS))
        return set() if self.chip_erase.startswith("none") else set(self.chip_erase.split("/"))

    def part_names(self):
        """Part numbers the row stands for, as single words ('.' wildcards become 'x')."""
        text = self.name.split()[0]
        pieces, depth, cur = [], 0, ""
        for ch in text:
            depth += ch == "("
            depth -= ch == ")"
            if ch == "/" and depth == 0:
                pieces.append(cur)
                cur = ""
            else:
                cur += ch
        pieces.append(cur)
        out = []
        for p in pieces:
            p = re.sub(r"\(.*?\)", "", p)
            if out and len(p) < len(out[0]) // 2:  # "MX25U3235E/F": a suffix alternative
                p = out[0][: -len(p)] + p
            p = re.sub(r"[^A-Za-z0-9_.\-]", "_", p).replace(".", "x")
            out.append(p)
        return out


class Record:
    def __init__(self, chips):
        self.chips = chips
        first = chips[0]
        self.mfr, self.dev, self.ext = first.mfr, first.dev, first.ext
        self.parts = []
        for c in chips:
            for p in c.part_names():
                if p not in self.parts:
                    self.parts.append(p)
        names = {c.record for c in chips if c.record}
        if len(names) > 1:
            fail("parts of id %s name different records: %s" % (self.ids(), sorted(names)))
        self.name = names.pop() if names else self._name()
        self.erases = set.intersection(*(c.erases for c in chips))
        self._choose_units()
        if self.unit is None:
            if all(usable_sizes(c.erases) for c in chips):
                fail("parts of id %s have no erase command in common: make them alternatives "
                     "(alt)" % self.ids())
            return  # left out: a part the tool cannot erase answers this id
        self.page = min(c.page for c in chips)
        self.size = self._common("size")
        for field in ("addr4", "ads", "ear", "alt"):
            setattr(self, field, self._common(field))
        self.poll = "fsr" if any(c.poll == "fsr" for c in chips) else None
        self.bp = 0
        for c in chips:
            self.bp |= c.bp
        self.erases_4b = set.intersection(*(c.erases_4b for c in chips))
        d8 = {frozenset(u for op, u in c.erases if op == 0xD8) for c in chips}
        if len(d8) > 1:
            fail("parts of id %s erase different sizes with 0xD8: make them alternatives (alt)"
                 % self.ids())
        self.chip_erase = set.intersection(*(c.chip_erase_ops() for c in chips))
        dies = [c.die_erase for c in chips]
        self.die_erase = None
        if not self.chip_erase and all(dies) and len({op for op, _ in dies}) == 1:
            self.die_erase = (dies[0][0], min(size for _, size in dies))

    def ids(self):
        text = "0x%02X 0x%04X" % (self.mfr, self.dev)
        return text if self.ext == ANY else text + " ext " + ext_text(self.ext)

    def _name(self):
        # A family name for parts that differ only in their letters after the number
        # (W25Q32BV, W25Q32FV ... are W25Q32); else the first part number.
        prefix = self.parts[0]
        for p in self.parts[1:]:
            while not p.startswith(prefix):
                prefix = prefix[:-1]
        prefix = prefix.rstrip("_-x")
        if len(self.parts) > 1 and len(prefix) >= 6 and prefix[-1].isdigit() and all(
                p == prefix or (p[len(prefix):].isalpha() and len(p) - len(prefix) <= 2)
                for p in self.parts):
            return prefix
        return self.parts[0]

    def _common(self, field):
        values = {getattr(c, field) for c in self.chips}
        if len(values) > 1:
            fail("parts of id %s differ in %s: %s" % (self.ids(), field, sorted(map(str, values))))
        return values.pop()

    def _choose_units(self):
        self.unit_key = self._common("unit_key")
        self.size = min(c.size for c in self.chips)
        block_rule = self.mfr in BLOCK_RULE or self.unit_key == "block"
        usable = usable_sizes(self.erases)
        self.unit = None
        self.block = self.sector = None
        if not usable:
            return
        finer = [u for u in usable if u < 64 * KIB]
        d8 = [u for u in usable if u >= 64 * KIB]
        if block_rule:
            self.unit = self.block = usable[0]  # the finest uniform erase
            self.sector = d8[-1] if d8 else min(64 * KIB, self.size)
        else:
            prefer_4k = any(c.prefers_4k for c in self.chips) and 4 * KIB in usable
            self.sector = 4 * KIB if prefer_4k else usable[-1]  # the 0xD8 sector where there is one
            self.block = finer[0] if finer else None
            self.unit = self.sector if self.mfr in SECTOR_RULE or self.unit_key else usable[0]

    def chipers(self):
        """chipers= when the parts lack 0xC7: 0x60, or 0 (none)."""
        if "0xC7" in self.chip_erase:
            return None
        return 0x60 if "0x60" in self.chip_erase else 0

    def ulbpr(self):
        return "0x98" in " ".join(c.notes for c in self.chips)

    def erase_list(self):
        ops = sorted(self.erases) + sorted(self.erases_4b) if self.addr4 == "opcodes" \
            else sorted(self.erases)
        return ",".join("0x%02X:%s" % (op, size_text(size)) for op, size in ops)

    def fields(self):
        """The record's keys in the order they are written."""
        f = OrderedDict()
        f["name"] = self.name
        f["mnfid"] = "0x%02X" % self.mfr
        f["jedec"] = "0x%04X" % self.dev
        f["extid"] = ext_text(self.ext)
        f["page"] = "%d" % self.page
        if self.block:
            f["block"] = "%d" % self.block if self.block < 64 * KIB else "0x%X" % self.block
        f["sector"] = "%d" % self.sector if self.sector < 64 * KIB else "0x%X" % self.sector
        f["volime"] = "0x%X" % self.size
        if self.unit_key:
            f["unit"] = self.unit_key
        if self.addr4:
            f["addr4"] = self.addr4
        if self.ads:
            f["ads"] = self.ads
        if self.ear:
            f["ear"] = self.ear
        chipers = self.chipers()
        if chipers is not None:
            f["chipers"] = "0x%02X" % chipers if chipers else "0"
        if self.die_erase:
            f["diers"] = "0x%02X:%s" % (self.die_erase[0], size_text(self.die_erase[1]))
        if self.poll:
            f["poll"] = self.poll
        if self.bp != MAKER_BP.get(self.mfr, DEFAULT_BP):
            f["bp"] = "0x%02X" % self.bp
        if self.ulbpr():
            f["unlock"] = "ulbpr"
        f["erase"] = self.erase_list()
        return f

    def line(self):
        return " ".join("%s=%s" % kv for kv in self.fields().items())

    def remark(self, alternatives):
        text = "# %s: %s" % (self.ids(), " ".join(self.parts))
        erases = OrderedDict.fromkeys(
            "/".join(sorted(c.chip_erase_ops())) or "none" for c in self.chips)
        text += "; chip erase %s" % " or ".join(erases)
        if self.chipers() == 0:
            text += "; -e erases die by die" if self.die_erase else "; -e erases unit by unit"
        if self.poll:
            text += "; flag status register read after every program and erase"
        if self.ulbpr():
            text += "; blocks are protected at power-up: -u sends 0x98 (ULBPR)"
        if alternatives:
            text += "; same id as %s: the SFDP tables choose" % ", ".join(alternatives)
        for extra in sorted({c.remark for c in self.chips if c.remark}):
            text += "; " + extra
        return text


def tool_unit(fields):
    """The erase unit the tool derives from a record, as (key, size) or None."""
    mnf = int(fields["mnfid"], 16)
    sizes = {k: int(fields[k], 0) for k in ("block", "sector") if k in fields}
    key = fields.get("unit") or ("block" if mnf in BLOCK_RULE else
                                 "sector" if mnf in SECTOR_RULE else None)
    if key:
        return key, sizes.get(key, 4096 if key == "block" else 0x10000)
    listed = sorted(size for op, size in parse_ops(fields["erase"])
                    if tool_command(size, sizes.get("sector", 0x10000)) == op)
    return ("erase", listed[0]) if listed else None


def check(records):
    """Every record must be one the tool can use as the datasheets describe the parts."""
    seen = []
    for i, r in enumerate(records):
        f = r.fields()
        if not re.fullmatch(r"[A-Za-z0-9_.\-]+", r.name):
            fail("record name %r is not one word" % r.name)
        for earlier in seen:
            if earlier.lower().startswith(r.name.lower()):  # -n= ignores case when it must
                fail("%s begins %s, an earlier record: -n= and emulate= would take that one"
                     % (r.name, earlier))
        seen.append(r.name)
        size, page, sector = r.size, r.page, int(f["sector"], 0)
        unit = tool_unit(f)
        if unit is None:
            fail("%s: no erase unit the tool can derive" % r.name)
        op = tool_command(unit[1], sector)
        if op is None:
            fail("%s: no erase command erases exactly the %s unit" % (r.name, size_text(unit[1])))
        if r.addr4 == "opcodes":
            op = FOUR_BYTE_ERASE.get(op)
        if (op, unit[1]) not in parse_ops(f["erase"]):
            fail("%s: erase= lacks the unit's command (0x%02X:%s)"
                 % (r.name, op or 0, size_text(unit[1])))
        if page & (page - 1) or page > unit[1]:
            fail("%s: page=%d does not fit the erase unit" % (r.name, page))
        for key in ("page", "block", "sector"):
            if key in f and size % int(f[key], 0):
                fail("%s: volime= is not a whole number of %s= units" % (r.name, key))
        if (size > THREE_BYTE_LIMIT) != (r.addr4 in ADDR4_MODES):
            fail("%s: addr4= is needed above 16 MiB and only there" % r.name)
        if (r.ads or r.ear) and r.addr4 not in ("en4b", "wren_en4b"):
            fail("%s: ads= and ear= belong to records driven in 4-byte mode" % r.name)
        if r.die_erase and (r.chipers() != 0 or r.addr4 == "opcodes"
                            or size % r.die_erase[1]):
            fail("%s: diers= needs chipers=0, 4-byte mode and whole dies" % r.name)
        if r.bp & ~BP_BITS:
            fail("%s: bp=0x%02X names bits that do not protect the array" % (r.name, r.bp))
    check_alternatives(records)


def check_alternatives(records):
    """Records of one id stand together, and those a chip could match differ where SFDP sees."""
    first, last = {}, {}
    for i, r in enumerate(records):
        first.setdefault((r.mfr, r.dev), i)
        last[(r.mfr, r.dev)] = i
    for key, i in first.items():
        group = records[i:last[key] + 1]
        if any((r.mfr, r.dev) != key for r in group):
            fail("records of id 0x%02X 0x%04X do not stand together" % key)
        for i, a in enumerate(group):
            for j, b in enumerate(group):
                if i == j or not (a.ext == b.ext or ANY in (a.ext, b.ext)):
                    continue
                if (a.size, a.page, a.erases) == (b.size, b.page, b.erases):
                    fail("%s and %s share an id and nothing tells them apart" % (a.name, b.name))
                between = group[min(i, j) + 1:max(i, j)]
                if any(not (m.ext == a.ext or ANY in (m.ext, a.ext)) for m in between):
                    fail("%s and %s share an id but do not stand together" % (a.name, b.name))


def alternatives_of(r, records):
    return [o.name for o in records if o is not r and (o.mfr, o.dev) == (r.mfr, r.dev)
            and (o.ext == r.ext or ANY in (o.ext, r.ext))]


def group_rows(chips):
    """One record per id the tool can tell apart, and per alternative; ids in table order."""
    groups = OrderedDict()
    for c in chips:
        by_ext = groups.setdefault((c.mfr, c.dev), OrderedDict())
        by_ext.setdefault(c.ext, OrderedDict()).setdefault(c.alt, []).append(c)
    return [Record(members) for by_ext in groups.values() for by_alt in by_ext.values()
            for members in by_alt.values()]


def fix_name_order(records):
    """-n= takes the first record whose name begins with the text: a name must not be
    the beginning of an earlier record's name, or that record answers for it."""
    changed = True
    while changed:
        changed = False
        for i, r in enumerate(records):
            for j in range(i):
                if records[j].name.startswith(r.name):
                    records.insert(j, records.pop(i))
                    changed = True
                    break
            if changed:
                break


HEADER = """\
# flash_db.cfg - SPI NOR chips for tamrel; made by tools/make_flash_db.py, edit the chip
# tables and run it again
#
# A record is one line beginning with name=; every other line is a remark, and a line
# whose first non-blank character is # is never searched.
# mnfid= jedec= the three id bytes; extid= the two bytes after them (any: the part defines
# none, or they vary by ordering option). page= program page, volime= size (bytes).
# Erase unit: unit=block|sector where given, else block= for mnfid 0xEF and 0x1F, sector=
# for 0xBF, 0x01, 0xC2, 0x20, else the smallest size in erase= whose opcode erases exactly that size
# (0x20 4K, 0x52 32K, 0xD8 the sector= size). erase= lists the part's uniform erase
# commands (opcode:size), 4-byte ones after the others.
# chipers= chip erase opcode where it is not 0xC7 (0: none; -e erases unit by unit, or die
# by die with diers=OP:SIZE). poll=fsr: flag status register (0x70) read after every program
# and erase. bp= status-register bits that protect where they are not the maker's usual.
# unlock=ulbpr: per-block locks cleared by 0x98. addr4= how a part above 16 MiB takes 4-byte
# addresses: opcodes, or its 4-byte mode (en4b: 0xB7/0xE9; wren_en4b: each after write
# enable); in 4-byte mode ads=OP:MASK reads back that the mode took, ear=OP clears the
# extended address register on leaving.
# Parts that share an id but differ stand as alternatives next to each other; the tool reads
# the chip's SFDP tables to choose.
"""


def main(paths):
    facts = Facts(FACTS)
    rows = []
    for path in paths:
        with open(path, newline="") as f:
            rows.extend(csv.DictReader(f, delimiter="\t"))
    # Each maker's parts stay together, in the order the makers first appear.
    first_seen = {}
    for row in rows:
        first_seen.setdefault(row["vendor"], len(first_seen))
    rows.sort(key=lambda row: first_seen[row["vendor"]])
    chips, left_out = [], []
    for row in rows:
        c = Chip(row, facts.apply(row))
        if c.drop:
            left_out.append((c, c.drop))
        elif c.page == 1:
            left_out.append((c, "byte program only (0x02 writes one byte)"))
        else:
            chips.append(c)
    facts.check_all_used()

    records = []
    for r in group_rows(chips):
        if r.unit is None:
            left_out.extend((c, "no uniform erase the tool can send") for c in r.chips)
        else:
            records.append(r)
    if len({r.name for r in records}) != len(records):
        fail("duplicate record names")
    fix_name_order(records)
    check(records)

    out = sys.stdout
    out.write(HEADER)
    for c, why in left_out:
        out.write("# left out: %s (0x%02X 0x%04X): %s\n" % (c.name, c.mfr, c.dev, why))
    vendor = None
    for r in records:
        if r.chips[0].vendor != vendor:
            vendor = r.chips[0].vendor
            out.write("\n# ---- %s ----\n" % vendor)
        out.write("\n%s\n%s\n" % (r.remark(alternatives_of(r, records)), r.line()))


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit(__doc__.strip().splitlines()[-2])
    main(sys.argv[1:])
