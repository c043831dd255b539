#!/usr/bin/python3
"""Writes samples/contacts.xls from samples/contacts.csv: the same people as an Excel 97-2003
workbook, one sheet "Contacts" with the header row, the birthdays as real dates and the
postcodes and phone numbers as text. Needs python3-xlwt.

    tools/make_samples.py            rewrite samples/contacts.xls
    tools/make_samples.py --check    fail when samples/contacts.xls differs from what it would write"""
import csv
import datetime
import os
import sys
import tempfile

import xlwt

SAMPLES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "samples")
CSV_FILE = os.path.join(SAMPLES, "contacts.csv")
XLS_FILE = os.path.join(SAMPLES, "contacts.xls")


def read_people():
    """The header and the people of the CSV; its empty line is left out of the workbook."""
    with open(CSV_FILE, encoding="utf-8", newline="") as f:
        rows = [row for row in csv.reader(f) if row]
    return rows[0], rows[1:]


def write_workbook(path):
    header, people = read_people()
    birthday = header.index("Birthday")
    bold = xlwt.easyxf("font: bold on")
    as_text = xlwt.easyxf(num_format_str="@")
    as_date = xlwt.easyxf(num_format_str="yyyy-mm-dd")

    book = xlwt.Workbook(encoding="utf-8")
    sheet = book.add_sheet("Contacts")
    for col, name in enumerate(header):
        sheet.write(0, col, name, bold)
        sheet.col(col).width = 256 * 18
    for r, person in enumerate(people, start=1):
        for col, value in enumerate(person):
            if not value:
                continue
            if col == birthday:
                sheet.write(r, col, datetime.date.fromisoformat(value), as_date)
            else:
                sheet.write(r, col, value, as_text)
    book.save(path)


def main():
    if sys.argv[1:] == ["--check"]:
        with tempfile.TemporaryDirectory() as tmp:
            fresh = os.path.join(tmp, "contacts.xls")
            write_workbook(fresh)
            with open(fresh, "rb") as a, open(XLS_FILE, "rb") as b:
                same = a.read() == b.read()
        print("samples/contacts.xls is " + ("up to date" if same else "out of date"))
        return 0 if same else 1
    if sys.argv[1:]:
        print(__doc__, file=sys.stderr)
        return 2
    write_workbook(XLS_FILE)
    return 0


if __name__ == "__main__":
    sys.exit(main())
