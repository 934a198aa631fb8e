#include "core/FileError.h"

#include <gtest/gtest.h>

using namespace qav;

TEST(FileErrorTest, OneWordingForEveryFileOperation) {
  struct Case {
    FileAction action;
    const char* text;
  };
  const Case cases[] = {
      {FileAction::Create, "Cannot create file /tmp/รายงาน.xls. Permission denied"},
      {FileAction::Open, "Cannot open file /tmp/รายงาน.xls. Permission denied"},
      {FileAction::Read, "Cannot read file /tmp/รายงาน.xls. Permission denied"},
      {FileAction::Write, "Cannot write file /tmp/รายงาน.xls. Permission denied"},
  };
  for (const Case& c : cases) {
    const EInOutError e =
        FileError(c.action, QStringLiteral("/tmp/รายงาน.xls"), QStringLiteral("Permission denied"));
    EXPECT_EQ(e.Message(), QString::fromUtf8(c.text));
    EXPECT_STREQ(e.ClassName(), "EInOutError");
  }
}
