#pragma once

#include <QString>
#include <QStringList>
#include <vector>

namespace qav::test {

// Real spreadsheet programs reading back the worksheet files we write.
enum class SheetKind { Xls, Wks, Wq1, Xlsx, Csv };
enum class SheetReader { LibreOffice, Gnumeric };

// Runs the reader on the file (soffice --convert-to csv in a profile of its own under workDir,
// or ssconvert) and returns the CSV it wrote as UTF-8, or empty after a failure; the reader's
// output goes to *log.
QString ConvertToCsv(SheetReader reader, SheetKind kind, const QString& file,
                     const QString& workDir, QString* log = nullptr);

// RFC 4180 fields; lines end with LF or CR LF.
std::vector<QStringList> ParseCsv(const QString& csv);

}  // namespace qav::test
