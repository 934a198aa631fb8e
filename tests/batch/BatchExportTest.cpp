// qavtool-export, the real executable, against the embedded demo suite: its files against what
// the console's "Save output TO" writes for the same statement, bad input, Ctrl+C, and the ODBC
// back end through the TDS test server.
#include "batch/BatchDataEngine.h"
#include "batch/BatchExport.h"
#include "batch/BatchProgress.h"
#include "batch/StatementCount.h"
#include "console/ResultGrid.h"
#include "core/Cp874.h"
#include "core/FormatSettings.h"
#include "db/Database.h"
#include "db/Errors.h"
#include "db/Query.h"
#include "export/ExportComponent.h"
#include "platform/Files.h"
#include "tests/console/ConsoleFixture.h"
#include "tests/export/DocxProbe.h"
#include "tests/tds/TdsTestSuite.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <csignal>

using namespace qav;

namespace {

struct Outcome {
  int exitCode = -1;
  QString err;
};

// Runs qavtool-export in `folder` (where Server.Dat is read).
Outcome RunTool(const QStringList& args, const QString& folder = QDir::currentPath()) {
  QProcess p;
  p.setWorkingDirectory(folder);
  p.start(QStringLiteral(QAVTOOL_EXPORT_PATH), args);
  Outcome o;
  if (!p.waitForFinished(120000)) {
    p.kill();
    p.waitForFinished();
    o.err = QStringLiteral("timed out");
    return o;
  }
  o.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  o.err = QString::fromUtf8(p.readAllStandardError());
  return o;
}

QByteArray ReadAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A workbook's cells as openpyxl reads them, one JSON row per line (read_back.py).
QByteArray ReadWorkbook(const QString& path) {
  QProcess p;
  p.start(QStringLiteral(QAV_SYSTEM_PYTHON),
          {QStringLiteral(QAV_READ_BACK_SCRIPT), QStringLiteral("xlsx"), path});
  if (!p.waitForFinished(60000) || p.exitCode() != 0) {
    ADD_FAILURE() << "openpyxl could not read " << path.toStdString() << ": "
                  << p.readAllStandardError().toStdString();
    return {};
  }
  return p.readAllStandardOutput();
}

// The file's entries other than `keep`, which tests leave in the folder.
QStringList LeftOver(const QString& folder, const QStringList& keep) {
  QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden);
  for (const QString& k : keep) names.removeAll(k);
  return names;
}

// A worksheet's cells: the records (16-bit type, 16-bit length, data) of `cellTypes`. With
// `attributes`, the three attribute bytes after an Excel cell's row and column are left out:
// they hold the font, and the dataset's column list sets its captions in bold where the
// console's grid gives its own fonts. The cells themselves, position, type and value, must be
// the same.
struct Record {
  quint16 type;
  QByteArray data;
  bool operator==(const Record&) const = default;
};
std::vector<Record> CellRecords(const QByteArray& file, const std::vector<quint16>& cellTypes,
                                bool attributes = false) {
  std::vector<Record> cells;
  for (qsizetype at = 0; at + 4 <= file.size();) {
    const auto type = static_cast<quint16>(quint8(file[at]) | quint8(file[at + 1]) << 8);
    const auto length = static_cast<quint16>(quint8(file[at + 2]) | quint8(file[at + 3]) << 8);
    for (quint16 c : cellTypes) {
      if (c != type) continue;
      QByteArray data = file.mid(at + 4, length);
      if (attributes) data.remove(4, 3);
      cells.push_back({type, data});
    }
    at += 4 + length;
  }
  return cells;
}

// Thai text and captions, money, decimals, dates and date-times, floats, bits and nulls, over more
// rows than a forward-only window holds (Customer 200 x Salesman 8).
const char kStatement[] =
    "select c.Id, c.Code, c.NameThai, c.NameEng, c.TaxNo, c.CreditLimit, c.Discount,\n"
    "       c.Blocked, c.CreateDate, c.LastSaleDate, m.NameThai as \"พนักงานขาย\",\n"
    "       m.CommissionRate,\n"
    "       c.CreditLimit * 1.5 / 7 as Ratio\n"
    "from Customer c cross join Salesman m\n"
    "order by c.Id, m.Id";

class BatchAgainstConsole : public test::Console {
 protected:
  // What start-up sets before the console opens; the fixture does not run start-up.
  void SetUp() override {
    savedDateFormat_ = FormatSettings().ShortDateFormat;
    FormatSettings().ShortDateFormat = QStringLiteral("dd/mm/yyyy");
    test::Console::SetUp();
  }
  void TearDown() override {
    test::Console::TearDown();
    FormatSettings().ShortDateFormat = savedDateFormat_;
  }

  void SaveFromConsole(const QString& path, int format) {
    answers_ = {path};
    filterIndex_ = format;
    window_->BtnExport->click();
    ASSERT_TRUE(QFile::exists(path))
        << Texts(DialogRequest::Kind::Information).join('\n').toStdString();
  }

  QString savedDateFormat_;
};

}  // namespace

TEST_F(BatchAgainstConsole, WritesTheCellsTheConsoleWritesInEveryFormat) {
  window_->Memo1->setPlainText(QString::fromUtf8(kStatement));
  window_->BtnExec->click();
  ASSERT_TRUE(window_->BtnExport->isEnabled());
  // The statement from a file, as a script would give it: UTF-8 (a Thai caption) with CR LF
  // line ends.
  const QString sqlFile = WriteFile("statement.sql", QByteArray(kStatement).replace("\n", "\r\n"));

  struct Case {
    const char* format;
    int filterIndex;
    std::vector<quint16> cellTypes;  // none: compared as a whole
    bool attributes;                 // the cells carry Excel's attribute bytes
  };
  const Case cases[] = {{"txt", 3, {}, false},
                        {"xls", 1, {0x0001, 0x0002, 0x0003, 0x0004}, true},
                        {"wks", 4, {0x000C, 0x000D, 0x000E, 0x000F}, false},
                        {"wq1", 5, {0x000C, 0x000D, 0x000E, 0x000F}, false},
                        {"doc", 2, {}, false},
                        {"xlsx", 6, {}, false},
                        {"csv", 7, {}, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format);
    const QString console = files_.path() + "/console." + c.format;
    const QString batch = files_.path() + "/batch." + c.format;
    SaveFromConsole(console, c.filterIndex);
    const Outcome o =
        RunTool({"--database", "DEMO", "--sql", sqlFile, "--format", c.format, "--out", batch});
    ASSERT_EQ(o.exitCode, bxDone) << o.err.toStdString();
    EXPECT_TRUE(o.err.startsWith("Exported 1,600 rows to " + batch)) << o.err.toStdString();

    if (QLatin1String(c.format) == QLatin1String("doc")) {
      const test::InspectedDocument want = test::InspectDocx(console);
      const test::InspectedDocument got = test::InspectDocx(batch);
      ASSERT_TRUE(want.FirstTable() && got.FirstTable()) << got.Error.toStdString();
      ASSERT_EQ(got.FirstTable()->Rows.size(), 1601u);
      for (size_t r = 0; r < want.FirstTable()->Rows.size(); ++r)
        for (size_t k = 0; k < want.FirstTable()->Rows[r].size(); ++k)
          ASSERT_EQ(got.FirstTable()->Rows[r][k].Text(), want.FirstTable()->Rows[r][k].Text())
              << r << "," << k;
    } else if (QLatin1String(c.format) == QLatin1String("xlsx")) {
      // The workbook's package carries the time it was made: compare the cells openpyxl reads.
      const QByteArray want = ReadWorkbook(console);
      EXPECT_EQ(want.count('\n'), 1601);
      EXPECT_EQ(ReadWorkbook(batch), want);
    } else if (c.cellTypes.size() == 0) {
      EXPECT_EQ(ReadAll(batch), ReadAll(console));
    } else {
      const auto want = CellRecords(ReadAll(console), c.cellTypes, c.attributes);
      ASSERT_EQ(want.size(), 1601u * 13);
      EXPECT_TRUE(CellRecords(ReadAll(batch), c.cellTypes, c.attributes) == want);
    }
  }
  EXPECT_EQ(LeftOver(files_.path(), {"statement.sql"}).filter(".part"), QStringList());
}

