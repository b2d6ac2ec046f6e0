#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""Prices a workbook converted by Bremora as an estimator would, for the tests of the bid.

    price_workbook.py IN.xlsx OUT.xlsx [--libreoffice] [--seed N] [--soffice PATH]
                      [--leer OZ] [--text OZ] [--null OZ] [--negativ OZ] [--loeschen OZ] [--fremd OZ]
                      [--ohne-positionsteil]

Every item row of "Positionsteil" (an OZ in column A below the caption row "Ordnungszahl") gets a
unit price, generated from the seed with two or three decimals: where the workbook has calculation
columns ("Basispreis" G and "Faktor" H) into G, the unit price then being E = ROUND(G*H,2), which
is what the estimator sees and what the bid must carry; else into "E-Preis" (E). Surcharge rows
(unit "%") get a rate instead; an item without quantity (left to the bidder) gets one in C.
openpyxl writes the file (formulas kept, their results dropped).

With --libreoffice the priced file is re-saved by headless LibreOffice Calc with a private profile
that recalculates every formula on load, so that shared strings and the stored results of the
formulas are LibreOffice's. Damage for the error tests: --leer leaves the price cell empty,
--text writes a text into it, --null 0, --negativ a negative price, --loeschen deletes the item's
row, --fremd adds a row with an OZ the tender lacks, --ohne-positionsteil renames the sheet.

Prints JSON: {"items": [[OZ, unit price, total or null], ...], "total": total row or null}, the
values as the saved file stores them (without --libreoffice the totals are null: openpyxl computes
nothing). Exit status 77 when --libreoffice is asked for and LibreOffice cannot be found.
"""

import argparse
import json
import os
import random
import shutil
import subprocess
import sys
import tempfile

import openpyxl

RECALC_ALWAYS = """<?xml version="1.0" encoding="UTF-8"?>
<oor:items xmlns:oor="http://openoffice.org/2001/registry" xmlns:xs="http://www.w3.org/2001/XMLSchema" \
xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance">
<item oor:path="/org.openoffice.Office.Calc/Formula/Load"><prop oor:name="OOXMLRecalcMode" oor:op="fuse">\
<value>0</value></prop></item>
</oor:items>
"""


def layout(ws):
    """(caption row, {caption: column}) of Positionsteil."""
    for row in ws.iter_rows(min_row=1, max_row=min(ws.max_row, 50)):
        captions = {c.value: c.column for c in row if isinstance(c.value, str)}
        if "Ordnungszahl" in captions:
            return row[0].row, captions
    raise SystemExit("no caption row \"Ordnungszahl\" in Positionsteil")


def item_rows(ws, caption_row, oz_col):
    for r in range(caption_row + 1, ws.max_row + 1):
        oz = ws.cell(row=r, column=oz_col).value
        if isinstance(oz, str) and oz.strip():
            yield r, oz.strip()


def libreoffice_resave(source, target, soffice):
    work = tempfile.mkdtemp(prefix="bremora-price-")
    try:
        os.makedirs(os.path.join(work, "profile", "user"))
        with open(os.path.join(work, "profile", "user", "registrymodifications.xcu"), "w") as f:
            f.write(RECALC_ALWAYS)
        out = os.path.join(work, "out")
        os.makedirs(out)
        subprocess.run(
            [soffice, "-env:UserInstallation=file://" + os.path.join(work, "profile"), "--headless", "--norestore",
             "--nolockcheck", "--convert-to", "xlsx", "--outdir", out, source],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=dict(os.environ, HOME=work), timeout=600,
            check=True)
        shutil.move(os.path.join(out, os.path.basename(source)), target)
    finally:
        shutil.rmtree(work, ignore_errors=True)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("source")
    parser.add_argument("target")
    parser.add_argument("--libreoffice", action="store_true")
    parser.add_argument("--soffice")
    parser.add_argument("--seed", type=int, default=17)
    for damage in ("leer", "text", "null", "negativ", "loeschen", "fremd"):
        parser.add_argument("--" + damage, action="append", default=[])
    parser.add_argument("--ohne-positionsteil", action="store_true")
    args = parser.parse_args(argv)

    soffice = None
    if args.libreoffice:
        soffice = args.soffice or shutil.which("soffice") or shutil.which("libreoffice")
        if not soffice:
            print("soffice not found", file=sys.stderr)
            return 77

    rng = random.Random(args.seed)
    wb = openpyxl.load_workbook(args.source)
    ws = wb["Positionsteil"]
    caption_row, captions = layout(ws)
    oz_col = captions["Ordnungszahl"]
    unit_col = captions.get("ME", 4)
    price_col = captions.get("Basispreis", captions.get("E-Preis", 5))
    deleted = []
    for r, oz in item_rows(ws, caption_row, oz_col):
        surcharge = ws.cell(row=r, column=unit_col).value == "%"
        decimals = rng.choice((2, 2, 3))
        price = round(rng.uniform(0.5, 20.0) if surcharge else rng.uniform(0.5, 2500.0), decimals)
        # An item whose quantity the tender leaves to the bidder gets one.
        quantity = ws.cell(row=r, column=captions.get("Menge", 3))
        if not surcharge and quantity.value is None:
            quantity.value = round(rng.uniform(1.0, 50.0), 1)
        cell = ws.cell(row=r, column=price_col)
        if oz in args.leer:
            cell.value = None
        elif oz in args.text:
            cell.value = "auf Anfrage"
        elif oz in args.null:
            cell.value = 0
        elif oz in args.negativ:
            cell.value = -price
        else:
            cell.value = price
        if oz in args.loeschen:
            deleted.append(r)
    for r in reversed(deleted):
        ws.delete_rows(r)
    for oz in args.fremd:
        r = ws.max_row + 2
        ws.cell(row=r, column=oz_col).value = oz
        ws.cell(row=r, column=price_col).value = 10
    if args.ohne_positionsteil:
        ws.title = "Kalkulation"

    if args.libreoffice:
        priced = args.target + ".openpyxl.xlsx"
        wb.save(priced)
        libreoffice_resave(priced, args.target, soffice)
        os.remove(priced)
    else:
        wb.save(args.target)

    # The values as the saved file holds them.
    values = openpyxl.load_workbook(args.target, data_only=True)
    ws = values[values.sheetnames[0]] if args.ohne_positionsteil else values["Positionsteil"]
    caption_row, captions = layout(ws)
    e_col, f_col = captions.get("E-Preis", 5), captions.get("G-Preis", 6)
    items = [[oz, ws.cell(row=r, column=e_col).value, ws.cell(row=r, column=f_col).value]
             for r, oz in item_rows(ws, caption_row, oz_col)]
    total = None
    for r in range(caption_row + 1, ws.max_row + 1):
        label = ws.cell(row=r, column=2).value
        if isinstance(label, str) and label.startswith("Summe") and ws.cell(row=r, column=oz_col).value is None:
            total = ws.cell(row=r, column=f_col).value
    json.dump({"items": items, "total": total}, sys.stdout)
    print()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
