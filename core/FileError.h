#pragma once

#include "core/Exception.h"

#include <QString>

namespace qav {

// What was being done to a file when it failed.
enum class FileAction { Create, Open, Read, Write };

// The error of a file operation, worded alike wherever it happens: "Cannot write file NAME.
// REASON", with the name as the system writes paths and the reason in the system's words.
EInOutError FileError(FileAction action, const QString& path, const QString& reason);

}  // namespace qav
