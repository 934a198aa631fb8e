#pragma once

#include "db/DataSet.h"
#include "export/DataEngine.h"
#include "export/ExportColumns.h"
#include "export/GridKinds.h"

#include <QColor>
#include <QFlags>
#include <QFont>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QVariant>
#include <QWidget>
#include <functional>
#include <memory>

namespace qav {

class TPartialFile;

// The kind of a cell handed to the writers; one byte in every cell record.
enum TCellType : quint8 {
  ctBlank = 0,
  ctInteger = 1,
  ctFloat = 2,
  ctString = 3,
  ctDateTime = 4,
  ctDate = 5,
  ctCurrency = 6,
  ctTime = 7,
};

enum TExportOption {
  soFieldMask = 1,              // field texts as displayed (Boolean words from DataFormats)
  soShowMessage = 2,            // message boxes for the final status, errors and mail errors
  soBlankRowAfterCaptions = 4,  // a blank row after the title row
  soMergeData = 8,              // append to an existing file where the writer allows it
  soWaitCursor = 16,            // hourglass during the run
  soDisableControls = 32,       // the data source's controls do not repaint during the run
};
Q_DECLARE_FLAGS(TExportOptions, TExportOption)
Q_DECLARE_OPERATORS_FOR_FLAGS(TExportOptions)

enum TCharacterSet { csANSI_WINDOWS, csASCII_MSDOS };
enum TColumnSource { csDBGrid, csDataSet, csDataEngine };
enum TActionAfterExport { aeNone, aeOpenView, aeEMail };
enum TExportLayout { elColumnar, elReversedColumnar, elTabularForm };
enum TExportDateOrder { doMDY, doDMY, doYMD, doYDM, doDYM, doMYD };
enum TExportStyleKind {
  esNormal,
  esPriceList,
  esMSMoney,
  esBrick,
  esDesert,
  esEggplant,
  esLilac,
  esMaple,
  esMarine,
  esRose,
  esSpruce,
  esWheat,
};

// How a run's file takes its name. The last two write it under a temporary name beside FileName
// (TPartialFile) that takes FileName only when the run is done, so that a failed or cancelled run
// leaves no partial file and an existing file as it was.
enum TFileCommit {
  fcDirect,           // straight into FileName
  fcReplaceWhenDone,  // replaces an existing FileName once done
  fcNewWhenDone,      // never replaces an existing FileName: the run fails instead
};

// Run status of an export component.
enum TExportStatus { rsNotFinished = 0, rsDone = 1, rsCancelled = 2, rsFailed = 3 };

// The separators, currency string and Boolean words of one export. At construction they are
// the process's; during a run they replace the process's (DateOrder, FourDigitYear and
// LeadingZerosInDate are carried only: dates use the process's short date pattern).
struct TExportDataFormats {
  TExportDataFormats();

  TExportDateOrder DateOrder = doMDY;
  QChar DateSeparator;
  QChar TimeSeparator;
  bool FourDigitYear = true;
  bool LeadingZerosInDate = true;
  QChar ThousandSeparator;
  QChar DecimalSeparator;
  QString CurrencyString;
  QString BooleanTrue = QStringLiteral("True");
  QString BooleanFalse = QStringLiteral("False");
};

// Mail settings for ActionAfterExport = aeEMail.
struct TExportSendTo {
  QString EMailRecipient;
  QString EMailSubject;
  QString EMailBody;
  bool EMailOpenBeforeSend = true;
};

// Alternate-row colours.
// The field types the export rules treat as numbers: blanked when zero under the zero-blanking
// option, right-justified in fixed-width text. ftLargeint is not among them.
bool IsExportNumericType(db::TFieldType type);

struct TFormatSettings;
struct TDateFields;

// The calendar fields of a date-time number, as QDateTime would give them, without its calendar
// and time zone work.
TDateFields DateFieldsOf(db::TDateTime value);

// How the plain text of a stored cell is made, from the field's type and the cell's kind alone:
// Empty for a null, then the digits of an integer, True or False, FloatToStr, CurrToStr, the
// date-time text, the UTF-8 text as it is; Other: through the field's accessors.
enum class TPlainForm : std::uint8_t {
  Empty,
  Integer,
  Boolean,
  Float,
  Money,
  DateTime,
  Text,
  Other
};
TPlainForm PlainFormOf(db::TFieldType type, db::RowStore::Kind kind);
// The plain text of a date-time value of a field of that type as bytes in [out, end), for the
// writers of 8-bit files; its end, or null when the formats are not ASCII (the text is then
// GetFieldText's).
char* DateTimeChars(db::TFieldType type, db::TDateTime value, char* out, char* end,
                    const TFormatSettings& fs);

class TExportStyle {
 public:
  TExportStyleKind Style() const { return style_; }
  // A style different from the current one loads both colours from the style table.
  void SetStyle(TExportStyleKind style);

