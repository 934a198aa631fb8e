#include "app/Application.h"

#include "app/Dialogs.h"
#include "core/Exception.h"
#include "core/ExceptionHandler.h"

#include "platform/Signals.h"

#include <QDialog>
#include <cstdio>

namespace qav {

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
  auto* requests = new platform::TerminationRequests(this);
  connect(requests, &platform::TerminationRequests::Requested, this,
          &TApplication::OnTerminationRequest);
}

TApplication::~TApplication() = default;

void TApplication::OnTerminationRequest() {
  EndOnTerminationRequest();
}

namespace {
bool& TerminationFlag() {
  static bool requested = false;
  return requested;
}
}  // namespace

bool TerminationRequested() {
  return TerminationFlag();
}

void EndOnTerminationRequest() {
  TerminationFlag() = true;
  // A dialog in its own loop first: a window whose exit question is open closes only after it.
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* dialog = qobject_cast<QDialog*>(w); dialog && dialog->isVisible()) dialog->reject();
  QApplication::closeAllWindows();
  // Ends the nested loops of dialogs as well as the main one.
  QCoreApplication::exit(0);
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
  try {
    try {
      return QApplication::notify(receiver, event);
    } catch (const EAbort&) {
    } catch (const Exception& e) {
      HandleException(e);
    } catch (const std::exception& e) {
      HandleException(Exception(QString::fromUtf8(e.what())));
    }
  } catch (const Exception& e) {
    // The handler itself failed (the error log cannot be written, say): nothing is left to
    // report through, so the program ends as after a start-up error.
    ShowLastChanceError(e.ClassName(), e.Message());
    exit(1);
  } catch (const std::exception& e) {
    ShowLastChanceError("Exception", QString::fromUtf8(e.what()));
    exit(1);
  }
  return false;
}

void ShowLastChanceError(const char* className, const QString& message) {
  std::fprintf(stderr, "Application Error: %s: %s\n", className, message.toUtf8().constData());
  std::fflush(stderr);
  DialogRequest r;
  r.kind = DialogRequest::Kind::Error;
  r.title = QStringLiteral("Application Error");
  r.text = QStringLiteral("Exception %1 in module qavtool.\n%2")
               .arg(QString::fromLatin1(className), message);
  Dialogs::Show(r);
}

}  // namespace qav
