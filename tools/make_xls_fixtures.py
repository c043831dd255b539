#!/usr/bin/python3
"""Writes the workbook test fixtures into tests/fixtures. Run by hand; the files it writes are
committed, so the tests need no generator.

    tools/make_xls_fixtures.py [FOLDER]          write every fixture, then check the new ones
    tools/make_xls_fixtures.py --check [FOLDER]  check the fixtures already in FOLDER
    tools/make_xls_fixtures.py --dump FILE...    print the sheets and cell records of workbooks

one_sheet.xls and three_sheets.xls are written with python3-xlwt. Most others are written as flat
OpenDocument spreadsheets holding every formula's cached result and turned into Excel 97 (BIFF8)
files by LibreOffice (soffice, from libreoffice-calc-nogui). LibreOffice no longer writes Excel 95
(BIFF5), and its BIFF8 files carry a text formula's result as the number 0, so excel95.xls and
formula_results.xls are written record by record here. LibreOffice also saves its workbooks
as .xlsx and .ods files of the same names, for the readers of those formats (not checked here). The check walks each file's compound
file and BIFF records (no .xls library) and compares them with what they were meant to hold,
then has LibreOffice read each file back into CSV, one file a sheet, and compares that too."""
import csv
import datetime
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
from xml.sax.saxutils import escape, quoteattr


def write_xlwt_fixtures(out):
    import xlwt

    date_style = xlwt.easyxf(num_format_str="yyyy-mm-dd")

    # One sheet: a header row, a text, a date and a number column, and empty cells.
    book = xlwt.Workbook(encoding="utf-8")
    sheet = book.add_sheet("Contacts")
    for col, name in enumerate(["Name", "Joined", "Amount", "Note"]):
        sheet.write(0, col, name)
    rows = [
        ("Zoë Ærø", datetime.date(2024, 2, 29), 1250.5, "first"),
        ("Ann Lee", datetime.date(1999, 12, 31), 42, None),
        ("Bob", None, None, "no date"),
    ]
    for r, (name, joined, amount, note) in enumerate(rows, start=1):
        sheet.write(r, 0, name)
        if joined is not None:
            sheet.write(r, 1, joined, date_style)
        if amount is not None:
            sheet.write(r, 2, amount)
        if note is not None:
            sheet.write(r, 3, note)
    book.save(os.path.join(out, "one_sheet.xls"))

    # Three sheets with non-ASCII names, in this order.
    book = xlwt.Workbook(encoding="utf-8")
    for index, name in enumerate(["Übersicht", "Clients été", "Données"]):
        sheet = book.add_sheet(name)
        sheet.write(0, 0, "Sheet")
        sheet.write(0, 1, "Row")
        sheet.write(1, 0, name)
        sheet.write(1, 1, index + 1)
    book.save(os.path.join(out, "three_sheets.xls"))


# ---------------------------------------------------------------------------------------------
# What the workbooks hold. A cell knows its cached value, the text a spreadsheet shows for it
# (what the CSV check expects) and, for a formula, the formula in OpenFormula syntax.

class Cell:
    def __init__(self, kind, value, shown, formula=None, style=None, span=1):
        self.kind, self.value, self.shown = kind, value, shown
        self.formula, self.style, self.span = formula, style, span


def text(s, formula=None, span=1):
    return Cell("text", s, s, formula, span=span)


def number(x, formula=None):
    return Cell("number", float(x), "%.15g" % x, formula)


def date(d, formula=None):
    return Cell("date", d, d.isoformat(), formula, "ceDate")


def clock(h, m):
    return Cell("time", datetime.time(h, m), "%02d:%02d" % (h, m), None, "ceTime")


def stamp(dt):
    return Cell("datetime", dt, dt.strftime("%Y-%m-%d %H:%M:%S"), None, "ceStamp")


def boolean(b, formula, shown=None):
    return Cell("bool", b, shown or ("TRUE" if b else "FALSE"), formula)


def error(code, formula):
    return Cell("error", code, code, formula)


def empty_text(formula):
    return Cell("empty-text", "", "", formula)


COVERED = Cell("covered", None, "")  # the second cell of a merged pair


class Sheet:
    def __init__(self, name, rows, visible=True):
        self.name, self.rows, self.visible = name, rows, visible


class Book:
    def __init__(self, file, biff, sheets, null_date=datetime.date(1899, 12, 30), by="soffice"):
        self.file, self.biff, self.sheets, self.null_date, self.by = \
            file, biff, sheets, null_date, by


def people_row(r, first, last, score, passed, ratio, joined, at, when, code):
    """One data row of the People sheet (r is its 1-based row number)."""
    full = first.value + " " + ("" if last is COVERED else last)
    return [first, COVERED if last is COVERED else text(last),
            text(full, '[.A%d]&" "&[.B%d]' % (r, r)),
            None if score is None else number(score),
            number(2 * (score or 0), "[.D%d]*2" % r),
            boolean(passed, "[.D%d]>50" % r),
            ratio, empty_text('IF(1;"";"x")'),
            date(joined), date(joined + datetime.timedelta(days=1), "[.I%d]+1" % r),
            clock(*at), stamp(when), None if code is None else text(code)]


