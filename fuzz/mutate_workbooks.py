#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""Mutation run of the bid: priced workbooks damaged in many ways, each given to the console program.

    mutate_workbooks.py --cli BUILD/bremora-cli [--count N] [--jobs J] [--seed S] [--work DIR]
                        [--findings DIR] [--samples DIR] [--no-libreoffice]

Real priced workbooks are made first: the test tenders (and the real bills of phase 81/83 in
--samples, when given) are converted with and without calculation columns and priced by
tests/angebot/price_workbook.py, through openpyxl and, unless --no-libreoffice, re-saved by
LibreOffice Calc. Then N workbooks are made from them, each by one kind of damage:

  bytes    bytes of the .xlsx flipped, inserted, deleted, duplicated, or the file cut off
  zip      entries of the archive duplicated (also with other contents), renamed to other letter
           case, dropped, added, emptied, swapped, reordered or stored uncompressed
  xml      the text of a part: spans deleted or repeated, attributes changed, markup, entities,
           control characters and other encodings put in
  numbers  number texts of the sheet replaced by numbers no bid can carry (subnormal, out of the
           double's range, inf, nan), by very large prices and rates, by other forms and by error
           values; formulas of E turned into others

and the bid is made of each (`--angebot TENDER WORKBOOK -o bid.x84`, every third with
--unvollstaendig). Run it with a sanitizer build (ASAN_OPTIONS and UBSAN_OPTIONS are set so that
every report ends the run): a run passes when it ends with an exit status of the documented set
(0 to 5) and without a sanitizer report, when a bid exists exactly after 0 and 3 and is then
well-formed DA XML of phase 84, and when nothing else is left in its folder. Failing inputs and
their messages are kept in --findings. Exit status: 0 every run passed, 1 findings, 2 usage.
"""

import argparse
import collections
import concurrent.futures
import io
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET
import warnings
import zipfile

warnings.simplefilter("ignore")

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
DATA = os.path.join(ROOT, "tests", "data")
PRICE = os.path.join(ROOT, "tests", "angebot", "price_workbook.py")
TENDERS = ["angebot/ausschreibung.x83", "angebot/positionsarten.d83", "gaebxml/zuschlaege.x83",
           "gaeb2000/bereiche_zwei_ebenen.p83"]

HOSTILE_NUMBERS = [
    "1e-310", "-1e-310", "4.9e-324", "2.2250738585072014e-308", "2.225073858507201e-308", "1e-400", "1E+400",
    "-1e400", "1.7976931348623157e308", "1.8e308", "inf", "-inf", "nan", "NaN", "infinity", "-0", "0",
    "99999999999", "99999999999.999", "-99999999999", "1e11", "9999999999999.99", "1e13", "1e15", "1e17",
    "9.2233720368547758e16", "92233720368547758.08", "977779778313211.2", "0.0005", "0.0001", "1e-300",
    "12.3456", "+12.5", "+-12.5", "1,5", " 12 ", "12 ", "0x10", "1e", "e5", ".5", "5.", "--1", "", "1.5E+2",
    "00012.500", "1_000",
]
ERRORS = ["#VALUE!", "#DIV/0!", "#N/A", "#NAME?", "#REF!", "#NUM!", "#NULL!", "#GETTING_DATA", "Err:502"]
FORMULAS = ["ROUND($G${r}*$H${r},2)", "G{r}*H{r}", "ROUND($G${r}*$H${r},3)", "ROUND(G{r}*H{r}*2,2)",
            "1/0", "ROUND($G${q}*$H${q},2)", "SUM(G{r}:H{r})", "", "ROUND(", "round( h{r} * g{r} ; 2 )"]
XML_SNIPPETS = ["<!DOCTYPE x [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;\">]>", "&b;", "&#0;", "&#xD800;",
                "<![CDATA[</row>]]>", "<!-- </sheetData> -->", "<?pi x?>", "\x00", "\x01", "\xff", "&amp;",
                "<row r=\"0\">", "<row r=\"1048577\">", "<c r=\"E0\">", "<c r=\"XFE1\">", "<c r=\"A8\" t=\"s\"><v>999999</v></c>",
                "<x:c xmlns:x=\"urn:x\"/>", "</worksheet>", "<sheetData>", "\u202e", "\ufeff", "_x0000_", "_xD83D_"]


def run(command, **kwargs):
    return subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, **kwargs)


def phase_81_or_83(name):
    ext = os.path.splitext(name)[1].lower()
    return len(ext) == 4 and ext[2:] in ("81", "83")


def prepare(cli, work, samples, libreoffice, rng):
    """(tender, workbook) pairs of real priced workbooks."""
    tenders = [os.path.join(DATA, t) for t in TENDERS]
    if samples and os.path.isdir(samples):
        found = sorted(os.path.join(dp, f) for dp, _, fs in os.walk(samples) for f in fs if phase_81_or_83(f))
        rng.shuffle(found)
        tenders += found[:8]
    pairs = []
    for n, tender in enumerate(tenders):
        for calc in (True, False):
            folder = os.path.join(work, "basis", "%02d%s" % (n, "k" if calc else "e"))
            os.makedirs(folder, exist_ok=True)
            converted = os.path.join(folder, "lv.xlsx")
            args = [cli] + ([] if calc else ["--ohne-kalkulationsspalten"]) + [tender, "-o", converted]
            if run(args, env=sanitizer_env()).returncode != 0:
                continue
            for lo in ((False, True) if libreoffice and n < 4 else (False,)):
                priced = os.path.join(folder, "kalkuliert%s.xlsx" % ("_lo" if lo else ""))
                args = ["/usr/bin/python3", PRICE, converted, priced, "--seed", str(n)] + (["--libreoffice"] if lo else [])
                if run(args).returncode == 0:
                    pairs.append((tender, priced))
    return pairs


def sanitizer_env():
    env = dict(os.environ)
    env["ASAN_OPTIONS"] = "detect_leaks=1:abort_on_error=1"
    env["UBSAN_OPTIONS"] = "print_stacktrace=1:halt_on_error=1"
    return env


def read_parts(data):
    with zipfile.ZipFile(io.BytesIO(data)) as z:
        return [(i, z.read(i.filename)) for i in z.infolist()]


def write_parts(parts):
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w") as z:
        for info, data in parts:
            z.writestr(info, data)
    return out.getvalue()


def clone(info, name=None, compress=None):
    new = zipfile.ZipInfo(name if name is not None else info.filename, date_time=info.date_time)
    new.compress_type = info.compress_type if compress is None else compress
    return new


def mutate_bytes(data, rng):
    b = bytearray(data)
    for _ in range(rng.randint(1, 8)):
        op = rng.randrange(6)
        at = rng.randrange(len(b)) if b else 0
        if op == 0 and b:
            b[at] ^= 1 << rng.randrange(8)
        elif op == 1:
            b[at:at] = bytes(rng.randrange(256) for _ in range(rng.randint(1, 16)))
        elif op == 2 and b:
            del b[at:at + rng.randint(1, 64)]
        elif op == 3 and b:
            b[at:at] = b[at:at + rng.randint(1, 256)]
        elif op == 4 and b:
            b[at] = rng.choice([0, 0xFF, 0x7F, 0x80])
        elif op == 5 and b:
            del b[rng.randrange(len(b) // 2, len(b)):]
    return bytes(b)


def mutate_zip(data, rng):
    parts = read_parts(data)
    for _ in range(rng.randint(1, 3)):
        op = rng.randrange(9)
        k = rng.randrange(len(parts))
        info, part = parts[k]
        if op == 0:  # the same name twice, the copy changed or not
            copy = part if rng.random() < 0.5 else mutate_numbers(part, rng) if info.filename.endswith(".xml") else part[::-1]
            parts.insert(rng.randrange(len(parts) + 1), (clone(info), copy))
        elif op == 1:  # another letter case, as a second entry or instead
            name = "".join(c.upper() if rng.random() < 0.5 else c.lower() for c in info.filename)
            if rng.random() < 0.5:
                parts.append((clone(info, name), part))
            else:
                parts[k] = (clone(info, name), part)
        elif op == 2 and len(parts) > 1:
            del parts[k]
        elif op == 3:
            name = rng.choice(["mimetype", "xl/worksheets/sheet2.xml", "xl/sharedStrings.xml", "../../x.xml",
                               "/xl/workbook.xml", "xl\\workbook.xml", "xl/worksheets/sheet1.xml/"])
            parts.append((zipfile.ZipInfo(name), rng.choice([b"", b"<x/>", b"application/vnd.oasis.opendocument.spreadsheet", part])))
        elif op == 4:
            parts[k] = (clone(info), b"")
        elif op == 5 and len(parts) > 1:
            j = rng.randrange(len(parts))
            parts[k], parts[j] = (clone(info), parts[j][1]), (clone(parts[j][0]), part)
        elif op == 6:
            rng.shuffle(parts)
        elif op == 7:
            parts[k] = (clone(info, compress=rng.choice([zipfile.ZIP_STORED, zipfile.ZIP_DEFLATED, zipfile.ZIP_BZIP2])), part)
        elif op == 8:
            parts[k] = (clone(info), part[:rng.randrange(len(part) + 1)])
    return write_parts(parts)


def mutate_text(text, rng):
    for _ in range(rng.randint(1, 4)):
        op = rng.randrange(7)
        at = rng.randrange(len(text) + 1)
        if op == 0:
            text = text[:at] + text[at + rng.randint(1, 80):]
        elif op == 1:
            text = text[:at] + text[at:at + rng.randint(1, 400)] + text[at:]
        elif op == 2:
            text = text[:at] + rng.choice(XML_SNIPPETS) + text[at:]
        elif op == 3:
            attrs = list(re.finditer(r'(\w+)="([^"]*)"', text))
            if attrs:
                m = rng.choice(attrs)
                value = rng.choice(["", "0", "-1", "E0", "AAAA1", "XFD1048576", "s", "e", "b", "str", "inlineStr",
                                    "rId999", "rId7", "/xl/workbook.xml", "../x", m.group(2) * 3, "1048577", "Positionsteil"])
                text = text[:m.start(2)] + value + text[m.end(2):]
        elif op == 4:
            tags = list(re.finditer(r"<[^>]{1,60}>", text))
            if len(tags) > 1:
                a, b = rng.sample(tags, 2)
                if a.start() > b.start():
                    a, b = b, a
                text = text[:a.start()] + b.group(0) + text[a.end():b.start()] + a.group(0) + text[b.end():]
        elif op == 5:
            text = text[:at]
        elif op == 6:
            text = text.replace("UTF-8", rng.choice(["UTF-16", "ISO-8859-1", "latin1", "EBCDIC"]), 1)
    return text


def mutate_numbers(data, rng):
    text = data.decode("utf-8", "replace")
    values = list(re.finditer(r"<v>([^<]*)</v>", text))
    for _ in range(rng.randint(1, 6)):
        if not values:
            break
        m = rng.choice(values)
        old = m.group(1)
        kind = rng.randrange(5)
        if kind == 0:
            new = rng.choice(HOSTILE_NUMBERS)
        elif kind == 1:
            try:
                new = repr(float(old) * 10.0 ** rng.randint(-300, 300))
            except (ValueError, OverflowError):
                new = rng.choice(HOSTILE_NUMBERS)
        elif kind == 2:
            new = old + rng.choice(["9" * rng.randint(1, 20), "e308", "e-308", "5", ".000000000001"])
        elif kind == 3:
            new = rng.choice(ERRORS)
        else:
            new = "-" + old
        text = text[:m.start(1)] + new + text[m.end(1):]
        values = list(re.finditer(r"<v>([^<]*)</v>", text))
    if rng.random() < 0.3:  # error cells, other cell types
        cells = list(re.finditer(r'<c r="([A-Z]+)(\d+)"([^>]*)>', text))
        if cells:
            m = rng.choice(cells)
            t = rng.choice([' t="e"', ' t="b"', ' t="str"', ' t="s"', ' t="n"', ' t="d"', ""])
            text = text[:m.start(3)] + re.sub(r'\s*t="[^"]*"', "", m.group(3)) + t + text[m.end(3):]
    if rng.random() < 0.3:  # other formulas in E
        forms = list(re.finditer(r'<c r="E(\d+)"([^>]*)><f>([^<]*)</f>', text))
        if forms:
            m = rng.choice(forms)
            row = int(m.group(1))
            formula = rng.choice(FORMULAS).format(r=row, q=row + 1)
            text = text[:m.start(3)] + formula + text[m.end(3):]
    return text.encode("utf-8")


def mutate_parts(data, rng, numbers):
    parts = read_parts(data)
    names = [i.filename for i, _ in parts]
    sheets = [k for k, n in enumerate(names) if "worksheets/" in n]
    xmlish = [k for k, n in enumerate(names) if n.endswith(".xml") or n.endswith(".rels")]
    if numbers:
        k = rng.choice(sheets or xmlish)
        parts[k] = (parts[k][0], mutate_numbers(parts[k][1], rng))
    else:
        k = rng.choice(sheets + xmlish if rng.random() < 0.5 else xmlish)
        text = parts[k][1].decode("utf-8", "replace")
        parts[k] = (parts[k][0], mutate_text(text, rng).encode("utf-8", "surrogatepass"))
    return write_parts(parts)


def mutate(data, kind, rng):
    if kind == "bytes":
        return mutate_bytes(data, rng)
    if kind == "zip":
        return mutate_zip(data, rng)
    return mutate_parts(data, rng, kind == "numbers")


def check(cli, tender, workbook_bytes, incomplete, folder):
    """(exit status, failure text or None)."""
    os.makedirs(folder)
    workbook = os.path.join(folder, "kalkuliert.xlsx")
    with open(workbook, "wb") as f:
        f.write(workbook_bytes)
    args = [cli, "--angebot", tender, workbook, "-o", os.path.join(folder, "angebot.x84")]
    if incomplete:
        args.append("--unvollstaendig")
    try:
        r = run(args, env=dict(sanitizer_env(), TMPDIR=folder), timeout=120, cwd=folder)
    except subprocess.TimeoutExpired:
        return -1, "timeout"
    err = r.stderr.decode("utf-8", "replace")
    status = r.returncode
    if status < 0 or status > 5:
        return status, "exit status %d\n%s" % (status, err[-4000:])
    for report in ("runtime error", "AddressSanitizer", "LeakSanitizer", "terminate called", "Assertion"):
        if report in err:
            return status, "sanitizer report\n" + err[-4000:]
    bid = os.path.join(folder, "angebot.x84")
    left = sorted(set(os.listdir(folder)) - {"kalkuliert.xlsx", "angebot.x84"})
    if left:
        return status, "left behind: %s" % left
    if status in (0, 3):
        if not os.path.exists(bid):
            return status, "no bid after %d\n%s" % (status, err[-2000:])
        try:
            root = ET.parse(bid).getroot()
            if root.find("{*}Award/{*}DP").text != "84":
                return status, "bid not of phase 84"
        except Exception as e:  # noqa: BLE001
            return status, "bid not well-formed: %s" % e
    elif os.path.exists(bid):
        return status, "a bid after exit status %d" % status
    if status == 5:
        return status, "exit status 5 for a single bid\n" + err[-2000:]
    return status, None


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cli", required=True)
    parser.add_argument("--count", type=int, default=10000)
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--seed", type=int, default=25)
    parser.add_argument("--work")
    parser.add_argument("--findings")
    parser.add_argument("--samples", default=os.path.join(ROOT, "..", "shared", "samples"))
    parser.add_argument("--no-libreoffice", action="store_true")
    args = parser.parse_args(argv)
    if not os.access(args.cli, os.X_OK):
        print("%s: no program" % args.cli)
        return 2
    cli = os.path.abspath(args.cli)
    rng = random.Random(args.seed)
    work = args.work or tempfile.mkdtemp(prefix="bremora-mutation-")
    findings = args.findings or os.path.join(work, "findings")
    os.makedirs(findings, exist_ok=True)
    libreoffice = not args.no_libreoffice and shutil.which("soffice") is not None
    pairs = prepare(cli, work, args.samples, libreoffice, rng)
    if not pairs:
        print("no priced workbook could be made")
        return 2
    print("%d priced workbooks from %d tenders" % (len(pairs), len({t for t, _ in pairs})), flush=True)
    bases = [(tender, open(priced, "rb").read()) for tender, priced in pairs]

    kinds = ["bytes", "zip", "xml", "numbers"]
    jobs = []
    for n in range(args.count):
        tender, data = bases[n % len(bases)]
        kind = kinds[n % len(kinds)]
        local = random.Random(rng.getrandbits(64))
        jobs.append((n, tender, kind, mutate(data, kind, local), n % 3 == 0))

    statuses = collections.Counter()
    by_kind = collections.defaultdict(collections.Counter)
    failures = 0
    runs = os.path.join(work, "runs")

    def one(job):
        n, tender, kind, data, incomplete = job
        folder = os.path.join(runs, "%05d" % n)
        status, failure = check(cli, tender, data, incomplete, folder)
        if failure is None:
            shutil.rmtree(folder, ignore_errors=True)
        return n, tender, kind, data, status, failure

    with concurrent.futures.ThreadPoolExecutor(args.jobs) as pool:
        for done, (n, tender, kind, data, status, failure) in enumerate(pool.map(one, jobs), 1):
            statuses[status] += 1
            by_kind[kind][status] += 1
            if failure:
                failures += 1
                base = os.path.join(findings, "%05d-%s" % (n, kind))
                with open(base + ".xlsx", "wb") as f:
                    f.write(data)
                with open(base + ".txt", "w") as f:
                    f.write("tender: %s\n%s\n" % (tender, failure))
                print("FINDING %05d (%s): %s" % (n, kind, failure.splitlines()[0]), flush=True)
            if done % 500 == 0:
                print("%d of %d run, %d findings" % (done, len(jobs), failures), flush=True)

    print("\n%d workbooks, %d findings" % (len(jobs), failures))
    print("exit status: " + ", ".join("%s: %d" % (s, c) for s, c in sorted(statuses.items())))
    for kind in kinds:
        print("  %-8s %s" % (kind, ", ".join("%s: %d" % (s, c) for s, c in sorted(by_kind[kind].items()))))
    if failures:
        print("findings in " + findings)
    elif not args.work:
        shutil.rmtree(work, ignore_errors=True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
