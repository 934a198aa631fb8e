#pragma once

#include "export/ExportComponent.h"
#include "export/RecordWriter.h"

#include <memory>

namespace qav {

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
  static QString ToOemText(const QString& text);

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

  std::unique_ptr<TRecordWriter> stream_;
  QIODevice* outputDevice_ = nullptr;
  QString outputName_;
  std::unique_ptr<QFont> cellFont_;
  int exportRecordCount_ = 0;
  int titleRowCount_ = 0;
  int currentRow_ = 0;
  int rowsSinceFlush_ = 0;
  bool inData_ = false;
  int rowTotal_ = 0;
};

}  // namespace qav
