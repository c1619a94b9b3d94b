"""The report files the tenant offers: a one-page PDF and a one-sheet spreadsheet."""

import io
import zipfile
from xml.sax.saxutils import escape

PDF_TYPE = "application/pdf"
XLSX_TYPE = "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet"

_SUMMARY_LINES = (
    (18, "Ashgrove University - Expense Summary"),
    (11, "Prepared for: Demo User"),
    (11, "Period: Fiscal Year 2027, Quarter 1"),
    (11, "Conference travel ..................... $1,284.50"),
    (11, "Books and materials ................... $312.19"),
    (11, "Lab supplies .......................... $96.00"),
    (11, "Total ................................. $1,692.69"),
)


def _pdfText(text):
    return text.replace("\\", "\\\\").replace("(", "\\(").replace(")", "\\)")


def summaryPdf():
    content = ["BT", "72 720 Td"]
    for size, text in _SUMMARY_LINES:
        content.append("/F1 %d Tf (%s) Tj 0 -%d Td" % (size, _pdfText(text), size + 10))
    content.append("ET")
    stream = "\n".join(content).encode("latin-1")
    objects = [
        b"<< /Type /Catalog /Pages 2 0 R >>",
        b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] "
        b"/Resources << /Font << /F1 4 0 R >> >> /Contents 5 0 R >>",
        b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
        b"<< /Length %d >>\nstream\n" % len(stream) + stream + b"\nendstream",
    ]
    out = bytearray(b"%PDF-1.4\n%\xe2\xe3\xcf\xd3\n")
    offsets = []
    for number, body in enumerate(objects, start=1):
        offsets.append(len(out))
        out += b"%d 0 obj\n" % number + body + b"\nendobj\n"
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
    for offset in offsets:
        out += b"%010d 00000 n \n" % offset
    out += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objects) + 1, xref)
    return bytes(out)


_BUDGET_ROWS = (
    ("Account", "Budget", "Spent"),
    ("Travel", 5000, 1284.5),
    ("Books and materials", 800, 312.19),
    ("Lab supplies", 1200, 96),
)


def _cell(column, row, value):
    ref = "%s%d" % ("ABC"[column], row)
    if isinstance(value, str):
        return '<c r="%s" t="inlineStr"><is><t>%s</t></is></c>' % (ref, escape(value))
    return '<c r="%s"><v>%s</v></c>' % (ref, value)


def budgetXlsx():
    sheetRows = "".join(
        '<row r="%d">%s</row>' % (r, "".join(_cell(c, r, v) for c, v in enumerate(values)))
        for r, values in enumerate(_BUDGET_ROWS, start=1))
    parts = {
        "[Content_Types].xml":
            '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
            '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
            '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
            '<Default Extension="xml" ContentType="application/xml"/>'
            '<Override PartName="/xl/workbook.xml" '
            'ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/>'
            '<Override PartName="/xl/worksheets/sheet1.xml" '
            'ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/>'
            '</Types>',
        "_rels/.rels":
            '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
            '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
            '<Relationship Id="rId1" '
            'Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" '
            'Target="xl/workbook.xml"/></Relationships>',
        "xl/workbook.xml":
            '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
            '<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" '
            'xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships">'
            '<sheets><sheet name="Budget" sheetId="1" r:id="rId1"/></sheets></workbook>',
        "xl/_rels/workbook.xml.rels":
            '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
            '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
            '<Relationship Id="rId1" '
            'Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" '
            'Target="worksheets/sheet1.xml"/></Relationships>',
        "xl/worksheets/sheet1.xml":
            '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
            '<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">'
            '<sheetData>%s</sheetData></worksheet>' % sheetRows,
    }
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", zipfile.ZIP_DEFLATED) as archive:
        for name, text in parts.items():
            # A fixed time stamp keeps the file identical from one start to the next.
            archive.writestr(zipfile.ZipInfo(name, date_time=(2026, 9, 1, 0, 0, 0)), text.encode("utf-8"),
                             compress_type=zipfile.ZIP_DEFLATED)
    return buffer.getvalue()
