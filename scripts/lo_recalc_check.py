#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""Checks that the results stored with the formulas of saved workbooks are exactly what LibreOffice computes.

    lo_recalc_check.py [--soffice PATH] [--timeout SECONDS] FILE.xlsx...

LibreOffice runs headless with a private profile whose OOXMLRecalcMode is 0 (always recalculate)
and is driven through its UNO bridge (python3-uno): each FILE is loaded, every formula is
recalculated, and LibreOffice's result of every formula cell, read as the double it holds, is
compared exactly (no tolerance) with the result stored in FILE (openpyxl reads it). LibreOffice's
own .xlsx export, like its cells on screen, keeps only 15 significant digits (ROUND of
977779778313211.2 to 2 places shows as 977779778313211 while the cell holds 977779778313211.25),
which is why the values are not read from a file it writes. A copy of the first file with one stored result falsified goes through the same
run: LibreOffice must give the right value, which proves that it really recalculated.

Exit status: 0 all equal, 1 differences (listed), 2 usage or run failure, 77 soffice or the UNO
bridge not found.
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
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

FORMULA_WITH_NUMBER = re.compile(rb'(<c r="([A-Z]+[0-9]+)"[^>]*><f>[^<]*</f><v>)([-0-9.eE+]+)(</v>)')


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
    """{sheet: {(row, column): stored result}} for every formula cell, rows and columns 1-based."""
    formulas = openpyxl.load_workbook(path)
    values = openpyxl.load_workbook(path, data_only=True)
    cells = {}
    for ws in formulas.worksheets:
        sheet = cells.setdefault(ws.title, {})
        for (row, col), cell in ws._cells.items():
            if cell.data_type == "f":
                sheet[(row, col)] = values[ws.title].cell(row=row, column=col).value
    return cells


class Office:
    """A headless LibreOffice reached through a named pipe."""

    def __init__(self, soffice, work, timeout):
        import uno  # noqa: F401  (python3-uno)

        self.pipe = "bremora_lo_%d" % os.getpid()
        self.process = subprocess.Popen(
            [soffice, "-env:UserInstallation=file://" + os.path.join(work, "profile"), "--headless",
             "--norestore", "--nolockcheck", "--nodefault", "--accept=pipe,name=%s;urp;" % self.pipe],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=dict(os.environ, HOME=work))
        local = uno.getComponentContext()
        resolver = local.ServiceManager.createInstanceWithContext("com.sun.star.bridge.UnoUrlResolver", local)
        deadline = time.monotonic() + timeout
        while True:
            try:
                context = resolver.resolve("uno:pipe,name=%s;urp;StarOffice.ComponentContext" % self.pipe)
                break
            except Exception:
                if time.monotonic() > deadline or self.process.poll() is not None:
                    self.close()
                    raise RuntimeError("LibreOffice did not answer within %d s" % timeout)
                time.sleep(0.2)
        self.desktop = context.ServiceManager.createInstanceWithContext("com.sun.star.frame.Desktop", context)

    def results(self, path, wanted):
        """LibreOffice's recalculated result of each wanted cell: a float, or the error text."""
        import uno
        from com.sun.star.beans import PropertyValue

        hidden = PropertyValue()
        hidden.Name, hidden.Value = "Hidden", True
        doc = self.desktop.loadComponentFromURL(uno.systemPathToFileUrl(os.path.abspath(path)), "_blank", 0,
                                                (hidden,))
        try:
            doc.calculateAll()
            out = {}
            for title, cells in wanted.items():
                if not cells:
                    continue
                sheet = doc.Sheets.getByName(title)
                last_row = max(r for r, _ in cells)
                last_col = max(c for _, c in cells)
                data = sheet.getCellRangeByPosition(0, 0, last_col - 1, last_row - 1).getDataArray()
                for (row, col) in cells:
                    value = data[row - 1][col - 1]
                    if not isinstance(value, float):
                        cell = sheet.getCellByPosition(col - 1, row - 1)
                        value = cell.getString() if cell.getError() else value
                    out[(title, row, col)] = value
            return out
        finally:
            doc.close(True)

    def close(self):
        try:
            self.desktop.terminate()
        except Exception:
            pass
        try:
            self.process.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()


def same(ours, theirs):
    if isinstance(ours, (int, float)) and not isinstance(ours, bool) and isinstance(theirs, float):
        return float(ours) == theirs
    return ours == theirs


def coordinate(row, col):
    return openpyxl.utils.get_column_letter(col) + str(row)


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
    try:
        import uno  # noqa: F401
    except ImportError:
        print("python3-uno not found: LibreOffice check skipped")
        return 77

    work = tempfile.mkdtemp(prefix="bremora-lo-")
    office = None
    try:
        os.makedirs(os.path.join(work, "profile", "user"))
        with open(os.path.join(work, "profile", "user", "registrymodifications.xcu"), "w") as f:
            f.write(RECALC_ALWAYS)
        try:
            office = Office(soffice, work, args.timeout)
        except RuntimeError as e:
            print(e)
            return 2

        status = 0
        canary_path = os.path.join(work, "canary.xlsx")
        canary = make_canary(args.files[0], canary_path)
        if canary:
            sheet_part, cell = canary
            # Our writer names the parts after the sheets' positions: sheet1.xml is the first tab.
            index = int(re.search(r"sheet(\d+)\.xml", sheet_part).group(1)) - 1
            title = openpyxl.load_workbook(args.files[0], read_only=True).sheetnames[index]
            col, row = openpyxl.utils.cell.coordinate_from_string(cell)
            col = openpyxl.utils.column_index_from_string(col)
            ours = formula_cells(args.files[0])[title][(row, col)]
            got = office.results(canary_path, {title: [(row, col)]})[(title, row, col)]
            if not same(ours, got) or got == float(CANARY_VALUE):
                print("LibreOffice did not recalculate: %s!%s kept the falsified result %s" % (title, cell, got))
                status = 1

        for path in args.files:
            ours = formula_cells(path)
            theirs = office.results(path, {title: list(cells) for title, cells in ours.items()})
            compared = differences = 0
            for title, cells in ours.items():
                for (row, col), value in sorted(cells.items()):
                    compared += 1
                    got = theirs[(title, row, col)]
                    if not same(value, got):
                        differences += 1
                        if differences <= 20:
                            print("%s: %s!%s stored %r, LibreOffice %r" % (path, title, coordinate(row, col), value,
                                                                          got))
            print("%s: %d formula cells compared, %d differ" % (path, compared, differences))
            if differences:
                status = 1
        return status
    finally:
        if office:
            office.close()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
