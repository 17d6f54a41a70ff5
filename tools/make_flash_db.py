#!/usr/bin/env python3
"""Build flash_db.cfg from tab-separated tables of SPI NOR chip facts.

Chips above 16 MiB come from tables with the extra columns addr4 (how the chip takes
4-byte addresses), erase_4b (its 4-byte erase commands, opcode:size), unit (block or
sector, for makers outside the erase unit rule) and remark (said in the record's remark).

Usage: make_flash_db.py spi_nor_chips.tsv tools/large_chips.tsv > flash_db.cfg
(Python 3, standard library only)
"""

import csv
import re
import sys
from collections import OrderedDict

# Which setup field the tool erases by, per manufacturer id; others get no erase unit.
BLOCK_RULE = {0xEF, 0x1F}
SECTOR_RULE = {0xBF, 0x01, 0xC2, 0x20}

# Datasheet facts the table leaves out: ids whose chips define nothing after their three id
# bytes (W25Q32BV/CV/DV/FV/JV). What the data line carries then is not specified (0x00,
# 0xFF from a pull-up, or the id again), so their records take any ext id: extid=any.
NOTHING_AFTER_ID = {(0xEF, 0x4016)}

ANY_EXT = "any"

KIB = 1024
MAX_SIZE = 16 * 1024 * KIB  # 3-byte addresses; larger chips need an addr4 column


def tool_opcode(unit):
    """Erase opcode the tool sends for an erase unit of `unit` bytes (None: none fits).
    0xD8 erases the record's sector=, which is the unit whenever it is 64 KiB or more."""
    if unit == 4 * KIB:
        return 0x20
    if unit == 32 * KIB:
        return 0x52
    if unit >= 64 * KIB:
        return 0xD8
    return None


def parse_erases(text):
    """'0x21:4K,0xDC:64K' as a set of (opcode, size)."""
    ops = set()
    for item in filter(None, text.split(",")):
        op, size = item.split(":")
        ops.add((int(op, 16), int(size.rstrip("K")) * KIB))
    return ops


def ext_text(ext):
    """The extid= field of an ext id, the word any, or 0 for chips that send 0x00 or 0xFF."""
    if ext == ANY_EXT:
        return "extid=any"
    return "extid=0x%04X" % ext if ext else "extid=0"


