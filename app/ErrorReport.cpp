#include "app/ErrorReport.h"

#include "core/TextUtil.h"

#include <QRegularExpression>
#include <array>
#include <utility>

namespace qav {

namespace {

// Tested in this order; the first match wins.
const std::array<std::pair<const char*, const char*>, 14> kExplanations = {{
    {"is not a valid date", "ป้อนวันที่ไม่ถูกต้อง"},
    {"Cannot insert the value NULL into column 'Transportation'", "ไม่ได้ป้อนข้อมูลการขนส่ง"},
    {"Cannot insert the value NULL into column 'Price'", "กำหนดราคาไม่ครบถ้วน"},
    {"Cannot insert the value NULL into column 'Warehouse'", "ไม่ได้ป้อนข้อมูลคลัง"},
    {"Cannot insert the value NULL into column 'Customer'", "ไม่ได้ป้อนข้อมูลลูกค้า"},
    {"Cannot insert the value NULL into column 'Vendor'", "ไม่ได้ป้อนข้อมูลเจ้าหนี้"},
    {"Cannot insert the value NULL into column 'Fraction'", "ไม่ได้ป้อนข้อมูลหน่วย หรือ ข้อมูลหน่วยผิดพลาด"},
    {"Cannot insert the value NULL into column 'Salesman'", "ไม่ได้ป้อนข้อมูลพนักงานขาย"},
    {"Possible network error", "ระบบเครือข่าย หรือ คอมพิวเตอร์แม่ข่ายมีปัญหา ติดต่อเครื่องแม่ข่ายไม่ได้"},
    {"DELETE statement conflicted with COLUMN REFERENCE",
     "ข้อมูลที่ลบถูกอ้างโดยข้อมูลอื่น ไม่สามารถลบข้อมูลนี้ได้"},
    {"Printer selected is not valid", "ยังไม่ได้กำหนดเครื่องพิมพ์ หรือ เครื่องพิมพ์มีปัญหา"},
    {"Insufficient memory", "Memory หน่วยความจำของเครื่องไม่เพียงพอ"},
    {"SQL Server connection timed out", "เครื่องแม่ข่ายตัดการติดต่อ เพราะเครื่องนี้อาจเรียกข้อมูลปริมาณมากเกินไป"},
    {"Cannot insert duplicate", "ข้อมูลที่เพิ่มซ้ำกับข้อมูลที่มีอยู่แล้ว"},
}};

}  // namespace

QString ThaiExplanation(const QString& message) {
  const QString upper = UpperAscii(message);
  for (const auto& [english, thai] : kExplanations)
    if (upper.contains(UpperAscii(QString::fromLatin1(english)))) return QString::fromUtf8(thai);
  return {};
}

QString ErrorWindowText(const QString& message) {
  return ThaiExplanation(message) + u'\r' + UpperAscii(message) + u'\r';
}

QStringList SplitLines(const QString& text) {
  static const QRegularExpression kBreak(QStringLiteral("\r\n|\r|\n"));
  QStringList lines = text.split(kBreak);
  if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
  return lines;
}

TSupportMail& SupportMail() {
  static TSupportMail settings;
  return settings;
}

}  // namespace qav
