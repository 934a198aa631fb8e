// Column sources: the grid kinds, the column lists each engine builds and the record walks.
#include "console/ResultGrid.h"
#include "core/Exception.h"
#include "db/Errors.h"
#include "export/DataEngine.h"
#include "export/GridDataEngine.h"
#include "export/TextExport.h"
#include "tests/export/ExportTestSupport.h"

#include <gtest/gtest.h>
#include <QTemporaryDir>

using namespace qav;
using namespace qav::db;
using qav::test::FakeColumnGrid;
using qav::test::FakeFieldsGrid;
using qav::test::ReadFileBytes;
using qav::test::TMemoryDataSet;

namespace {

// A widget of two kinds: the column grid comes first.
class TwoKindGrid : public FakeColumnGrid, public TSelectedListGrid {
 public:
  db::TDataSet* DataSource() const override { return dataSet; }
  QStringList& SelectedFieldList() override { return list; }
  QStringList list;
};

QStringList FieldNames(const TExportColumns& columns) {
  QStringList names;
  for (const auto& c : columns) names << c->FieldName + (c->Visible ? "" : "(hidden)");
  return names;
}

std::unique_ptr<TMemoryDataSet> Table(std::vector<FieldDef> fields, int rows = 3) {
  std::vector<std::vector<QVariant>> values;
  for (int r = 1; r <= rows; ++r) {
    std::vector<QVariant> row;
    for (const FieldDef& f : fields)
      row.push_back(f.type == ftInteger ? QVariant(r) : QVariant(f.name + QString::number(r)));
    values.push_back(row);
  }
  auto ds = std::make_unique<TMemoryDataSet>(std::move(fields), std::move(values));
  ds->Open();
  return ds;
}

TEST(GridKinds, AreTestedInOrderAndAWrongControlIsRefused) {
  TwoKindGrid both;
  TResultGrid results;
  FakeFieldsGrid fields;
  QWidget memo;
  memo.setObjectName(QStringLiteral("Memo1"));
  EXPECT_EQ(GridKindOf(&both), gkColumnGrid);
  EXPECT_EQ(GridKindOf(&results), gkSelectedListGrid);
  EXPECT_EQ(GridKindOf(&fields), gkFieldsGrid);
  EXPECT_EQ(GridKindOf(&memo), gkNone);

  TExportToText e;
  e.SetDBGrid(&results);
  try {
    e.SetDBGrid(&memo);
    ADD_FAILURE() << "a memo was taken for a grid";
  } catch (const Exception& error) {
    EXPECT_EQ(error.Message(), "Assigned DBGrid (Memo1) is not a supported type");
  }
  EXPECT_EQ(e.DBGrid(), &results);
  EXPECT_EQ(e.GridKind(), gkSelectedListGrid);

  TSelectedListGridDataEngine listEngine;
  TFieldsGridDataEngine fieldsEngine;
  for (TGridDataEngine* engine :
       std::initializer_list<TGridDataEngine*>{&listEngine, &fieldsEngine}) {
    try {
      engine->SetDBGrid(&memo);
      ADD_FAILURE() << "the engine took a memo";
    } catch (const Exception& error) {
      EXPECT_EQ(error.Message(), "Property Memo1 is not specified.");
    }
  }
  listEngine.SetDBGrid(&both);  // a selected-list grid, whatever else it is

  // References go when the grid does.
  {
    TResultGrid shortLived;
    e.SetDBGrid(&shortLived);
    listEngine.SetDBGrid(&shortLived);
  }
  EXPECT_EQ(e.DBGrid(), nullptr);
  EXPECT_EQ(listEngine.DBGrid(), nullptr);
}

TEST(SelectedListEngine, EveryExportTakesTheColumnsOfTheResultItShows) {
  auto a = Table({{"Id", ftInteger, 0},
                  {"Name", ftString, 20},
                  {"Hidden", ftString, 5},
                  {"Qty", ftInteger, 0}});
  a->Fields(2).SetVisible(false);
  a->Fields(1).SetDisplayLabel(QStringLiteral("ชื่อ"));
  TResultGrid grid;
  grid.SetDataSource(a.get());
  TSelectedListGridDataEngine engine;
  engine.SetDBGrid(&grid);
  TExportColumns columns;

  engine.FillColumns(columns, false);
  EXPECT_EQ(grid.SelectedFields, (QStringList{"Id\t11\tId", "Name\t20\tชื่อ", "Qty\t11\tQty"}));
  ASSERT_EQ(FieldNames(columns), (QStringList{"Id", "Name", "Qty"}));
  const TExportColumn& name = columns[1];
  EXPECT_EQ(name.Width, 20);
  EXPECT_EQ(name.Title.Caption, "ชื่อ");
  EXPECT_EQ(name.Title.Color, QColor(192, 192, 192));
  EXPECT_EQ(name.Color, grid.palette().color(QPalette::Base));
  EXPECT_EQ(name.Font, grid.font());
  EXPECT_EQ(columns[0].Alignment, taRightJustify);
  EXPECT_EQ(columns[0].Title.Alignment, taRightJustify);

  engine.FillColumns(columns, true);
  EXPECT_EQ(FieldNames(columns), (QStringList{"Qty", "Name", "Id"}));

  // Another statement, with other fields in another order, and one that shares none: an
  // earlier export's columns never filter a later one.
  auto b = Table({{"Qty", ftInteger, 0},
                  {"Extra", ftString, 5},
                  {"Name", ftString, 20},
                  {"Id", ftInteger, 0}});
  grid.SetDataSource(b.get());
  engine.FillColumns(columns, false);
  EXPECT_EQ(FieldNames(columns), (QStringList{"Qty", "Extra", "Name", "Id"}));
  auto c = Table({{"Total", ftInteger, 0}});
  grid.SetDataSource(c.get());
  engine.FillColumns(columns, false);
  EXPECT_EQ(FieldNames(columns), (QStringList{"Total"}));
  EXPECT_EQ(grid.SelectedFields, QStringList{"Total\t11\tTotal"});
}

// A join gives several fields of one name, and names may differ in case only: every engine that
// fills its columns from the fields reads each cell from its own field.
TEST(DataEngines, FieldsOfOneNameKeepTheirOwnValues) {
  auto ds = std::make_unique<TMemoryDataSet>(
      std::vector<FieldDef>{
          {"Code", ftString, 5}, {"Code", ftString, 5}, {"n", ftString, 5}, {"N", ftString, 5}},
      std::vector<std::vector<QVariant>>{{"v0", "v1", "v2", "v3"}});
  ds->Open();
  TResultGrid grid;
  grid.SetDataSource(ds.get());
  TSelectedListGridDataEngine listEngine;
  listEngine.SetDBGrid(&grid);
  TDatasetDataEngine dataEngine;
  dataEngine.SetDataset(ds.get());
  for (TCustomDBDataEngine* engine :
       std::initializer_list<TCustomDBDataEngine*>{&listEngine, &dataEngine}) {
    TExportColumns columns;
    engine->FillColumns(columns, false);
    ASSERT_EQ(columns.Count(), 4);
    QStringList values;
    for (const auto& column : columns) values << engine->GetFieldValue(*column).toString();
    EXPECT_EQ(values, (QStringList{"v0", "v1", "v2", "v3"}));
  }
}

TEST(DatasetEngine, TakesEveryFieldAndLooksColumnsUpByName) {
  auto ds = Table({{"Id", ftInteger, 0}, {"Secret", ftString, 5}, {"Name", ftString, 20}});
  ds->Fields(1).SetVisible(false);
  TDatasetDataEngine engine;
  engine.SetDataset(ds.get());
  TExportColumns columns;
  columns.Add().FieldName = QStringLiteral("stale");
  int fillEvents = 0;
  engine.OnFillColumns = [&](TExportColumns* sender) {
    EXPECT_EQ(sender, &columns);
    ++fillEvents;
  };
  engine.FillColumns(columns, false);
  EXPECT_EQ(fillEvents, 1);
  EXPECT_EQ(FieldNames(columns), (QStringList{"Id", "Secret(hidden)", "Name"}));
  EXPECT_TRUE(columns[2].Title.Font.bold());
  EXPECT_EQ(columns[2].Color, QColor(255, 255, 255));
  engine.FillColumns(columns, true);
  EXPECT_EQ(FieldNames(columns), (QStringList{"Name", "Secret(hidden)", "Id"}));

  ds->MoveBy(1);
  EXPECT_EQ(engine.GetFieldValue(columns[0]).toString(), "Name2");
  EXPECT_EQ(engine.GetFieldType(columns[2]), ftInteger);
  EXPECT_EQ(engine.RecordCount(), 3);
  TExportColumn missing;
  missing.FieldName = QStringLiteral("Nope");
  EXPECT_THROW(engine.FindColumnField(missing), EDatabaseError);
  // Reopening the dataset makes new fields; the engine must not keep the old ones.
  ds->Close();
  ds->Open();
  EXPECT_EQ(engine.FindColumnField(columns[0]), &ds->Fields(2));
}

TEST(GridEngines, ColumnGridExportsTheSelectedRowsInTheirOrder) {
  auto ds = Table({{"Id", ftInteger, 0}, {"Name", ftString, 20}}, 4);
  FakeColumnGrid grid;
  grid.setObjectName(QStringLiteral("DBGrid1"));
  grid.dataSet = ds.get();
  TGridColumn id;
  id.FieldName = QStringLiteral("Id");
  id.TitleCaption = QStringLiteral("No.");
  TGridColumn gone;
  gone.FieldName = QStringLiteral("Gone");
  gone.Visible = false;
  grid.columns = {id, gone};
  grid.selected = {2, 0};

  TDBGridDataEngine engine;
  engine.SetDBGrid(&grid);
  TExportColumns columns;
  engine.FillColumns(columns, false);
  EXPECT_EQ(columns[0].Title.Caption, "No.");
  EXPECT_EQ(columns[0].Width, 11);
  EXPECT_EQ(columns[1].Width, 10);  // no such field

  QTemporaryDir dir;
  test::DialogLog dialogs;
  struct Case {
    const char* name;
    bool selectedRecord;
    std::vector<TBookmark> selected;
    QByteArray expected;
  };
  const Case cases[] = {
      {"the selected rows in selection order", true, {2, 0}, "No.\r\n3\r\n1\r\n"},
      {"no selected row: no record", true, {}, "No.\r\n"},
      {"without SelectedRecord every row", false, {2}, "No.\r\n1\r\n2\r\n3\r\n4\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    grid.selected = c.selected;
    ds->First();
    ds->MoveBy(1);
    TExportToText e;
    e.AnimatedStatus = false;
    e.AddTitle = true;
    e.SetDBGrid(&grid);
    e.SelectedRecord = c.selectedRecord;
    e.FileName = dir.filePath(QStringLiteral("out.txt"));
    e.Execute();
    EXPECT_EQ(e.RunStatus(), rsDone);
    EXPECT_EQ(ReadFileBytes(e.FileName), c.expected);
    EXPECT_EQ(ds->RecNo(), 2);  // back on the record it was on
  }
}

TEST(GridEngines, FieldsGridAndABareEngine) {
  auto ds = Table({{"Id", ftInteger, 0}, {"Name", ftString, 20}});
  FakeFieldsGrid grid;
  grid.dataSet = ds.get();
  TGridColumn name;
  name.FieldName = QStringLiteral("Name");
  name.TitleCaption = QStringLiteral("Name");
  grid.items = {name};
  QTemporaryDir dir;
  test::DialogLog dialogs;
  TExportToText e;
  e.AnimatedStatus = false;
  e.AddTitle = true;
  e.SetDBGrid(&grid);
  e.FileName = dir.filePath(QStringLiteral("out.txt"));
  e.Execute();
  EXPECT_EQ(ReadFileBytes(e.FileName), "Name\r\nName1\r\nName2\r\nName3\r\n");

  // The base engine supplies columns through its event and no records.
  TCustomDataEngine bare;
  bare.OnFillColumns = [](TExportColumns* columns) {
    TExportColumn& c = columns->Add();
    c.FieldName = QStringLiteral("X");
    c.Title.Caption = QStringLiteral("Caption");
  };
  bare.OnCount = [](TCustomDataEngine*, int& count) { count = 7; };
  e.ColumnSource = csDataEngine;
  e.SetDataEngine(&bare);
  e.Execute();
  EXPECT_EQ(e.RunStatus(), rsDone);
  EXPECT_EQ(e.RecordTotal(), 7);
  EXPECT_EQ(ReadFileBytes(e.FileName), "Caption\r\n");
}

}  // namespace
