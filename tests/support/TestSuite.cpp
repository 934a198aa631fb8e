#include "tests/support/TestSuite.h"

#include "tools/DemoSuite.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QFile>

namespace qav::test {

DemoSuiteFolder::DemoSuiteFolder(int salesRows) : previousFolder_(QDir::currentPath()) {
  EXPECT_TRUE(dir_.isValid());
  qav::demo::DemoOptions options;
  options.salesRows = salesRows;
  qav::demo::CreateDemoSuite(Suite(), options);
  QFile dat(dir_.path() + QStringLiteral("/Server.Dat"));
  EXPECT_TRUE(dat.open(QIODevice::WriteOnly));
  dat.write("embedded:suite\r\n");
  dat.close();
  QDir::setCurrent(dir_.path());
}

DemoSuiteFolder::~DemoSuiteFolder() {
  QDir::setCurrent(previousFolder_);
}

}  // namespace qav::test
