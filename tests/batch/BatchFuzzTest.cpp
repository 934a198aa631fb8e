// Bounded fuzz runs of what qavtool-export reads from its user: the command line, the statement
// file, and whole runs with damaged statements. A fixed seed, a few seconds each; a run passes
// when nothing crashes or hangs and every refusal is the program's own.
#include "batch/BatchExport.h"
#include "batch/StatementCount.h"
#include "core/Cp874.h"
#include "tests/support/FuzzRun.h"
#include "tests/support/TestSuite.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <cstdio>
#include <random>

namespace {

using namespace qav;

constexpr std::uint32_t kSeed = 0xBA7C4u;
constexpr int kArgumentCases = 50000;
constexpr int kStatementFileCases = 1000;
constexpr int kStatementCases = 500;

QByteArray MutateBytes(QByteArray bytes, std::mt19937& rng) {
  const int changes = 1 + static_cast<int>(rng() % 6);
  for (int i = 0; i < changes; ++i) {
    const qsizetype at = bytes.isEmpty() ? 0 : static_cast<qsizetype>(rng() % bytes.size());
    switch (rng() % 5) {
      case 0:
        if (!bytes.isEmpty()) bytes[at] = static_cast<char>(rng());
        break;
      case 1:
        bytes.insert(at, static_cast<char>(rng()));
        break;
      case 2:
        bytes.remove(at, 1 + static_cast<qsizetype>(rng() % 4));
        break;
      case 3:  // bytes that matter to the readers: a BOM, CR, Thai, a quote, a bad UTF-8 lead
        static const char* const kPieces[] = {"\xEF\xBB\xBF", "\r", "\r\n", "\xE0\xB8\x81",
                                              "\xA1",         "'",  "\xC3", ";"};
        bytes.insert(at, kPieces[rng() % std::size(kPieces)]);
        break;
      default:
        bytes.truncate(at);
        break;
    }
  }
  return bytes;
}

TEST(BatchFuzz, ArgumentsAreReadOrRefusedClearly) {
  std::mt19937 rng(kSeed);
  const QStringList vocabulary = {"--database",
                                  "--sql",
                                  "--query",
                                  "--format",
                                  "--out",
                                  "--force",
                                  "--server",
                                  "--help",
                                  "-h",
                                  "--out=",
                                  "--format=xls",
                                  "--database=DEMO",
                                  "--force=1",
                                  "-",
                                  "--",
                                  "DEMO",
                                  "x.txt",
                                  "x.XLS",
                                  "x.doc",
                                  "x.csv",
                                  "txt",
                                  "wq1",
                                  "select 1",
                                  "",
                                  " ",
                                  "embedded:",
                                  QString::fromUtf8("ไทย.txt"),
                                  "--sq",
                                  "--query=select 1;"};
  const int cases = test::RunCases(kArgumentCases, [&](int) {
    QStringList args;
    const int count = static_cast<int>(rng() % 10);
    for (int i = 0; i < count; ++i) {
      QString a = vocabulary[static_cast<qsizetype>(rng() % vocabulary.size())];
      if (rng() % 8 == 0) a = QString::fromUtf8(MutateBytes(a.toUtf8(), rng));
      args << a;
    }
    try {
      const TBatchOptions o = ParseBatchArguments(args);
      if (!o.Help) {
        // What is accepted is complete.
        EXPECT_FALSE(o.Database.trimmed().isEmpty()) << args.join(' ').toStdString();
        EXPECT_FALSE(o.OutFile.isEmpty()) << args.join(' ').toStdString();
        EXPECT_TRUE(o.SqlFile.isEmpty() || o.Query.isEmpty()) << args.join(' ').toStdString();
      }
    } catch (const EBatchArguments& e) {
      EXPECT_FALSE(e.Message().isEmpty());
    }
  });
  EXPECT_EQ(cases, kArgumentCases);
}

TEST(BatchFuzz, StatementFilesOfAnyBytesAreReadWithoutLoss) {
  std::mt19937 rng(kSeed + 1);
  QTemporaryDir dir;
  const QString file = dir.filePath(QStringLiteral("s.sql"));
  const QByteArray seeds[] = {
      QByteArray("\xEF\xBB\xBF") + QString::fromUtf8("select 'ไทย' as \"ชื่อ\"\r\nfrom T").toUtf8(),
      ToCp874(QString::fromUtf8("select * from Customer where NameThai like 'บริษัท%'")),
      QByteArray("with x as (select 1 a)\nselect a from x order by a; select 2"),
  };
  const int cases = test::RunCases(kStatementFileCases, [&](int) {
    const QByteArray bytes = MutateBytes(seeds[rng() % std::size(seeds)], rng);
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
    f.close();
    // UTF-8 comes back as it was written; anything else is code page 874, a byte a character,
    // unless a byte-order mark says UTF-8: then it is refused rather than read with losses. A
    // NUL would end the statement unseen: refused. A UTF-16 mark is read as UTF-16 or refused.
    const bool bom = bytes.startsWith("\xEF\xBB\xBF");
    const QByteArray body = bom ? bytes.mid(3) : bytes;
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
    const QString utf8 = decoder(body);
    if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF")) {
      try {
        EXPECT_EQ(ReadStatementFile(file).indexOf(QChar(0)), -1);
      } catch (const EBatchArguments& e) {
        EXPECT_FALSE(e.Message().isEmpty());
      }
    } else if (body.contains('\0')) {
      EXPECT_THROW(ReadStatementFile(file), EBatchArguments) << bytes.toHex().toStdString();
    } else if (utf8.toUtf8() == body) {
      EXPECT_EQ(ReadStatementFile(file), utf8) << bytes.toHex().toStdString();
    } else if (bom) {
      EXPECT_THROW(ReadStatementFile(file), EBatchArguments) << bytes.toHex().toStdString();
    } else {
      const QString text = ReadStatementFile(file);
      EXPECT_EQ(text.size(), bytes.size()) << bytes.toHex().toStdString();
      CountStatementFor(text);
    }
    CountStatementFor(utf8);
  });
  EXPECT_EQ(cases, kStatementFileCases);

