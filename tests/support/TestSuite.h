#pragma once

#include <QString>
#include <QTemporaryDir>

namespace qav::test {

// A temporary folder that holds a freshly made demo suite and a Server.Dat naming it, and
// that is the process's current folder while the fixture lives.
class DemoSuiteFolder {
 public:
  // salesRows: size of DEMO's large table; tests keep it small unless they measure.
  explicit DemoSuiteFolder(int salesRows = 500);
  virtual ~DemoSuiteFolder();

  QString Root() const { return dir_.path(); }
  QString Suite() const { return dir_.path() + QStringLiteral("/suite"); }
  // "embedded:" + the suite's absolute path.
  QString ServerName() const { return QStringLiteral("embedded:") + Suite(); }

 private:
  QTemporaryDir dir_;
  QString previousFolder_;
};

}  // namespace qav::test
