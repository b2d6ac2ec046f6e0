#!/usr/bin/python3
# SPDX-License-Identifier: MIT
r"""Checks a GAEB 2000 workbook against its bill, read here on its own, without the converter's code.

    long_text_words.py BILL.p83 WORKBOOK.xlsx

For every item of the bill (in file order, the k-th item block against the k-th row with an
ordinal number on "Positionsteil"), every word of its long text must stand in column B between
the item's row and the next item's row, in order. No cell of the workbook may hold an RTF control
word, a brace, a bookmark name of the bill or an undecoded character reference.

The words come from a deliberately plain reading of the RTF: groups of destinations that print
nothing are skipped, paragraph and line marks end a line, a tab or a cell end is a blank, \'hh is a
Windows-1252 byte, \uN a character whose fallback characters are skipped, and \v text is hidden.
Prints one line per fault and exits with 1 when there is any.
"""

import re
import sys

import openpyxl

SILENT = set("""
    fonttbl colortbl stylesheet info pict object objdata header headerl headerr headerf footer
    footerl footerr footerf footnote annotation atnid atnauthor atnref atndate bkmkstart bkmkend
    fldinst listtable listoverridetable revtbl rsidtbl generator themedata colorschememapping
    latentstyles datastore xmlnstbl title subject author operator keywords comment company
    doccomm creatim revtim printim buptim hlinkbase userprops nonshppict shppict xe tc tcn
    pn pntxta pntxtb sp sn sv shprslt formfield datafield template docvar falt panose
""".split())
TOKEN = re.compile(
    r"\\([a-zA-Z]+)(-?\d+)? ?|\\'([0-9a-fA-F]{2})|\\([^a-zA-Z'])|([{}])|([\r\n]+)|([^\\{}\r\n]+)", re.S
)
ENTITIES = {"lt": "<", "gt": ">", "amp": "&", "quot": '"', "apos": "'"}
REFERENCE = re.compile(r"&#(x[0-9a-fA-F]+|[0-9]+);|&(lt|gt|amp|quot|apos);")
PLACEHOLDERS = re.compile(r"TB(6[1-9]|7[0-9]|80)|Feld(6[1-9]|7[0-9]|80)")


def rtf_text(rtf):
    out = []
    stack = []
    hidden, uc, skip = False, 1, 0
    star = False
    for word, param, hexbyte, symbol, brace, newline, text in (m.groups() for m in TOKEN.finditer(rtf)):
        if brace == "{":
            stack.append((hidden, uc))
            skip, star = 0, False
            continue
        if brace == "}":
            if not stack:
                break
            hidden, uc = stack.pop()
            skip = 0
            if not stack:
                break
            continue
        if newline:
            continue
        if symbol == "*":
            star = True
            continue
        if word is not None:
            was_star, star = star, False
            if word in SILENT or was_star:
                hidden = True
            elif word in ("par", "line", "row", "page", "sect"):
                skip = 0
                if not hidden:
                    out.append("\n")
            elif word in ("tab", "cell"):
                if not hidden:
                    out.append(" ")
            elif word == "uc":
                uc = int(param or 1)
            elif word == "u":
                if not hidden:
                    out.append(chr(int(param) % 65536))
                skip = uc
            elif word == "v":
                hidden = param != "0"
            continue
        piece = None
        if hexbyte:
            piece = bytes([int(hexbyte, 16)]).decode("cp1252", "replace")
        elif symbol:
            piece = {"\\": "\\", "{": "{", "}": "}", "~": "\u00a0", "_": "-"}.get(symbol)
        elif text:
            piece = text
        if piece is None:
            continue
        while piece and skip > 0:
            piece = piece[1:]
            skip -= 1
        if piece and not hidden:
            out.append(piece)
    return "".join(out)


def decoded(text):
    def one(m):
        if m.group(2):
            return ENTITIES[m.group(2)]
        number = m.group(1)
        value = int(number[1:], 16) if number[0] == "x" else int(number)
        if 128 <= value <= 159:
            return bytes([value]).decode("cp1252", "replace")
        return chr(value) if 0 < value <= 0x10FFFF and not 0xD800 <= value <= 0xDFFF else "\ufffd"

    return REFERENCE.sub(one, text)


def items_of(bill):
    """The long text of each item block, in file order ("" for an item without one)."""
    lines = [l.lstrip() for l in bill.splitlines()]
    items, inside, block = [], False, []
    for line in lines:
        low = line.lower()
        if low.startswith("#begin[position]"):
            inside, block = True, []
        elif low.startswith("#end[position]") and inside:
            inside = False
            items.append(long_text(block))
        elif inside:
            block.append(line)
    return items


def long_text(block):
    low = [l.lower() for l in block]
    begin = next((i for i, l in enumerate(low) if l.startswith("#begin[beschreibung]")), None)
    if begin is None:
        return ""
    end = next((i for i, l in enumerate(low) if i > begin and l.startswith("#end[beschreibung]")), len(block))
    text = "\n".join(block[begin + 1 : end])
    start = text.lower().find("[langtext]")
    if start < 0:
        return ""
    text = text[start + len("[langtext]") :]
    stop = text.lower().find("[end]")
    text = text[:stop] if stop >= 0 else text
    text = PLACEHOLDERS.sub("", text)
    if text.lstrip().startswith("{\\rtf"):
        text = rtf_text(text.lstrip())
    return decoded(text)


def main():
    bill_path, book_path = sys.argv[1], sys.argv[2]
    bill = open(bill_path, "rb").read().decode("cp1252")
    faults = []
    book = openpyxl.load_workbook(book_path)
    sheet = book["Positionsteil"]
    rows = [(r, sheet.cell(r, 1).value, sheet.cell(r, 2).value) for r in range(8, sheet.max_row + 1)]
    item_rows = [i for i, (_, a, _) in enumerate(rows) if a not in (None, "")]
    texts = items_of(bill)
    if len(texts) != len(item_rows):
        faults.append("%d items in the bill, %d item rows" % (len(texts), len(item_rows)))
    for k, text in enumerate(texts[: len(item_rows)]):
        first = item_rows[k]
        last = item_rows[k + 1] if k + 1 < len(item_rows) else len(rows)
        cells = [str(b) for _, _, b in rows[first + 1 : last] if b is not None]
        tokens = " ".join(cells).split()
        at = 0
        for word in text.split():
            while at < len(tokens) and tokens[at] != word:
                at += 1
            if at == len(tokens):
                faults.append("item %s (row %d): word %r missing" % (rows[first][1], rows[first][0], word))
                break
            at += 1

    bookmarks = {n for n in re.findall(r"\\bkmk(?:start|end) ([^}\\\s]+)", bill) if len(n) >= 3}
    control = re.compile(r"\\[a-zA-Z]+")
    reference = re.compile(r"&#x?[0-9a-fA-F]+;")
    for ws in book.worksheets:
        for row in ws.iter_rows():
            for cell in row:
                if not isinstance(cell.value, str):
                    continue
                value = cell.value
                where = "%s!%s: %r" % (ws.title, cell.coordinate, value[:80])
                if control.search(value):
                    faults.append("RTF control word in " + where)
                if "{" in value or "}" in value:
                    faults.append("brace in " + where)
                if reference.search(value):
                    faults.append("character reference in " + where)
                for name in bookmarks:
                    if name in value:
                        faults.append("bookmark %s in %s" % (name, where))
    for fault in faults[:40]:
        print(fault)
    if len(faults) > 40:
        print("... %d more" % (len(faults) - 40))
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
