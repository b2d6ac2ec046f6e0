#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""Checks that the results stored with the formulas of saved workbooks are what LibreOffice computes.

    lo_recalc_check.py [--soffice PATH] [--timeout SECONDS] FILE.xlsx...

LibreOffice does not recalculate .xlsx formulas on load by default, so its users see the stored
results. Here it runs headless with a private profile whose OOXMLRecalcMode is 0 (always
recalculate), converts each FILE to .xlsx, and every formula cell's stored result in FILE is
compared with LibreOffice's (openpyxl reads both). A copy of the first file with one stored
result falsified goes through the same run: LibreOffice must put the right value back, which
proves that it really recalculated.

Exit status: 0 all equal, 1 differences (listed), 2 usage or run failure, 77 soffice not found.
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import zipfile

import openpyxl

CANARY_VALUE = "987654.125"

RECALC_ALWAYS = """<?xml version="1.0" encoding="UTF-8"?>
<oor:items xmlns:oor="http://openoffice.org/2001/registry" xmlns:xs="http://www.w3.org/2001/XMLSchema" \
xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance">
<item oor:path="/org.openoffice.Office.Calc/Formula/Load"><prop oor:name="OOXMLRecalcMode" oor:op="fuse">\
<value>0</value></prop></item>
<item oor:path="/org.openoffice.Office.Calc/Formula/Load"><prop oor:name="ODFRecalcMode" oor:op="fuse">\
<value>0</value></prop></item>
</oor:items>
"""

FORMULA_WITH_NUMBER = re.compile(rb'(<c r="([A-Z]+[0-9]+)"[^>]*><f>[^<]*</f><v>)([-0-9.E+]+)(</v>)')


def find_soffice(explicit):
    if explicit:
        return explicit if os.access(explicit, os.X_OK) else None
    return shutil.which("soffice") or shutil.which("libreoffice")


def make_canary(source, target):
    """Copy of `source` with the first numeric stored formula result falsified; returns
    (sheet part, cell) or None when the workbook has no such formula."""
    found = None
    with zipfile.ZipFile(source) as zin, zipfile.ZipFile(target, "w", zipfile.ZIP_DEFLATED) as zout:
        for item in zin.infolist():
            data = zin.read(item.filename)
            if found is None and item.filename.startswith("xl/worksheets/sheet"):
                match = FORMULA_WITH_NUMBER.search(data)
                if match:
                    found = (item.filename, match.group(2).decode())
                    data = data[:match.start(3)] + CANARY_VALUE.encode() + data[match.end(3):]
            zout.writestr(item, data)
    return found


def formula_cells(path):
    """{(sheet, cell): stored result} for every formula cell."""
    formulas = openpyxl.load_workbook(path)
    values = openpyxl.load_workbook(path, data_only=True)
    cells = {}
    for ws in formulas.worksheets:
        for (row, col), cell in ws._cells.items():
            if cell.data_type == "f":
                cells[(ws.title, cell.coordinate)] = values[ws.title].cell(row=row, column=col).value
    return cells


def recalculated_values(path):
    values = openpyxl.load_workbook(path, data_only=True)
    return {ws.title: ws for ws in values.worksheets}


def same(ours, theirs):
    if isinstance(ours, (int, float)) and isinstance(theirs, (int, float)):
        return abs(float(ours) - float(theirs)) <= 1e-9 * max(1.0, abs(float(ours)))
    return ours == theirs


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--soffice")
    parser.add_argument("--timeout", type=int, default=300)
    parser.add_argument("files", nargs="+")
    args = parser.parse_args(argv)

    soffice = find_soffice(args.soffice)
    if not soffice:
        print("soffice not found: LibreOffice check skipped")
        return 77

    work = tempfile.mkdtemp(prefix="bremora-lo-")
    try:
        profile = os.path.join(work, "profile")
        os.makedirs(os.path.join(profile, "user"))
        with open(os.path.join(profile, "user", "registrymodifications.xcu"), "w") as f:
            f.write(RECALC_ALWAYS)
        inputs = []
        for i, path in enumerate(args.files):
            copy = os.path.join(work, "in%d.xlsx" % i)
            shutil.copyfile(path, copy)
            inputs.append(copy)
        canary_path = os.path.join(work, "canary.xlsx")
        canary = make_canary(inputs[0], canary_path)
        if canary:
            inputs.append(canary_path)
        outdir = os.path.join(work, "out")
        command = [soffice, "-env:UserInstallation=file://" + profile, "--headless", "--norestore",
                   "--nolockcheck", "--convert-to", "xlsx", "--outdir", outdir] + inputs
        try:
            run = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=args.timeout,
                                 env=dict(os.environ, HOME=work))
        except subprocess.TimeoutExpired:
            print("LibreOffice did not finish within %d s" % args.timeout)
            return 2
        converted = [os.path.join(outdir, os.path.basename(p)) for p in inputs]
        missing = [p for p in converted if not os.path.exists(p)]
        if missing:
            print("LibreOffice wrote no result for %s:\n%s" % (", ".join(missing), run.stdout.decode(errors="replace")))
            return 2

        status = 0
        if canary:
            sheet_part, cell = canary
            ours = formula_cells(inputs[0])
            recalculated = recalculated_values(converted[-1])
            # Our writer names the parts after the sheets' positions: sheet1.xml is the first tab.
            index = int(re.search(r"sheet(\d+)\.xml", sheet_part).group(1)) - 1
            title = openpyxl.load_workbook(inputs[0], read_only=True).sheetnames[index]
            got = recalculated[title][cell].value
            if not same(ours[(title, cell)], got) or same(got, float(CANARY_VALUE)):
                print("LibreOffice did not recalculate: %s!%s kept the falsified result %s" % (title, cell, got))
                status = 1

        for path, result in zip(args.files, converted):
            ours = formula_cells(path)
            recalculated = recalculated_values(result)
            differences = 0
            for (title, cell), value in sorted(ours.items()):
                theirs = recalculated[title][cell].value
                if not same(value, theirs):
                    differences += 1
                    if differences <= 20:
                        print("%s: %s!%s stored %r, LibreOffice %r" % (path, title, cell, value, theirs))
            print("%s: %d formula cells compared, %d differ" % (path, len(ours), differences))
            if differences:
                status = 1
        return status
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