// Date-times a statement computes (DATEADD, CAST, a date plus days) are date-times, as SQL
// Server types them: the grid shows them and every writer writes them as the stored column.
TEST_F(BatchAgainstConsole, WritesComputedDateTimesAsTheStoredColumn) {
  const QString sql = QStringLiteral(
      "select top 3 CreateDate, dateadd(day, 0, CreateDate) d0, cast(CreateDate as datetime) c, "
      "dateadd(day, 1, CreateDate) next, CreateDate + 1 plus from Customer order by Id");
  window_->Memo1->setPlainText(sql);
  window_->BtnExec->click();
  const QAbstractItemModel* m = window_->DBGExecSQL->model();
  ASSERT_EQ(m->rowCount(), 3);
  for (int r = 0; r < 3; ++r) {
    const QString stored = m->data(m->index(r, 0)).toString();
    EXPECT_TRUE(stored.contains(QRegularExpression(QStringLiteral("^\\d\\d/\\d\\d/\\d{4}"))))
        << stored.toStdString();
    EXPECT_EQ(m->data(m->index(r, 1)).toString(), stored);
    EXPECT_EQ(m->data(m->index(r, 2)).toString(), stored);
    EXPECT_EQ(m->data(m->index(r, 4)).toString(), m->data(m->index(r, 3)).toString());
  }

  const QString out = files_.path() + "/computed.";
  for (const char* format : {"txt", "xls", "xlsx"}) {
    const Outcome o = RunTool({"--database", "DEMO", "--query", sql, "--format", format, "--out",
                               out + QLatin1String(format)});
    ASSERT_EQ(o.exitCode, bxDone) << format << o.err.toStdString();
  }
  const QList<QByteArray> lines = ReadAll(out + "txt").split('\n');
  ASSERT_GE(lines.size(), 4);
  for (int r = 1; r <= 3; ++r) {
    const QList<QByteArray> cells = lines[r].trimmed().split('\t');
    ASSERT_EQ(cells.size(), 5) << lines[r].toStdString();
    EXPECT_EQ(cells[1], cells[0]);
    EXPECT_EQ(cells[2], cells[0]);
    EXPECT_EQ(cells[4], cells[3]);
    EXPECT_EQ(QString::fromLatin1(cells[0]), m->data(m->index(r - 1, 0)).toString());
  }
  // Excel: a NUMBER record in the stored column's date format, for each of them.
  const auto numbers = CellRecords(ReadAll(out + "xls"), {0x0003});
  ASSERT_EQ(numbers.size(), 15u);
  for (std::size_t i = 0; i < numbers.size(); i += 5) {
    for (std::size_t k = 1; k <= 2; ++k)
      EXPECT_EQ(numbers[i + k].data.mid(4), numbers[i].data.mid(4)) << i << "," << k;
    EXPECT_EQ(numbers[i + 4].data.mid(4), numbers[i + 3].data.mid(4)) << i;
  }
  // The workbook: date cells, as openpyxl reads them.
  const QList<QByteArray> rows = ReadWorkbook(out + "xlsx").trimmed().split('\n');
  ASSERT_EQ(rows.size(), 4);
  for (int r = 1; r <= 3; ++r) {
    QList<QByteArray> cells = rows[r].mid(1, rows[r].size() - 2).split(',');
    ASSERT_EQ(cells.size(), 5) << rows[r].toStdString();
    for (QByteArray& cell : cells) cell = cell.trimmed();
    EXPECT_TRUE(cells[0].startsWith("\"d:")) << rows[r].toStdString();
    EXPECT_EQ(cells[1], cells[0]);
    EXPECT_EQ(cells[2], cells[0]);
    EXPECT_TRUE(cells[3].startsWith("\"d:")) << rows[r].toStdString();
    EXPECT_EQ(cells[4], cells[3]);
  }
}

namespace {

class BatchTool : public ::testing::Test {
 protected:
  QString Out(const QString& name) const { return suite_.Root() + u'/' + name; }
  test::DemoSuiteFolder suite_{60};
};

}  // namespace