def books():
    dt = datetime.datetime
    people = Sheet("People", [
        [text(h) for h in ["First", "Last", "Full", "Score", "Double", "Passed", "Ratio", "Blank",
                           "Joined", "Next", "At", "Stamp", "Code"]],
        people_row(2, text("Ann"), "Lee", 42, False, error("#DIV/0!", "1/0"),
                   datetime.date(2024, 2, 29), (13, 45), dt(2024, 2, 29, 13, 45, 30), "00123"),
        people_row(3, text("Bob"), "Smith", 75.25, True, error("#N/A", "NA()"),
                   datetime.date(1999, 12, 31), (8, 5), dt(1999, 12, 31, 23, 59, 59), "00042"),
        people_row(4, text("Zoë"), "Σωκράτης 李小龍 😀", None, False, number(0.25, "1/4"),
                   datetime.date(1900, 3, 1), (23, 59), dt(1900, 3, 1, 0, 0, 1), None),
        people_row(5, text("Merged over First and Last", span=2), COVERED, 100, True,
                   number(12.5, "[.D5]/8"), datetime.date(2000, 1, 1), (0, 30),
                   dt(2000, 1, 1, 12, 0, 0), "007"),
    ])
    hidden = Sheet("Hidden", [[text("Secret"), number(7)]], visible=False)
    regions = Sheet("Régions", [[text("Région"), text("Code")],
                                [text("Île-de-France"), number(11)],
                                [text("Provence-Alpes-Côte d'Azur"), number(93)]])

    dates = Sheet("Dates", [[text("Date"), text("Amount")],
                            [date(datetime.date(2024, 2, 29)), number(42.5)],
                            [date(datetime.date(1904, 1, 2)), None]])

    # Longer than one SST record (8,224 bytes): the first is stored 8-bit, the second 16-bit
    # (Omega is not Latin-1); it starts inside a CONTINUE record and runs over the next ones.
    long_rows = [[text("Text")], [text("éabcdefghi" * 1000)], [text("Ωabcdefgh" * 1000)],
                 [text("short one")], [text("short two")], [text("Ende")]]

    # More distinct shared strings than 16 bits can count: 66,000 texts s00001..s66000, row by
    # row over ten columns (a BIFF8 sheet has 65,536 rows, and each row costs a ROW record).
    many_rows = [[text("Text%d" % c) for c in range(1, 11)]]
    many_rows += [[text("s%05d" % (10 * r + c)) for c in range(1, 11)] for r in range(6600)]

    # Text (a FORMULA record and a STRING record), Boolean, empty-text and error results.
    # LibreOffice recalculates on reading and shows a comparison in a General cell as 1 or 0.
    results = Sheet("Results", [
        [text(h) for h in ["First", "Last", "Full", "Score", "Passed", "Blank", "Ratio"]],
        [text("Zoë"), text("Σωκράτης 😀"), text("Zoë Σωκράτης 😀", '[.A2]&" "&[.B2]'),
         number(75.25), boolean(True, "[.D2]>50", "1"), empty_text('""'),
         error("#DIV/0!", "[.D2]/0")],
        [text("Ann"), text("Lee"), text("Ann Lee", '[.A3]&" "&[.B3]'), number(42),
         boolean(False, "[.D3]>50", "0"), empty_text('""'), number(5.25, "[.D3]/8")],
    ])

    ninety_five = Sheet("Clients", [
        [text(h) for h in ["Name", "City", "Price", "Since", "Note", "Label", "Double"]],
        [text("Zoë Ærø"), text("Málaga"), number(12.5), date(datetime.date(2024, 2, 29)),
         text("Prix: 5 € – très bien"), text("Málaga (Zoë Ærø)", '[.B2]&" ("&[.A2]&")"'),
         number(25, "[.C2]*2")],
        [text("François"), text("Köln"), number(3), date(datetime.date(1999, 12, 31)),
         text("Œuvre „Straße“"), text("Köln (François)", '[.B3]&" ("&[.A3]&")"'),
         number(6, "[.C3]*2")],
    ])
    second = Sheet("Été", [[text("Résumé"), number(3)]])

    return [Book("formulas.xls", 8, [people, hidden, regions]),
            Book("dates1904.xls", 8, [dates], null_date=datetime.date(1904, 1, 1)),
            Book("long_strings.xls", 8, [Sheet("Long", long_rows)]),
            Book("many_strings.xls", 8, [Sheet("Strings", many_rows)]),
            Book("formula_results.xls", 8, [results], by="python"),
            Book("excel95.xls", 5, [ninety_five, second], by="python")]


# ---------------------------------------------------------------------------------------------
# Flat OpenDocument spreadsheets for LibreOffice.

FODS_HEAD = """<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"
 xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0"
 xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0"
 xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0"
 xmlns:number="urn:oasis:names:tc:opendocument:xmlns:datastyle:1.0"
 xmlns:of="urn:oasis:names:tc:opendocument:xmlns:of:1.2"
 xmlns:calcext="urn:org:documentfoundation:names:experimental:calc:xmlns:calcext:1.0"
 office:version="1.2" office:mimetype="application/vnd.oasis.opendocument.spreadsheet">
<office:automatic-styles>
 <number:date-style style:name="NDate"><number:year number:style="long"/><number:text>-</number:text><number:month number:style="long"/><number:text>-</number:text><number:day number:style="long"/></number:date-style>
 <number:time-style style:name="NTime"><number:hours number:style="long"/><number:text>:</number:text><number:minutes number:style="long"/></number:time-style>
 <number:date-style style:name="NStamp"><number:year number:style="long"/><number:text>-</number:text><number:month number:style="long"/><number:text>-</number:text><number:day number:style="long"/><number:text> </number:text><number:hours number:style="long"/><number:text>:</number:text><number:minutes number:style="long"/><number:text>:</number:text><number:seconds number:style="long"/></number:date-style>
 <style:style style:name="ceDate" style:family="table-cell" style:data-style-name="NDate"/>
 <style:style style:name="ceTime" style:family="table-cell" style:data-style-name="NTime"/>
 <style:style style:name="ceStamp" style:family="table-cell" style:data-style-name="NStamp"/>
 <style:style style:name="taShown" style:family="table"><style:table-properties table:display="true"/></style:style>
 <style:style style:name="taHidden" style:family="table"><style:table-properties table:display="false"/></style:style>
</office:automatic-styles>
<office:body><office:spreadsheet>
"""


