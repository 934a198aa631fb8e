#pragma once

#include "export/ExportComponent.h"
#include "export/RecordWriter.h"

#include <climits>
#include <memory>
#include <vector>

namespace qav {

// What one file of a format can hold. The run checks a file against it before the file is
// created, so an export that cannot fit fails before any work instead of writing cells that a
// reader would misplace or drop.
struct TGridLimits {
  // The subject of the messages: "Excel worksheets", "Word tables".
  QString Holder;
  int Rows = INT_MAX;
  int Columns = INT_MAX;
  // Header and footer lines take rows of the grid (not so in a document, where they are
  // paragraphs around its table).
  bool LinesInGrid = true;
};

// The base of the writers that see their output as a grid of cells. It walks the records of
// the column source, turns every visible column into a cell (text, type, alignment, font,
// colour), lets OnGetCellParams have the last word, and hands the cell with its position to
// WriteCell; around the records it drives the file's fixed sequence of steps (open, dimensions
// and column widths, header lines, title row, footer lines, close), each of which a writer
// fills with the records of its format.
class TExportToCellFile : public TExportBaseComponent {
  Q_OBJECT

 public:
  explicit TExportToCellFile(QObject* owner = nullptr);
  ~TExportToCellFile() override;

  // Rows counted from 0 since the file buffers were last flushed; the buffers go to the disk
  // when the count passes this.
  static constexpr int kRowsPerFlush = 1024;

  // The name of file k of a split export: "001" and so on before the extension.
  static QString NumberedFileName(const QString& fileName, int fileNumber);
  // Cell text in the OEM code page, which on a Thai system is code page 874 as well.
  // With unmapped, adds to it the characters that became "?".
  static QString ToOemText(const QString& text, qsizetype* unmapped = nullptr);

  void ExportData() override;

  // A device that takes the output in place of the files of the run's name (standard output,
  // say); the caller owns it and keeps it open, and errors name it `name`. Null: files.
  void SetOutputDevice(QIODevice* device, const QString& name) {
    outputDevice_ = device;
    outputName_ = name;
  }

  // Run state, for the writers.
  TRecordWriter* Stream() const { return stream_.get(); }
  int ExportRecordCount() const { return exportRecordCount_; }
  int TitleRowCount() const { return titleRowCount_; }
  int CurrentRow() const { return currentRow_; }
  int RowsSinceFlush() const { return rowsSinceFlush_; }
  bool InData() const { return inData_; }
  QFont* CellFont() const { return cellFont_.get(); }
  // Header + title + records + footer of the run; nothing reads it.
  int RowTotal() const { return rowTotal_; }

  // What one file of this writer's format holds; unlimited unless the writer says otherwise.
  virtual TGridLimits GridLimits() const { return {}; }
  // The rows and columns a file of that many records takes in the layout, as GridLimits counts
  // them.
  int GridRows(int records) const;
  int GridColumns(int records) const;

  // Characters that the file's 8-bit code page could not hold, written as "?", and the texts
  // (cells, header and footer lines) that had any, over every file of the last run.
  qint64 UnwritableCharacters() const { return unwritableCharacters_; }
  qint64 UnwritableTexts() const { return unwritableTexts_; }
  // Characters the format cannot hold at all (a NUL in an Excel workbook), left out, and the
  // texts that had any; texts cut to what a cell of the format holds. Over the last run too.
  qint64 DroppedCharacters() const { return droppedCharacters_; }
  qint64 DroppedTexts() const { return droppedTexts_; }
  qint64 CutTexts() const { return cutTexts_; }
  // What the user is told about all of these after the run; empty when every character of every
  // text was written.
  QString UnwritableNote() const;

 protected:
  virtual bool CanAppend() { return false; }
  virtual bool CanWriteTitles() { return true; }
  virtual void CreateStream(const QString& fileName);
  virtual void WriteHeader();
  virtual void WriteFooter();
  virtual void WriteString(const QString& text);
  virtual void WriteFileBegin();
  virtual void WriteFileEnd() {}
  virtual void WriteDimensions(int rowCount, int columnCount);
  virtual void WriteColumnWidth(int column, int width);
  virtual void BeginData();
  virtual void EndData();
  virtual void BeginRow(bool extraRow);
  virtual void EndRow(bool extraRow);
  virtual void WriteCell(const db::TField* field, TCellType cellType, int row, int column,
                         const QString& text, db::TAlignment alignment, const QFont* font,
                         const QColor& color);
  virtual void StartFile(const QString& fileName, int fileNumber);
  virtual void CloseFile();

