#!/usr/bin/python3
"""Writes a large .xls for the benchmark: ROWS rows of 20 columns (text, numbers, dates)."""
import datetime
import sys

import xlwt

path, rows = sys.argv[1], int(sys.argv[2])
book = xlwt.Workbook(encoding="utf-8")
sheet = book.add_sheet("Contacts")
date_style = xlwt.easyxf(num_format_str="yyyy-mm-dd")
for c in range(20):
    sheet.write(0, c, "Colonne été %d" % (c + 1))
start = datetime.date(2000, 1, 1)
for r in range(1, rows + 1):
    for c in range(20):
        kind = c % 4
        if kind == 0:
            sheet.write(r, c, "Müller, Jürgen %d" % r)
        elif kind == 1:
            sheet.write(r, c, r * 1.5 + c)
        elif kind == 2:
            sheet.write(r, c, start + datetime.timedelta(days=r % 5000), date_style)
        else:
            sheet.write(r, c, "plain text %d" % (r % 97))
book.save(path)
