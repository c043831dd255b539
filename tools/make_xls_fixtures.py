#!/usr/bin/python3
"""Writes the .xls test fixtures into tests/fixtures. Run by hand (needs python3-xlwt);
the files it writes are committed, so the tests need no generator."""
import datetime
import os
import sys

import xlwt

out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "tests", "fixtures")
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