  // A device never ends: it is refused past the limit rather than read into the memory.
  EXPECT_THROW(ReadStatementFile(QStringLiteral("/dev/zero")), EBatchArguments);
}

TEST(BatchFuzz, RunsWithDamagedStatementsFailCleanly) {
  test::DemoSuiteFolder suite(20);
  std::mt19937 rng(kSeed + 2);
  const QByteArray seeds[] = {
      QString::fromUtf8("select Code, NameThai, CreditLimit from Customer order by Code").toUtf8(),
      QByteArray("select c.Code, m.Code from Customer c join Salesman m on m.Id = c.Salesman"),
      QByteArray("select 1 as a; select 'x' as t"),
      QByteArray("exec MENUCAPTION 12, 1"),
  };
  const char* const formats[] = {"txt", "xls", "wks", "wq1", "doc"};
  QStringList messages;
  TBatchIo io;
  io.Error = [&](const QString& text) { messages << text; };
  io.Output = [](const QString&) {};
  const int cases = test::RunCases(kStatementCases, [&](int) {
    messages.clear();
    const QString statement = QString::fromUtf8(MutateBytes(seeds[rng() % std::size(seeds)], rng));
    const QString format = QLatin1String(formats[rng() % std::size(formats)]);
    const QString out = suite.Root() + QStringLiteral("/out.") + format;
    const int code =
        RunBatchExport({"--server", suite.ServerName(), "--database", "DEMO", "--query", statement,
                        "--format", format, "--out", out, "--force"},
                       io);
    ASSERT_TRUE(code == bxDone || code == bxFailed || code == bxBadArguments)
        << code << " " << statement.toStdString();
    if (code != bxDone) {
      EXPECT_FALSE(messages.join(QString()).trimmed().isEmpty()) << statement.toStdString();
    }
    // Never a partial file left behind.
    EXPECT_TRUE(QDir(suite.Root()).entryList({"*.part"}, QDir::Files | QDir::Hidden).isEmpty());
  });
  EXPECT_EQ(cases, kStatementCases);
}

}  // namespace
