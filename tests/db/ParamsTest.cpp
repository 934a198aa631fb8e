#include "db/Errors.h"
#include "db/Params.h"
#include "db/Query.h"

#include <gtest/gtest.h>

using namespace qav::db;

TEST(ScanParamNames, FindsNamesOutsideQuotes) {
  struct Case {
    const char16_t* text;
    QStringList names;
  };
  const Case cases[] = {
      {u"select * from t where a = :p", {"p"}},
      {u"where a = ':p'", {}},
      {u"where a = \":p\"", {}},
      {u"select a::b", {}},
      {u"where (a=:One,b=:two);c=:One", {"One", "two"}},
      {u"where a = :p\r\nand b = :q)", {"p", "q"}},
      {u"where a = :\"my name\" and b = :'x'", {"my name", "x"}},
      {u"where a = :ชื่อ", {"ชื่อ"}},
      {u"where a = :", {""}},
      {u"where x = 'it''s' and y = :p", {"p"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ScanParamNames(QString::fromUtf16(c.text), u':'), c.names)
        << QString::fromUtf16(c.text).toStdString();
  }
}

TEST(ScanParamNames, ExtraDelimitersEndANameAndTheMarkerIsChosen) {
  EXPECT_EQ(ScanParamNames(u"select %a.b from t", u'%', u"."), QStringList{"a"});
  EXPECT_EQ(ScanParamNames(u"select 10 % 3", u'%', u"."), QStringList{""});
  EXPECT_EQ(ScanParamNames(u"select 10 %% 3", u'%', u"."), QStringList{});
  EXPECT_EQ(ScanParamNames(u"where x like '%a%'", u'%', u"."), QStringList{});
}

TEST(BindParams, ReplacesEachReferenceAndBindsItsValue) {
  TParams params;
  params.CreateParam(ftUnknown, "GetName", ptUnknown).SetAsString("DEMO");
  params.CreateParam(ftUnknown, "uid", ptUnknown).SetAsInteger(2);
  std::vector<QVariant> args;
  EXPECT_EQ(
      BindParams("where (O.DatabaseName = :GetName) or id=:uid or n = :getname", params, args),
      "where (O.DatabaseName = ?) or id=? or n = ?");
  ASSERT_EQ(args.size(), 3u);
  EXPECT_EQ(args[0].toString(), "DEMO");
  EXPECT_EQ(args[1].toLongLong(), 2);
  EXPECT_EQ(args[2].toString(), "DEMO");
}

TEST(BindParams, RefusesMissingAndUnsetParameters) {
  TParams params;
  params.CreateParam(ftUnknown, "p", ptUnknown);
  std::vector<QVariant> args;
  try {
    BindParams("where a = :p", params, args);
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), "No value for parameter 'p'");
  }
  try {
    BindParams("where a = :q", params, args);
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), "Parameter 'q' not found");
  }
  params.ParamByName("P").SetNull();  // a null value is a value
  EXPECT_EQ(BindParams("where a = :p", params, args), "where a = ?");
}

TEST(TParam, ConvertsValues) {
  TParam p("n", ftUnknown, ptInput);
  p.SetAsString("42");
  EXPECT_EQ(p.DataType(), ftString);
  EXPECT_EQ(p.AsInteger(), 42);
  p.SetAsString("x");
  EXPECT_THROW(p.AsInteger(), qav::EConvertError);
  p.SetNull();
  EXPECT_EQ(p.AsInteger(), 0);
  EXPECT_EQ(p.AsString(), "");
}
