#include "export/ExportStrings.h"

namespace qav {

QString ExportLanguageText(int id) {
  switch (id) {
    case lsPropertyNotSpecified:
      return QStringLiteral("Property %s is not specified.");
    case lsUnsupportedGrid:
      return QStringLiteral("Assigned DBGrid (%s) is not a supported type");
    case lsExportDone:
      return QStringLiteral("The %s file was successfully generated with exported data.");
    case lsExportError:
      return QStringLiteral("Error of data export.");
    case lsExporting:
      return QStringLiteral("Exporting...");
    case lsNoProcessDialog:
      return QStringLiteral("Can't create a process dialog");
    case lsCancelCaption:
      return QStringLiteral("&Cancel");
    case lsExportCanceled:
      return QStringLiteral("Data export was canceled by user.");
    default:
      return {};
  }
}

QString FormatExportText(const QString& text, const QString& argument) {
  QString out = text;
  const qsizetype at = out.indexOf(QLatin1String("%s"));
  if (at >= 0) out.replace(at, 2, argument);
  return out;
}

}  // namespace qav