TEST_F(BatchTool, RefusesBadInputClearlyAndTouchesNothing) {
  QFile existing(Out("exists.txt"));
  ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
  existing.write("keep me");
  existing.close();
  const QStringList query{"--database", "DEMO", "--query", "select Code, NameThai from Customer"};
  struct Case {
    const char* what;
    QStringList args;
    int exitCode;
    QString message;
  };
  ASSERT_EQ(::mkfifo(QFile::encodeName(Out("pipe.sql")).constData(), 0600), 0);
  const Case cases[] = {
      {"unknown format", query + QStringList{"--format", "pdf", "--out", Out("a.pdf")},
       bxBadArguments, "unknown format pdf"},
      {"missing statement file",
       {"--database", "DEMO", "--sql", Out("none.sql"), "--out", Out("a.txt")},
       bxBadArguments,
       "the statement file " + Out("none.sql") + " does not exist"},
      {"unknown database",
       {"--database", "NOSUCH", "--query", "select 1", "--out", Out("a.txt")},
       bxFailed,
       "Cannot open database \"NOSUCH\" requested by the login. The login failed."},
      {"syntax error",
       {"--database", "DEMO", "--query", "selec Code from Customer", "--out", Out("a.xls")},
       bxFailed,
       "Incorrect syntax near"},
      {"missing output folder", query + QStringList{"--out", Out("no/such/a.txt")}, bxBadArguments,
       "the output folder " + Out("no/such") + " does not exist"},
      {"existing output", query + QStringList{"--out", Out("exists.txt")}, bxBadArguments,
       "exists; give --force to replace it"},
      {"unknown option", query + QStringList{"--out", Out("a.txt"), "--fast"}, bxBadArguments,
       "unknown option --fast"},
      // Refused before the statement runs, not when the finished file takes its name.
      {"name too long for the file system",
       {"--database", "DEMO", "--query", "select * from NoSuchTable", "--out",
        Out(QString(252, u'a') + ".txt")},
       bxBadArguments,
       "the output file name " + QString(252, u'a') +
           ".txt is 256 bytes long; the file system takes at most 255"},
      // Reading a pipe would wait for a writer for ever.
      {"statement file that is a pipe",
       {"--database", "DEMO", "--sql", Out("pipe.sql"), "--out", Out("a.txt")},
       bxBadArguments,
       Out("pipe.sql") + " is not a regular file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Outcome o = RunTool(c.args, suite_.Root());
    EXPECT_EQ(o.exitCode, c.exitCode);
    EXPECT_TRUE(o.err.contains(c.message)) << o.err.toStdString();
    EXPECT_EQ(LeftOver(suite_.Root(), {"Server.Dat", "exists.txt", "pipe.sql"}), QStringList());
  }
  EXPECT_EQ(ReadAll(Out("exists.txt")), "keep me");

  // --force replaces it; a statement from the command line reaches the file in code page 874.
  const Outcome o =
      RunTool(query + QStringList{"--out", Out("exists.txt"), "--force"}, suite_.Root());
  ASSERT_EQ(o.exitCode, bxDone) << o.err.toStdString();
  EXPECT_TRUE(ReadAll(Out("exists.txt"))
                  .startsWith("Code\tNameThai\r\nC0001\t" +
                              ToCp874(QStringLiteral("บริษัท สยามการค้า จำกัด"))));
}

// A join's columns of one name, and names that differ in case only, keep their own values.
TEST_F(BatchTool, ColumnsOfOneNameKeepTheirOwnValues) {
  const Outcome o = RunTool({"--database", "DEMO", "--out", Out("join.txt"), "--query",
                             "select c.Code, s.Code, c.NameEng as n, c.NameThai as N "
                             "from Customer c join Salesman s on s.Id = c.Salesman "
                             "order by c.Id limit 1"},
                            suite_.Root());
  ASSERT_EQ(o.exitCode, bxDone) << o.err.toStdString();
  const QStringList lines = FromCp874(ReadAll(Out("join.txt"))).split(QStringLiteral("\r\n"));
  ASSERT_GE(lines.size(), 2);
  EXPECT_EQ(lines[0], "Code\tCode\tn\tN");
  const QStringList cells = lines[1].split(u'\t');
  ASSERT_EQ(cells.size(), 4);
  EXPECT_TRUE(cells[0].startsWith(u'C')) << cells[0].toStdString();
  EXPECT_TRUE(cells[1].startsWith(u'S')) << cells[1].toStdString();
  // The English name, then the Thai one.
  const auto thai = [](const QString& text) {
    return std::any_of(text.begin(), text.end(),
                       [](QChar ch) { return ch.unicode() >= 0x0E00 && ch.unicode() <= 0x0E7F; });
  };
  EXPECT_FALSE(thai(cells[2])) << cells[2].toStdString();
  EXPECT_TRUE(thai(cells[3])) << cells[3].toStdString();
}

TEST_F(BatchTool, SaysWhatAFormatCannotHold) {
  // Characters outside code page 874 are counted on standard error after the run.
  const QStringList foreign{"--database", "DEMO", "--query",
                            "select 'emoji 😀 中文' as A, 'ok' as B"};
  Outcome o = RunTool(foreign + QStringList{"--out", Out("foreign.txt")}, suite_.Root());
  ASSERT_EQ(o.exitCode, bxDone) << o.err.toStdString();
  EXPECT_TRUE(
      o.err.contains("note: 3 characters in 1 cell could not be written in code page 874 "
                     "and became \"?\". A Word document keeps every character."))
      << o.err.toStdString();
  // The Word document keeps them, under either name, and says nothing.
  o = RunTool(foreign + QStringList{"--out", Out("foreign.docx")}, suite_.Root());
  ASSERT_EQ(o.exitCode, bxDone) << o.err.toStdString();
  EXPECT_FALSE(o.err.contains("note:")) << o.err.toStdString();
  EXPECT_TRUE(ReadAll(Out("foreign.docx")).startsWith("PK"));

  // 40,000 rows do not fit a Word table: refused before any work.
  o = RunTool({"--database", "DEMO", "--query",
               "with recursive n(i) as (select 1 union all select i + 1 from n where i < 40000) "
               "select i from n",
               "--format", "doc", "--out", Out("sales.doc")},
              suite_.Root());
  EXPECT_EQ(o.exitCode, bxFailed);
  EXPECT_TRUE(
      o.err.contains("Word tables hold at most 32,767 rows; this result has 40,000 "
                     "records, which need 40,001."))
      << o.err.toStdString();
  EXPECT_FALSE(QFile::exists(Out("sales.doc")));
}

TEST_F(BatchTool, CtrlCStopsCleanlyAndLeavesAnExistingFileAsItWas) {
  // The workbook writes its rows through a library of its own: it stops as cleanly.
  for (const QString& name : {QStringLiteral("big.txt"), QStringLiteral("big.xlsx")}) {
    SCOPED_TRACE(name.toStdString());
    QFile existing(Out(name));
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
    existing.write("keep me");
    existing.close();
    QProcess p;
    p.setWorkingDirectory(suite_.Root());
    // Rows enough to be still running when the signal comes.
    p.start(QStringLiteral(QAVTOOL_EXPORT_PATH),
            {"--database", "DEMO", "--out", Out(name), "--force", "--query",
             "with recursive n(i) as (select 1 union all select i + 1 from n where i < 50000000)\n"
             "select i, 'บริษัท ทดสอบ จำกัด' as Name from n"});
    ASSERT_TRUE(p.waitForStarted());
    // The partial file shows that rows are being written.
    for (int i = 0;
         i < 200 && LeftOver(suite_.Root(), {"Server.Dat", "big.txt", "big.xlsx"}).isEmpty(); ++i)
      QTest::qWait(50);
    QTest::qWait(200);
    ::kill(static_cast<pid_t>(p.processId()), SIGINT);
    ASSERT_TRUE(p.waitForFinished(30000));
    const QString err = QString::fromUtf8(p.readAllStandardError());
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), bxCancelled) << err.toStdString();
    EXPECT_TRUE(err.contains(
        QRegularExpression("Cancelled after [0-9,]+ rows; .*" + name + " was left as it was.")))
        << err.toStdString();
    EXPECT_EQ(ReadAll(Out(name)), "keep me");
    EXPECT_EQ(LeftOver(suite_.Root(), {"Server.Dat", "big.txt", "big.xlsx"}), QStringList());
  }
}

