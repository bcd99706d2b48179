"""Prints every sheet and non-empty cell of a workbook as an independent reader sees it.

Numbers are printed with repr (which reads back to the same double), texts as UTF-16LE hex.
Reader warnings go to stderr, so the caller can require there are none.
"""
import sys

import xlrd

book = xlrd.open_workbook(sys.argv[1], logfile=sys.stderr)
print(book.nsheets)
for sheet in book.sheets():
    print(sheet.name.encode("utf-16-le").hex(), sheet.nrows, sheet.ncols)
    for r in range(sheet.nrows):
        for c in range(sheet.ncols):
            cell = sheet.cell(r, c)
            if cell.ctype == xlrd.XL_CELL_EMPTY:
                continue
            if cell.ctype == xlrd.XL_CELL_NUMBER:
                print(r, c, "n", repr(cell.value))
            elif cell.ctype == xlrd.XL_CELL_TEXT:
                print(r, c, "t", cell.value.encode("utf-16-le").hex())
            else:
                print(r, c, "other", cell.ctype)
