// make-demo-suite FOLDER [--sales-rows N]: creates the embedded demo suite in FOLDER.
#include "core/Exception.h"
#include "db/embedded/EmbeddedSuite.h"
#include "tools/DemoSuite.h"

#include <QDir>
#include <QString>
#include <cstdio>

namespace {

constexpr char kUsage[] = "usage: make-demo-suite FOLDER [--sales-rows N]\n";

int UsageError(const char* problem) {
  std::fprintf(stderr, "make-demo-suite: %s\n%s", problem, kUsage);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  QString folder;
  qav::demo::DemoOptions options;
  for (int i = 1; i < argc; ++i) {
    const QString arg = QString::fromLocal8Bit(argv[i]);
    if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg == QLatin1String("--sales-rows")) {
      if (++i == argc) return UsageError("--sales-rows needs a number");
      bool ok = false;
      options.salesRows = QString::fromLocal8Bit(argv[i]).toInt(&ok);
      if (!ok || options.salesRows < 0)
        return UsageError("--sales-rows needs a number of 0 or more");
    } else if (arg.startsWith(u'-')) {
      return UsageError("unknown option");
    } else if (!folder.isEmpty()) {
      return UsageError("only one folder may be given");
    } else {
      folder = arg;
    }
  }
  if (folder.isEmpty()) return UsageError("no folder given");

  try {
    qav::demo::CreateDemoSuite(folder, options);
  } catch (const qav::Exception& e) {
    std::fprintf(stderr, "make-demo-suite: %s\n", e.what());
    return 1;
  }
  const QString shown = QDir::toNativeSeparators(QDir(folder).absolutePath());
  std::printf("Created the demo suite in %s:\n", shown.toLocal8Bit().constData());
  for (const QString& name : qav::db::embedded::SuiteDatabases(folder))
    std::printf("  %s%s\n", name.toLocal8Bit().constData(), qav::db::embedded::kDatabaseFileSuffix);
  std::printf("DEMO has %d sales rows.\n", options.salesRows);
  return 0;
}
