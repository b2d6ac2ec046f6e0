#!/usr/bin/python3
# SPDX-License-Identifier: MIT
r"""Prints a saved .xlsx workbook as text, read by an independent reader (openpyxl).

    xlsx_dump.py [--styles] [--setup] FILE

Output, deterministic, sheets in tab order:
    #sheets A,B,C
    #active NAME
    Sheet!A1<TAB>kind<TAB>value                      one line per non-empty cell
        kind n number (shortest form: 12.5, 3), s text, b boolean, e error,
        f formula: value is the formula, then <TAB> and the cached result
        with --styles one more field: bold color=RRGGBB fill=RRGGBB border align=... fmt=...
    Sheet!row:N<TAB>outline=L                         rows inside an outline group
with --setup, after #active the document's title and subject:
    #properties<TAB>title=LV Rohbau | subject=Leistungsverzeichnis
and per sheet:
    Sheet!view<TAB>zoom=80 freeze=A8 selection=A1
    Sheet!outline<TAB>summary=above                    when summary rows stand above their groups
    Sheet!print<TAB>orientation=landscape paper=9 fit=1x0 titles=$7:$7 area=$A:$F center=horizontal
        (scale=65 for a fixed print scale; fit=WxH pages wide and tall, 0 as many as needed)
    Sheet!footer<TAB>left=LV Rohbau | right=Seite &P von &N     the footer's parts, when it has one
    Sheet!margins<TAB>left=.. right=.. top=.. bottom=.. header=.. footer=..   (inches)
    Sheet!col:E<TAB>width=10 <styles as above>        columns with a width or a format
Texts show what a spreadsheet shows: the file format's escapes "_xHHHH_" decoded (openpyxl
leaves them); backslash, tab, line feed and carriage return printed as \\ \t \n \r, other
control characters as \xHH.
"""

import re
import sys

import openpyxl
from openpyxl.utils import get_column_letter


XSTRING_ESCAPE = re.compile("_x([0-9A-Fa-f]{4})_")
CONTROL = re.compile("[\x00-\x08\x0b\x0c\x0e-\x1f\x7f]")


def escape(text):
    text = text.replace("\\", "\\\\").replace("\t", "\\t").replace("\n", "\\n").replace("\r", "\\r")
    return CONTROL.sub(lambda m: "\\x%02x" % ord(m.group(0)), text)


def cell_text(text):
    return escape(XSTRING_ESCAPE.sub(lambda m: chr(int(m.group(1), 16)), text))


def number(value):
    value = float(value)
    if value.is_integer() and abs(value) < 1e16:
        return str(int(value))
    return repr(value)


def scalar(value):
    if isinstance(value, bool):
        return "TRUE" if value else "FALSE"
    if isinstance(value, (int, float)):
        return number(value)
    if value is None:
        return ""
    return cell_text(str(value))


def inches(value):
    return "%.4g" % float(value or 0)


def rgb(color):
    if color is None or color.type != "rgb" or not isinstance(color.rgb, str):
        return None
    return color.rgb[-6:].upper()


def styles(obj):
    """Style of a cell or a column dimension, as the fields the tests compare."""
    parts = []
    font = obj.font
    if font is not None and font.b:
        parts.append("bold")
    font_color = rgb(font.color) if font is not None else None
    if font_color:
        parts.append("color=" + font_color)
    fill = obj.fill
    if fill is not None and fill.fill_type == "solid":
        parts.append("fill=" + (rgb(fill.fgColor) or "?"))
    border = obj.border
    if border is not None:
        sides = [(name, getattr(border, name).style) for name in ("left", "right", "top", "bottom")
                 if getattr(border, name) is not None and getattr(border, name).style]
        if len(sides) == 4 and all(style == "thin" for _, style in sides):
            parts.append("border")
        elif sides:
            parts.append("border=" + ",".join("%s:%s" % side for side in sides))
    alignment = obj.alignment
    if alignment is not None and alignment.horizontal not in (None, "general"):
        parts.append("align=" + alignment.horizontal)
    if obj.number_format and obj.number_format != "General":
        parts.append("fmt=" + escape(obj.number_format))
    return " ".join(parts)


def column_width(stored):
    """Characters of the default font, from the stored width with its 5-pixel padding."""
    pixels = round(float(stored) * 7)
    return number(round(max(pixels - 5, 0) / 7, 2))