  QColor OddColor = WindowColor();
  QColor EvenColor = WindowColor();

  static QColor WindowColor();

 private:
  TExportStyleKind style_ = esNormal;
};

// The export component base: every setting of one export, the run in its fixed order
// (BeginExport, ExportData, EndExport), and the services that turn a field of the current
// record into a cell. Writers derive from TExportToCellFile.
class TExportCustomBaseComponent : public QObject {
  Q_OBJECT

 public:
  using TGetLanguageStringEvent = std::function<void(QObject* sender, int id, QString& text)>;
  using TNotifyEvent = std::function<void(QObject* sender)>;
  using TProgressEvent =
      std::function<void(QObject* sender, int curValue, int maxValue, bool& abort)>;
  using TExportGetFileName =
      std::function<void(QObject* sender, int curFileNumber, QString& fileName)>;
  using TGetCellParamsEvent =
      std::function<void(QObject* sender, const db::TField* field, QString& text, QFont* font,
                         db::TAlignment& alignment, QColor& background, TCellType& cellType)>;

  explicit TExportCustomBaseComponent(QObject* owner = nullptr);
  ~TExportCustomBaseComponent() override;

  bool AnimatedStatus = true;
  TExportDataFormats DataFormats;
  QString KeyGenerator = QStringLiteral("DataExport 4.30");
  bool SelectedRecord = false;
  bool BlankIfZero = false;
  TExportOptions Options = soShowMessage | soWaitCursor | soDisableControls;
  bool RightToLeft = false;
  TExportSendTo SendTo;
  TGetLanguageStringEvent OnGetLanguageString;
  TNotifyEvent OnBeforeExecute;
  TNotifyEvent OnAfterExecute;
  TProgressEvent OnProgress;
  TExportGetFileName OnGetFileName;

  // Published by the writers that use them.
  bool AddTitle = false;
  TCharacterSet CharacterSet = csANSI_WINDOWS;
  int RowsPerFile = 0;
  QStringList Header;
  QStringList Footer;
  TExportStyle ExportStyle;
  TGetCellParamsEvent OnGetCellParams;
  QChar Separator = u'\t';
  QChar TextQualifier;  // none
  QString RecordSeparator = QStringLiteral("\r\n");
  bool Fixed = false;

  int ExportType() const { return exportType_; }
  int RunStatus() const { return runStatus_; }

  // Copies every setting above and the export kind.
  virtual void Assign(const TExportCustomBaseComponent& source);

  virtual void SetExportType(int kind);
  virtual int GetFormatVariant() { return 0; }
  virtual void ExportData() {}
  // The text of one field in the current record (empty without a field), with the process's
  // formats, which a run has replaced by DataFormats.
  virtual QString GetFieldText(const db::TField* field);
  virtual QString GetDefaultExt() { return QStringLiteral(".EXP"); }

