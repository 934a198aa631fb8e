#include "export/ExportComponent.h"

#include "app/Dialogs.h"
#include "core/Cp874.h"
#include "core/Exception.h"
#include "core/FormatSettings.h"
#include "core/PartialFile.h"
#include "db/DateTime.h"
#include "export/DataEngine.h"
#include "export/ExportProgress.h"
#include "export/ExportStrings.h"
#include "export/GridDataEngine.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLibrary>
#include <QPalette>
#include <QUrl>
#include <cmath>

namespace qav {

namespace {

using namespace db;

}  // namespace

TDateFields DateFieldsOf(TDateTime value) {
  constexpr qint64 kMsecsPerDay = 86400000;
  const double days = std::trunc(value);
  qint64 msecs = std::llround(std::fabs(value - days) * kMsecsPerDay);
  auto day = static_cast<qint64>(days);
  if (msecs >= kMsecsPerDay) {
    msecs -= kMsecsPerDay;
    day += value < 0 ? -1 : 1;
  }
  if (!(std::fabs(days) < 1e9)) {
    // Far beyond any calendar in use: as QDate has it.
    static const qint64 epoch = QDate(1899, 12, 30).toJulianDay();
    return TDateFields::Of(QDate::fromJulianDay(epoch + day),
                           QTime::fromMSecsSinceStartOfDay(static_cast<int>(msecs)));
  }
  constexpr qint64 kEpochDays = -25569;  // 1899-12-30, counted from 1970-01-01
  const DateTimeParts p = DateTimeParts::FromDays(kEpochDays + day, msecs);
  // QDate has no year 0: the year before 1 is -1.
  return {p.year > 0 ? p.year : p.year - 1, p.month, p.day, p.hour, p.minute, p.second,
          static_cast<int>(msecs % 1000)};
}

namespace {

QString DateTimeText(TFieldType type, TDateTime value, const TFormatSettings& fs) {
  const TDateFields at = DateFieldsOf(value);
  if (type == ftDate) return FormatDateTime(fs.ShortDateFormat, at, fs);
  if (type == ftTime) return FormatDateTime(fs.LongTimeFormat, at, fs);
  return DateTimeToStr(at, fs);
}

QString PlainText(const TField& field, const TFormatSettings& fs) {
  const TFieldType type = field.DataType();
  try {
    switch (type) {
      case ftSmallint:
      case ftInteger:
      case ftWord:
      case ftAutoInc:
      case ftLargeint:
        return QString::number(field.AsLargeInt());
      case ftFloat:
      case ftCurrency:
        return FloatToStr(field.AsFloat(), fs);
      case ftBCD:
        return CurrToStr(field.AsFloat(), fs);
      case ftBoolean:
        return field.AsBoolean() ? QStringLiteral("True") : QStringLiteral("False");
      case ftDate:
      case ftTime:
      case ftDateTime:
        return DateTimeText(type, field.AsDateTime(), fs);
      case ftBytes:
      case ftVarBytes:
      case ftBlob:
      case ftGraphic:
        return FromCp874(field.AsBytes());
      default:
        break;
    }
  } catch (const EConvertError&) {
    // A value the database handed over in a form of its own (a date it could not read, say)
    // is written as it came.
  }
  return field.AsString();
}

// The usual cells, read straight from the dataset's rows: the field's accessors would check
// the cursor and the cell's kind again for every call. False leaves the cell to PlainText.
bool FastPlainText(const TField& field, const TFormatSettings& fs, QString& text) {
  const TDataSet* ds = field.DataSet();
  const RowStore* store = ds->Store();
  const qint64 row = ds->CurrentRow();
  if (!store || row < 0 || row >= store->Rows()) return false;
  const int column = field.Index();
  const TFieldType type = field.DataType();
  switch (PlainFormOf(type, store->KindAt(row, column))) {
    case TPlainForm::Empty:
      text.clear();
      return true;
    case TPlainForm::Integer:
      text = QString::number(store->IntAt(row, column));
      return true;
    case TPlainForm::Boolean:
      text = store->IntAt(row, column) ? QStringLiteral("True") : QStringLiteral("False");
      return true;
    case TPlainForm::Float:
      text = FloatToStr(store->FloatAt(row, column), fs);
      return true;
    case TPlainForm::Money:
      text = CurrToStr(store->FloatAt(row, column), fs);
      return true;
    case TPlainForm::DateTime:
      text = DateTimeText(type, store->FloatAt(row, column), fs);
      return true;
    case TPlainForm::Text: {
      const std::string_view bytes = store->BytesAt(row, column);
      text = QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
      return true;
    }
    case TPlainForm::Other:
      break;
  }
  return false;
}

}  // namespace

TPlainForm PlainFormOf(TFieldType type, RowStore::Kind kind) {
  switch (kind) {
    case RowStore::Kind::Null:
      return TPlainForm::Empty;
    case RowStore::Kind::Int:
      if (IsIntegerType(type)) return TPlainForm::Integer;
      if (type == ftBoolean) return TPlainForm::Boolean;
      return TPlainForm::Other;
    case RowStore::Kind::Float:
      if (type == ftFloat || type == ftCurrency) return TPlainForm::Float;
      if (type == ftBCD) return TPlainForm::Money;
      if (IsDateTimeType(type)) return TPlainForm::DateTime;
      return TPlainForm::Other;
    case RowStore::Kind::Bytes:
      return IsTextType(type) ? TPlainForm::Text : TPlainForm::Other;
  }
  return TPlainForm::Other;
}

char* DateTimeChars(TFieldType type, TDateTime value, char* out, char* end,
                    const TFormatSettings& fs) {
  const TDateFields at = DateFieldsOf(value);
  if (type == ftDate) return FormatDateTimeChars(fs.ShortDateFormat, at, out, end, fs);
  if (type == ftTime) return FormatDateTimeChars(fs.LongTimeFormat, at, out, end, fs);
  return DateTimeToChars(at, out, end, fs);
}

namespace {

bool IsZeroValue(const QVariant& value) {
  if (value.isNull()) return true;
  switch (value.typeId()) {
    case QMetaType::QString: {
      const QString text = value.toString();
      double number = 0;
      return text.isEmpty() || (TryStrToFloat(text, number) && number == 0);
    }
    case QMetaType::QDateTime:
      return EncodeDateTime(value.toDateTime()) == 0;
    default: {
      bool ok = false;
      const double number = value.toDouble(&ok);
      return ok && number == 0;
    }
  }
}

QString ErrorText(const std::exception& error) {
  if (const auto* e = dynamic_cast<const Exception*>(&error)) return e->Message();
  return QString::fromLocal8Bit(error.what());
}

QString ChangeFileExt(const QString& fileName, const QString& ext) {
  const qsizetype slash = std::max(fileName.lastIndexOf(u'/'), fileName.lastIndexOf(u'\\'));
  const qsizetype dot = fileName.lastIndexOf(u'.');
  return (dot > slash ? fileName.left(dot) : fileName) + ext;
}

// Simple MAPI's structures, as its public header declares them (ULONG is 32 bits).
using MapiULong = quint32;
struct MapiRecipDesc {
  MapiULong ulReserved;
  MapiULong ulRecipClass;
  char* lpszName;
  char* lpszAddress;
  MapiULong ulEIDSize;
  void* lpEntryID;
};
struct MapiFileDesc {
  MapiULong ulReserved;
  MapiULong flFlags;
  MapiULong nPosition;
  char* lpszPathName;
  char* lpszFileName;
  void* lpFileType;
};
struct MapiMessage {
  MapiULong ulReserved;
  char* lpszSubject;
  char* lpszNoteText;
  char* lpszMessageType;
  char* lpszDateReceived;
  char* lpszConversationID;
  MapiULong flFlags;
  MapiRecipDesc* lpOriginator;
  MapiULong nRecipCount;
  MapiRecipDesc* lpRecips;
  MapiULong nFileCount;
  MapiFileDesc* lpFiles;
};
using MapiSendMailFn = MapiULong (*)(quintptr session, quintptr uiParam, MapiMessage* message,
                                     MapiULong flags, MapiULong reserved);
constexpr MapiULong kMapiTo = 1;
constexpr MapiULong kMapiLogonUi = 0x1;
constexpr MapiULong kMapiDialog = 0x8;

}  // namespace

bool IsExportNumericType(db::TFieldType type) {
  switch (type) {
    case db::ftSmallint:
    case db::ftInteger:
    case db::ftWord:
    case db::ftFloat:
    case db::ftCurrency:
    case db::ftBCD:
    case db::ftAutoInc:
      return true;
    default:
      return false;
  }
}

TExportDataFormats::TExportDataFormats() {
  const TFormatSettings& fs = FormatSettings();
  DateSeparator = fs.DateSeparator;
  TimeSeparator = fs.TimeSeparator;
  ThousandSeparator = fs.ThousandSeparator;
  DecimalSeparator = fs.DecimalSeparator;
  CurrencyString = fs.CurrencyString;
  FourDigitYear = fs.ShortDateFormat.contains(QLatin1String("yyyy"), Qt::CaseInsensitive);
  LeadingZerosInDate = fs.ShortDateFormat.contains(QLatin1String("dd"), Qt::CaseInsensitive);
}

QColor TExportStyle::WindowColor() {
  if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
    return QGuiApplication::palette().color(QPalette::Base);
  return QColor(255, 255, 255);
}

void TExportStyle::SetStyle(TExportStyleKind style) {
  if (style == style_) return;
  style_ = style;
  struct Row {
    QColor odd, even;
  };
  const QColor window = WindowColor();
  const QColor light = qobject_cast<QGuiApplication*>(QCoreApplication::instance())
                           ? QGuiApplication::palette().color(QPalette::Midlight)
                           : QColor(227, 227, 227);
  const Row table[] = {
      {window, window},                                // esNormal
      {light, window},                                 // esPriceList
      {QColor(240, 251, 255), window},                 // esMSMoney
      {QColor(223, 223, 207), QColor(191, 191, 160)},  // esBrick
      {QColor(216, 204, 184), QColor(160, 140, 104)},  // esDesert
      {QColor(144, 176, 168), QColor(88, 128, 120)},   // esEggplant
      {QColor(176, 168, 216), QColor(88, 80, 176)},    // esLilac
      {QColor(235, 216, 168), QColor(200, 168, 72)},   // esMaple
      {QColor(136, 192, 184), QColor(72, 144, 136)},   // esMarine
      {QColor(208, 176, 184), QColor(160, 96, 112)},   // esRose
      {QColor(160, 200, 168), QColor(88, 152, 104)},   // esSpruce
      {QColor(224, 224, 160), QColor(192, 188, 64)},   // esWheat
  };
  OddColor = table[style].odd;
  EvenColor = table[style].even;
}

TExportCustomBaseComponent::TExportCustomBaseComponent(QObject* owner) : QObject(owner) {}

TExportCustomBaseComponent::~TExportCustomBaseComponent() = default;

void TExportCustomBaseComponent::Assign(const TExportCustomBaseComponent& source) {
  if (&source == this) return;
  AnimatedStatus = source.AnimatedStatus;
  DataFormats = source.DataFormats;
  KeyGenerator = source.KeyGenerator;
  SelectedRecord = source.SelectedRecord;
  BlankIfZero = source.BlankIfZero;
  Options = source.Options;
  RightToLeft = source.RightToLeft;
  SendTo = source.SendTo;
  OnGetLanguageString = source.OnGetLanguageString;
  OnBeforeExecute = source.OnBeforeExecute;
  OnAfterExecute = source.OnAfterExecute;
  OnProgress = source.OnProgress;
  OnGetFileName = source.OnGetFileName;
  AddTitle = source.AddTitle;
  CharacterSet = source.CharacterSet;
  RowsPerFile = source.RowsPerFile;
  Header = source.Header;
  Footer = source.Footer;
  ExportStyle = source.ExportStyle;
  OnGetCellParams = source.OnGetCellParams;
  Separator = source.Separator;
  TextQualifier = source.TextQualifier;
  RecordSeparator = source.RecordSeparator;
  Fixed = source.Fixed;
  exportType_ = source.exportType_;
}

QString TExportCustomBaseComponent::DefaultExtensionOfKind(int kind) {
  switch (kind) {
    case 2:
      return QStringLiteral(".TXT");
    case 4:
      return QStringLiteral(".XLS");
    case 6:
      return QStringLiteral(".DOC");
    case 9:
      return QStringLiteral(".WK1");
    case 10:
      return QStringLiteral(".WQ1");
    default:
      return {};
  }
}

void TExportCustomBaseComponent::SetExportType(int kind) {
  exportType_ = kind;
}

QString TExportCustomBaseComponent::GetFieldText(const db::TField* field) {
  if (!field) return {};
  const TFormatSettings& fs = FormatSettings();
  QString text;
  if (!BlankIfZero && !(Options & soFieldMask) && FastPlainText(*field, fs, text)) return text;
  if (field->IsNull()) return {};
  const TFieldType type = field->DataType();
  if (BlankIfZero) {
    try {
      if (IsExportNumericType(type) && field->AsFloat() == 0) return {};
      if (IsDateTimeType(type) && field->AsDateTime() == 0) return {};
    } catch (const EConvertError&) {
      // A value that is not a number is not zero either.
    }
  }
  if (Options & soFieldMask && type == ftBoolean)
    return field->AsBoolean() ? DataFormats.BooleanTrue : DataFormats.BooleanFalse;
  // The engine layer's fields carry no display formats, so the displayed text is the plain one.
  return PlainText(*field, fs);
}

QString TExportCustomBaseComponent::GetLanguageString(int id) {
  QString text = ExportLanguageText(id);
  if (OnGetLanguageString) OnGetLanguageString(this, id, text);
  return text;
}

void TExportCustomBaseComponent::GetStyleColor(int row, QColor& color) const {
  if (ExportStyle.Style() == esNormal) return;
  color = row % 2 != 0 ? ExportStyle.OddColor : ExportStyle.EvenColor;
}

TCellType TExportCustomBaseComponent::GetCellTypeOfField(const db::TField* field,
                                                         bool blankIfZero) const {
  if (!field) return ctString;
  QVariant value;
  // The value only matters to the blank rule; reading it for every cell would cost a copy.
  if (blankIfZero && !field->IsNull()) {
    const TFieldType type = field->DataType();
    try {
      if (IsDateTimeType(type))
        value = field->AsDateTime();
      else if (IsExportNumericType(type))
        value = field->AsFloat();
      else
        value = field->AsString();
    } catch (const EConvertError&) {
      value = field->AsString();
    }
  }
  return GetValueCellType(field->DataType(), value, blankIfZero);
}

TCellType TExportCustomBaseComponent::GetValueCellType(db::TFieldType type, const QVariant& value,
                                                       bool blankIfZero) {
  TCellType cellType = ctString;
  switch (type) {
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftAutoInc:
      cellType = ctInteger;
      break;
    case ftFloat:
    case ftBCD:
      cellType = ctFloat;
      break;
    case ftCurrency:
      cellType = ctCurrency;
      break;
    case ftDate:
      cellType = ctDate;
      break;
    case ftTime:
      cellType = ctTime;
      break;
    case ftDateTime:
      cellType = ctDateTime;
      break;
    default:
      return ctString;
  }
  return blankIfZero && IsZeroValue(value) ? ctBlank : cellType;
}

int TExportCustomBaseComponent::SendMail(const QString& fileName, const QString& body) {
  QByteArray subject = ToCp874(SendTo.EMailSubject.isEmpty() ? KeyGenerator : SendTo.EMailSubject);
  QByteArray text =
      ToCp874(body.isEmpty() ? SendTo.EMailBody : SendTo.EMailBody + QStringLiteral("\r\n") + body);
  QByteArray recipient = ToCp874(SendTo.EMailRecipient);
  QByteArray path = ToCp874(QDir::toNativeSeparators(fileName));
  QByteArray name = ToCp874(QFileInfo(fileName).fileName());

  int result = -1;
  QLibrary library(QStringLiteral("MAPI32.DLL"));
  if (library.load()) {
    auto send = reinterpret_cast<MapiSendMailFn>(library.resolve("MAPISendMail"));
    if (!send) {
      result = 1;
    } else {
      MapiRecipDesc to{0, kMapiTo, recipient.data(), recipient.data(), 0, nullptr};
      MapiFileDesc attachment{0, 0, 0xFFFFFFFFu, path.data(), name.data(), nullptr};
      MapiMessage message{};
      message.lpszSubject = subject.data();
      message.lpszNoteText = text.data();
      if (!recipient.isEmpty()) {
        message.nRecipCount = 1;
        message.lpRecips = &to;
      }
      if (body.isEmpty()) {
        message.nFileCount = 1;
        message.lpFiles = &attachment;
      }
      MapiULong flags = kMapiLogonUi;
      if (SendTo.EMailOpenBeforeSend || recipient.isEmpty()) flags |= kMapiDialog;
      result = static_cast<int>(send(0, 0, &message, flags, 0));
    }
    library.unload();
  }
  if (result != 0 && Options & soShowMessage) {
    DialogRequest r;
    r.kind = DialogRequest::Kind::Error;
    r.title = QStringLiteral("Error");
    r.text = QString::number(result) + QStringLiteral(" Error sending mail");
    Dialogs::Show(r);
  }
  return result;
}

void TExportCustomBaseComponent::ShowInformation(const QString& text) const {
  DialogRequest r;
  r.kind = DialogRequest::Kind::Information;
  r.title = QStringLiteral("Information");
  r.text = text;
  Dialogs::Show(r);
}

TExportBaseComponent::TExportBaseComponent(QObject* owner)
    : TExportCustomBaseComponent(owner), Columns(this) {
  const QString folder =
      QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QDir::currentPath();
  FileName = QDir(folder).filePath(QStringLiteral("DataExport") + GetDefaultExt());
}

TExportBaseComponent::~TExportBaseComponent() {
  if (ownsEngine_) delete engine_.data();
}

void TExportBaseComponent::SetDBGrid(QWidget* grid) {
  const TGridKind kind = GridKindOf(grid);
  if (grid && kind == gkNone)
    throw Exception(FormatExportText(GetLanguageString(lsUnsupportedGrid), grid->objectName()));
  dbGrid_ = grid;
  gridKind_ = kind;
}

void TExportBaseComponent::SetDataEngine(TCustomDataEngine* engine) {
  userEngine_ = engine;
}

void TExportBaseComponent::Assign(const TExportCustomBaseComponent& source) {
  TExportCustomBaseComponent::Assign(source);
  const auto* other = dynamic_cast<const TExportBaseComponent*>(&source);
  if (!other || other == this) return;
  Columns.Assign(other->Columns);
  ColumnSource = other->ColumnSource;
  FileName = other->FileName;
  FileCommit = other->FileCommit;
  ActionAfterExport = other->ActionAfterExport;
  Layout = other->Layout;
  dbGrid_ = other->dbGrid_;
  gridKind_ = other->gridKind_;
  dataSet_ = other->dataSet_;
  userEngine_ = other->userEngine_;
}

void TExportBaseComponent::SetExportType(int kind) {
  const QString ext = DefaultExtensionOfKind(kind);
  if (!FileName.isEmpty() && !ext.isEmpty()) FileName = ChangeFileExt(FileName, ext);
  TExportCustomBaseComponent::SetExportType(kind);
}

void TExportBaseComponent::Execute() {
  try {
    BeginExport();
    if (AnimatedStatus && ExportProgressWindow())
      RunInProgressWindow([this] { ExportData(); });
    else
      ExportData();
    EndExport();
  } catch (const std::exception& error) {
    // The writers name the file they write; the user knows only the one they chose.
    QString text = ErrorText(error);
    if (partial_ && !partial_->Path().isEmpty())
      text.replace(QDir::toNativeSeparators(partial_->Path()), QDir::toNativeSeparators(FileName))
          .replace(partial_->Path(), FileName);
    RestoreProcessState();
    SetRunStatus(rsFailed);
    if (Options & soShowMessage) {
      // The heading is a sentence of its own; before the reason it loses its full stop.
      QString heading = GetLanguageString(lsExportError);
      if (heading.endsWith(u'.')) heading.chop(1);
      ShowInformation(heading + QStringLiteral(": ") + text);
    }
  } catch (...) {
    RestoreProcessState();
    SetRunStatus(rsFailed);
    if (Options & soShowMessage) ShowInformation(GetLanguageString(lsExportError));
  }
}

void TExportBaseComponent::CreateDataEngine() {
  auto missing = [this](const char* property) {
    return Exception(
        FormatExportText(GetLanguageString(lsPropertyNotSpecified), QString::fromLatin1(property)));
  };
  FreeDataEngine();
  switch (ColumnSource) {
    case csDBGrid: {
      if (!dbGrid_) throw missing("DBGrid");
      TGridDataEngine* engine = nullptr;
      switch (gridKind_) {
        case gkSelectedListGrid:
          engine = new TSelectedListGridDataEngine(this);
          break;
        case gkFieldsGrid:
          engine = new TFieldsGridDataEngine(this);
          break;
        default:
          engine = new TDBGridDataEngine(this);
          break;
      }
      engine_ = engine;
      ownsEngine_ = true;
      engine->SetDBGrid(dbGrid_);
      break;
    }
    case csDataSet: {
      if (!dataSet_) throw missing("Dataset");
      auto* engine = new TDatasetDataEngine(this);
      engine_ = engine;
      ownsEngine_ = true;
      engine->SetDataset(dataSet_);
      break;
    }
    case csDataEngine:
      if (!userEngine_) throw missing("DataEngine");
      engine_ = userEngine_;
      ownsEngine_ = false;
      break;
  }
  engine_->SelectedRecords = SelectedRecord;
}

void TExportBaseComponent::FreeDataEngine() {
  if (ownsEngine_) delete engine_.data();
  engine_ = nullptr;
  ownsEngine_ = false;
}

void TExportBaseComponent::BeginExport() {
  SetRunStatus(rsNotFinished);
  if (OnBeforeExecute) OnBeforeExecute(this);
  CreateDataEngine();
  recordTotal_ = engine_->RecordCount();

  TFormatSettings& fs = FormatSettings();
  saved_ = {fs.DecimalSeparator, fs.DateSeparator, fs.TimeSeparator, fs.ThousandSeparator,
            fs.CurrencyString};
  formatsSaved_ = true;
  fs.DecimalSeparator = DataFormats.DecimalSeparator;
  fs.DateSeparator = DataFormats.DateSeparator;
  fs.TimeSeparator = DataFormats.TimeSeparator;
  fs.ThousandSeparator = DataFormats.ThousandSeparator;
  fs.CurrencyString = DataFormats.CurrencyString;

  if (Options & soDisableControls) {
    engine_->DisableControls();
    controlsDisabled_ = true;
  }
  if (Options & soWaitCursor && qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    waitCursor_ = true;
  }
  if (AnimatedStatus)
    ShowExportProgress(KeyGenerator, GetLanguageString(lsExporting),
                       GetLanguageString(lsCancelCaption), 0, std::max(recordTotal_, 0), 0);
  else
    // A run without the window must not inherit an earlier run's cancel.
    SetExportCancelled(false);

  columnsFilled_ = Columns.Count() == 0;
  if (columnsFilled_) engine_->FillColumns(Columns, RightToLeft);
  visibleColumns_ = Columns.VisibleCount();
}

void TExportBaseComponent::EndExport() {
  if (columnsFilled_) {
    Columns.Clear();
    columnsFilled_ = false;
  }
  // The file takes its name before anything reports it done; a failure here fails the run.
  if (partial_ && !IsExportCancelled()) partial_->Publish(FileCommit == fcReplaceWhenDone);
  QString status;
  if (IsExportCancelled()) {
    SetRunStatus(rsCancelled);
    status = GetLanguageString(lsExportCanceled);
  } else {
    SetRunStatus(rsDone);
    status = FormatExportText(GetLanguageString(lsExportDone), FileName);
  }
  if (OnProgress) {
    bool abort = false;
    OnProgress(this, recordTotal_, recordTotal_, abort);
  }
  if (AnimatedStatus) {
    UpdateExportProgress(status, recordTotal_);
    HideExportProgress();
  }
  if (Options & soShowMessage && !AnimatedStatus) ShowInformation(status);
  DoActionAfterExport();
  RestoreProcessState();
  if (OnAfterExecute) OnAfterExecute(this);
}

void TExportBaseComponent::RestoreProcessState() {
  HideExportProgress();
  partial_.reset();  // an unpublished file goes
  if (columnsFilled_) {
    Columns.Clear();
    columnsFilled_ = false;
  }
  if (formatsSaved_) {
    TFormatSettings& fs = FormatSettings();
    fs.DecimalSeparator = saved_.decimal;
    fs.DateSeparator = saved_.date;
    fs.TimeSeparator = saved_.time;
    fs.ThousandSeparator = saved_.thousand;
    fs.CurrencyString = saved_.currency;
    formatsSaved_ = false;
  }
  if (waitCursor_) {
    QGuiApplication::restoreOverrideCursor();
    waitCursor_ = false;
  }
  if (controlsDisabled_) {
    controlsDisabled_ = false;
    if (engine_) {
      try {
        engine_->EnableControls();
      } catch (const std::exception&) {
        // The run's own error is the one reported.
      }
    }
  }
  FreeDataEngine();
}

QString TExportBaseComponent::OutputFileName(const QString& name) {
  if (FileCommit == fcDirect || name != FileName) return name;
  // Merging into an existing file needs that file itself.
  if (Options & soMergeData && QFileInfo::exists(name)) return name;
  if (!partial_) {
    partial_ = std::make_unique<TPartialFile>(name);
    partial_->Create();
  }
  return partial_->Path();
}

void TExportBaseComponent::DoActionAfterExport() {
  switch (ActionAfterExport) {
    case aeOpenView:
      QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(FileName).absoluteFilePath()));
      break;
    case aeEMail:
      SendMail(FileName);
      break;
    case aeNone:
      break;
  }
}

}  // namespace qav