// Whatever way a run ends, no temporary file outlives it: a hang-up stops it as Ctrl+C does, a
// second Ctrl+C removes the files before the end, and what kill -9 leaves the next run to the
// same file removes. Ctrl+C while the Word document is saved says that the save completes.
TEST_F(BatchTool, NoTemporaryFileOutlivesTheRunHoweverItEnds) {
  const QString rows = QStringLiteral(
      "with recursive n(i) as (select 1 union all select i + 1 from n where i < %1)\n"
      "select i, 'บริษัท ทดสอบ จำกัด' as Name from n");
  struct Case {
    const char* what;
    const char* name;
    int rows;
    bool duringSave;  // signal once the document's archive is being written, else amid the rows
    std::vector<int> sends;  // the signals, in order
    int exitCode;            // -1: ended by the signal; -2: that, or stopped after the row
    const char* said;
  };
  const Case cases[] = {
      {"kill -9", "big.txt", 1000000, false, {SIGKILL}, -1, nullptr},
      {"hang-up",
       "big.txt",
       1000000,
       false,
       {SIGHUP},
       bxCancelled,
       "stopping after the current row"},
      // The first may already have stopped the run when the second comes.
      {"Ctrl+C twice", "big.txt", 1000000, false, {SIGINT, SIGINT}, -2, nullptr},
      {"Ctrl+C during the save",
       "big.doc",
       30000,
       true,
       {SIGINT},
       bxDone,
       "the file is being completed and saved"},
      {"Ctrl+C twice during the save", "big.doc", 30000, true, {SIGINT, SIGINT}, -1, nullptr},
      // The workbook library packs the file at its close, while standard error is its own:
      // the note still reaches the user, and a second Ctrl+C still ends the run.
      {"Ctrl+C during the workbook's packing",
       "big.xlsx",
       300000,
       true,
       {SIGINT},
       bxDone,
       "the file is being completed and saved"},
      {"Ctrl+C twice during the workbook's packing",
       "big.xlsx",
       300000,
       true,
       {SIGINT, SIGINT},
       -1,
       nullptr},
  };
  const QStringList keep{"Server.Dat", "big.txt", "big.doc", "big.xlsx"};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    QProcess p;
    p.setWorkingDirectory(suite_.Root());
    p.start(QStringLiteral(QAVTOOL_EXPORT_PATH),
            {"--database", "DEMO", "--out", Out(c.name), "--force", "--query", rows.arg(c.rows)});
    ASSERT_TRUE(p.waitForStarted());
    // The partial file shows that rows are being written; the archive library's file beside
    // it, that the document is being saved. Bounded by count; the waits are short.
    // The workbook library writes the whole partial file at its close: its first bytes show
    // that the packing has begun.
    const bool workbook = QByteArray(c.name).endsWith(".xlsx");
    const auto started = [&] {
      for (const QString& name : LeftOver(suite_.Root(), keep)) {
        if (!c.duringSave) return true;
        if (workbook ? QFileInfo(Out(name)).size() > 0 : name.contains(QLatin1String(".part.")))
          return true;
      }
      return false;
    };
    for (int i = 0; i < 12000 && !started() && p.state() == QProcess::Running; ++i) QTest::qWait(5);
    ASSERT_TRUE(started()) << p.readAllStandardError().toStdString();
    if (!c.duringSave) QTest::qWait(200);
    // Each signal but the last is heard (its note is out) before the next goes: two pending
    // signals of one kind would be one.
    QString err;
    for (size_t k = 0; k < c.sends.size(); ++k) {
      ::kill(static_cast<pid_t>(p.processId()), c.sends[k]);
      if (k + 1 == c.sends.size()) break;
      for (int i = 0; i < 2000 && !err.contains(QLatin1String("qavtool-export: ")) &&
                      p.state() == QProcess::Running;
           ++i) {
        p.waitForReadyRead(5);
        err += QString::fromUtf8(p.readAllStandardError());
      }
    }
    // The waits above handle the process's events: it may have been seen ending already.
    if (p.state() != QProcess::NotRunning) {
      ASSERT_TRUE(p.waitForFinished(60000));
    }
    err += QString::fromUtf8(p.readAllStandardError());
    if (c.exitCode == -2 && p.exitStatus() == QProcess::NormalExit) {
      EXPECT_EQ(p.exitCode(), bxCancelled) << err.toStdString();
    } else if (c.exitCode < 0) {
      EXPECT_EQ(p.exitStatus(), QProcess::CrashExit) << err.toStdString();
    } else {
      EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
      EXPECT_EQ(p.exitCode(), c.exitCode) << err.toStdString();
    }
    if (c.said) {
      EXPECT_TRUE(err.contains(QLatin1String(c.said))) << err.toStdString();
    }
    if (c.duringSave && c.exitCode == bxDone) {
      EXPECT_FALSE(err.contains("stopping after the current row")) << err.toStdString();
      EXPECT_TRUE(ReadAll(Out(c.name)).startsWith("PK"));
    }
    if (c.sends.front() == SIGKILL) {
      EXPECT_FALSE(LeftOver(suite_.Root(), keep).isEmpty()) << "kill -9 left nothing to clean";
      // The next run to the same file removes what the dead one left.
      const Outcome o =
          RunTool({"--database", "DEMO", "--out", Out(c.name), "--force", "--query", rows.arg(10)},
                  suite_.Root());
      EXPECT_EQ(o.exitCode, bxDone) << o.err.toStdString();
    }
    EXPECT_EQ(LeftOver(suite_.Root(), keep), QStringList());
  }
}

namespace {

bool IsCharacterDevice(const char* path) {
  struct stat info {};
  return ::stat(path, &info) == 0 && S_ISCHR(info.st_mode);
}

}  // namespace

// The cleaner of partial files trusts a lock, not a process id: a file whose id names a running
// process (here the system's first) but whose lock nobody holds is a dead run's and goes; one
// whose lock is held stays, whatever its id. A partial file removed while the run writes it
// fails the run, and nothing is published.
TEST_F(BatchTool, PartialFilesAreJudgedByTheirLocksAndMustStayTheRunsOwn) {
  const QString dead = Out(".big.txt.1-abcdef.part");
  const QString deadCompanion = dead + ".zip";
  const QString held = Out(".big.txt.999999-fedcba.part");
  for (const QString& name : {dead, deadCompanion}) {
    QFile f(name);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  }
  int holder = -1;
  ASSERT_EQ(platform::CreateLockedFile(held, &holder), 0);
  const QStringList query{"--database", "DEMO", "--query", "select Code from Customer"};
  Outcome o = RunTool(query + QStringList{"--out", Out("big.txt")}, suite_.Root());
  EXPECT_EQ(o.exitCode, bxDone) << o.err.toStdString();
  EXPECT_EQ(LeftOver(suite_.Root(), {"Server.Dat", "big.txt"}),
            QStringList{QFileInfo(held).fileName()});
  platform::CloseHandle(holder);
  QFile::remove(held);

  for (const char* name : {"gone.txt", "gone.csv"}) {
    SCOPED_TRACE(name);
    QProcess p;
    p.setWorkingDirectory(suite_.Root());
    p.start(QStringLiteral(QAVTOOL_EXPORT_PATH),
            {"--database", "DEMO", "--out", Out(name), "--query",
             "with recursive n(i) as (select 1 union all select i + 1 from n where i < 1000000)\n"
             "select i, 'บริษัท ทดสอบ จำกัด' as Name from n"});
    ASSERT_TRUE(p.waitForStarted());
    QString partial;
    for (int i = 0; i < 12000 && partial.isEmpty() && p.state() == QProcess::Running; ++i) {
      const QStringList left = LeftOver(suite_.Root(), {"Server.Dat", "big.txt"});
      if (!left.isEmpty()) partial = left.front();
      QTest::qWait(5);
    }
    ASSERT_FALSE(partial.isEmpty());
    ASSERT_TRUE(QFile::remove(Out(partial)));
    ASSERT_TRUE(p.waitForFinished(300000));
    const QString err = QString::fromUtf8(p.readAllStandardError());
    EXPECT_EQ(p.exitCode(), bxFailed) << err.toStdString();
    EXPECT_TRUE(err.contains("was removed or replaced while it was written")) << err.toStdString();
    EXPECT_FALSE(QFile::exists(Out(name)));
    EXPECT_EQ(LeftOver(suite_.Root(), {"Server.Dat", "big.txt"}), QStringList());
  }
}

