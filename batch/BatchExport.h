#pragma once

#include "core/Exception.h"
#include "export/SaveOutputSettings.h"

#include <QStringList>
#include <functional>

namespace qav {

// qavtool-export: one SQL statement run on a company database of the suite, its result written
// by the export components with the settings of the console's "Save output TO", without the
// console, for scheduled jobs, scripts and results too large for a grid.

enum TBatchExitCode { bxDone = 0, bxFailed = 1, bxBadArguments = 2, bxCancelled = 3 };

struct TBatchOptions {
  TSaveFormat Format = TSaveFormat::Text;
  QString SqlFile;  // --sql
  QString Query;    // --query
  QString Database;
  QString Server;  // empty: the first line of "Server.Dat" in the current folder
  QString OutFile;
  bool Force = false;
  // Texts that look like spreadsheet formulas go into txt and csv files as they are.
  bool KeepFormulas = false;
  bool Help = false;
};

// A command line that cannot be run; the message says why.
QAV_EXCEPTION_CLASS(EBatchArguments, Exception);

// Reads the arguments (without the program's name). Raises EBatchArguments for a bad one.
TBatchOptions ParseBatchArguments(const QStringList& arguments);
// The statement of --sql: UTF-8 (with or without a byte-order mark), or else code page 874.
// Raises EBatchArguments for a file that cannot be read.
QString ReadStatementFile(const QString& fileName);
// The text of --help.
QString BatchHelpText();

// Asks a running export to stop after its current record; safe inside a signal handler.
void RequestBatchCancel() noexcept;
bool BatchCancelRequested() noexcept;
// SIGINT and SIGTERM call RequestBatchCancel; a second one ends the process at once.
void InstallBatchCancelSignals();

// Where a run writes: standard error (messages, progress), standard output (--help).
struct TBatchIo {
  std::function<void(const QString& text)> Error;
  std::function<void(const QString& text)> Output;
  bool ErrorIsTerminal = false;
};

// Runs the program with these arguments and returns its exit code. Needs a QApplication.
int RunBatchExport(const QStringList& arguments, const TBatchIo& io);

}  // namespace qav
