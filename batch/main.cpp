#include "batch/BatchExport.h"
#include "platform/Console.h"

#include <QApplication>
#include <cstdio>

namespace {

// Standard error belongs to the progress line and the run's messages; Qt's own notes about the
// session it runs in (no runtime folder, no display) would only clutter the logs of scheduled
// jobs. Its critical errors still show.
void QuietQtMessages(QtMsgType type, const QMessageLogContext&, const QString& message) {
  if (type == QtCriticalMsg || type == QtFatalMsg)
    std::fprintf(stderr, "qavtool-export: %s\n", message.toUtf8().constData());
}

}  // namespace

int main(int argc, char** argv) {
  qav::platform::OpenMissingStandardDescriptors();
  // The export components need an application object, never a screen.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  qInstallMessageHandler(QuietQtMessages);
  QApplication app(argc, argv);
  qav::InstallBatchCancelSignals();
  QStringList arguments = QCoreApplication::arguments();
  arguments.removeFirst();
  qav::TBatchIo io;
  io.Error = [](const QString& text) {
    std::fputs(text.toUtf8().constData(), stderr);
    std::fflush(stderr);
  };
  io.Output = [](const QString& text) {
    std::fputs(text.toUtf8().constData(), stdout);
    std::fflush(stdout);
  };
  io.ErrorIsTerminal = qav::platform::StandardErrorIsTerminal();
  return qav::RunBatchExport(arguments, io);
}
