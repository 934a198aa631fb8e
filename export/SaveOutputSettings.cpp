#include "export/SaveOutputSettings.h"

#include "export/CsvExport.h"
#include "export/ExcelExport.h"
#include "export/LotusExport.h"
#include "export/QuattroExport.h"
#include "export/TextExport.h"
#include "export/WordExport.h"
#include "export/XlsxExport.h"

#include <QStringList>
#include <iterator>

namespace qav {

namespace {

void ApplyCommonSettings(TExportBaseComponent& c) {
  c.AnimatedStatus = true;
  c.DataFormats.DateSeparator = u'/';
  c.DataFormats.TimeSeparator = u':';
  c.DataFormats.FourDigitYear = true;
  c.DataFormats.ThousandSeparator = u',';
  c.DataFormats.DecimalSeparator = u'.';
  c.DataFormats.CurrencyString = QStringLiteral("฿");
  c.DataFormats.BooleanTrue = QStringLiteral("True");
  c.DataFormats.BooleanFalse = QStringLiteral("False");
  c.DataFormats.DateOrder = doMDY;
  c.DataFormats.LeadingZerosInDate = true;
  c.KeyGenerator = QStringLiteral("DataExport 4.30");
  c.SelectedRecord = false;
  c.BlankIfZero = false;
  c.RightToLeft = false;
  c.Columns.Clear();
  c.ColumnSource = csDBGrid;
  c.AddTitle = true;
  c.CharacterSet = csANSI_WINDOWS;
  c.Options = soShowMessage | soWaitCursor | soDisableControls;
  c.ActionAfterExport = aeNone;
  // A cancelled or failed save must not leave half a file, nor lose the one it was to replace.
  c.FileCommit = fcReplaceWhenDone;
}

void BlackRows(TExportBaseComponent& c) {
  c.ExportStyle.SetStyle(esNormal);
  c.ExportStyle.OddColor = Qt::black;
  c.ExportStyle.EvenColor = Qt::black;
}

}  // namespace

std::unique_ptr<TExportBaseComponent> CreateSaveOutputComponent(TSaveFormat format,
                                                                QObject* owner) {
  std::unique_ptr<TExportBaseComponent> c;
  switch (format) {
    case TSaveFormat::Xls:
      c = std::make_unique<TExportToXLS>(owner);
      c->setObjectName(QStringLiteral("ExportToXLS"));
      ApplyCommonSettings(*c);
      c->KeyGenerator = QStringLiteral("DataExport 4.3");
      c->SelectedRecord = true;
      c->DataFormats.DateOrder = doDMY;
      c->DataFormats.LeadingZerosInDate = false;
      BlackRows(*c);
      break;
    case TSaveFormat::Word:
      c = std::make_unique<TExportToWord>(owner);
      c->setObjectName(QStringLiteral("ExportToWord"));
      ApplyCommonSettings(*c);
      BlackRows(*c);
      break;
    case TSaveFormat::Text: {
      auto text = std::make_unique<TExportToText>(owner);
      text->setObjectName(QStringLiteral("ExportToText"));
      ApplyCommonSettings(*text);
      text->TextQualifying = tqAny;
      text->TextQualifier = QChar();
      text->Separator = u'\t';
      text->RecordSeparator = QStringLiteral("\r\n");
      text->Fixed = false;
      c = std::move(text);
      break;
    }
    case TSaveFormat::Wks:
      c = std::make_unique<TExportToWKS>(owner);
      c->setObjectName(QStringLiteral("ExportToWKS"));
      ApplyCommonSettings(*c);
      break;
    case TSaveFormat::Quattro:
      c = std::make_unique<TExportToQuattro>(owner);
      c->setObjectName(QStringLiteral("ExportToQuattro"));
      ApplyCommonSettings(*c);
      break;
    case TSaveFormat::Xlsx:
      c = std::make_unique<TExportToXlsx>(owner);
      c->setObjectName(QStringLiteral("ExportToXlsx"));
      ApplyCommonSettings(*c);
      break;
    case TSaveFormat::Csv:
      c = std::make_unique<TExportToCsv>(owner);
      c->setObjectName(QStringLiteral("ExportToCsv"));
      ApplyCommonSettings(*c);
      break;
  }
  return c;
}

QString SaveOutputFilter() {
  QStringList parts;
  for (const TSaveType& type : kSaveTypes)
    parts << QString::fromUtf8(type.Description) << QString::fromUtf8(type.Pattern);
  return parts.join(u'|');
}

const TSaveType* SaveTypeAt(int filterIndex) {
  if (filterIndex < 1 || filterIndex > static_cast<int>(std::size(kSaveTypes))) return nullptr;
  return &kSaveTypes[filterIndex - 1];
}

QString SaveTypeExtension(const TSaveType& type) {
  // One spelling whichever way the type was chosen: the file dialog's list's, so that a second
  // save of the same name meets the first file and its overwrite question.
  return QString::fromUtf8(type.Pattern).remove(QStringLiteral("*."));
}

}  // namespace qav
