#include "app/Startup.h"

#include "app/Application.h"
#include "app/CommandLine.h"
#include "app/DM.h"
#include "app/DMConfig.h"
#include "app/Dialogs.h"
#include "app/FormLogo.h"
#include "core/Exception.h"
#include "core/FormatSettings.h"

namespace qav {

namespace {

// Runs steps 3 to 12 of start-up; returns the main window, or null when no window is due.
std::unique_ptr<QWidget> StartUp(QObject* application, const WindowFactory& createWindow) {
  CreateLogo();
  FormatSettings().ShortDateFormat = QStringLiteral("dd/mm/yyyy");
  new TDM(application);
  new TDMConfig(application);
  // The date first: with a bad date and a bad menu id, the date's error is the one shown.
  DMConfig->WorkDate = db::EncodeDateTime(StrToDate(ParamStr(6)));
  DMConfig->MenuId = StrToInt(ParamStr(1));
  DMConfig->UserId = StrToInt(ParamStr(2));
  DMConfig->GetCompanyConfig(ParamStr(3));
  DMConfig->CheckRight(DMConfig->MenuId, DMConfig->UserId);
  if (!DMConfig->CanAccess) return nullptr;
  return createWindow(ParamStr(5));
}

}  // namespace

int RunProgram(int argc, char** argv, const WindowFactory& createWindow) {
  if (argc < 2) return 0;
  TApplication app(argc, argv);
  Dialogs::InstallScriptFromEnvironment();
  QStringList arguments = QCoreApplication::arguments();
  arguments.removeFirst();
  SetCommandLine(arguments);

  // Whatever happens, the logo goes before the application object that it needs.
  struct LogoGuard {
    ~LogoGuard() { ReleaseLogo(); }
  } logoGuard;

  std::unique_ptr<QWidget> mainWindow;
  try {
    mainWindow = StartUp(&app, createWindow);
  } catch (const ProgramExit& exit) {
    return exit.code;
  } catch (const Exception& e) {
    ShowLastChanceError(e.ClassName(), e.Message());
    return 1;
  } catch (const std::exception& e) {
    ShowLastChanceError("Exception", QString::fromUtf8(e.what()));
    return 1;
  }
  // A termination request during start-up ended its dialogs' loops; no window is due then.
  if (!mainWindow || TerminationRequested()) return 0;
  mainWindow->show();
  Dialogs::Trace(
      QStringLiteral("WINDOW %1 [%2]").arg(mainWindow->objectName(), mainWindow->windowTitle()));
  const int code = app.exec();
  mainWindow.reset();
  return code;
}

}  // namespace qav