def cell_xml(c):
    if c is None:
        return "<table:table-cell/>"
    if c is COVERED:
        return "<table:covered-table-cell/>"
    a = ""
    if c.formula:
        a += " table:formula=%s" % quoteattr("of:=" + c.formula)
    if c.style:
        a += ' table:style-name="%s"' % c.style
    if c.span > 1:
        a += ' table:number-columns-spanned="%d" table:number-rows-spanned="1"' % c.span
    if c.kind == "text":
        a += ' office:value-type="string"'
        if c.formula:
            a += " office:string-value=%s" % quoteattr(c.value)
    elif c.kind == "empty-text":
        a += ' office:value-type="string" office:string-value=""'
    elif c.kind == "number":
        a += ' office:value-type="float" office:value="%r"' % c.value
    elif c.kind in ("date", "datetime"):
        a += ' office:value-type="date" office:date-value="%s"' % c.value.isoformat()
    elif c.kind == "time":
        a += ' office:value-type="time" office:time-value="PT%02dH%02dM%02dS"' % (
            c.value.hour, c.value.minute, c.value.second)
    elif c.kind == "bool":
        a += ' office:value-type="boolean" office:boolean-value="%s"' % str(c.value).lower()
    elif c.kind == "error":
        a += ' office:value-type="string" office:string-value="" calcext:value-type="error"'
    body = "<text:p>%s</text:p>" % escape(c.shown) if c.shown else ""
    return "<table:table-cell%s>%s</table:table-cell>" % (a, body)


def write_fods(book, path):
    with open(path, "w", encoding="utf-8") as f:
        f.write(FODS_HEAD)
        if book.null_date != datetime.date(1899, 12, 30):
            f.write('<table:calculation-settings><table:null-date table:date-value="%s"/>'
                    "</table:calculation-settings>\n" % book.null_date.isoformat())
        for sheet in book.sheets:
            f.write('<table:table table:name=%s table:style-name="%s">\n' % (
                quoteattr(sheet.name), "taShown" if sheet.visible else "taHidden"))
            f.write('<table:table-column table:number-columns-repeated="%d"/>\n'
                    % max(len(r) for r in sheet.rows))
            for row in sheet.rows:
                f.write("<table:table-row>%s</table:table-row>\n" % "".join(map(cell_xml, row)))
            f.write("</table:table>\n")
        f.write("</office:spreadsheet></office:body></office:document>\n")


