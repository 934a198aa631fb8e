// Dates are wall-clock values without a zone: every text made of them (the grid's, the text
// file's, the CSV file's, the database form) keeps the date and time as stored, whatever the
// machine's zone, across daylight-saving changes and before 1970.
#include "core/FormatSettings.h"
#include "db/DateTime.h"
#include "export/ExportComponent.h"
#include "export/SaveOutputSettings.h"
#include "tests/export/ExportTestSupport.h"

#include <gtest/gtest.h>
#include <QDateTime>
#include <QTemporaryDir>
#include <cstdlib>
#include <ctime>

using namespace qav;
using namespace qav::db;

namespace {

// Runs the test in another time zone, and restores the process's on leaving.
class InZone {
 public:
  explicit InZone(const char* zone) : saved_(qgetenv("TZ")), had_(qEnvironmentVariableIsSet("TZ")) {
    qputenv("TZ", zone);
    tzset();
  }
  ~InZone() {
    if (had_)
      qputenv("TZ", saved_);
    else
      qunsetenv("TZ");
    tzset();
  }

 private:
  QByteArray saved_;
  bool had_;
};

QByteArray ExportFile(TSaveFormat format, TDataSet& data, const QString& file) {
  auto c = CreateSaveOutputComponent(format);
  c->ColumnSource = csDataSet;
  c->SetDataSet(&data);
  c->AnimatedStatus = false;
  c->AddTitle = false;
  c->FileName = file;
  c->Execute();
  EXPECT_EQ(c->RunStatus(), rsDone);
  return test::ReadFileBytes(file);
}

TEST(DateText, KeepsTheWallClockAcrossDaylightSavingAndBefore1970) {
  struct Case {
    const char* iso;   // as the database hands it out, and as CSV and FormatIsoDateTime write it
    const char* grid;  // as the grid and the text file show it
  };
  const Case cases[] = {
      {"2024-03-10 02:30:00", "10/03/2024 02:30:00"},  // skipped in New York
      {"2024-11-03 01:30:00", "03/11/2024 01:30:00"},  // twice in New York
      {"2024-03-31 01:30:00", "31/03/2024 01:30:00"},  // skipped in London
      {"2024-10-27 01:15:30", "27/10/2024 01:15:30"},  // twice in London
      {"1968-10-27 00:30:00", "27/10/1968 00:30:00"},  // London's year of summer time
      {"1955-06-15 23:59:59", "15/06/1955 23:59:59"},
      {"1899-12-29 06:00:00", "29/12/1899 06:00:00"},  // before the toolkit's day 0
      {"1969-12-31 23:59:59.500", "31/12/1969 23:59:59"},
      {"2000-02-29 12:00:00", "29/02/2000 12:00:00"},  // leap days of the calendar's rules
      {"1900-03-01 00:00:01", "01/03/1900 00:00:01"},
      {"0001-01-01 08:00:00", "01/01/0001 08:00:00"},
      {"9999-12-31 23:59:59", "31/12/9999 23:59:59"},
  };
  test::DialogLog dialogs;
  FormatSettings().ShortDateFormat = QStringLiteral("dd/mm/yyyy");  // as start-up sets it
  for (const char* zone : {"America/New_York", "Europe/London"}) {
    SCOPED_TRACE(zone);
    const InZone inZone(zone);
    std::vector<std::vector<QVariant>> rows;
    for (const Case& c : cases) {
      SCOPED_TRACE(c.iso);
      const auto value = ParseIsoDateTime(QString::fromLatin1(c.iso));
      ASSERT_TRUE(value.has_value());
      EXPECT_EQ(FormatIsoDateTime(*value), QString::fromLatin1(c.iso));
      const QDateTime decoded = DecodeDateTime(*value);
      EXPECT_EQ(decoded.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")).left(19),
                QString::fromLatin1(c.iso).left(19));
      rows.push_back({*value});
    }

    test::TMemoryDataSet data({{"At", ftDateTime, 0}}, rows);
    data.Open();
    QStringList grid, iso;
    for (const Case& c : cases) {
      grid << QString::fromLatin1(c.grid);
      iso << QString::fromLatin1(c.iso);
    }
    QStringList shown;
    for (data.First(); !data.Eof(); data.Next()) shown << data.FieldByName("At").AsString();
    EXPECT_EQ(shown, grid);

    QTemporaryDir dir;
    EXPECT_EQ(ExportFile(TSaveFormat::Text, data, dir.filePath("out.txt")),
              (grid.join("\r\n") + "\r\n").toLatin1());
    EXPECT_EQ(ExportFile(TSaveFormat::Csv, data, dir.filePath("out.csv")),
              "\xEF\xBB\xBF" + (iso.join("\r\n") + "\r\n").toLatin1());
  }
}

}  // namespace
