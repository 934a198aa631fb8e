"""Reads an exported file back with an independent reader and prints its cells as JSON.

    read_back.py xlsx FILE   openpyxl: every cell as "TYPE:VALUE" (n number, b bool,
                             d date-time, t time, s text), null for an empty cell
    read_back.py layout FILE openpyxl: one JSON object with the sheet's frozen cell, autofilter
                             range, column widths, and per row the bold flags and number formats
    read_back.py csv FILE    Python's csv module on the UTF-8 text (byte-order mark removed):
                             every field as its text, null for an empty one

Each line of output is one row, as a JSON list.
"""
import csv
import datetime
import json
import re
import sys

# Office Open XML writes a character XML cannot carry (CR among them) as _xHHHH_; openpyxl 3.0
# leaves these escapes in inline strings as they are, so they are read here.
ESCAPE = re.compile(r"_x([0-9A-Fa-f]{4})_")


def typed(value):
    if value is None:
        return None
    if isinstance(value, bool):
        return "b:%s" % value
    if isinstance(value, (int, float)):
        # Readers give whole numbers as int or float as they please: compare the numbers.
        if float(value).is_integer() and abs(value) < 1e16:
            return "n:%d" % value
        return "n:%r" % float(value)
    if isinstance(value, datetime.datetime):
        return "d:" + value.isoformat(" ")
    if isinstance(value, datetime.date):
        return "d:" + value.isoformat() + " 00:00:00"
    if isinstance(value, datetime.time):
        return "t:" + value.isoformat()
    return "s:" + ESCAPE.sub(lambda m: chr(int(m.group(1), 16)), str(value))


def read_xlsx(path):
    import openpyxl

    book = openpyxl.load_workbook(path, read_only=True)
    sheet = book.worksheets[0]
    for row in sheet.iter_rows(values_only=True):
        yield [typed(v) for v in row]


def layout(path):
    import openpyxl

    sheet = openpyxl.load_workbook(path).worksheets[0]
    widths = {k: d.width for k, d in sheet.column_dimensions.items() if d.width}
    rows = [
        {"bold": [bool(c.font and c.font.b) for c in row], "formats": [c.number_format for c in row]}
        for row in sheet.iter_rows()
    ]
    return {"freeze": sheet.freeze_panes, "filter": sheet.auto_filter.ref, "widths": widths,
            "rows": rows}


def read_csv(path):
    with open(path, encoding="utf-8-sig", newline="") as f:
        for row in csv.reader(f):
            yield [v if v != "" else None for v in row]


def main():
    kind, path = sys.argv[1], sys.argv[2]
    if kind == "layout":
        sys.stdout.write(json.dumps(layout(path)) + "\n")
        return
    rows = read_xlsx(path) if kind == "xlsx" else read_csv(path)
    out = sys.stdout
    for row in rows:
        out.write(json.dumps(row, ensure_ascii=False) + "\n")


if __name__ == "__main__":
    main()
