#!/usr/bin/python3
# SPDX-License-Identifier: MIT
r"""Converts every GAEB DA XML bill of a folder with the console program and checks, from the
XML itself (ElementTree) and the saved workbook (openpyxl), that nothing of the bill is lost:

- every text node below OutlineText, DetailTxt, SubDescr, LblTx, Remark and AddText (images,
  flags and catalogue numbers excepted; white space normalised) stands in the workbook: an
  item's texts in the rows of that item, a range's label in Positionsteil, notes on Hinweistext;
- no two words that the file separates by white space come out glued: white space without a
  line break counts as a blank also between or inside inline elements ("</span> <span>",
  "<span> </span>"); white space holding a line break between elements is indentation, across
  which exporters split words ("Ver</span>" and "<span>mutete" on the next line);
- every Item and MarkupItem has exactly one item row, in document order, whose OZ holds its
  RNoPart, and a surcharge item is labelled as one;
- in the bid phases (84, 86) the sum of the G-Preis column equals the bill's declared total, or
  the run said that the sums differ.

    check_samples.py CLI FOLDER

Prints one line per problem and exits 1 when there is any. Bills the program refuses must name
their exchange phase.
"""

import os
import re
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

import openpyxl

TEXT_HOLDERS = {"OutlineText", "DetailTxt", "SubDescr", "LblTx", "Remark", "AddText"}
# Below the text holders, but no text: images, yes/no flags, numbers of catalogues and parts,
# the sub-description's quantity (checked as a number in its row).
NOT_TEXT = {"image", "img", "ComplTSA", "ComplTSB", "ComplBodyDec", "StLNo", "SubDNo", "QtySpec", "Qty",
            "QU", "UP", "IT", "CtlgAssign", "PredQty"}
ESCAPE = re.compile("_x([0-9A-Fa-f]{4})_")
# Elements whose text continues the line it stands in; every other element separates words.
INLINE = {"span", "b", "i", "u", "s", "strong", "em", "sup", "sub", "font", "a", "small", "big", "strike", "code"}


def local(tag):
    return tag.rsplit("}", 1)[-1] if isinstance(tag, str) else ""


def norm(text):
    return " ".join(text.split())


def cell_text(value):
    if value is None:
        return ""
    if isinstance(value, str):
        return ESCAPE.sub(lambda m: chr(int(m.group(1), 16)), value)
    return str(value)


def text_nodes(element):
    """The text nodes below `element` (not its own tail), images and non-texts left out."""
    out = []

    def walk(node):
        if local(node.tag) in NOT_TEXT:
            return
        if node.text and node.text.strip():
            out.append(norm(node.text))
        for child in node:
            walk(child)
            if child.tail and child.tail.strip():
                out.append(norm(child.tail))

    walk(element)
    return out


def file_words(element):
    """The words of `element` as the file separates them: white space holding a line break
    between elements is indentation, other white space separates words, and so does every element
    that is no inline text, and a span styled as a tab stop."""
    parts = []

    def piece(text):
        if text and not (text.isspace() and ("\n" in text or "\r" in text)):
            parts.append(text)

    def walk(node):
        name = local(node.tag)
        if name in NOT_TEXT:
            return
        if name not in INLINE or "tab-space" in node.get("style", ""):
            parts.append(" ")
        piece(node.text)
        for child in node:
            walk(child)
            piece(child.tail)
        if name not in INLINE:
            parts.append(" ")

    walk(element)
    return "".join(parts).split()


def word_faults(words, shown, written):
    """The neighbouring words that `shown` (the workbook's text) holds without the blank between
    them, where `written` (all text of the file) never holds them so; and the words that `shown`
    does not hold whole (a word split at the indentation between two elements)."""
    out = []
    for a, b in zip(words, words[1:]):
        if a + b in shown and a + b not in written:
            out.append(f"zusammengezogen: {a + b!r}")
    for w in words:
        if w not in shown:
            out.append(f"getrennt: {w!r}")
    return out


class Bill:
    def __init__(self, path):
        self.tree = ET.parse(path)
        self.root = self.tree.getroot()
        self.parent = {c: p for p in self.root.iter() for c in p}

    def find(self, *names):
        node = self.root
        for name in names:
            node = next((c for c in node if local(c.tag) == name), None)
            if node is None:
                return None
        return node

    def phase(self):
        dp = self.find("Award", "DP")
        if dp is None:
            for part in self.root:
                dp = next((c for c in part if local(c.tag) == "DP"), None)
                if dp is not None:
                    break
        return (dp.text or "").strip() if dp is not None else ""

    def owner(self, element):
        """The item, surcharge, performance description or range a text belongs to."""
        node = self.parent.get(element)
        while node is not None:
            if local(node.tag) in ("Item", "MarkupItem", "PerfDescr", "Remark", "AddText", "BoQCtgy"):
                return node
            node = self.parent.get(node)
        return None


def workbook_of(path):
    book = openpyxl.load_workbook(path)
    sheets = {}
    for ws in book.worksheets:
        rows = []
        for row in ws.iter_rows(values_only=True):
            rows.append([cell_text(v) if not isinstance(v, (int, float)) else v for v in row])
        sheets[ws.title] = rows
    return sheets