def soffice(tmp, args):
    """Runs soffice with a profile of its own, so a running LibreOffice is not disturbed."""
    profile = "file://" + os.path.join(tmp, "profile")
    subprocess.run(["soffice", "-env:UserInstallation=" + profile, "--headless"] + args,
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


# ---------------------------------------------------------------------------------------------
# BIFF5 and BIFF8 workbooks written record by record, as the published format lays them out:
# the globals (BOF, CODEPAGE, WINDOW1, DATEMODE, FONT, FORMAT, XF, STYLE, BOUNDSHEET, SST in
# BIFF8, EOF), then one substream a sheet (BOF, DIMENSIONS, cells, WINDOW2, EOF).

def record(kind, data=b""):
    return struct.pack("<HH", kind, len(data)) + data


def biff_text(s, biff, length_size):
    """A BIFF5 byte string in Windows-1252, or a BIFF8 string: 8-bit when Latin-1 will do,
    else UTF-16; the length counts characters (UTF-16 units) in 8 or 16 bits."""
    if biff == 5:
        raw, count, flags = s.encode("cp1252"), len(s.encode("cp1252")), b""
    elif all(ord(ch) < 256 for ch in s):
        raw, count, flags = s.encode("latin-1"), len(s), b"\x00"
    else:
        raw = s.encode("utf-16-le")
        count, flags = len(raw) // 2, b"\x01"
    return struct.pack("<B" if length_size == 1 else "<H", count) + flags + raw


def formula_tokens(formula, biff):
    """The RPN tokens of a formula made of cell references, strings, whole numbers and the
    operators > < & * /, with Excel's precedence (comparison < & < * and /)."""
    parts = re.findall(r'\[\.([A-Z])(\d+)\]|("(?:[^"]|"")*")|(\d+)|([<>&*/])', formula)
    precedence = {"<": 1, ">": 1, "&": 2, "*": 3, "/": 3}
    operators = {"<": 0x09, ">": 0x0D, "&": 0x08, "*": 0x05, "/": 0x06}
    out, stack = b"", []
    for col, row, string, whole, op in parts:
        if col:
            r, c = int(row) - 1, ord(col) - ord("A")
            if biff == 8:  # relative row and column: bits 15 and 14 of the column field
                out += struct.pack("<BHH", 0x44, r, c | 0xC000)
            else:  # the same bits sit in the row field
                out += struct.pack("<BHB", 0x44, r | 0xC000, c)
        elif string:
            out += b"\x17" + biff_text(string[1:-1].replace('""', '"'), biff, 1)
        elif whole:
            out += struct.pack("<BH", 0x1E, int(whole))
        else:
            while stack and precedence[stack[-1]] >= precedence[op]:
                out += bytes([operators[stack.pop()]])
            stack.append(op)
    while stack:
        out += bytes([operators[stack.pop()]])
    return out


ERROR_CODES = {"#NULL!": 0x00, "#DIV/0!": 0x07, "#VALUE!": 0x0F, "#REF!": 0x17, "#NAME?": 0x1D,
               "#NUM!": 0x24, "#N/A": 0x2A}


def serial(cell, null_date):
    """The number a date, time or number cell is stored as, counted from null_date."""
    if cell.kind == "date":
        return float((cell.value - null_date).days)
    if cell.kind == "time":
        return (cell.value.hour * 3600 + cell.value.minute * 60) / 86400
    if cell.kind == "datetime":
        since = cell.value - datetime.datetime.combine(null_date, datetime.time())
        return since.days + since.seconds / 86400
    return cell.value


def biff_workbook(book):
    biff, date_xf = book.biff, 16
    sst = []
    if biff == 8:
        bof = lambda dt: record(0x0809, struct.pack("<HHHHII", 0x0600, dt, 0x0DBB, 1996, 0, 6))
    else:
        bof = lambda dt: record(0x0809, struct.pack("<HHHH", 0x0500, dt, 0x0DBB, 1996))

    def xf(ifmt, style, used):
        prot = 0xFFF5 if style else 0x0001  # style XFs: locked, no parent; cells: parent 0
        if biff == 8:
            return record(0x00E0, struct.pack("<HHHBBBBIIH", 0, ifmt, prot, 0x20, 0, 0, used,
                                              0, 0, 0x20C0))
        return record(0x00E0, struct.pack("<HHHBBII", 0, ifmt, prot, 0x20, used, 0x20C0, 0))

    font = struct.pack("<HHHHHBBBB", 200, 0, 0x7FFF, 400, 0, 0, 0, 0, 0) + biff_text(
        "Arial", biff, 1)
    globals_ = [bof(0x0005), record(0x0042, struct.pack("<H", 1200 if biff == 8 else 1252)),
                record(0x003D, struct.pack("<HHHHHHHHH", 0, 0, 0x3000, 0x1E00, 0x38, 0, 0, 1,
                                           0x258)),
                record(0x0022, struct.pack("<H", 0 if book.null_date.year < 1904 else 1))]
    globals_ += [record(0x0031, font)] * 4
    globals_.append(record(0x041E, struct.pack("<H", 164) + biff_text("YYYY-MM-DD", biff, 2
                                                                       if biff == 8 else 1)))
    globals_ += [xf(0, True, 0)] * 15 + [xf(0, False, 0)] + [xf(164, False, 0x04)]
    globals_.append(record(0x0293, struct.pack("<HBB", 0x8000, 0, 0xFF)))

    sheets = []
    for index, sheet in enumerate(book.sheets):
        body = [bof(0x0010)]
        rows, cols = len(sheet.rows), max(len(r) for r in sheet.rows)
        body.append(record(0x0200, struct.pack("<IIHHH" if biff == 8 else "<HHHHH",
                                               0, rows, 0, cols, 0)))
        for r, row in enumerate(sheet.rows):
            for c, cell in enumerate(row):
                if cell is None:
                    continue
                xf_index = date_xf if cell.kind == "date" else 15
                at = struct.pack("<HHH", r, c, xf_index)
                if cell.formula:
                    tokens = formula_tokens(cell.formula, biff)
                    kind = {"text": 0, "bool": 1, "error": 2, "empty-text": 3}.get(cell.kind)
                    if kind is None:
                        result = struct.pack("<d", serial(cell, book.null_date))
                    else:
                        value = {1: int(bool(cell.value)), 2: ERROR_CODES.get(cell.value, 0)}
                        result = struct.pack("<BBBBHH", kind, 0, value.get(kind, 0), 0, 0,
                                             0xFFFF)
                    body.append(record(0x0006, at + result + struct.pack("<HIH", 0, 0,
                                                                         len(tokens)) + tokens))
                    if cell.kind == "text":
                        body.append(record(0x0207, biff_text(cell.value, biff, 2)))
                elif cell.kind == "text" and biff == 8:
                    if cell.value not in sst:
                        sst.append(cell.value)
                    body.append(record(0x00FD, at + struct.pack("<I", sst.index(cell.value))))
                elif cell.kind == "text":
                    body.append(record(0x0204, at + biff_text(cell.value, biff, 2)))
                else:
                    body.append(record(0x0203, at + struct.pack("<d", serial(cell,
                                                                             book.null_date))))
        options = 0x06B6 if index == 0 else 0x00B6
        window = struct.pack("<HHHHHHHI", options, 0, 0, 64, 0, 0, 0, 0) if biff == 8 else \
            struct.pack("<HHHI", options, 0, 0, 0)
        body += [record(0x023E, window), record(0x000A)]
        sheets.append(b"".join(body))

    if biff == 8:
        total = sum(1 for s in book.sheets for row in s.rows for c in row
                    if c is not None and c.kind == "text" and not c.formula)
        data = struct.pack("<II", total, len(sst)) + b"".join(biff_text(s, 8, 2) for s in sst)
        assert len(data) <= 8224, "the shared strings need CONTINUE records"
        sst_record = [record(0x00FC, data)]
    else:
        sst_record = []

    def boundsheets(offsets):
        return [record(0x0085, struct.pack("<IBB", offset, 0 if s.visible else 1, 0)
                       + biff_text(s.name, biff, 1)) for s, offset in zip(book.sheets, offsets)]

    head = b"".join(globals_)
    size = len(head) + len(b"".join(boundsheets([0] * len(sheets)))) + \
        len(b"".join(sst_record)) + 4
    offsets = []
    for body in sheets:
        offsets.append(size)
        size += len(body)
    return head + b"".join(boundsheets(offsets) + sst_record) + record(0x000A) + b"".join(sheets)


def compound_file(name, stream):
    """A compound file (version 3, 512-byte sectors) holding one stream shorter than 4,096
    bytes, which therefore lives in the mini stream: header, FAT sector, directory sector,
    mini FAT sector, then the mini stream's sectors."""
    assert len(stream) < 4096
    free, end, nostream = 0xFFFFFFFF, 0xFFFFFFFE, 0xFFFFFFFF
    minis = (len(stream) + 63) // 64
    mini_stream = stream.ljust(minis * 64, b"\0")
    sectors = (len(mini_stream) + 511) // 512
    fat = [0xFFFFFFFD, end, end] + [3 + i + 1 for i in range(sectors - 1)] + [end]
    minifat = [i + 1 for i in range(minis - 1)] + [end]
    header = bytes.fromhex("D0CF11E0A1B11AE1") + bytes(16) + struct.pack(
        "<HHHHH6xIIIIIIIII", 0x3E, 3, 0xFFFE, 9, 6, 0, 1, 1, 0, 4096, 2, 1, end, 0)
    header += struct.pack("<109I", 0, *([free] * 108))

    def entry(label, kind, child, start, length):
        raw = label.encode("utf-16-le") + b"\0\0"
        return raw.ljust(64, b"\0") + struct.pack("<HBBIII16sIQQIQ", len(raw), kind, 1,
                                                   nostream, nostream, child, bytes(16), 0, 0,
                                                   0, start, length)

    unused = bytes(64) + struct.pack("<HBBIII16sIQQIQ", 0, 0, 0, nostream, nostream, nostream,
                                     bytes(16), 0, 0, 0, 0, 0)
    directory = entry("Root Entry", 5, 1, 3, len(mini_stream)) + entry(name, 2, nostream, 0,
                                                                         len(stream))
    directory += unused * 2
    table = lambda words: struct.pack("<128I", *(words + [free] * (128 - len(words))))
    return header + table(fat) + directory + table(minifat) + mini_stream.ljust(sectors * 512,
                                                                                b"\0")


def write_python_workbook(book, path):
    with open(path, "wb") as f:
        f.write(compound_file("Workbook" if book.biff == 8 else "Book", biff_workbook(book)))


# ---------------------------------------------------------------------------------------------
# Compound file reader (the published layout: 512-byte header, FAT, directory, mini stream).

ENDOFCHAIN = 0xFFFFFFFE


def compound_streams(data):
    if data[:8] != bytes.fromhex("D0CF11E0A1B11AE1"):
        raise ValueError("not a compound file")
    size = 1 << struct.unpack_from("<H", data, 0x1E)[0]
    mini_size = 1 << struct.unpack_from("<H", data, 0x20)[0]
    fat_count, dir_start = struct.unpack_from("<II", data, 0x2C)
    cutoff, minifat_start, _, difat_start, difat_count = struct.unpack_from("<IIIII", data, 0x38)

    def sector(n):
        return data[(n + 1) * size:(n + 2) * size]

    fat_sectors = list(struct.unpack_from("<109I", data, 0x4C))
    n = difat_start
    for _ in range(difat_count):
        words = struct.unpack("<%dI" % (size // 4), sector(n))
        fat_sectors += words[:-1]
        n = words[-1]
    fat = []
    for n in fat_sectors[:fat_count]:
        fat += struct.unpack("<%dI" % (size // 4), sector(n))

    def chain(start, table, read):
        out, n, seen = [], start, set()
        while n != ENDOFCHAIN:
            if n in seen or n >= len(table):
                raise ValueError("broken sector chain")
            seen.add(n)
            out.append(read(n))
            n = table[n]
        return b"".join(out)

    directory = chain(dir_start, fat, sector)
    entries = []
    for off in range(0, len(directory), 128):
        e = directory[off:off + 128]
        name_len, kind = struct.unpack_from("<HB", e, 0x40)
        start, length = struct.unpack_from("<IQ", e, 0x74)
        if size == 512:
            length &= 0xFFFFFFFF
        entries.append((e[:max(name_len - 2, 0)].decode("utf-16-le"), kind, start, length))
    mini_stream = chain(entries[0][2], fat, sector)
    minifat_bytes = chain(minifat_start, fat, sector) if minifat_start != ENDOFCHAIN else b""
    minifat = list(struct.unpack("<%dI" % (len(minifat_bytes) // 4), minifat_bytes))
    streams = {}
    for name, kind, start, length in entries[1:]:
        if kind != 2:
            continue
        if length < cutoff:
            body = chain(start, minifat,
                         lambda m: mini_stream[m * mini_size:(m + 1) * mini_size])
        else:
            body = chain(start, fat, sector)
        streams[name] = (body[:length], "mini stream" if length < cutoff else "sectors")
    return streams


# ---------------------------------------------------------------------------------------------
# BIFF5/BIFF8 record walker: sheets, formats and the cells of every sheet.

ERRORS = {code: name for name, code in ERROR_CODES.items()}
BUILTIN_FORMATS = {0: "General", 14: "m/d/yy", 20: "h:mm", 22: "m/d/yy h:mm", 49: "@"}
SHEET_STATES = {0: "visible", 1: "hidden", 2: "very hidden"}
RECORD_NAMES = {0x00FD: "LABELSST", 0x0204: "LABEL", 0x0203: "NUMBER", 0x027E: "RK",
                0x00BD: "MULRK", 0x0201: "BLANK", 0x00BE: "MULBLANK", 0x0205: "BOOLERR",
                0x0006: "FORMULA", 0x0207: "FORMULA+STRING"}


def records(stream, pos=0):
    while pos + 4 <= len(stream):
        kind, length = struct.unpack_from("<HH", stream, pos)
        yield pos, kind, stream[pos + 4:pos + 4 + length]
        pos += 4 + length


def rk_value(rk):
    if rk & 2:
        v = float(rk >> 2 if rk < 0x80000000 else (rk >> 2) - (1 << 30))
    else:
        v = struct.unpack("<d", struct.pack("<Q", (rk & 0xFFFFFFFC) << 32))[0]
    return v / 100 if rk & 1 else v


class Chunks:
    """Reads a record and the CONTINUE records after it as one, minding that character data
    which crosses a record boundary restarts with a new option byte."""

    def __init__(self, parts):
        self.parts, self.i, self.pos = parts, 0, 0
        self.splits = []  # (string index, characters before the boundary, 16-bit after it)

    def take(self, n):
        out = b""
        while n:
            if self.pos == len(self.parts[self.i]):
                self.i, self.pos = self.i + 1, 0
            piece = self.parts[self.i][self.pos:self.pos + n]
            out, self.pos, n = out + piece, self.pos + len(piece), n - len(piece)
        return out

    def chars(self, count, wide, index):
        got = []
        while count:
            if self.pos == len(self.parts[self.i]):
                self.i, self.pos = self.i + 1, 1
                wide = self.parts[self.i][0] & 1
                self.splits.append((index, sum(len(g) for g in got), bool(wide)))
            width = 2 if wide else 1
            n = min(count, (len(self.parts[self.i]) - self.pos) // width)
            raw = self.parts[self.i][self.pos:self.pos + n * width]
            self.pos += n * width
            got.append(raw.decode("utf-16-le") if wide else raw.decode("latin-1"))
            count -= n
        return "".join(got)

    def unicode_string(self, index, length_size=2):
        cch = struct.unpack("<H" if length_size == 2 else "<B", self.take(length_size))[0]
        flags = self.take(1)[0]
        runs = struct.unpack("<H", self.take(2))[0] if flags & 8 else 0
        ext = struct.unpack("<i", self.take(4))[0] if flags & 4 else 0
        s = self.chars(cch, flags & 1, index)
        self.take(4 * runs + ext)
        return s


class Workbook:
    def __init__(self, path):
        with open(path, "rb") as f:
            streams = compound_streams(f.read())
        self.stream_name = "Workbook" if "Workbook" in streams else "Book"
        stream, self.stored_in = streams[self.stream_name]
        self.biff, self.codepage, self.datemode = None, None, 0
        self.formats, self.xf_formats, self.sheets, self.sst = {}, [], [], []
        self.sst_records, self.sst_splits, self.sst_total = 0, [], 0
        globals_ = list(records(stream))
        for n, (pos, kind, data) in enumerate(globals_):
            if kind == 0x0809 and self.biff is None:
                self.biff = struct.unpack_from("<H", data)[0]
            elif kind == 0x000A:
                break
            elif kind == 0x0042:
                self.codepage = struct.unpack_from("<H", data)[0]
            elif kind == 0x0022:
                self.datemode = struct.unpack_from("<H", data)[0]
            elif kind == 0x041E:
                ifmt = struct.unpack_from("<H", data)[0]
                self.formats[ifmt] = self.string(data[2:], 2 if self.biff == 0x0600 else 1)
            elif kind == 0x00E0:
                self.xf_formats.append(struct.unpack_from("<H", data, 2)[0])
            elif kind == 0x0085:
                offset, state = struct.unpack_from("<IB", data)
                self.sheets.append({"name": self.string(data[6:], 1), "offset": offset,
                                    "state": SHEET_STATES[state & 3]})
            elif kind == 0x00FC:
                parts = [data[8:]]
                for _, k, d in globals_[n + 1:]:
                    if k != 0x003C:
                        break
                    parts.append(d)
                self.sst_total, unique = struct.unpack_from("<II", data)
                reader = Chunks(parts)
                self.sst = [reader.unicode_string(i) for i in range(unique)]
                self.sst_records, self.sst_splits = len(parts), reader.splits
        for sheet in self.sheets:
            self.read_sheet(stream, sheet)

    def string(self, data, length_size):
        """The string of a FORMAT, BOUNDSHEET, LABEL or STRING record."""
        if self.biff == 0x0600:
            return Chunks([data]).unicode_string(0, length_size)
        cch = data[0] if length_size == 1 else struct.unpack_from("<H", data)[0]
        return data[length_size:length_size + cch].decode("cp%d" % (self.codepage or 1252))

    def fmt(self, xf):
        ifmt = self.xf_formats[xf]
        return ifmt, self.formats.get(ifmt, BUILTIN_FORMATS.get(ifmt, "built-in %d" % ifmt))

    def read_sheet(self, stream, sheet):
        cells, merges, sheet["dimensions"] = {}, [], None
        pending = None  # a formula cell whose text result is in the STRING record that follows

        def put(row, col, xf, holds, value):
            cells[(row, col)] = (holds, value, xf, RECORD_NAMES[kind])  # kind: the record in hand

        for _, kind, data in records(stream, sheet["offset"]):
            if kind == 0x000A:
                break
            if kind == 0x0200:
                sheet["dimensions"] = struct.unpack_from(
                    "<IIHH" if self.biff == 0x0600 else "<HHHH", data)
                continue
            if kind == 0x00E5:
                count = struct.unpack_from("<H", data)[0]
                merges += [struct.unpack_from("<HHHH", data, 2 + 8 * i) for i in range(count)]
                continue
            if kind == 0x0207 and pending:
                put(*pending, "formula text", self.string(data, 2))
                pending = None
                continue
            if kind not in (0x00FD, 0x0204, 0x0203, 0x027E, 0x00BD, 0x0201, 0x00BE, 0x0205,
                            0x0006):
                continue
            row, col, xf = struct.unpack_from("<HHH", data)
            if kind == 0x00FD:
                put(row, col, xf, "text", self.sst[struct.unpack_from("<I", data, 6)[0]])
            elif kind == 0x0204:
                put(row, col, xf, "text", self.string(data[6:], 2))
            elif kind == 0x0203:
                put(row, col, xf, "number", struct.unpack_from("<d", data, 6)[0])
            elif kind == 0x027E:
                put(row, col, xf, "number", rk_value(struct.unpack_from("<I", data, 6)[0]))
            elif kind == 0x00BD:
                for i in range((len(data) - 6) // 6):
                    xf, rk = struct.unpack_from("<HI", data, 4 + 6 * i)
                    put(row, col + i, xf, "number", rk_value(rk))
            elif kind == 0x0201:
                put(row, col, xf, "blank", None)
            elif kind == 0x00BE:
                for i in range((len(data) - 6) // 2):
                    put(row, col + i, struct.unpack_from("<H", data, 4 + 2 * i)[0], "blank", None)
            elif kind == 0x0205:
                value, is_error = data[6], data[7]
                put(row, col, xf, *(("error", ERRORS[value]) if is_error else ("bool", bool(value))))
            elif kind == 0x0006:
                result = data[6:14]
                if result[6:8] != b"\xff\xff":
                    put(row, col, xf, "formula number", struct.unpack("<d", result)[0])
                elif result[0] == 0:
                    pending = (row, col, xf)
                elif result[0] == 1:
                    put(row, col, xf, "formula bool", bool(result[2]))
                elif result[0] == 2:
                    put(row, col, xf, "formula error", ERRORS[result[2]])
                elif result[0] == 3:
                    put(row, col, xf, "formula empty text", "")
        sheet["cells"], sheet["merges"] = cells, merges


# ---------------------------------------------------------------------------------------------
# Checks: the records hold what the book meant, and LibreOffice reads the file back the same.

def expected_record(cell, book):
    """(record kind, value) the cell should be stored as."""
    value = serial(cell, book.null_date) if cell.kind not in ("text", "bool", "error") \
        else cell.value
    if not cell.formula:
        return "number" if isinstance(value, float) else cell.kind, value
    if cell.kind == "empty-text":
        return "formula empty text", ""
    if book.by == "soffice" and cell.kind == "text":
        return "formula number", 0.0  # LibreOffice 7.4 writes no STRING record
    if book.by == "soffice" and cell.kind == "bool":
        return "formula number", float(cell.value)  # a comparison is a number to it
    if cell.kind in ("text", "bool", "error"):
        return "formula " + cell.kind, value
    return "formula number", value


def check_records(book, wb, problems):
    say = lambda text: problems.append("%s: %s" % (book.file, text))
    if wb.biff != (0x0600 if book.biff == 8 else 0x0500):
        say("BOF version 0x%04x" % (wb.biff or 0))
    if wb.datemode != (1 if book.null_date.year == 1904 else 0):
        say("DATEMODE %d" % wb.datemode)
    if [s["name"] for s in wb.sheets] != [s.name for s in book.sheets]:
        say("sheets %s" % [s["name"] for s in wb.sheets])
        return
    for sheet, got in zip(book.sheets, wb.sheets):
        if got["state"] != ("visible" if sheet.visible else "hidden"):
            say("sheet %s is %s" % (sheet.name, got["state"]))
        meant = {(r, c): cell for r, row in enumerate(sheet.rows) for c, cell in enumerate(row)
                 if cell is not None and cell is not COVERED}
        for at in set(meant) | set(got["cells"]):
            have = got["cells"].get(at)
            if at not in meant:
                if have[0] != "blank":
                    say("%s!R%dC%d holds %r" % (sheet.name, at[0] + 1, at[1] + 1, have[:2]))
                continue
            kind, value = expected_record(meant[at], book)
            if not have or have[0] != kind or (abs(have[1] - value) > 1e-9
                                               if isinstance(value, float) else have[1] != value):
                say("%s!R%dC%d holds %r, meant %r" % (sheet.name, at[0] + 1, at[1] + 1,
                                                      have and have[:2], (kind, value)))


def check_csv(book, path, tmp, problems):
    """Has LibreOffice read the file back into CSV, one file a sheet, cells as shown."""
    out = os.path.join(tmp, "csv")
    shutil.rmtree(out, ignore_errors=True)
    soffice(tmp, ["--convert-to", "csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,"
                  "true,false,false,-1", "--outdir", out, path])

    def trim(rows):
        rows = [list(r) for r in rows]
        for r in rows:
            while r and r[-1] == "":
                r.pop()
        while rows and not rows[-1]:
            rows.pop()
        return rows

    for sheet in book.sheets:
        name = os.path.join(out, "%s-%s.csv" % (book.file[:-4], sheet.name))
        if not os.path.exists(name):
            problems.append("%s: no CSV for sheet %s" % (book.file, sheet.name))
            continue
        with open(name, encoding="utf-8", newline="") as f:
            got = trim(csv.reader(f))
        meant = trim([("" if c is None else c.shown) for c in row] for row in sheet.rows)
        if got != meant:
            bad = [n + 1 for n, (a, b) in enumerate(zip(got, meant)) if a != b]
            problems.append("%s: CSV of sheet %s differs (rows %s, %d rows read)"
                            % (book.file, sheet.name, bad[:5], len(got)))


def check(folder, tmp):
    problems = []
    for book in books():
        path = os.path.join(folder, book.file)
        wb = Workbook(path)
        check_records(book, wb, problems)
        if book.file == "long_strings.xls" and not any(i == 2 and wide
                                                       for i, _, wide in wb.sst_splits):
            problems.append("long_strings.xls: no 16-bit string crosses a CONTINUE record")
        if book.file == "many_strings.xls" and len(wb.sst) <= 65535:
            problems.append("many_strings.xls: only %d shared strings" % len(wb.sst))
        check_csv(book, path, tmp, problems)
        print("%s: BIFF 0x%04x, %d bytes, %d SST records, first strings split across one: %s"
              % (book.file, wb.biff, os.path.getsize(path), wb.sst_records, wb.sst_splits[:3]))
    for p in problems:
        print(p, file=sys.stderr)
    return not problems


def dump(path):
    wb = Workbook(path)
    print("%s: stream %s (in the %s), BOF version 0x%04x, CODEPAGE %s, DATEMODE %d, "
          "SST %d total %d unique in %d records" % (
              path, wb.stream_name, wb.stored_in, wb.biff, wb.codepage, wb.datemode,
              wb.sst_total, len(wb.sst), wb.sst_records))
    for s in wb.sheets:
        print("\nsheet %r (%s), DIMENSIONS (first row, last row + 1, first col, last col + 1) "
              "%s, merged (first row, last row, first col, last col) %s" % (
                  s["name"], s["state"], s["dimensions"], s["merges"]))
        print("| row | col | record | holds | value | XF | format |\n|---|---|---|---|---|---|---|")
        for (r, c), (kind, value, xf, name) in sorted(s["cells"].items()):
            if isinstance(value, str) and len(value) > 60:
                value = "%r... (%d chars)" % (value[:30], len(value))
            print("| %d | %d | %s | %s | %r | %d | %d %r |" % (
                (r, c, name, kind, value, xf) + wb.fmt(xf)))


def write_new_fixtures(out):
    """Writes every workbook into a temporary folder and copies them only when all check."""
    with tempfile.TemporaryDirectory() as tmp:
        made = os.path.join(tmp, "xls")
        os.mkdir(made)
        sources = []
        for book in books():
            if book.by == "python":
                write_python_workbook(book, os.path.join(made, book.file))
            else:
                sources.append(os.path.join(tmp, book.file[:-4] + ".fods"))
                write_fods(book, sources[-1])
        soffice(tmp, ["--convert-to", "xls:MS Excel 97", "--outdir", made] + sources)
        # The same workbooks as Excel 2007+ and OpenDocument files, for the readers of those.
        later = os.path.join(tmp, "later")
        soffice(tmp, ["--convert-to", "xlsx:Calc MS Excel 2007 XML", "--outdir", later] + sources)
        soffice(tmp, ["--convert-to", "ods:calc8", "--outdir", later] + sources)
        if not check(made, tmp):
            sys.exit("the new workbooks are not what they should be; none was copied")
        for book in books():
            shutil.copyfile(os.path.join(made, book.file), os.path.join(out, book.file))
            for suffix in (".xlsx", ".ods") if book.by != "python" else ():
                shutil.copyfile(os.path.join(later, book.file[:-4] + suffix), os.path.join(out, book.file[:-4] + suffix))


def main():
    args = sys.argv[1:]
    if args[:1] == ["--dump"]:
        for path in args[1:]:
            dump(path)
        return
    checking = args[:1] == ["--check"]
    args = args[1:] if checking else args
    out = args[0] if args else os.path.join(os.path.dirname(__file__), "..", "tests", "fixtures")
    if not checking:
        write_xlwt_fixtures(out)
    if shutil.which("soffice") is None:
        sys.exit("soffice was not found: install libreoffice-calc-nogui to write and check the "
                 "other workbooks (one_sheet.xls and three_sheets.xls were written)"
                 if not checking else "soffice was not found: install libreoffice-calc-nogui")
    if checking:
        with tempfile.TemporaryDirectory() as tmp:
            sys.exit(0 if check(out, tmp) else 1)
    write_new_fixtures(out)


main()