// --force gives the new file the old one's mode, and its owner and group where permitted.
TEST_F(BatchTool, AReplacedFileKeepsItsModeAndOwner) {
  const QByteArray path = QFile::encodeName(Out("kept.txt"));
  QFile old(Out("kept.txt"));
  ASSERT_TRUE(old.open(QIODevice::WriteOnly));
  old.write("old");
  old.close();
  ASSERT_EQ(::chmod(path.constData(), 0600), 0);
  const bool root = ::geteuid() == 0;
  if (root) {
    ASSERT_EQ(::chown(path.constData(), 4321, 4321), 0);
  }
  for (const char* format : {"txt", "xlsx", "doc"}) {
    SCOPED_TRACE(format);
    const Outcome o = RunTool({"--database", "DEMO", "--query", "select Code from Customer",
                               "--format", format, "--out", Out("kept.txt"), "--force"},
                              suite_.Root());
    ASSERT_EQ(o.exitCode, bxDone) << o.err.toStdString();
    struct stat info {};
    ASSERT_EQ(::stat(path.constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    if (root) {
      EXPECT_EQ(info.st_uid, 4321u);
      EXPECT_EQ(info.st_gid, 4321u);
    }
    EXPECT_NE(ReadAll(Out("kept.txt")), "old");
  }
}

// With every standard stream closed, no file or pipe of the run takes their numbers: the run
// writes its file as usual.
TEST_F(BatchTool, RunsWithEveryStandardStreamClosed) {
  QProcess p;
  p.setWorkingDirectory(suite_.Root());
  p.start(
      QStringLiteral("/bin/sh"),
      {"-c", "exec \"$0\" \"$@\" <&- >&- 2>&-", QStringLiteral(QAVTOOL_EXPORT_PATH), "--database",
       "DEMO", "--query", "select Code from Customer order by Id", "--out", Out("closed.txt")});
  ASSERT_TRUE(p.waitForFinished(120000));
  EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(p.exitCode(), bxDone);
  EXPECT_TRUE(ReadAll(Out("closed.txt")).startsWith("Code\r\nC0001\r\n"));
  EXPECT_EQ(LeftOver(suite_.Root(), {"Server.Dat", "closed.txt"}), QStringList());
}

// Texts a spreadsheet would run as formulas get a "'" before them in csv and txt files, and
// Python's csv module reads them back as those texts; numbers stay numbers. --keep-formulas
// writes them as they are.
TEST_F(BatchTool, TextsThatLookLikeFormulasStayTexts) {
  const QString query = QStringLiteral(
      "select '=cmd|'' /C calc''!A0' as a, '=HYPERLINK(\"http://x.invalid\",\"y\")' as b, "
      "'+1+2' as c, '@SUM(A1)' as d, -5 as n, '-5' as t, 'plain' as e");
  const QStringList guarded = {"'=cmd|' /C calc'!A0",
                               "'=HYPERLINK(\"http://x.invalid\",\"y\")",
                               "'+1+2",
                               "'@SUM(A1)",
                               "-5",
                               "'-5",
                               "plain"};
  const QStringList kept = {"=cmd|' /C calc'!A0",
                            "=HYPERLINK(\"http://x.invalid\",\"y\")",
                            "+1+2",
                            "@SUM(A1)",
                            "-5",
                            "-5",
                            "plain"};
  for (const bool keep : {false, true}) {
    SCOPED_TRACE(keep);
    QStringList args{"--database", "DEMO", "--query", query, "--force"};
    if (keep) args << "--keep-formulas";
    ASSERT_EQ(RunTool(args + QStringList{"--out", Out("f.csv")}, suite_.Root()).exitCode, bxDone);
    ASSERT_EQ(RunTool(args + QStringList{"--out", Out("f.txt")}, suite_.Root()).exitCode, bxDone);
    QProcess reader;
    reader.start(QStringLiteral(QAV_SYSTEM_PYTHON),
                 {QStringLiteral(QAV_READ_BACK_SCRIPT), QStringLiteral("csv"), Out("f.csv")});
    ASSERT_TRUE(reader.waitForFinished(60000));
    const QList<QByteArray> rows = reader.readAllStandardOutput().trimmed().split('\n');
    ASSERT_EQ(rows.size(), 2);
    QStringList cells;
    for (const QJsonValue v : QJsonDocument::fromJson(rows[1]).array()) cells << v.toString();
    EXPECT_EQ(cells, keep ? kept : guarded);
    const QByteArray text = ReadAll(Out("f.txt"));
    EXPECT_TRUE(text.endsWith((keep ? kept : guarded).join(u'\t').toUtf8() + "\r\n"))
        << text.toStdString();
  }
}

TEST_F(BatchTool, ReplacesOnlyRegularFilesAndFollowsSymbolicLinks) {
  const QStringList query{"--database", "DEMO", "--query", "select Code from Customer", "--force"};
  ASSERT_EQ(::mkfifo(QFile::encodeName(Out("pipe.txt")).constData(), 0600), 0);
  ASSERT_TRUE(QFile::link("/dev/null", Out("null.txt")));
  ASSERT_TRUE(QFile::link("/proc/self/fd/1", Out("stdout.txt")));
  ASSERT_TRUE(QFile::link(Out("nowhere.txt"), Out("dangling.txt")));
  struct Case {
    const char* name;
    const char* message;
  };
  const Case refused[] = {
      {"pipe.txt", "is not a regular file"},
      {"null.txt", "is not a regular file"},
      {"stdout.txt", "is not a regular file"},
      {"dangling.txt", "which does not exist"},
  };
  const QStringList kept{"Server.Dat", "pipe.txt", "null.txt", "stdout.txt", "dangling.txt"};
  for (const Case& c : refused) {
    SCOPED_TRACE(c.name);
    const Outcome o = RunTool(query + QStringList{"--out", Out(c.name)}, suite_.Root());
    EXPECT_EQ(o.exitCode, bxBadArguments) << o.err.toStdString();
    EXPECT_TRUE(o.err.contains(c.message)) << o.err.toStdString();
    EXPECT_EQ(LeftOver(suite_.Root(), kept), QStringList());
  }
  EXPECT_TRUE(IsCharacterDevice("/dev/null"));
  EXPECT_EQ(QFileInfo(Out("null.txt")).symLinkTarget(), "/dev/null");
  EXPECT_FALSE(QFileInfo(Out("pipe.txt")).isFile());

  // A link to a file: the file gets the export, the link stays a link.
  QFile target(Out("real.txt"));
  ASSERT_TRUE(target.open(QIODevice::WriteOnly));
  target.write("old");
  target.close();
  ASSERT_TRUE(QFile::link(Out("real.txt"), Out("link.txt")));
  const Outcome o = RunTool(query + QStringList{"--out", Out("link.txt")}, suite_.Root());
  ASSERT_EQ(o.exitCode, bxDone) << o.err.toStdString();
  EXPECT_TRUE(QFileInfo(Out("link.txt")).isSymLink());
  EXPECT_TRUE(ReadAll(Out("real.txt")).startsWith("Code\r\nC0001\r\n"));
  EXPECT_EQ(LeftOver(suite_.Root(), kept + QStringList{"real.txt", "link.txt"}), QStringList());
}

TEST_F(BatchTool, WritesTextToStandardOutput) {
  const QStringList query{"--database", "DEMO", "--query",
                          "select Code, NameThai, CreditLimit from Customer order by Id"};
  ASSERT_EQ(RunTool(query + QStringList{"--out", Out("file.txt")}, suite_.Root()).exitCode, bxDone);
  QProcess p;
  p.setWorkingDirectory(suite_.Root());
  p.start(QStringLiteral(QAVTOOL_EXPORT_PATH), query + QStringList{"--out", "-"});
  ASSERT_TRUE(p.waitForFinished(120000));
  const QString err = QString::fromUtf8(p.readAllStandardError());
  EXPECT_EQ(p.exitCode(), bxDone) << err.toStdString();
  EXPECT_EQ(p.readAllStandardOutput(), ReadAll(Out("file.txt")));
  EXPECT_TRUE(err.startsWith("Exported 200 rows to standard output")) << err.toStdString();
  EXPECT_EQ(LeftOver(suite_.Root(), {"Server.Dat", "file.txt"}), QStringList());

  const Outcome xls = RunTool(query + QStringList{"--out", "-", "--format", "xls"}, suite_.Root());
  EXPECT_EQ(xls.exitCode, bxBadArguments);
  EXPECT_TRUE(xls.err.contains("--out - writes the txt and csv formats only"))
      << xls.err.toStdString();
}

// Nested comments, a "]]" inside a bracketed name and the GO batches of a script, read as SQL
// Server and its tools read them.
TEST_F(BatchTool, ReadsScriptsAsSqlServerAndItsToolsDo) {
  struct Case {
    const char* query;
    QByteArray out;
  };
  const Case cases[] = {
      {"/* a /* b */ c */ select 2 as x", "x\r\n2\r\n"},
      {"select 1 as [a]]b]", "a]b\r\n1\r\n"},
      {"create table #g (v int)\ngo\ninsert into #g values (7) -- twice\nGo 2\n"
       "select count(*) as n, sum(v) as s from #g",
       "n\ts\r\n2\t14\r\n"},
  };
  for (const Case& c : cases) {
    QProcess p;
    p.setWorkingDirectory(suite_.Root());
    p.start(QStringLiteral(QAVTOOL_EXPORT_PATH),
            {"--database", "DEMO", "--query", c.query, "--out", "-"});
    ASSERT_TRUE(p.waitForFinished(120000));
    EXPECT_EQ(p.exitCode(), bxDone) << p.readAllStandardError().toStdString();
    EXPECT_EQ(p.readAllStandardOutput(), c.out) << c.query;
  }

  // The first batch that fails stops the script and is named, with its line, as the console
  // names it. A last batch left inside a comment is no batch of comments: the server refuses it.
  const std::pair<const char*, const char*> failing[] = {
      {"select 1\nGO\nselect * from NoSuchTable\nGO\nselect 3", "Batch 2, line 3: "},
      {"select 1 as a\nGO\n/* select 2 as b", "Batch 2, line 3: Missing end comment mark '*/'."},
      {"select 1 /* open", "Line 1: Missing end comment mark '*/'."},
      {"\nselect 1\n\nselect 1 / 0", "Line 4: Divide by zero error encountered."},
  };
  for (const auto& [script, said] : failing) {
    const Outcome o = RunTool({"--database", "DEMO", "--query", script, "--out", Out("never.txt")},
                              suite_.Root());
    EXPECT_EQ(o.exitCode, bxFailed) << script;
    EXPECT_TRUE(o.err.contains(QLatin1String(said))) << o.err.toStdString();
    EXPECT_FALSE(QFile::exists(Out("never.txt")));
  }
}

TEST_F(BatchTool, AFullDiskNamesTheTargetAndTheSystemsReason) {
  // A file size limit stands in for a full disk: the write that crosses it is cut short, the
  // next one fails with the system's reason, as on a disk that fills up.
  const QString statement = QString::fromUtf8(kStatement);
  for (const char* format : {"txt", "xls", "wks", "doc"}) {
    SCOPED_TRACE(format);
    const QString out = Out(QStringLiteral("full.") + QLatin1String(format));
    QStringList args{"--database", "DEMO", "--query", statement, "--out", out};
    QString command = QStringLiteral("trap '' XFSZ; ulimit -f 40; exec \"$0\" \"$@\"");
    QProcess p;
    p.setWorkingDirectory(suite_.Root());
    p.start(QStringLiteral("/bin/sh"),
            QStringList{"-c", command, QStringLiteral(QAVTOOL_EXPORT_PATH)} + args);
    ASSERT_TRUE(p.waitForFinished(120000));
    const QString err = QString::fromUtf8(p.readAllStandardError());
    EXPECT_EQ(p.exitCode(), bxFailed) << err.toStdString();
    EXPECT_TRUE(err.contains("File too large")) << err.toStdString();
    EXPECT_TRUE(err.contains(out)) << err.toStdString();
    EXPECT_FALSE(err.contains(".part")) << err.toStdString();
    EXPECT_FALSE(err.contains("Unknown error")) << err.toStdString();
    EXPECT_EQ(LeftOver(suite_.Root(), {"Server.Dat"}), QStringList());
  }
}

TEST_F(BatchTool, NamesUpToTheFileSystemsLimitAreWritten) {
  const QString names[] = {QString(251, u'a') + ".txt",           // 255 bytes
                           QString(83, QChar(0x0E01)) + ".txt"};  // 253 bytes of UTF-8
  for (const QString& name : names) {
    SCOPED_TRACE(name.size());
    const Outcome o =
        RunTool({"--database", "DEMO", "--query", "select Code from Customer", "--out", Out(name)},
                suite_.Root());
    EXPECT_EQ(o.exitCode, bxDone) << o.err.toStdString();
    EXPECT_TRUE(ReadAll(Out(name)).startsWith("Code\r\n"));
    EXPECT_EQ(LeftOver(suite_.Root(),
                       QStringList{"Server.Dat"} + QStringList(std::begin(names), std::end(names))),
              QStringList());
  }
}

TEST_F(BatchTool, WaitsForAWriterThatHoldsTheCompanyDatabase) {
  sqlite3* writer = nullptr;
  ASSERT_EQ(sqlite3_open(QFile::encodeName(suite_.Suite() + "/DEMO.db").constData(), &writer),
            SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(writer, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
  QProcess p;
  p.setWorkingDirectory(suite_.Root());
  p.start(QStringLiteral(QAVTOOL_EXPORT_PATH),
          {"--database", "DEMO", "--query", "select Code from Customer", "--out", Out("w.txt")});
  ASSERT_TRUE(p.waitForStarted());
  // Longer than the five seconds a reader used to wait.
  QTest::qWait(6500);
  EXPECT_EQ(p.state(), QProcess::Running);
  sqlite3_exec(writer, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(writer);
  ASSERT_TRUE(p.waitForFinished(60000));
  const QString err = QString::fromUtf8(p.readAllStandardError());
  EXPECT_EQ(p.exitCode(), bxDone) << err.toStdString();
  EXPECT_TRUE(err.contains("waiting for the company database, which another program is writing"))
      << err.toStdString();
  EXPECT_TRUE(ReadAll(Out("w.txt")).startsWith("Code\r\n"));
}

TEST(BatchOverOdbc, StreamsThroughTheOdbcBackEndAsTheEmbeddedOneWrites) {
  if (!QFile::exists(QStringLiteral("/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so")))
    GTEST_SKIP() << "FreeTDS ODBC driver not installed (tdsodbc)";
  test::TdsDemoSuite suite(60);
  // More rows than a window, Thai text, money, dates; --server overrides Server.Dat.
  const QString statement = QString::fromLatin1(
      "select c.Id, c.NameThai, c.CreditLimit, c.CreateDate, m.Code from Customer c\n"
      "cross join Salesman m order by c.Id, m.Id");
  for (const char* format : {"txt", "xls"}) {
    SCOPED_TRACE(format);
    const QString viaOdbc = suite.Root() + "/odbc." + format;
    const QString embedded = suite.Root() + "/embedded." + format;
    const Outcome a = RunTool(
        {"--server", suite.Address(), "--database", "DEMO", "--query", statement, "--out", viaOdbc},
        suite.Root());
    ASSERT_EQ(a.exitCode, bxDone) << a.err.toStdString();
    const Outcome b = RunTool({"--server", suite.ServerName(), "--database", "DEMO", "--query",
                               statement, "--out", embedded},
                              suite.Root());
    ASSERT_EQ(b.exitCode, bxDone) << b.err.toStdString();
    EXPECT_FALSE(a.err.contains("note:")) << "counted ahead: " << a.err.toStdString();
    if (QLatin1String(format) == QLatin1String("txt"))
      EXPECT_EQ(ReadAll(viaOdbc), ReadAll(embedded));
    else
      EXPECT_TRUE(ReadAll(viaOdbc) == ReadAll(embedded));
  }

  // Several result sets: every format on every back end exports the last one, as the console
  // shows it.
  for (const char* format : {"txt", "xls"}) {
    for (const QString& server : {suite.Address(), suite.ServerName()}) {
      SCOPED_TRACE(std::string(format) + " " + server.toStdString());
      const QString out = suite.Root() + "/several." + format;
      const Outcome o = RunTool({"--server", server, "--database", "DEMO", "--query",
                                 "select 1 as a; select 'x' as t", "--out", out, "--force"},
                                suite.Root());
      ASSERT_EQ(o.exitCode, bxDone) << o.err.toStdString();
      if (QLatin1String(format) == QLatin1String("txt")) {
        EXPECT_EQ(ReadAll(out), "t\r\nx\r\n");
      }
    }
  }

  // The back end's cursor itself: counts before the query are noted; a second result set after
  // the streamed one (Execute would have kept that one) fails the reading at its end.
  auto connection = suite.Connect(QStringLiteral("DEMO"));
  auto cursor = connection->OpenCursor(
      QStringLiteral("update Customer set CreditDays = CreditDays where Id <= 2;\n"
                     "select Code from Customer where Id <= 3"),
      {});
  ASSERT_TRUE(cursor);
  EXPECT_EQ(connection->RowsAffected(), 2);
  db::RowStore window(1);
  EXPECT_EQ(cursor->Fetch(window, 2), 2);
  EXPECT_EQ(cursor->Fetch(window, 2), 1);
  EXPECT_EQ(window.BytesAt(0, 0), "C0003");
  EXPECT_EQ(cursor->Fetch(window, 2), 0);
  cursor.reset();
  cursor = connection->OpenCursor(QStringLiteral("select 1 as A; select 2 as B"), {});
  ASSERT_TRUE(cursor);
  EXPECT_THROW(
      {
        while (cursor->Fetch(window, 10) > 0) {
        }
      },
      db::EDatabaseError);
}

// SQL Server names the line of the failing statement within its batch; the error names it in
// the script.
TEST(BatchOverOdbc, AnErrorNamesTheLineOfItsStatement) {
  if (!QFile::exists(QStringLiteral("/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so")))
    GTEST_SKIP() << "FreeTDS ODBC driver not installed (tdsodbc)";
  test::TdsDemoSuite suite(20);
  const std::pair<const char*, const char*> failing[] = {
      {"select 1\nGO\nselect 2\nselect * from NoSuchTable\nGO\nselect 3", "Batch 2, line 4: "},
      {"\nselect 1\n\nselect 1 / 0", "Line 4: "},
      {"select 1 as a\nGO\n/* select 2 as b", "Batch 2, line 3: "},
  };
  for (const auto& [script, said] : failing) {
    const QString out = suite.Root() + "/never.txt";
    const Outcome o = RunTool(
        {"--server", suite.Address(), "--database", "DEMO", "--query", script, "--out", out},
        suite.Root());
    EXPECT_EQ(o.exitCode, bxFailed) << script;
    EXPECT_TRUE(o.err.contains(QLatin1String(said))) << o.err.toStdString();
    EXPECT_FALSE(QFile::exists(out));
  }
}

TEST(BatchDataEngine, FailsTheRunWhenTheRowsDifferFromTheCount) {
  test::DemoSuiteFolder suite(60);
  db::TDatabase db;
  db.SetDatabaseName(QStringLiteral("ENGINE"));
  db.Params() = SuiteConnectionParams(QStringLiteral("DEMO"), suite.ServerName());
  QStringList shown;
  Dialogs::SetAnswerer([&](const DialogRequest& r) {
    shown << r.text;
    return DialogReply{true, {}, 1};
  });
  struct Case {
    TSaveFormat format;
    qint64 total;
    bool check;
    int status;
    qint64 records;  // handed to the writer
  };
  // Customer has 200 rows.
  const Case cases[] = {{TSaveFormat::Xls, 200, true, rsDone, 200},
                        {TSaveFormat::Xls, 150, true, rsFailed, 150},
                        {TSaveFormat::Xls, 250, true, rsFailed, 200},
                        {TSaveFormat::Text, -1, false, rsDone, 200}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.total);
    shown.clear();
    db::TQuery query;
    query.SetDatabaseName(QStringLiteral("ENGINE"));
    query.SetUniDirectional(true);
    query.SetSQL(QStringLiteral("select Id, NameThai from Customer order by Id"));
    query.Open();
    TBatchDataEngine engine;
    engine.SetDataset(&query);
    engine.Total = c.total;
    engine.CheckTotal = c.check;
    auto component = CreateSaveOutputComponent(c.format);
    component->ColumnSource = csDataEngine;
    component->SetDataEngine(&engine);
    component->AnimatedStatus = false;
    component->FileName = suite.Root() + QStringLiteral("/engine.out");
    component->Execute();
    EXPECT_EQ(component->RunStatus(), c.status);
    EXPECT_EQ(engine.RecordsRead(), c.records);
    if (c.status == rsFailed) {
      EXPECT_TRUE(shown.join('\n').contains("The result changed while it was exported: " +
                                            QString::number(c.total) + " rows were counted"))
          << shown.join('\n').toStdString();
    }
  }
  Dialogs::SetAnswerer({});
}

TEST(BatchArguments, ReadsEveryFormOfTheCommandLine) {
  const TBatchOptions o = ParseBatchArguments({"--database=DEMO", "--query", "select 1", "--out",
                                               "x.WQ1", "--force", "--server", "embedded:suite"});
  EXPECT_EQ(o.Format, TSaveFormat::Quattro);  // from the extension
  EXPECT_EQ(o.Database, "DEMO");
  EXPECT_EQ(o.Server, "embedded:suite");
  EXPECT_TRUE(o.Force);
  EXPECT_FALSE(o.KeepFormulas);
  EXPECT_TRUE(
      ParseBatchArguments({"--database", "D", "--query", "q", "--out", "x.csv", "--keep-formulas"})
          .KeepFormulas);
  EXPECT_EQ(ParseBatchArguments(
                {"--database", "D", "--sql", "a.sql", "--format", "DOC", "--out", "x.txt"})
                .Format,
            TSaveFormat::Word);
  EXPECT_EQ(ParseBatchArguments({"--database", "D", "--query", "q", "--out", "x.XLSX"}).Format,
            TSaveFormat::Xlsx);
  EXPECT_EQ(
      ParseBatchArguments({"--database", "D", "--query", "q", "--out", "x.txt", "--format", "csv"})
          .Format,
      TSaveFormat::Csv);
  // The Word writer's file is Office Open XML: docx names the same writer.
  EXPECT_EQ(ParseBatchArguments({"--database", "D", "--query", "q", "--out", "x.docx"}).Format,
            TSaveFormat::Word);
  EXPECT_EQ(
      ParseBatchArguments({"--database", "D", "--query", "q", "--format", "docx", "--out", "x.doc"})
          .Format,
      TSaveFormat::Word);

  const QStringList bad[] = {
      {"--database", "D", "--query", "q", "--sql", "f", "--out", "x.txt"},
      {"--database", "D", "--out", "x.txt"},
      {"--query", "q", "--out", "x.txt"},
      {"--database", "D", "--query", "q", "--out", "x.pdf"},
      {"--database", "D", "--query", "q", "--out", "x.txt", "--out", "y.txt"},
      {"--database", "D", "--query", "q", "--out"},
      {"--database", "D", "--query", "q", "--out", "x.txt", "stray"},
  };
  for (const QStringList& args : bad)
    EXPECT_THROW(ParseBatchArguments(args), EBatchArguments) << args.join(' ').toStdString();

  // --help documents every option, with an example.
  const QString help = BatchHelpText();
  for (const char* option : {"--database", "--sql", "--query", "--format", "--out", "--force",
                             "--keep-formulas", "--server", "--help", "Examples:", "Exit codes"})
    EXPECT_TRUE(help.contains(QLatin1String(option))) << option;
}

TEST(BatchStatementCount, CountsOneQueryWithoutItsClosingOrder) {
  struct Case {
    const char* sql;
    const char* count;  // empty: not counted ahead
  };
  const Case cases[] = {
      {"select * from Customer", "select count(*) from (\nselect * from Customer\n) qav_rows"},
      {"  -- customers\nSELECT Id FROM Customer ORDER BY Code DESC, [Order By];  ",
       "select count(*) from (\n  -- customers\nSELECT Id FROM Customer\n) qav_rows"},
      {"select a from (select a from t order by a) x where b = 'order by ;'",
       "select count(*) from (\nselect a from (select a from t order by a) x where b = 'order by "
       ";'\n) qav_rows"},
      {"select a from t order by a limit 10",
       "select count(*) from (\nselect a from t order by a limit 10\n) qav_rows"},
      {"select top 3 with ties a from t order by a",
       "select count(*) from (\nselect top 3 with ties a from t order by a\n) qav_rows"},
      {"with x as (select 1 a) select a from x order by a",
       "select count(*) from (\nwith x as (select 1 a) select a from x\n) qav_rows"},
      {"select * into Copy from Customer", ""},
      {"with x as (select 1 a) delete from t where a in (select a from x)", ""},
      {"select 1; select 2", ""},
      {"select 1 as a\nselect 2 as b", ""},
      {"select a from t order by a offset 2 rows",
       "select count(*) from (\nselect a from t order by a offset 2 rows\n) qav_rows"},
      {"select a from t union select b from u order by 1",
       "select count(*) from (\nselect a from t union select b from u\n) qav_rows"},
      {"select a into #t from u union select b from v", ""},
      {"select 'a' /* never closed", ""},
      {"select 1 end", ""},
      {"exec MENUCAPTION 12, 1", ""},
      {"update t set a = 1", ""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(CountStatementFor(QString::fromUtf8(c.sql)), QString::fromUtf8(c.count)) << c.sql;
}

TEST(BatchProgressLine, ShowsBarRowsTotalAndRate) {
  EXPECT_EQ(TBatchProgress::Line(500, 1000, 2.0),
            "[###############...............]  50%  500/1,000 rows  250 rows/s");
  EXPECT_EQ(TBatchProgress::Line(1234567, -1, 1.0), "1,234,567 rows  1,234,567 rows/s");
  EXPECT_EQ(TBatchProgress::Line(0, 0, 0),
            "[##############################] 100%  0/0 rows  0 rows/s");

  QString shown;
  TBatchProgress quiet(false, [&](const QString& t) { shown += t; });
  quiet.Start();
  quiet.Update(10, 20);
  quiet.Finish("done");
  EXPECT_EQ(shown, "done\n");  // off a terminal only the closing line
}