def check(cli, path, problems):
    name = os.path.basename(path)
    bill = Bill(path)
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "lv.xlsx")
        run = subprocess.run([cli, "--hinweistext", "--teilsummen", path, "-o", out],
                             capture_output=True, text=True)
        if not os.path.exists(out):
            if "Austauschphase" not in run.stderr:
                problems.append(f"{name}: kein Ergebnis und keine Austauschphase genannt: {run.stderr.strip()}")
            return False
        sheets = workbook_of(out)

    positions = sheets.get("Positionsteil", [])
    notes = norm(" ".join(cell_text(r[0]) for r in sheets.get("Hinweistext", []) if r and r[0]))
    col = lambda row, i: row[i] if len(row) > i else None  # noqa: E731
    item_rows = [i for i, r in enumerate(positions) if i >= 7 and str(col(r, 1) or "").startswith("*** ")]
    heading_rows = {i for i, r in enumerate(positions) if str(col(r, 1) or "").startswith("LV-Bereich")}
    all_b = norm("".join(str(col(r, 1) or "") for r in positions[7:]))
    # The same texts with a blank between the rows, for the check of words.
    notes_rows = norm(" ".join(cell_text(r[0]) for r in sheets.get("Hinweistext", []) if r and r[0]))
    labels_rows = norm(" ".join(str(col(r, 1) or "") for r in positions[7:]) + " " +
                       " ".join(str(col(r, 0) or "") for r in sheets.get("Teilsummen", [])))

    # Items and surcharges: one row each, in document order.
    body = bill.find("Award", "BoQ", "BoQBody")
    elements = [e for e in (body.iter() if body is not None else []) if local(e.tag) in ("Item", "MarkupItem")]
    if len(elements) != len(item_rows):
        problems.append(f"{name}: {len(elements)} Positionen in der Datei, {len(item_rows)} Positionszeilen")
    block_of = {}
    rows_of = {}
    for element, row in zip(elements, item_rows):
        oz = str(col(positions[row], 0) or "")
        part = element.get("RNoPart", "").strip().lstrip("0") or "0"
        if element.get("RNoPart") is not None and part not in oz:
            problems.append(f"{name}: Zeile {row + 1}: OZ {oz!r} enthält RNoPart {element.get('RNoPart')!r} nicht")
        surcharge = str(col(positions[row], 1)) == "*** Zuschlagsposition"
        if surcharge != (local(element.tag) == "MarkupItem"):
            problems.append(f"{name}: Zeile {row + 1}: Positionsart {col(positions[row], 1)!r} passt nicht")
        end = row + 1
        while end < len(positions) and end not in heading_rows and end not in item_rows:
            end += 1
        block_of[element] = norm("".join(str(col(r, 1) or "") for r in positions[row + 1:end]))
        rows_of[element] = norm(" ".join(str(col(r, 1) or "") for r in positions[row + 1:end]))

    # Texts.
    missing = 0
    word_problems = []
    written = " ".join(" ".join(file_words(h)) for h in bill.root.iter() if local(h.tag) in TEXT_HOLDERS)
    for holder in bill.root.iter():
        if local(holder.tag) not in TEXT_HOLDERS:
            continue
        # A holder inside another one is checked with the outer one.
        outer = bill.parent.get(holder)
        inside = False
        while outer is not None:
            if local(outer.tag) in TEXT_HOLDERS:
                inside = True
                break
            outer = bill.parent.get(outer)
        if inside:
            continue
        owner = bill.owner(holder) if local(holder.tag) not in ("Remark", "AddText") else holder
        kind = local(owner.tag) if owner is not None else ""
        if kind in ("Item", "MarkupItem") and local(holder.tag) != "AddText":
            where, place, shown = block_of.get(owner, ""), "in den Zeilen der Position", rows_of.get(owner, "")
        elif kind in ("Remark", "AddText"):
            where, place, shown = notes, "im Hinweistext", notes_rows
        else:
            where, place, shown = all_b, "im Positionsteil", labels_rows
        word_problems += word_faults(file_words(holder), shown, written)
        for text in text_nodes(holder):
            if text not in where:
                missing += 1
                if missing <= 10:
                    problems.append(f"{name}: Text {place} fehlt ({local(holder.tag)}): {text[:100]!r}")
    if missing > 10:
        problems.append(f"{name}: {missing - 10} weitere Texte fehlen")
    for fault in word_problems[:10]:
        problems.append(f"{name}: Wort {fault}")
    if len(word_problems) > 10:
        problems.append(f"{name}: {len(word_problems) - 10} weitere Wörter zusammengezogen oder getrennt")

    # Quantities of sub-descriptions.
    for sub in bill.root.iter():
        if local(sub.tag) != "SubDescr":
            continue
        qty = next((c.text for c in sub if local(c.tag) == "Qty"), None)
        if qty and qty.strip():
            value = float(qty)
            if not any(str(col(r, 1) or "") == "Unterbeschreibung:" and isinstance(col(r, 2), (int, float))
                       and abs(col(r, 2) - value) < 1e-9 for r in positions):
                problems.append(f"{name}: Menge {qty.strip()} einer Unterbeschreibung fehlt")

    # The bid's total.
    if bill.phase() in ("84", "86"):
        declared = bill.find("Award", "BoQ", "BoQInfo", "Totals", "Total")
        total = sum(col(positions[row], 5) for row in item_rows if isinstance(col(positions[row], 5), (int, float)))
        if declared is not None and declared.text:
            if abs(round(total, 2) - float(declared.text)) > 0.01 and "Die Summen der Arbeitsmappe weichen" not in run.stderr:
                problems.append(f"{name}: Summe {total:.2f} statt {declared.text} ohne Meldung")
    return True


def main():
    cli, folder = sys.argv[1], sys.argv[2]
    problems = []
    converted = 0
    for entry in sorted(os.listdir(folder)):
        path = os.path.join(folder, entry)
        if not os.path.isfile(path):
            continue
        try:
            converted += 1 if check(cli, path, problems) else 0
        except ET.ParseError as error:
            problems.append(f"{entry}: XML nicht lesbar: {error}")
    for p in problems:
        print(p)
    print(f"{converted} Dateien umgewandelt, {len(problems)} Probleme")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
