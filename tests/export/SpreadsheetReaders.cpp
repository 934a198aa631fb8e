#include "tests/export/SpreadsheetReaders.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QUrl>

namespace qav::test {

QString ConvertToCsv(SheetReader reader, SheetKind kind, const QString& file,
                     const QString& workDir, QString* log) {
  QProcess p;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  QStringList args;
  QString program, csv;
  if (reader == SheetReader::LibreOffice) {
    program = QStandardPaths::findExecutable(QStringLiteral("soffice"));
    // A profile of its own, so that parallel runs do not wait for each other.
    args << QStringLiteral("-env:UserInstallation=") +
                QUrl::fromLocalFile(QDir(workDir).filePath(QStringLiteral("profile"))).toString()
         << QStringLiteral("--headless");
    if (kind == SheetKind::Xls) {
      // The file carries no code page: Excel on a Thai system reads its texts in the
      // system's code page, and so does LibreOffice under a Thai locale.
      env.insert(QStringLiteral("LC_ALL"), QStringLiteral("th_TH.TIS-620"));
      env.insert(QStringLiteral("LANG"), QStringLiteral("th_TH.TIS-620"));
    } else if (kind == SheetKind::Csv) {
      // Comma, quote, UTF-8, from the first line; the texts are the file's, the rest Calc's.
      args << QStringLiteral("--infilter=CSV:44,34,76,1");
    } else if (kind != SheetKind::Xlsx) {
      // The filter LibreOffice chooses itself for both, told the code page.
      args << QStringLiteral("--infilter=WPS_Lotus_Calc:CP874");
    }
    // UTF-8, the cells' values rather than their formatted texts; in a folder of its own, so
    // that a CSV file read is not overwritten by the one written.
    const QString outDir = QDir(workDir).filePath(QStringLiteral("converted"));
    QDir().mkpath(outDir);
    args << QStringLiteral("--convert-to")
         << QStringLiteral("csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,false,false")
         << QStringLiteral("--outdir") << outDir << file;
    csv = QDir(outDir).filePath(QFileInfo(file).completeBaseName() + QStringLiteral(".csv"));
  } else {
    program = QStandardPaths::findExecutable(QStringLiteral("ssconvert"));
    csv = file + QStringLiteral(".csv");
    args << file << csv;
  }
  p.setProcessEnvironment(env);
  p.setProcessChannelMode(QProcess::MergedChannels);
  p.start(program, args);
  if (!p.waitForFinished(60000)) {
    p.kill();
    p.waitForFinished();
    ADD_FAILURE() << program.toStdString() << " did not finish within 60 s";
    return {};
  }
  if (log) *log = QString::fromLocal8Bit(p.readAll());
  QFile out(csv);
  if (!out.open(QIODevice::ReadOnly)) return {};
  return QString::fromUtf8(out.readAll());
}

std::vector<QStringList> ParseCsv(const QString& csv) {
  std::vector<QStringList> rows;
  QStringList row;
  QString field;
  bool quoted = false, any = false;
  for (qsizetype i = 0; i < csv.size(); ++i) {
    const QChar c = csv[i];
    if (quoted) {
      if (c == u'"' && i + 1 < csv.size() && csv[i + 1] == u'"') {
        field += u'"';
        ++i;
      } else if (c == u'"') {
        quoted = false;
      } else {
        field += c;
      }
    } else if (c == u'"') {
      quoted = any = true;
    } else if (c == u',') {
      row << field;
      field.clear();
      any = true;
    } else if (c == u'\n' || c == u'\r') {
      if (c == u'\r' && i + 1 < csv.size() && csv[i + 1] == u'\n') ++i;
      row << field;
      rows.push_back(row);
      row.clear();
      field.clear();
      any = false;
    } else {
      field += c;
      any = true;
    }
  }
  if (any || !field.isEmpty()) {
    row << field;
    rows.push_back(row);
  }
  return rows;
}

}  // namespace qav::test