def size_text(n):
    return "%dK" % (n // KIB)


class Chip:
    def __init__(self, row):
        self.name = row["name"]
        self.vendor = row["vendor"]
        self.mfr = int(row["mfr_id"], 16)
        self.dev = int(row["device_id"], 16)
        after = [int(b, 16) for b in row["bytes_after_id"].split()]
        # The tool reads two bytes after the id; one recorded byte does not fix them.
        self.ext = (after[0] << 8 | after[1]) if len(after) >= 2 else None
        if not after and (self.mfr, self.dev) in NOTHING_AFTER_ID:
            self.ext = ANY_EXT
        self.size = int(row["total_size_bytes"], 16)
        self.page = int(row["page_size"])
        self.chip_erase = row["chip_erase"]
        self.notes = row["notes"]
        self.erases = self._erases(row)
        self.addr4 = row.get("addr4") or None
        self.erases_4b = parse_erases(row.get("erase_4b") or "")
        self.unit_key = row.get("unit") or None
        self.extra_remark = row.get("remark") or ""

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
        # Id tables record a nominal 64 KiB sector beside their 4 KiB flag; trust the flag.
        if "table only" in self.notes and (0x20, 4 * KIB) in ops:
            ops = {(0x20, 4 * KIB)}
        return ops

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
        self.name = self._name()
        self.page = min(c.page for c in chips)
        self.size = min(c.size for c in chips)
        self.comment = []
        self.addr4 = self._common("addr4")
        self.unit_key = self._common("unit_key")
        self.block_rule = self.mfr in BLOCK_RULE or self.unit_key == "block"
        self._choose_units()

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
            sys.exit("parts of id 0x%02X 0x%04X differ in %s" % (self.mfr, self.dev, field))
        return values.pop()

    def _chipers(self):
        """chipers= when the parts lack 0xC7: 0x60, or 0 (erased unit by unit)."""
        known = [set(c.chip_erase.split("/")) for c in self.chips if c.chip_erase != "unknown"]
        if not known:
            return None
        if any("none" in ops for ops in known):
            return 0
        common = set.intersection(*known)
        if "0xC7" in common:
            return None
        return 0x60 if "0x60" in common else 0

    def _choose_units(self):
        common = set.intersection(*(c.erases for c in self.chips))
        usable = sorted(u for op, u in common if tool_opcode(u) == op)
        d8_sizes = [sorted(u for op, u in c.erases if op == 0xD8 and u >= 64 * KIB)
                    for c in self.chips]
        self.mixed = False
        if self.block_rule:
            unit = usable[0] if usable else None  # the finest uniform erase
        else:
            unit = usable[-1] if usable else None  # the 0xD8 sector where there is one
        if unit is None and all(d8_sizes):
            # The parts sharing this id erase different sizes with 0xD8. The largest
            # keeps every byte outside a range; on the others part of a unit stays unerased.
            unit = max(s[-1] for s in d8_sizes)
            self.mixed = True
        self.unit = unit
        if unit is None:
            return
        self.erase_list = self._erase_list()
        finer = [u for u in usable if u < 64 * KIB]
        d8 = [u for u in usable if u >= 64 * KIB]
        if self.block_rule:
            self.block = unit
            self.sector = d8[-1] if d8 else min(64 * KIB, self.size)
        else:
            self.sector = unit
            self.block = finer[0] if finer else None

    def _erase_list(self):
        per_op = OrderedDict()
        for op in (0x20, 0x52, 0xD8):
            sizes = [sorted(u for o, u in c.erases if o == op) for c in self.chips]
            if all(sizes):
                merged = sorted({u for s in sizes for u in s})
                if len(merged) == 1 or (op == 0xD8 and self.mixed):
                    per_op[op] = merged
        for op, size in sorted(set.intersection(*(c.erases_4b for c in self.chips))):
            per_op[op] = [size]
        return ",".join("0x%02X:%s" % (op, "|".join(size_text(u) for u in us))
                        for op, us in per_op.items())

    def line(self):
        fields = ["name=%s" % self.name, "mnfid=0x%02X" % self.mfr, "jedec=0x%04X" % self.dev]
        if self.ext is not None:
            fields.append(ext_text(self.ext))
        fields.append("page=%d" % self.page)
        if self.block:
            fields.append("block=%d" % self.block if self.block < 64 * KIB
                          else "block=0x%X" % self.block)
        fields.append("sector=%d" % self.sector if self.sector < 64 * KIB
                      else "sector=0x%X" % self.sector)
        fields.append("volime=0x%X" % self.size)
        if self.unit_key:
            fields.append("unit=%s" % self.unit_key)
        if self.addr4:
            fields.append("addr4=%s" % self.addr4)
        chipers = self._chipers()
        if chipers is not None:
            fields.append("chipers=%s" % ("0x%02X" % chipers if chipers else "0"))
        if self._ulbpr():
            fields.append("unlock=ulbpr")
        fields.append("erase=%s" % self.erase_list)
        return " ".join(fields)

    def remark(self):
        ids = "0x%02X 0x%04X" % (self.mfr, self.dev)
        if self.ext is not None:
            ids += " " + ext_text(self.ext).replace("extid=", "ext ")
        text = "# %s: %s" % (ids, " ".join(self.parts))
        erases = sorted({c.chip_erase for c in self.chips})
        text += "; chip erase %s" % "/".join(erases)
        sizes = sorted({c.size for c in self.chips})
        if len(sizes) > 1:
            text += "; sizes differ (%s), the smallest is kept" % ", ".join(
                "0x%X" % s for s in sizes)
        if self.mixed:
            text += "; 0xD8 erases %s on these parts: a range erase may leave part of a unit " \
                    "unerased (verify shows it)" % "/".join(
                        sorted({size_text(u) for c in self.chips for o, u in c.erases
                                if o == 0xD8}, key=lambda t: int(t[:-1])))
        if self._chipers() == 0:
            text += "; no chip erase: -e erases unit by unit"
        if self._ulbpr():
            text += "; blocks are protected at power-up: -u sends 0x98 (ULBPR)"
        for extra in sorted({c.extra_remark for c in self.chips if c.extra_remark}):
            text += "; " + extra
        return text

    def _ulbpr(self):
        return "0x98" in " ".join(c.notes for c in self.chips)


def group_rows(chips):
    """One record per id the tool can tell apart: mnfid, jedec and, where recorded, extid."""
    groups = OrderedDict()
    for c in chips:
        groups.setdefault((c.mfr, c.dev, c.ext), []).append(c)
    # Records with an extid first; the one without takes any other ext id, so it goes last.
    ordered = OrderedDict()
    for (mfr, dev, ext), members in groups.items():
        ordered.setdefault((mfr, dev), [])
        ordered[(mfr, dev)].append((ext, members))
    records = []
    for (mfr, dev), variants in ordered.items():
        variants.sort(key=lambda v: v[0] is None)
        for ext, members in variants:
            records.append(Record(members))
    return records


def fix_name_order(records):
    """-n= takes the first record whose name begins with the text: a name must not be
    the beginning of an earlier record's name, or that record answers for it."""
    changed = True
    while changed:
        changed = False
        for i, r in enumerate(records):
            for j in range(i):
                if records[j].name.startswith(r.name):
                    if (records[j].mfr, records[j].dev) == (r.mfr, r.dev):
                        sys.exit("name %s shadows a record of the same id" % r.name)
                    records.insert(j, records.pop(i))
                    changed = True
                    break
            if changed:
                break


def main(paths):
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
        c = Chip(row)
        if c.size > MAX_SIZE and not c.addr4:
            left_out.append((c, "larger than 16 MiB"))
        elif c.page == 1:
            left_out.append((c, "byte program only (0x02 writes one byte)"))
        else:
            chips.append(c)

    records = []
    for r in group_rows(chips):
        if r.unit is None:
            left_out.extend((c, "no uniform erase the tool can send") for c in r.chips)
        else:
            records.append(r)
    names = [r.name for r in records]
    if len(set(names)) != len(names):
        sys.exit("duplicate record names")
    fix_name_order(records)

    out = sys.stdout
    out.write("# flash_db.cfg - SPI NOR chips for tamrel; made by tools/make_flash_db.py, "
              "edit the chip table and run it again\n")
    out.write("#\n"
              "# A record is one line beginning with name=; any other line is a remark, and a\n"
              "# line whose first non-blank character is # is never searched.\n"
              "# Erase unit: block= for mnfid 0xEF and 0x1F, sector= for 0xBF, 0x01, 0xC2, 0x20;\n"
              "# other makers have none (range erase, write and verify refused, chip erase ok)\n"
              "# unless unit=block or unit=sector says which.\n"
              "# erase= lists the uniform erase commands of the part (opcode:size); the tool\n"
              "# erases a unit only with a command listed there with the unit's size.\n"
              "# chipers= the chip erase opcode where it is not 0xC7 (0: none, -e erases unit by\n"
              "# unit); unlock=ulbpr for per-block locks cleared by 0x98; addr4= how a chip\n"
              "# above 16 MiB takes 4-byte addresses (opcodes when absent).\n"
              "# extid= only where the bytes after the id are known; without it a record takes\n"
              "# any ext id of its mnfid and jedec (the tool warns); extid=any takes any ext id\n"
              "# without a warning, for parts that define nothing after their id.\n")
    for c, why in left_out:
        out.write("# left out: %s (0x%02X 0x%04X): %s\n" % (c.name, c.mfr, c.dev, why))
    vendor = None
    for r in records:
        if r.chips[0].vendor != vendor:
            vendor = r.chips[0].vendor
            out.write("\n# ---- %s ----\n" % vendor)
        out.write("\n%s\n%s\n" % (r.remark(), r.line()))


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit(__doc__.strip().splitlines()[-2])
    main(sys.argv[1:])
