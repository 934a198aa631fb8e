#pragma once

#include "automation/Automation.h"
#include "export/CellFileExport.h"

#include <vector>

namespace qav {

// Writes the cells into a word-processing document by driving the word processor through
// automation ("Word.Application"): a table with one row per exported row, every cell filled
// and formatted through its range, the document saved under the export's file name. Header and
// footer lines stand as paragraphs before and after the table. This component writes no file
// bytes itself.
class TExportToWord : public TExportToCellFile {
  Q_OBJECT

 public:
  explicit TExportToWord(QObject* owner = nullptr);
  // Quits a word processor that this component started; one it attached to keeps running.
  ~TExportToWord() override;

  // Attach to a running word processor, if any, instead of starting one.
  bool UseCurrentInstance = false;
  // A document to open and fill instead of a new one; it is saved under the export's name.
  QString TemplateFile;
  // ExportStyle's odd and even colours become the cells' highlight colours.

  void Assign(const TExportCustomBaseComponent& source) override;
  QString GetDefaultExt() override { return QStringLiteral(".DOC"); }

  // What the word processor's tables hold.
  static constexpr int kRows = 32767;
  static constexpr int kColumns = 63;

  TGridLimits GridLimits() const override;

  // The word processor's colour index of a colour: 1 black to 16 silver; 0 for any colour
  // outside its table, which means "leave unchanged".
  static int WordColorIndex(const QColor& color);

  // Automation state, kept from the first export until the component goes.
  const TAutoValue& WordApp() const { return wordApp_; }
  bool StartedWord() const { return startedWord_; }

 protected:
  void CreateStream(const QString& fileName) override;
  void WriteDimensions(int rowCount, int columnCount) override;
  void WriteColumnWidth(int column, int width) override;
  void BeginData() override;
  void WriteCell(const db::TField* field, TCellType cellType, int row, int column,
                 const QString& text, db::TAlignment alignment, const QFont* font,
                 const QColor& color) override;
  void CloseFile() override;

 private:
  void WritePicture(const db::TField& field, qint32 row, qint32 column);
  void WriteParagraph(const QString& text, db::TAlignment alignment);

  TAutoValue wordApp_;
  bool startedWord_ = false;
  TAutoValue wordDocument_;
  TAutoValue wordTable_;
  std::vector<int> columnWidths_;  // points per table column
  int tableRows_ = 0;
  int tableColumns_ = 0;
  QString saveFileName_;
};

}  // namespace qav