  // True when the writer takes this record cell's value from the field itself rather than
  // from its text (the typed formats do for numbers and dates): without a cell handler, which
  // sees every text, the run then leaves the text empty instead of formatting it for nothing.
  virtual bool ReadsFieldValue(const db::TField& field, TCellType cellType) const;
  // Whole records, for a writer that can take every cell from the row store itself: when no cell
  // of the run needs the per-cell steps (no cell handler, no character set to apply, the
  // columnar layout) and every column has a field of one dataset, the run asks the writer
  // before the first record (and again whenever the fields change) whether it takes the records
  // whole; then each record's cells are written by WriteRecord between BeginRow and EndRow.
  virtual bool BeginRecords();
  virtual void WriteRecord();
  // For those two: the field of each column, in column order, and the cells of the current
  // record as its dataset's row store holds them, by field index (null when it has no row
  // there).
  const std::vector<const db::TField*>& RecordFields() const { return recordFields_; }
  const db::RowStore::CellView* RecordCells();

  // The cell's text, made now when the run left it to ReadsFieldValue.
  QString CellText(const db::TField* field, const QString& text) {
    return text.isEmpty() && field ? GetFieldText(field) : text;
  }

  // For the writers: a text that lost `characters` the format cannot hold; a text cut to the
  // `capacity` characters a cell of the format holds.
  void CountDroppedCharacters(qsizetype characters) {
    if (characters <= 0) return;
    droppedCharacters_ += characters;
    ++droppedTexts_;
  }
  void CountCutText(int capacity) {
    ++cutTexts_;
    cutCapacity_ = capacity;
  }

  // Where the output goes; CreateStream sets it (tests hand in a device of their own).
  void SetStream(std::unique_ptr<TRecordWriter> stream) { stream_ = std::move(stream); }

  void RunExport();

 private:
  // Gives the cell to OnGetCellParams and applies the character set.
  void PrepareCell(const db::TField* field, QString& text, db::TAlignment& alignment, QColor& color,
                   TCellType& cellType);
  void WriteTitleRow();
  // The records file k will hold, for its dimensions.
  int RecordsInFile(int fileNumber) const;
  // Closes the file after an error without letting a second error replace the first.
  void CloseFileAfterError() noexcept;
  // Raises ERangeError when a file of that many records does not fit the format.
  void CheckFits(int records) const;
  // Gives the run's font the value the records left it, before the lines that use it.
  void SettleFont();
  // Adds the stream's count of unwritable characters to the run's and drops the stream.
  void DropStream();

  struct StreamDrop;

  std::unique_ptr<TRecordWriter> stream_;
  QIODevice* outputDevice_ = nullptr;
  QString outputName_;
  std::unique_ptr<QFont> cellFont_;
  // Of the records written whole: their dataset, the field of each column, the current cells.
  const db::TDataSet* records_ = nullptr;
  std::vector<const db::TField*> recordFields_;
  std::vector<db::RowStore::CellView> recordCells_;
  // The font the last record cell was written with, when the run's font does not hold it yet.
  const QFont* lastFont_ = nullptr;
  int exportRecordCount_ = 0;
  int titleRowCount_ = 0;
  int currentRow_ = 0;
  int rowsSinceFlush_ = 0;
  bool inData_ = false;
  int rowTotal_ = 0;
  // Records of the current file so far, and as many as it was checked for.
  int recordsInFile_ = 0;
  int checkedRecords_ = 0;
  qint64 unwritableCharacters_ = 0;
  qint64 unwritableTexts_ = 0;
  qint64 droppedCharacters_ = 0;
  qint64 droppedTexts_ = 0;
  qint64 cutTexts_ = 0;
  int cutCapacity_ = 0;
};

}  // namespace qav
