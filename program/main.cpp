#include "app/Startup.h"
#include "backup/FrBackup.h"
#include "console/FrExecSQL.h"

int main(int argc, char** argv) {
  return qav::RunProgram(argc, argv, [](const QString& command) -> std::unique_ptr<QWidget> {
    if (command == u"EXPORT-TO") return std::make_unique<qav::TFrExecSQL>();
    if (command == u"BACKUP") return std::make_unique<qav::TFrBackup>();
    return nullptr;
  });
}