def dump_cells(ws, values, with_styles, out):
    for (row, col) in sorted(ws._cells):
        cell = ws._cells[(row, col)]
        value = cell.value
        if value is None:
            continue
        address = "%s!%s%d" % (ws.title, get_column_letter(col), row)
        if cell.data_type == "f":
            cached = values.cell(row=row, column=col).value
            line = "%s\tf\t%s\t%s" % (address, escape(str(value)), scalar(cached))
        elif cell.data_type == "e":
            line = "%s\te\t%s" % (address, escape(str(value)))
        elif isinstance(value, bool):
            line = "%s\tb\t%s" % (address, scalar(value))
        elif isinstance(value, (int, float)):
            line = "%s\tn\t%s" % (address, number(value))
        else:
            line = "%s\ts\t%s" % (address, cell_text(str(value)))
        if with_styles:
            line += "\t" + styles(cell)
        out.append(line)
    for row in sorted(ws.row_dimensions):
        level = ws.row_dimensions[row].outline_level or 0
        if level:
            out.append("%s!row:%d\toutline=%d" % (ws.title, row, level))


def dump_setup(ws, out):
    view = ws.sheet_view
    parts = ["zoom=%d" % (view.zoomScale or 100)]
    if ws.freeze_panes:
        parts.append("freeze=" + ws.freeze_panes)
    active_cell = "A1"
    if view.selection and view.selection[-1].activeCell:
        active_cell = view.selection[-1].activeCell
    parts.append("selection=" + active_cell)
    out.append("%s!view\t%s" % (ws.title, " ".join(parts)))
    outline = ws.sheet_properties.outlinePr
    if outline is not None and outline.summaryBelow is False:
        out.append("%s!outline\tsummary=above" % ws.title)

    setup = ws.page_setup
    parts = ["orientation=" + (setup.orientation or "portrait")]
    if setup.paperSize:
        parts.append("paper=%s" % setup.paperSize)
    fit = ws.sheet_properties.pageSetUpPr
    if fit is not None and fit.fitToPage:
        wide = 1 if setup.fitToWidth is None else setup.fitToWidth
        tall = 1 if setup.fitToHeight is None else setup.fitToHeight
        parts.append("fit=%sx%s" % (wide, tall))
    if setup.scale:
        parts.append("scale=%s" % setup.scale)
    if ws.print_title_rows:
        parts.append("titles=" + ws.print_title_rows)
    if ws.print_area:
        area = ws.print_area if isinstance(ws.print_area, str) else ",".join(ws.print_area)
        parts.append("area=" + area.split("!")[-1])
    if ws.print_options.horizontalCentered:
        parts.append("center=horizontal")
    out.append("%s!print\t%s" % (ws.title, " ".join(parts)))
    footer = ws.oddFooter
    parts = ["%s=%s" % (name, escape(part.text)) for name, part in
             (("left", footer.left), ("center", footer.center), ("right", footer.right)) if part.text]
    if parts:
        out.append("%s!footer\t%s" % (ws.title, " | ".join(parts)))

    m = ws.page_margins
    out.append("%s!margins\tleft=%s right=%s top=%s bottom=%s header=%s footer=%s" % (
        ws.title, inches(m.left), inches(m.right), inches(m.top), inches(m.bottom), inches(m.header),
        inches(m.footer)))

    columns = {}
    for dim in ws.column_dimensions.values():
        if dim.min is None:
            continue
        for col in range(dim.min, (dim.max or dim.min) + 1):
            columns[col] = dim
    for col in sorted(columns):
        dim = columns[col]
        parts = []
        if dim.width:
            parts.append("width=" + column_width(dim.width))
        style = styles(dim)
        if style:
            parts.append(style)
        if parts:
            out.append("%s!col:%s\t%s" % (ws.title, get_column_letter(col), " ".join(parts)))


def main(argv):
    args = [a for a in argv if not a.startswith("--")]
    flags = {a for a in argv if a.startswith("--")}
    unknown = flags - {"--styles", "--setup"}
    if len(args) != 1 or unknown:
        sys.stderr.write("usage: xlsx_dump.py [--styles] [--setup] FILE\n")
        return 2
    book = openpyxl.load_workbook(args[0])
    values = openpyxl.load_workbook(args[0], data_only=True)
    out = ["#sheets " + ",".join(book.sheetnames), "#active " + book.active.title]
    if "--setup" in flags and (book.properties.title or book.properties.subject):
        out.append("#properties\ttitle=%s | subject=%s" % (escape(book.properties.title or ""),
                                                            escape(book.properties.subject or "")))
    for ws in book.worksheets:
        dump_cells(ws, values[ws.title], "--styles" in flags, out)
        if "--setup" in flags:
            dump_setup(ws, out)
    sys.stdout.write("\n".join(out) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