  // The table text of id, then OnGetLanguageString.
  QString GetLanguageString(int id);
  // With a style other than esNormal: OddColor for an odd row, EvenColor for an even one.
  void GetStyleColor(int row, QColor& color) const;
  TCellType GetCellTypeOfField(const db::TField* field, bool blankIfZero) const;
  static TCellType GetValueCellType(db::TFieldType type, const QVariant& value, bool blankIfZero);
  // Simple MAPI's send: the result of MAPISendMail, 1 when the library lacks it, -1 when the
  // library cannot be loaded. A failure is shown with soShowMessage.
  int SendMail(const QString& fileName, const QString& body = QString());

  // The default extension of an export kind; empty for a kind this program does not have.
  static QString DefaultExtensionOfKind(int kind);

 protected:
  void SetRunStatus(int status) { runStatus_ = status; }
  // The message boxes of a run.
  void ShowInformation(const QString& text) const;

 private:
  int exportType_ = 0;
  int runStatus_ = rsNotFinished;
};

// Adds the column list and the column source (a grid, a dataset or an engine of the caller's),
// the target file and the run itself.
class TExportBaseComponent : public TExportCustomBaseComponent {
  Q_OBJECT

 public:
  explicit TExportBaseComponent(QObject* owner = nullptr);
  ~TExportBaseComponent() override;

  TExportColumns Columns;
  TColumnSource ColumnSource = csDBGrid;
  QString FileName;
  TActionAfterExport ActionAfterExport = aeNone;
  TExportLayout Layout = elColumnar;
  TFileCommit FileCommit = fcDirect;

  QWidget* DBGrid() const { return dbGrid_; }
  // Raises "Assigned DBGrid (NAME) is not a supported type" for a control of none of the grid
  // kinds; the reference is then not changed.
  void SetDBGrid(QWidget* grid);
  TGridKind GridKind() const { return dbGrid_ ? gridKind_ : gkNone; }
  db::TDataSet* DataSet() const { return dataSet_; }
  void SetDataSet(db::TDataSet* dataSet) { dataSet_ = dataSet; }
  TCustomDataEngine* DataEngine() const { return userEngine_; }
  void SetDataEngine(TCustomDataEngine* engine);

  void Assign(const TExportCustomBaseComponent& source) override;
  void SetExportType(int kind) override;

  // Runs one export to FileName. The outcome is RunStatus and the messages; no error leaves.
  void Execute();

  // The engine of the current run, or null.
  TCustomDataEngine* Engine() const { return engine_; }
  int VisibleColumnCount() const { return visibleColumns_; }
  int RecordTotal() const { return recordTotal_; }

 protected:
  virtual void CreateDataEngine();
  virtual void FreeDataEngine();
  virtual void BeginExport();
  virtual void EndExport();
  virtual void DoActionAfterExport();
  // Where the writer opens the file `name` (FileName, or what OnGetFileName made of it): under
  // FileCommit, FileName itself is written under its temporary name, created here.
  QString OutputFileName(const QString& name);

 private:
  // Puts back whatever BeginExport changed and has not been put back; EndExport and a failed
  // run both end here, so a failed run leaves the process as it found it.
  void RestoreProcessState();
  // The process's separators and currency string while a run has its own in place.
  struct SavedFormats {
    QChar decimal, date, time, thousand;
    QString currency;
  };

  QPointer<QWidget> dbGrid_;
  TGridKind gridKind_ = gkNone;
  QPointer<db::TDataSet> dataSet_;
  QPointer<TCustomDataEngine> userEngine_;
  QPointer<TCustomDataEngine> engine_;
  bool ownsEngine_ = false;
  int visibleColumns_ = 0;
  int recordTotal_ = 0;
  bool columnsFilled_ = false;
  bool formatsSaved_ = false;
  SavedFormats saved_;
  bool waitCursor_ = false;
  bool controlsDisabled_ = false;
  std::unique_ptr<TPartialFile> partial_;
};

}  // namespace qav
