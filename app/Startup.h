#pragma once

#include <QWidget>
#include <functional>
#include <memory>

namespace qav {

// Creates the window a command names ("EXPORT-TO", "BACKUP"), or null for any other text.
using WindowFactory = std::function<std::unique_ptr<QWidget>(const QString& command)>;

// The program: arguments to run context, logo, modules, rights, the one window, the message
// loop. Returns the process's exit code.
int RunProgram(int argc, char** argv, const WindowFactory& createWindow);

}  // namespace qav
