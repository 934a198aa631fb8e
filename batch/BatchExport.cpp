#include "batch/BatchExport.h"

#include "app/DMConfig.h"
#include "app/Dialogs.h"
#include "batch/BatchDataEngine.h"
#include "batch/BatchProgress.h"
#include "batch/StatementCount.h"
#include "core/FormatSettings.h"
#include "core/ScriptFile.h"
#include "db/Database.h"
#include "db/Errors.h"
#include "db/Query.h"
#include "db/embedded/EmbeddedConnection.h"
#include "export/CellFileExport.h"
#include "export/CsvExport.h"
#include "export/ExportComponent.h"
#include "export/TextExport.h"
#include "platform/Console.h"
#include "platform/Files.h"
#include "sql/Batches.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <atomic>
#include <cstring>
#include <memory>
#include <optional>

namespace qav {

namespace {

std::atomic<bool> cancelRequested{false};
// Set once the last row is being written: what follows is the file's completion (for a Word
// document, its whole save), which no longer stops.
std::atomic<bool> completing{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

const QString kProgram = QStringLiteral("qavtool-export");
// `--out -`: the output goes to standard output.
const QString kStandardOutputName = QStringLiteral("-");

// Readers of the embedded suite wait this long for a writer that holds the database.
constexpr int kLockWaitMs = 60000;

struct FormatName {
  const char* name;
  TSaveFormat format;
  // The format tells its size before its cells, so the rows are counted first.
  bool announcesSize;
};
constexpr FormatName kFormats[] = {
    {"xls", TSaveFormat::Xls, true},
    {"doc", TSaveFormat::Word, true},
    // The Word writer's file is Office Open XML under either name.
    {"docx", TSaveFormat::Word, true},
    {"txt", TSaveFormat::Text, false},
    {"wks", TSaveFormat::Wks, true},
    {"wq1", TSaveFormat::Quattro, true},
    {"xlsx", TSaveFormat::Xlsx, false},
    {"csv", TSaveFormat::Csv, false},
};
const QString kFormatList = QStringLiteral("xls, doc, docx, txt, wks, wq1, xlsx or csv");

bool AnnouncesSize(TSaveFormat format) {
  for (const FormatName& f : kFormats)
    if (f.format == format) return f.announcesSize;
  return true;
}

std::optional<TSaveFormat> FormatNamed(const QString& name) {
  for (const FormatName& f : kFormats)
    if (name.compare(QLatin1StringView(f.name), Qt::CaseInsensitive) == 0) return f.format;
  return std::nullopt;
}

QString RowsText(qint64 rows) {
  return TBatchProgress::Grouped(rows) +
         (rows == 1 ? QStringLiteral(" row") : QStringLiteral(" rows"));
}

[[noreturn]] void Bad(const QString& message) {
  throw EBatchArguments(message);
}

// The statement's lines as the console's memo hands them over: line breaks of any system become
// line feeds.
QStringList StatementLines(QString text) {
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  text.replace(u'\r', u'\n');
  return text.split(u'\n');
}

// Standard output as the text writers' device: unbuffered, every failure with the system's
// reason.
class TStandardOutput final : public QIODevice {
 public:
  TStandardOutput() { open(QIODevice::WriteOnly | QIODevice::Unbuffered); }
  bool isSequential() const override { return true; }

 protected:
  qint64 readData(char*, qint64) override { return -1; }
  qint64 writeData(const char* data, qint64 size) override {
    if (const int error = platform::WriteStandardOutput(data, static_cast<std::size_t>(size))) {
      setErrorString(platform::SystemErrorText(error));
      return -1;
    }
    return size;
  }
};

// Every dialog the export components would show is answered here instead, its text kept.
class TDialogCapture {
 public:
  TDialogCapture() {
    Dialogs::SetAnswerer([this](const DialogRequest& request) {
      texts_ << request.text;
      DialogReply reply;
      reply.accepted = true;
      return reply;
    });
  }
  ~TDialogCapture() { Dialogs::SetAnswerer({}); }
  const QStringList& Texts() const { return texts_; }

 private:
  QStringList texts_;
};

class TBatchRun {
 public:
  TBatchRun(const TBatchOptions& options, const TBatchIo& io)
      : options_(options),
        io_(io),
        progress_(io.ErrorIsTerminal, [&io](const QString& text) { io.Error(text); }) {}

  int Run() {
    try {
      return Export();
    } catch (const EBatchArguments& e) {
      Say(e.Message());
      return bxBadArguments;
    } catch (const Exception& e) {
      Say(e.Message());
      return bxFailed;
    } catch (const std::exception& e) {
      Say(QString::fromUtf8(e.what()));
      return bxFailed;
    }
  }

 private:
  void Say(const QString& text) const { io_.Error(kProgram + QStringLiteral(": ") + text + u'\n'); }

  bool ToStandardOutput() const { return options_.OutFile == kStandardOutputName; }
  QString TargetText() const {
    return ToStandardOutput() ? QStringLiteral("standard output") : target_;
  }

  int Cancelled(qint64 rows, bool existed) {
    if (ToStandardOutput()) {
      progress_.Finish(QStringLiteral("Cancelled after %1.").arg(RowsText(rows)));
      return bxCancelled;
    }
    progress_.Finish(QStringLiteral("Cancelled after %1; %2 %3.")
                         .arg(RowsText(rows), target_,
                              existed ? QStringLiteral("was left as it was")
                                      : QStringLiteral("was not written")));
    return bxCancelled;
  }

  // Readers wait long for a writer that holds the embedded suite, and say that they wait. The
  // connections of the run take it when they open; the process has the usual wait again after.
  struct LockWaitScope {
    ~LockWaitScope() { db::SetEmbeddedLockWait({}); }
  };
  void WaitForLocksPatiently() {
    db::SetEmbeddedLockWait({kLockWaitMs, [this](int seconds) {
                               progress_.Waiting(
                                   QStringLiteral("waiting for the company database, which "
                                                  "another program is writing (%1 s of %2 s)")
                                       .arg(seconds)
                                       .arg(kLockWaitMs / 1000),
                                   seconds == 1);
                             }});
  }

  int Export() {
    const QString text =
        options_.SqlFile.isEmpty() ? options_.Query : ReadStatementFile(options_.SqlFile);
    if (text.trimmed().isEmpty()) Bad(QStringLiteral("the statement is empty"));
    CheckTarget();
    const bool existed =
        !ToStandardOutput() && platform::KindOfPath(target_) == platform::PathKind::File;
    const LockWaitScope lockWaitScope;
    WaitForLocksPatiently();

    // What start-up sets for every run of the program.
    FormatSettings().ShortDateFormat = QStringLiteral("dd/mm/yyyy");

    // The connection and the queries belong to one owner, which shares the handle: a query
    // finds its owner's connection before any other of that name in the process.
    QObject owner;
    auto* database = new db::TDatabase(&owner);
    database->SetDatabaseName(QStringLiteral("DMDATA"));
    database->SetHandleShared(true);
    QString server = options_.Server.isEmpty() ? TDMConfig::ReadServerName() : options_.Server;
    if (server.isEmpty()) server = QStringLiteral("QAV");
    // The settings of Server.Dat go with the server it names.
    database->Params() = SuiteConnectionParams(
        options_.Database.trimmed(), server,
        options_.Server.isEmpty() ? TDMConfig::ReadConnectionSettings() : QStringList());
    database->Open();
    if (BatchCancelRequested()) return Cancelled(0, existed);

    // A script of several GO batches runs them in order; the last one is exported.
    const std::vector<sql::Batch> batches = sql::SplitBatches(text);
    if (batches.empty()) Bad(QStringLiteral("the statement is empty"));
    const sql::Batch& last = batches.back();
    for (const sql::Batch& batch : batches) {
      const int runs = &batch == &last ? batch.repeat - 1 : batch.repeat;
      for (int run = 0; run < runs; ++run) {
        InBatch(batches, batch, [&] { ExecuteBatch(owner, batch.text); });
        if (BatchCancelRequested()) return Cancelled(0, existed);
      }
    }
    const QStringList lines = StatementLines(last.text);
    // The worksheet and document formats announce their size before their cells. A statement
    // that cannot be counted (several statements, a procedure) is read whole in every format,
    // so that each exports the last result set, as the console shows it.
    const bool needTotal = AnnouncesSize(options_.Format);
    const bool countable = !CountStatementFor(lines.join(u'\n')).isEmpty();
    qint64 total = countable && (needTotal || io_.ErrorIsTerminal) ? CountRows(owner, lines) : -1;
    if (BatchCancelRequested()) return Cancelled(0, existed);
    const bool forward = countable && (!needTotal || total >= 0);

    auto* query = new db::TQuery(&owner);
    query->setObjectName(QStringLiteral("QExport"));
    query->SetDatabaseName(QStringLiteral("DMDATA"));
    query->SetUniDirectional(forward);
    // Nothing else uses the connection while the rows are written: the next window can be
    // fetched beside the writing.
    query->SetReadAhead(forward);
    query->SetSQL(lines);
    InBatch(batches, last, [&] { query->Open(); });
    if (!forward) {
      total = query->RecordCount();
      Say(
          QStringLiteral("note: the rows of this statement cannot be counted ahead (more than one "
                         "statement, or a form the server does not take in a count), so they "
                         "were read whole first, as the console reads them."));
    }
    if (BatchCancelRequested()) return Cancelled(0, existed);

    auto* engine = new TBatchDataEngine(&owner);
    engine->SetDataset(query);
    engine->Total = total;
    engine->CheckTotal = forward && needTotal;
    engine->OnEnd = [] { completing.store(true); };

    std::unique_ptr<TExportBaseComponent> component =
        CreateSaveOutputComponent(options_.Format, &owner);
    component->ColumnSource = csDataEngine;
    component->SetDataEngine(engine);
    component->SetDataSet(query);
    if (options_.KeepFormulas) {
      if (auto* csv = dynamic_cast<TExportToCsv*>(component.get())) csv->GuardFormulas = false;
      if (auto* text = dynamic_cast<TExportToText*>(component.get())) text->GuardFormulas = false;
    }
    // No progress window, no wait cursor: nothing of the run may need a screen.
    component->AnimatedStatus = false;
    component->Options &= ~TExportOptions(soWaitCursor | soDisableControls);
    TStandardOutput standardOutput;
    if (ToStandardOutput()) {
      auto* cellFile = dynamic_cast<TExportToCellFile*>(component.get());
      if (!cellFile) throw EInOutError(QStringLiteral("This format cannot go to standard output."));
      cellFile->SetOutputDevice(&standardOutput, QStringLiteral("standard output"));
      component->FileName = kStandardOutputName;
      component->FileCommit = fcDirect;
    } else {
      component->FileName = target_;
      component->FileCommit = options_.Force ? fcReplaceWhenDone : fcNewWhenDone;
    }
    component->OnProgress = [this, engine, total](QObject*, int, int, bool& abort) {
      progress_.Update(engine->RecordsRead(), total);
      if (BatchCancelRequested()) abort = true;
      // Asked before each row, the last one included: after it, the writer completes its file
      // without asking again.
      if (total >= 0 && engine->RecordsRead() + 1 >= total) completing.store(true);
    };

    completing.store(false);
    progress_.Start();
    TDialogCapture dialogs;
    component->Execute();
    const qint64 rows = engine->RecordsRead();
    switch (component->RunStatus()) {
      case rsDone:
        break;
      case rsCancelled:
        return Cancelled(rows, existed);
      default: {
        progress_.Clear();
        // The component's own report: "Error of data export: " and the error's message.
        QString report = dialogs.Texts().isEmpty() ? QStringLiteral("Error of data export.")
                                                   : dialogs.Texts().last();
        Say(report);
        return bxFailed;
      }
    }
    const auto* cells = dynamic_cast<const TExportToCellFile*>(component.get());
    const QString unwritable = cells ? cells->UnwritableNote() : QString();
    const double seconds = progress_.Seconds();
    progress_.Finish(
        QStringLiteral("Exported %1 to %2 in %3 s (%4 rows/s).")
            .arg(RowsText(rows), TargetText(), QString::number(seconds, 'f', 1),
                 TBatchProgress::Grouped(seconds > 0 ? static_cast<qint64>(rows / seconds) : 0)));
    if (!unwritable.isEmpty()) Say(QStringLiteral("note: ") + unwritable);
    return bxDone;
  }

  // The output file's folder must exist, and an existing file needs --force. A symbolic link
  // is followed: what it points at is judged and replaced, and the link stays. Only a regular
  // file is ever replaced; a device, a pipe or a socket never, --force or not.
  void CheckTarget() {
    if (ToStandardOutput()) return;
    QFileInfo info(options_.OutFile);
    target_ = info.absoluteFilePath();
    const platform::PathKind kind = platform::KindOfPath(target_);
    if (info.isSymLink()) {
      if (kind == platform::PathKind::Missing)
        Bad(QStringLiteral("the output file %1 is a symbolic link to %2, which does not exist")
                .arg(target_, info.symLinkTarget()));
      // A link to a file is followed to it; any other kind is refused below by the link's name.
      if (kind == platform::PathKind::File) {
        target_ = info.canonicalFilePath();
        info = QFileInfo(target_);
      }
    }
    if (!QFileInfo(info.absolutePath()).isDir())
      Bad(QStringLiteral("the output folder %1 does not exist").arg(info.absolutePath()));
    // A name the file system cannot take would fail only when the finished file is published.
    const qsizetype bytes = QFile::encodeName(info.fileName()).size();
    const int limit = platform::MaxFileNameLength(info.absolutePath());
    if (bytes > limit)
      Bad(QStringLiteral("the output file name %1 is %2 bytes long; the file system takes at "
                         "most %3")
              .arg(info.fileName())
              .arg(bytes)
              .arg(limit));
    switch (kind) {
      case platform::PathKind::Folder:
        Bad(QStringLiteral("the output file %1 is a folder").arg(target_));
      case platform::PathKind::Other:
        Bad(QStringLiteral("the output file %1 is not a regular file (a device, a pipe or a "
                           "socket) and is never replaced; give --out - to write to standard "
                           "output")
                .arg(target_));
      case platform::PathKind::File:
        if (!options_.Force)
          Bad(QStringLiteral("the output file %1 exists; give --force to replace it").arg(target_));
        break;
      case platform::PathKind::Missing:
        break;
    }
  }

  // Runs one GO batch that comes before the exported one; what it returns is not exported.
  static void ExecuteBatch(QObject& owner, const QString& text) {
    db::TQuery query(&owner);
    query.SetDatabaseName(QStringLiteral("DMDATA"));
    query.SetSQL(StatementLines(text));
    query.ExecSQL();
  }

  // Runs `work` for one batch of a script; an error says where it stands, as the console says
  // it: the batch, when the script has several, and the script's line of the failing statement
  // (the batch's first line when the server names none).
  template <typename Work>
  static void InBatch(const std::vector<sql::Batch>& batches, const sql::Batch& batch, Work work) {
    try {
      work();
    } catch (Exception& e) {
      const bool several = batches.size() > 1 || batch.repeat > 1;
      const int number = several ? static_cast<int>(&batch - batches.data()) + 1 : 0;
      e.SetMessage(sql::ErrorPlace(number, db::LineOf(e, batch.firstLine)) + QStringLiteral(": ") +
                   e.Message());
      throw;
    }
  }

  // The rows of the statement by a count the server makes without sending them; -1 when the
  // statement cannot be counted that way. Its own errors show when it runs.
  static qint64 CountRows(QObject& owner, const QStringList& lines) {
    const QString count = CountStatementFor(lines.join(u'\n'));
    if (count.isEmpty()) return -1;
    db::TQuery query(&owner);
    query.SetDatabaseName(QStringLiteral("DMDATA"));
    query.SetSQL(count.split(u'\n'));
    try {
      query.Open();
      return query.IsEmpty() ? -1 : query.Fields(0).AsLargeInt();
    } catch (const Exception&) {
      return -1;
    }
  }

  const TBatchOptions& options_;
  const TBatchIo& io_;
  TBatchProgress progress_;
  QString target_;
};

void OnCancelSignal() {
  RequestBatchCancel();
  static const char kStopping[] =
      "\nqavtool-export: stopping after the current row (again to end at once)\n";
  static const char kCompleting[] =
      "\nqavtool-export: the rows are all written; the file is being completed and saved "
      "(again to end at once, without it)\n";
  if (completing.load())
    platform::WriteStandardError(kCompleting, sizeof kCompleting - 1);
  else
    platform::WriteStandardError(kStopping, sizeof kStopping - 1);
}

// A second interrupt ends the program at once: the temporary files go first.
void OnLastWords() {
  platform::RemoveTrackedTemporaryFiles();
}

}  // namespace

// The statement file, read as the console reads its script files.
QString ReadStatementFile(const QString& fileName) {
  const QFileInfo info(fileName);
  if (!info.exists()) Bad(QStringLiteral("the statement file %1 does not exist").arg(fileName));
  if (info.isDir()) Bad(QStringLiteral("the statement file %1 is a folder").arg(fileName));
  try {
    return ReadScriptFile(fileName);
  } catch (const EInOutError& e) {
    Bad(QStringLiteral("cannot read the statement file: %1").arg(e.Message()));
  }
}

TBatchOptions ParseBatchArguments(const QStringList& arguments) {
  TBatchOptions o;
  bool formatGiven = false;
  QStringList seen;
  for (qsizetype i = 0; i < arguments.size(); ++i) {
    QString name = arguments[i];
    std::optional<QString> inlineValue;
    if (name.startsWith(QLatin1String("--")) && name.contains(u'=')) {
      inlineValue = name.mid(name.indexOf(u'=') + 1);
      name.truncate(name.indexOf(u'='));
    }
    if (name == QLatin1String("-h") || name == QLatin1String("--help")) {
      o.Help = true;
      continue;
    }
    if (name == QLatin1String("--force")) {
      if (inlineValue) Bad(QStringLiteral("--force takes no value"));
      o.Force = true;
      continue;
    }
    if (name == QLatin1String("--keep-formulas")) {
      if (inlineValue) Bad(QStringLiteral("--keep-formulas takes no value"));
      o.KeepFormulas = true;
      continue;
    }
    static const char* const kValued[] = {"--sql", "--query",    "--format",
                                          "--out", "--database", "--server"};
    bool valued = false;
    for (const char* v : kValued) valued = valued || name == QLatin1String(v);
    if (!valued) {
      if (name.startsWith(u'-')) Bad(QStringLiteral("unknown option %1").arg(name));
      Bad(QStringLiteral("unexpected argument %1").arg(name));
    }
    if (seen.contains(name)) Bad(QStringLiteral("%1 is given twice").arg(name));
    seen << name;
    QString value;
    if (inlineValue) {
      value = *inlineValue;
    } else {
      if (i + 1 >= arguments.size()) Bad(QStringLiteral("%1 needs a value").arg(name));
      value = arguments[++i];
    }
    if (name == QLatin1String("--sql")) {
      o.SqlFile = value;
    } else if (name == QLatin1String("--query")) {
      o.Query = value;
    } else if (name == QLatin1String("--format")) {
      const auto format = FormatNamed(value);
      if (!format) Bad(QStringLiteral("unknown format %1 (%2)").arg(value, kFormatList));
      o.Format = *format;
      formatGiven = true;
    } else if (name == QLatin1String("--out")) {
      o.OutFile = value;
    } else if (name == QLatin1String("--database")) {
      o.Database = value;
    } else {
      o.Server = value;
    }
  }
  if (o.Help) return o;
  if (seen.contains(QLatin1String("--sql")) && seen.contains(QLatin1String("--query")))
    Bad(QStringLiteral("give either --sql or --query, not both"));
  if (!seen.contains(QLatin1String("--sql")) && !seen.contains(QLatin1String("--query")))
    Bad(QStringLiteral("no statement: give --sql FILE or --query TEXT"));
  if (o.Database.trimmed().isEmpty())
    Bad(QStringLiteral("no company database: give --database NAME"));
  if (o.OutFile.isEmpty()) Bad(QStringLiteral("no output file: give --out FILE"));
  if (seen.contains(QLatin1String("--sql")) && o.SqlFile.isEmpty())
    Bad(QStringLiteral("--sql needs a file name"));
  if (seen.contains(QLatin1String("--server")) && o.Server.trimmed().isEmpty())
    Bad(QStringLiteral("--server needs a server name"));
  if (o.OutFile == kStandardOutputName) {
    if (!formatGiven) o.Format = TSaveFormat::Text;
    if (o.Format != TSaveFormat::Text && o.Format != TSaveFormat::Csv)
      Bad(
          QStringLiteral("--out - writes the txt and csv formats only; the other formats need a "
                         "file"));
  } else if (!formatGiven) {
    const auto format = FormatNamed(QFileInfo(o.OutFile).suffix());
    if (!format)
      Bad(QStringLiteral("no format: give --format (%1) or an output file with one of those "
                         "extensions")
              .arg(kFormatList));
    o.Format = *format;
  }
  return o;
}

QString BatchHelpText() {
  return QStringLiteral(
      "Usage: qavtool-export --database NAME (--sql FILE | --query TEXT) [--format FORMAT]\n"
      "                      (--out FILE [--force] | --out -) [--server NAME]\n"
      "                      [--keep-formulas]\n"
      "\n"
      "Runs one SQL statement on a company database of the suite and writes its result with the\n"
      "export components and the settings of the SQL console's \"Save output TO\", without the\n"
      "console: for scheduled jobs, scripts and results too large for the console's grid.\n"
      "\n"
      "Options:\n"
      "  --database NAME  the company database, as qavtool's third argument names it (DEMO).\n"
      "  --sql FILE       the statement, read from FILE: UTF-8, or code page 874 as the\n"
      "                   console's script files.\n"
      "  --query TEXT     the statement itself.\n"
      "                   A script of several batches, parted by lines holding only GO (with\n"
      "                   an optional count, as sqlcmd reads them), runs its batches in order\n"
      "                   and stops at the first that fails; the last batch is exported.\n"
      "  --format FORMAT  xls   Excel worksheet          doc  Word document\n"
      "                   txt   tab-separated text       wks  Lotus 1-2-3 worksheet\n"
      "                   wq1   Quattro Pro worksheet    docx the same Word document\n"
      "                   xlsx  Excel workbook (up to 1,048,576 rows, Unicode text, real\n"
      "                         numbers and dates)\n"
      "                   csv   comma-separated values, UTF-8 with a byte-order mark\n"
      "                   Without it, the extension of the output file chooses. The Word\n"
      "                   document is Office Open XML whatever its extension: Word 2007 and\n"
      "                   later and LibreOffice open it, readers of the older binary .doc\n"
      "                   format do not.\n"
      "  --out FILE       the file to write. Its folder must exist. An existing FILE is\n"
      "                   replaced only with --force; without it the run stops at once and\n"
      "                   touches nothing. A symbolic link is followed: the file it points\n"
      "                   at is replaced and the link stays. A FILE that exists and is not a\n"
      "                   regular file (a device, a pipe, a socket) is never replaced.\n"
      "  --out -          write to standard output (txt, the default here, or csv),\n"
      "                   without a temporary file; progress stays on standard error.\n"
      "  --force          replace an existing FILE. The new FILE keeps the old one's\n"
      "                   permissions, and its owner and group where the system permits.\n"
      "  --keep-formulas  write texts that begin with =, +, -, @, a tab or a carriage return\n"
      "                   into txt and csv files as they are. Without it such a text gets a\n"
      "                   ' before it, so that a spreadsheet opening the file shows it as text\n"
      "                   and never runs it as a formula (=HYPERLINK(...), =cmd|...).\n"
      "  --server NAME    the database server: embedded:FOLDER for an embedded suite, or an SQL\n"
      "                   Server name. Without it, the first line of \"Server.Dat\" in the\n"
      "                   current folder, or QAV when there is none, as qavtool does.\n"
      "  -h, --help       this text.\n"
      "\n"
      "The connection sends the company connection's parameter list. The file is written\n"
      "under a temporary name beside FILE (.FILE.PID-XXXXXX.part, FILE shortened when the name\n"
      "would be too long) and takes its name only when the export is complete: a failed or\n"
      "cancelled run leaves no partial file, and an existing FILE as it was. A failure names\n"
      "FILE and gives the system's reason (\"No space left on device\").\n"
      "\n"
      "Rows are read forward a window at a time, so the memory of the text, CSV and worksheet\n"
      "formats does not grow with the number of rows. A Word document is built whole before\n"
      "it is saved: its memory grows with its rows, by about half a kilobyte a row of ten\n"
      "columns (under 50 MB at its limit of 32,766 records). The xls, doc, wks and wq1\n"
      "formats need the number of rows first; it comes from \"select count(*) from\n"
      "(STATEMENT)\". A statement that cannot be counted so (several\n"
      "statements, a stored procedure) is read whole first, as the console reads it, in\n"
      "every format and on every server: of several result sets, the last one is exported,\n"
      "as the console shows it.\n"
      "\n"
      "On an embedded suite, a run waits up to 60 s for a program that holds the database\n"
      "while it writes; the progress line says that it waits, and the error after the wait\n"
      "says that the database is locked by another program.\n"
      "\n"
      "Progress goes to standard error: on a terminal one line with a bar, the rows done, the\n"
      "total and the rate; otherwise one closing line. No window or dialog is ever shown: the\n"
      "console's progress window and wait cursor are off, the messages the export components\n"
      "would show in a box are written to standard error, and Qt runs on its \"offscreen\"\n"
      "platform unless QT_QPA_PLATFORM names another. Ctrl+C (or SIGTERM, or SIGHUP when the\n"
      "terminal goes) stops the export after the current row; once the last row is written,\n"
      "the file is completed and saved, and the run says so. A second Ctrl+C ends the program\n"
      "at once, removing its temporary files first. A run killed outright (kill -9) leaves its\n"
      "partial file behind; the next run to the same FILE removes it, as it removes every\n"
      "partial file whose writer is gone, never one of a run still going: a run holds a lock\n"
      "on its partial file, which the system drops when the run ends however it ends. A\n"
      "partial file removed or replaced while the run writes it fails the run.\n"
      "\n"
      "Exit codes: 0 done; 1 failed (a connection, a statement or a write failed; the error's\n"
      "message is on standard error); 2 bad arguments (an unknown option or format, a missing\n"
      "or unreadable statement file, an output folder that does not exist, an output file\n"
      "name longer than the file system takes, an existing output file without --force);\n"
      "3 cancelled.\n"
      "\n"
      "Examples:\n"
      "  qavtool-export --database DEMO --format xls --out customers.xls \\\n"
      "      --query \"select Code, NameThai, CreditLimit from Customer order by Code\"\n"
      "  qavtool-export --server embedded:/srv/qav/suite --database DEMO --sql sales.sql \\\n"
      "      --out /var/exports/sales.txt --force\n");
}

void RequestBatchCancel() noexcept {
  cancelRequested.store(true);
}

bool BatchCancelRequested() noexcept {
  return cancelRequested.load();
}

void InstallBatchCancelSignals() {
  platform::InstallInterruptHandler(OnCancelSignal, OnLastWords);
}

int RunBatchExport(const QStringList& arguments, const TBatchIo& io) {
  TBatchOptions options;
  try {
    options = ParseBatchArguments(arguments);
  } catch (const EBatchArguments& e) {
    io.Error(kProgram + QStringLiteral(": ") + e.Message() +
             QStringLiteral("\nTry 'qavtool-export --help'.\n"));
    return bxBadArguments;
  }
  if (options.Help) {
    io.Output(BatchHelpText());
    return bxDone;
  }
  cancelRequested.store(false);
  TBatchRun run(options, io);
  return run.Run();
}

}  // namespace qav
