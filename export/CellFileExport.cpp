#include "export/CellFileExport.h"

#include "core/Cp874.h"
#include "core/Exception.h"
#include "core/FormatSettings.h"
#include "db/DateTime.h"
#include "export/DataEngine.h"
#include "export/ExportProgress.h"
#include "export/ExportStrings.h"

#include <QDateTime>
#include <QFile>
#include <QLocale>
#include <algorithm>

namespace qav {

namespace {

// The text of a value that a column without a field supplies, in the process's formats.
QString ValueText(const QVariant& value) {
  if (value.isNull()) return {};
  switch (value.typeId()) {
    case QMetaType::Double:
    case QMetaType::Float:
      return FloatToStr(value.toDouble());
    case QMetaType::Bool:
      return value.toBool() ? QStringLiteral("True") : QStringLiteral("False");
    case QMetaType::QDateTime: {
      const QDateTime dt = value.toDateTime();
      return DateTimeToStr(dt.date(), dt.time());
    }
    case QMetaType::QDate:
      return FormatDateTime(FormatSettings().ShortDateFormat, value.toDate(), QTime(0, 0));
    case QMetaType::QByteArray:
      return FromCp874(value.toByteArray());
    default:
      return value.toString();
  }
}

// Numbers in messages, grouped as people read them: 65,536.
QString Grouped(qint64 n) {
  QLocale locale = QLocale::c();
  locale.setNumberOptions(QLocale::DefaultNumberOptions);
  return locale.toString(n);
}

}  // namespace

// Drops the stream however the closing steps end.
struct TExportToCellFile::StreamDrop {
  TExportToCellFile& exporter;
  ~StreamDrop() { exporter.DropStream(); }
};

TExportToCellFile::TExportToCellFile(QObject* owner) : TExportBaseComponent(owner) {}

TExportToCellFile::~TExportToCellFile() = default;

QString TExportToCellFile::NumberedFileName(const QString& fileName, int fileNumber) {
  const qsizetype slash = std::max(fileName.lastIndexOf(u'/'), fileName.lastIndexOf(u'\\'));
  const qsizetype dot = fileName.lastIndexOf(u'.');
  const qsizetype cut = dot > slash ? dot : fileName.size();
  return fileName.left(cut) + QStringLiteral("%1").arg(fileNumber, 3, 10, QLatin1Char('0')) +
         fileName.mid(cut);
}

QString TExportToCellFile::ToOemText(const QString& text, qsizetype* unmapped) {
  // The Windows code page and the OEM code page of a Thai system are both 874: the conversion
  // leaves the characters code page 874 holds and turns the others into "?".
  return FromCp874(ToCp874(text, unmapped));
}

void TExportToCellFile::ExportData() {
  RunExport();
}

void TExportToCellFile::CreateStream(const QString& fileName) {
  if (outputDevice_) {
    stream_ = std::make_unique<TRecordWriter>(outputDevice_, outputName_);
    return;
  }
  const bool append = Options & soMergeData && QFile::exists(fileName) && CanAppend();
  stream_ = TRecordWriter::CreateFile(fileName, append);
}

void TExportToCellFile::WriteString(const QString& text) {
  if (stream_) stream_->WriteCp874(text);
}

void TExportToCellFile::WriteFileBegin() {
  rowsSinceFlush_ = 0;
}

void TExportToCellFile::WriteDimensions(int, int) {}

void TExportToCellFile::WriteColumnWidth(int, int) {}

void TExportToCellFile::BeginData() {
  inData_ = true;
}

void TExportToCellFile::EndData() {
  inData_ = false;
}

void TExportToCellFile::BeginRow(bool) {}

void TExportToCellFile::EndRow(bool) {
  ++rowsSinceFlush_;
  // A long export reaches the disk as it goes rather than all at the end.
  if (rowsSinceFlush_ > kRowsPerFlush && stream_) {
    stream_->Sync();
    rowsSinceFlush_ = 0;
  }
}

bool TExportToCellFile::BeginRecords() {
  return false;
}

const db::RowStore::CellView* TExportToCellFile::RecordCells() {
  const db::RowStore* store = records_->Store();
  const qint64 row = records_->CurrentRow();
  if (!records_->Active() || !store || row < 0 || row >= store->Rows()) return nullptr;
  recordCells_.resize(static_cast<size_t>(store->Columns()));
  store->ReadRow(row, recordCells_.data());
  return recordCells_.data();
}

void TExportToCellFile::WriteRecord() {}

bool TExportToCellFile::ReadsFieldValue(const db::TField&, TCellType) const {
  return false;
}

void TExportToCellFile::WriteCell(const db::TField*, TCellType, int, int, const QString&,
                                  db::TAlignment, const QFont*, const QColor&) {}

void TExportToCellFile::PrepareCell(const db::TField* field, QString& text,
                                    db::TAlignment& alignment, QColor& color, TCellType& cellType) {
  if (OnGetCellParams)
    OnGetCellParams(this, field, text, cellFont_.get(), alignment, color, cellType);
  if (CharacterSet == csASCII_MSDOS) {
    // The "?" the conversion leaves is written as it is: count the loss here.
    qsizetype missing = 0;
    text = ToOemText(text, &missing);
    if (missing) {
      unwritableCharacters_ += missing;
      ++unwritableTexts_;
    }
  }
}

void TExportToCellFile::WriteHeader() {
  currentRow_ = titleRowCount_ + static_cast<int>(Header.size());
  for (int i = 0; i < Header.size(); ++i) {
    BeginRow(true);
    QColor color(255, 255, 255);
    db::TAlignment alignment = db::taLeftJustify;
    QString text = Header[i];
    GetStyleColor(i, color);
    TCellType cellType = ctString;
    PrepareCell(nullptr, text, alignment, color, cellType);
    WriteCell(nullptr, cellType, i, 1, text, alignment, cellFont_.get(), color);
    EndRow(true);
  }
}

void TExportToCellFile::WriteFooter() {
  EndData();
  for (int i = 0; i < Footer.size(); ++i) {
    BeginRow(true);
    QColor color(255, 255, 255);
    db::TAlignment alignment = db::taLeftJustify;
    QString text = Footer[i];
    TCellType cellType = ctString;
    PrepareCell(nullptr, text, alignment, color, cellType);
    WriteCell(nullptr, cellType, currentRow_ + i, 1, text, alignment, cellFont_.get(), color);
    EndRow(true);
  }
  WriteFileEnd();
}

int TExportToCellFile::RecordsInFile(int fileNumber) const {
  if (RowsPerFile <= 0) return exportRecordCount_;
  return std::clamp(exportRecordCount_ - fileNumber * RowsPerFile, 0, RowsPerFile);
}

QString TExportToCellFile::UnwritableNote() const {
  const auto counted = [](qint64 n, const char* one, const char* many) {
    return Grouped(n) + u' ' + QLatin1String(n == 1 ? one : many);
  };
  QStringList notes;
  if (unwritableCharacters_)
    notes << QStringLiteral(
                 "%1 in %2 could not be written in code page 874 and became \"?\". A Word "
                 "document keeps every character.")
                 .arg(counted(unwritableCharacters_, "character", "characters"),
                      counted(unwritableTexts_, "cell", "cells"));
  if (droppedCharacters_)
    notes << QStringLiteral("%1 in %2 cannot be held in this format at all and %3 left out.")
                 .arg(counted(droppedCharacters_, "character", "characters"),
                      counted(droppedTexts_, "cell", "cells"),
                      QLatin1String(droppedCharacters_ == 1 ? "was" : "were"));
  if (cutTexts_)
    notes << QStringLiteral(
                 "%1 had more than %2 characters, the most a cell of this format holds, and %3 "
                 "cut there. An Excel workbook (.xlsx) keeps up to 32,767.")
                 .arg(counted(cutTexts_, "cell", "cells"))
                 .arg(cutCapacity_)
                 .arg(QLatin1String(cutTexts_ == 1 ? "was" : "were"));
  return notes.join(u' ');
}

int TExportToCellFile::GridRows(int records) const {
  const qint64 headers = static_cast<qint64>(Header.size());
  const qint64 footers = static_cast<qint64>(Footer.size());
  const qint64 visible = VisibleColumnCount();
  const bool lines = GridLimits().LinesInGrid;
  // The row after the last record, where the footer lines start.
  const qint64 end = headers + titleRowCount_ + records;
  qint64 rows = 0;
  switch (Layout) {
    case elColumnar:
      rows = titleRowCount_ + records + (lines ? headers + footers : 0);
      break;
    case elReversedColumnar:
      rows = std::max(visible, lines && footers ? end + footers : lines ? headers : 0);
      break;
    case elTabularForm:
      rows = std::max(records ? visible * end : 0, lines && footers ? end + footers : headers);
      break;
  }
  return static_cast<int>(std::min<qint64>(rows, INT_MAX));
}

int TExportToCellFile::GridColumns(int records) const {
  const bool lines = GridLimits().LinesInGrid && (!Header.isEmpty() || !Footer.isEmpty());
  // Header and footer lines go to the second column.
  const int lineColumns = lines ? 2 : 0;
  switch (Layout) {
    case elColumnar:
      return std::max(VisibleColumnCount(), lineColumns);
    case elReversedColumnar:
      return std::max(static_cast<int>(Header.size()) + titleRowCount_ + records, lineColumns);
    case elTabularForm:
      return 2;
  }
  return 0;
}

void TExportToCellFile::CheckFits(int records) const {
  const TGridLimits limits = GridLimits();
  const int columns = GridColumns(records);
  if (columns > limits.Columns)
    throw ERangeError(QStringLiteral("%1 hold at most %2 columns; this result has %3.")
                          .arg(limits.Holder, Grouped(limits.Columns), Grouped(columns)));
  const int rows = GridRows(records);
  if (rows > limits.Rows) {
    const QString need =
        rows == records ? QString() : QStringLiteral(", which need %1").arg(Grouped(rows));
    throw ERangeError(QStringLiteral("%1 hold at most %2 rows; this result has %3 records%4.")
                          .arg(limits.Holder, Grouped(limits.Rows), Grouped(records), need));
  }
}

void TExportToCellFile::StartFile(const QString& fileName, int fileNumber) {
  if (fileNumber > 0) CloseFile();
  // Before the file exists: one that cannot hold the records is never begun.
  recordsInFile_ = 0;
  checkedRecords_ = RecordsInFile(fileNumber);
  CheckFits(checkedRecords_);
  // A format without limits has nothing to check record by record.
  const TGridLimits limits = GridLimits();
  if (limits.Rows == INT_MAX && limits.Columns == INT_MAX) checkedRecords_ = INT_MAX;
  if (!fileName.isEmpty()) {
    QString name = fileNumber == 0 ? fileName : NumberedFileName(fileName, fileNumber);
    if (OnGetFileName) OnGetFileName(this, fileNumber, name);
    CreateStream(OutputFileName(name));
  }
  WriteFileBegin();

  // Each file announces the rows it will hold (not the whole export's when it is split).
  const int rows = titleRowCount_ + RecordsInFile(fileNumber);
  const int visible = VisibleColumnCount();
  int widest = 0;
  for (const auto& column : Columns)
    if (column->Visible) widest = std::max(widest, column->Width);
  switch (Layout) {
    case elColumnar: {
      WriteDimensions(rows, visible + 1);
      int k = 0;
      for (const auto& column : Columns)
        if (column->Visible) WriteColumnWidth(k++, column->Width);
      break;
    }
    case elReversedColumnar:
      WriteDimensions(visible, rows + 1);
      for (int k = 0; k <= rows; ++k) WriteColumnWidth(k, widest);
      break;
    case elTabularForm:
      WriteDimensions(rows * visible, 3);
      WriteColumnWidth(0, widest);
      WriteColumnWidth(1, widest);
      break;
  }
  WriteHeader();
  BeginData();
  if (AddTitle && CanWriteTitles() && Layout != elTabularForm) WriteTitleRow();
}

void TExportToCellFile::WriteTitleRow() {
  const int headerCount = static_cast<int>(Header.size());
  const bool reversed = Layout == elReversedColumnar;
  QColor color(255, 255, 255);
  BeginRow(true);
  int c = 0;
  for (const auto& column : Columns) {
    if (!column->Visible) continue;
    color = column->Title.Color;
    *cellFont_ = column->Title.Font;
    db::TAlignment alignment = column->Title.Alignment;
    QString text = column->Title.Caption;
    GetStyleColor(headerCount + 1, color);
    TCellType cellType = ctString;
    PrepareCell(nullptr, text, alignment, color, cellType);
    WriteCell(nullptr, cellType, reversed ? c : headerCount, reversed ? headerCount : c, text,
              alignment, cellFont_.get(), color);
    ++c;
  }
  EndRow(true);
  if (!(Options & soBlankRowAfterCaptions)) return;
  BeginRow(true);
  GetStyleColor(headerCount + 2, color);
  c = 0;
  for (const auto& column : Columns) {
    if (!column->Visible) continue;
    WriteCell(nullptr, ctBlank, reversed ? c : currentRow_ - 1, reversed ? currentRow_ - 1 : c,
              QString(), db::taCenter, nullptr, color);
    ++c;
  }
  EndRow(true);
}

void TExportToCellFile::SettleFont() {
  if (lastFont_) *cellFont_ = *lastFont_;
  lastFont_ = nullptr;
}

void TExportToCellFile::CloseFile() {
  SettleFont();
  if (!stream_) return;
  StreamDrop drop{*this};
  WriteFooter();
  stream_->Close();
}

void TExportToCellFile::DropStream() {
  if (!stream_) return;
  unwritableCharacters_ += stream_->UnmappedCharacters();
  unwritableTexts_ += stream_->UnmappedTexts();
  stream_.reset();
}

void TExportToCellFile::CloseFileAfterError() noexcept {
  try {
    CloseFile();
  } catch (...) {
    // The error that ended the run is the one reported.
  }
  DropStream();
}

void TExportToCellFile::RunExport() {
  TCustomDataEngine* source = Engine();
  if (!source)
    throw Exception(
        FormatExportText(GetLanguageString(lsPropertyNotSpecified), QStringLiteral("DataEngine")));
  cellFont_ = std::make_unique<QFont>();
  lastFont_ = nullptr;
  unwritableCharacters_ = 0;
  unwritableTexts_ = 0;
  droppedCharacters_ = 0;
  droppedTexts_ = 0;
  cutTexts_ = 0;
  source->DisableControls();
  try {
    source->BeforeExecute();
    source->First();
    exportRecordCount_ = source->RecordCount();
    titleRowCount_ = AddTitle && CanWriteTitles() ? (Options & soBlankRowAfterCaptions ? 2 : 1) : 0;
    rowTotal_ = static_cast<int>(Header.size()) + titleRowCount_ + exportRecordCount_ +
                static_cast<int>(Footer.size());

    StartFile(FileName, 0);
    const int headerCount = static_cast<int>(Header.size());
    const int visible = VisibleColumnCount();
    const bool tabular = Layout == elTabularForm;
    std::vector<const TExportColumn*> columns;
    for (const auto& item : Columns)
      if (item->Visible) columns.push_back(item.get());
    // The field of each column is looked up once, and again only when the engine's fields may
    // have changed; the first record looks them up, so that a run without records asks nothing
    // of the engine.
    std::vector<const db::TField*> fields;
    quint64 fieldsVersion = 0;
    bool resolved = false;
    // Whole records go to a writer that takes them from the row store when no cell needs the
    // per-cell steps.
    const bool directAllowed =
        !OnGetCellParams && CharacterSet == csANSI_WINDOWS && Layout == elColumnar;
    bool direct = false;
    int n = 0;
    while (!IsExportCancelled() && !source->Eof()) {
      if (AnimatedStatus) UpdateExportProgress(GetLanguageString(lsExporting), n);
      if (OnProgress) {
        bool abort = false;
        OnProgress(this, n, source->RecordCount(), abort);
        if (abort) SetExportCancelled(true);
      }
      if (RowsPerFile > 0 && n > 0 && n % RowsPerFile == 0) StartFile(FileName, n / RowsPerFile);
      ++n;
      // A source that brings more records than it counted must still not overflow the format.
      if (++recordsInFile_ > checkedRecords_) CheckFits(recordsInFile_);
      if (!resolved || source->FieldsVersion() != fieldsVersion) {
        fields.clear();
        for (const TExportColumn* column : columns)
          fields.push_back(source->FindColumnField(*column));
        fieldsVersion = source->FieldsVersion();
        resolved = true;
        direct = false;
        if (directAllowed && !columns.empty() && fields.front()) {
          records_ = fields.front()->DataSet();
          direct = std::all_of(fields.begin(), fields.end(),
                               [this](auto* f) { return f && f->DataSet() == records_; });
          recordFields_ = fields;
          direct = direct && BeginRecords();
        }
      }
      if (direct) {
        BeginRow(false);
        WriteRecord();
        EndRow(false);
        lastFont_ = &columns.back()->Font;
        source->Next();
        ++currentRow_;
        continue;
      }
      if (!tabular) BeginRow(false);
      for (int c = 0; c < static_cast<int>(columns.size()); ++c) {
        const TExportColumn& column = *columns[static_cast<size_t>(c)];
        QColor color = column.Color;
        // Without a cell handler, which may change it, the writer gets the column's font itself.
        const QFont* font = &column.Font;
        if (OnGetCellParams) {
          *cellFont_ = column.Font;
          font = cellFont_.get();
        } else {
          lastFont_ = font;
        }
        db::TAlignment alignment = column.Alignment;
        const db::TField* field = fields[static_cast<size_t>(c)];
        QString text;
        TCellType cellType;
        if (field) {
          // A missing value is no value, not 0: every writer leaves the cell blank.
          cellType = field->IsNull() ? ctBlank : GetCellTypeOfField(field, BlankIfZero);
          if (OnGetCellParams || !ReadsFieldValue(*field, cellType)) text = GetFieldText(field);
        } else {
          const QVariant value = source->GetFieldValue(column);
          text = ValueText(value);
          cellType = value.isNull()
                         ? ctBlank
                         : GetValueCellType(source->GetFieldType(column), text, BlankIfZero);
        }
        GetStyleColor(headerCount + titleRowCount_ + n, color);
        PrepareCell(field, text, alignment, color, cellType);
        switch (Layout) {
          case elColumnar:
            WriteCell(field, cellType, currentRow_, c, text, alignment, font, color);
            break;
          case elReversedColumnar:
            WriteCell(field, cellType, c, currentRow_, text, alignment, font, color);
            break;
          case elTabularForm: {
            const int row = visible * currentRow_ + c;
            BeginRow(false);
            WriteCell(nullptr, ctString, row, 0, column.Title.Caption, column.Title.Alignment,
                      &column.Title.Font, column.Title.Color);
            WriteCell(field, cellType, row, 1, text, alignment, font, color);
            EndRow(false);
            break;
          }
        }
      }
      if (!tabular) EndRow(false);
      source->Next();
      ++currentRow_;
    }
    source->AfterExecute();
  } catch (...) {
    // The dataset goes back to its record and its controls come back on a failed run too.
    try {
      source->AfterExecute();
    } catch (...) {
    }
    try {
      source->EnableControls();
    } catch (...) {
    }
    CloseFileAfterError();
    cellFont_.reset();
    throw;
  }
  source->EnableControls();
  try {
    CloseFile();
  } catch (...) {
    cellFont_.reset();
    throw;
  }
  cellFont_.reset();
}

}  // namespace qav
