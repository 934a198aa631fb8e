// The test server's protocol pieces as pure functions: framing, login records, values, tokens,
// requests and the statement text it handles itself.
#include "db/DateTime.h"
#include "tools/tds/TdsLogin.h"
#include "tools/tds/TdsPacket.h"
#include "tools/tds/TdsRequests.h"
#include "tools/tds/TdsResultSet.h"
#include "tools/tds/TdsSqlText.h"
#include "tools/tds/TdsTokens.h"
#include "tools/tds/TdsTypes.h"

#include <gtest/gtest.h>
#include <QDateTime>

namespace {

using namespace qav;
using namespace qav::tds;

QByteArray Hex(const char* text) {
  return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}
std::string_view View(const QByteArray& b) {
  return {b.constData(), static_cast<std::size_t>(b.size())};
}
std::string HexOf(const QByteArray& b) {
  return b.toHex(' ').toStdString();
}

TEST(TdsPacket, MessagesAreCutIntoNumberedPacketsTheLastMarkedAsTheEnd) {
  struct Case {
    int messageSize, packetSize;
    std::vector<int> lengths;  // of each packet, header included
  };
  const Case cases[] = {
      {0, 512, {8}},
      {10, 512, {18}},
      {504, 512, {512}},
      {505, 512, {512, 9}},
      {1500, 512, {512, 512, 500}},
  };
  for (const Case& c : cases) {
    const QByteArray message(c.messageSize, 'x');
    const QByteArray packets =
        FrameMessage(PacketType::TabularResult, View(message), c.packetSize, 0x33);
    qsizetype at = 0;
    for (std::size_t i = 0; i < c.lengths.size(); ++i) {
      const PacketHeader h = ParseHeader(View(packets.mid(at, 8)));
      EXPECT_EQ(h.type, PacketType::TabularResult);
      EXPECT_EQ(h.length, c.lengths[i]) << c.messageSize << " packet " << i;
      EXPECT_EQ(h.status, i + 1 == c.lengths.size() ? kStatusEndOfMessage : 0);
      EXPECT_EQ(h.spid, 0x33);
      EXPECT_EQ(h.packetId, i + 1);
      at += h.length;
    }
    EXPECT_EQ(at, packets.size()) << c.messageSize;
  }
  EXPECT_THROW(ParseHeader(View(Hex("04 01 00 07 00 00 01 00"))), ProtocolError);
}

TEST(TdsLogin, ReadsTheProtocolDocumentsLoginExample) {
  // The LOGIN7 record of the protocol document's login example, after its packet header.
  const QByteArray record =
      Hex("88 00 00 00 02 00 09 72 00 10 00 00 00 00 00 07 00 01 00 00 00 00 00 00 "
          "E0 03 00 00 00 00 00 00 09 04 00 00 5E 00 08 00 6E 00 02 00 72 00 00 00 72 00 07 00 "
          "80 00 00 00 80 00 00 00 80 00 04 00 88 00 00 00 88 00 00 00 00 50 8B E2 B7 8F 88 00 "
          "00 00 88 00 00 00 88 00 00 00 00 00 00 00 73 00 6B 00 6F 00 73 00 74 00 6F 00 76 00 "
          "31 00 73 00 61 00 4F 00 53 00 51 00 4C 00 2D 00 33 00 32 00 4F 00 44 00 42 00 43 00");
  const Login7 login = ParseLogin7(View(record));
  EXPECT_EQ(login.tdsVersion, 0x72090002u);
  EXPECT_EQ(login.packetSize, 4096u);
  EXPECT_EQ(login.clientLcid, 0x0409u);
  EXPECT_EQ(login.hostName, "skostov1");
  EXPECT_EQ(login.userName, "sa");
  EXPECT_EQ(login.password, "");
  EXPECT_EQ(login.appName, "OSQL-32");
  EXPECT_EQ(login.libraryName, "ODBC");
  EXPECT_EQ(login.database, "");
  // A field pointing past the record is refused rather than read.
  QByteArray broken = record;
  broken[36] = '\x7F';
  EXPECT_THROW(ParseLogin7(View(broken)), ProtocolError);
  EXPECT_THROW(ParseLogin7(View(record.left(20))), ProtocolError);

  // Passwords: each byte's halves swapped, then XOR 0xA5.
  EXPECT_EQ(HexOf(ScramblePassword(ToUcs2(u"a"))), "b3 a5");
  const QString password = QStringLiteral("tarn;wick ไทย");
  EXPECT_EQ(FromUcs2(View(UnscramblePassword(View(ScramblePassword(ToUcs2(password)))))), password);
}

TEST(TdsLogin, PreLoginAnswersWhatTheServerDoesAboutEncryption) {
  const PreLoginRequest request =
      ParsePreLogin(View(Hex("00 00 10 00 06 01 00 16 00 01 04 00 17 00 01 ff "
                             "0c 00 07 d0 00 00 00 01")));
  EXPECT_TRUE(request.hasEncryption);
  EXPECT_EQ(request.encryption, Encryption::Off);
  EXPECT_TRUE(request.mars);
  const QByteArray reply = PreLoginResponse(0x0F0007D0);
  // VERSION, ENCRYPTION, INSTOPT, THREADID, MARS, then their values.
  EXPECT_EQ(HexOf(reply),
            "00 00 1a 00 06 01 00 20 00 01 02 00 21 00 01 03 00 22 00 00 04 00 22 00 01 ff "
            "0f 00 07 d0 00 00 02 00 00");
  EXPECT_THROW(ParsePreLogin(View(Hex("01 00 40 00 01 ff"))), ProtocolError);
  EXPECT_EQ(PreLoginResponse(0x0F0007D0, Encryption::On).at(0x20), '\x01');
}

TypeInfo Type(DataType type, std::uint32_t length = 0, std::uint8_t precision = 0,
              std::uint8_t scale = 0) {
  TypeInfo t;
  t.type = type;
  t.length = length;
  t.precision = precision;
  t.scale = scale;
  t.collation = kThaiCiAs;
  return t;
}

TEST(TdsTypes, ValuesHaveTheirWireFormAndReadBack) {
  const QDateTime stamp(QDate(1900, 1, 2), QTime(0, 0, 1));
  struct Case {
    TypeInfo type;
    QVariant value;
    const char* bytes;  // the value as sent, length prefix included; nullptr: read back only
    QVariant readBack;  // null QVariant: the value itself
  };
  const Case cases[] = {
      {Type(DataType::IntN, 4), qint64(-2), "04 fe ff ff ff", {}},
      {Type(DataType::IntN, 8), qint64(1) << 40, "08 00 00 00 00 00 01 00 00", {}},
      {Type(DataType::IntN, 2), QVariant(), "00", {}},
      {Type(DataType::BitN, 1), true, "01 01", {}},
      {Type(DataType::FltN, 8), 2.5, "08 00 00 00 00 00 00 04 40", {}},
      {Type(DataType::MoneyN, 8), 1234.56, "08 00 00 00 00 00 61 bc 00", {}},
      {Type(DataType::MoneyN, 8), -0.0001, "08 ff ff ff ff ff ff ff ff", {}},
      {Type(DataType::DecimalN, 9, 10, 2), 12.34, "09 01 d2 04 00 00 00 00 00 00", {}},
      {Type(DataType::DecimalN, 5, 5, 2), -1.5, "05 00 96 00 00 00", {}},
      {Type(DataType::DateTimeN, 8), stamp, "08 01 00 00 00 2c 01 00 00", {}},
      {Type(DataType::DateN, 3), QDate(1, 1, 2), "03 01 00 00", {}},
      {Type(DataType::TimeN, 0, 0, 3), QTime(0, 0, 1, 5), "04 ed 03 00 00", {}},
      {Type(DataType::NVarChar, 8000), QStringLiteral("ก1"), "04 00 01 0e 31 00", {}},
      {Type(DataType::BigVarChar, 8000), QStringLiteral("ก1"), "02 00 a1 31", {}},
      {Type(DataType::BigVarChar, 8000), QStringLiteral("ก中"), "02 00 a1 3f",
       QStringLiteral("ก?")},
      {Type(DataType::NVarChar, kMaxLength),
       QStringLiteral("ab"),
       "04 00 00 00 00 00 00 00 04 00 00 00 61 00 62 00 00 00 00 00",
       {}},
      {Type(DataType::NVarChar, kMaxLength), QVariant(), "ff ff ff ff ff ff ff ff", {}},
      {Type(DataType::BigVarBinary, 16), QByteArray("\0\1", 2), "02 00 00 01", {}},
      {Type(DataType::BigVarBinary, 16), QVariant(), "ff ff", {}},
      {Type(DataType::Image, 0x7FFFFFFF), QByteArray("\5", 1), "01 00 00 00 05", {}},
      {Type(DataType::NText, 0x7FFFFFFE), QStringLiteral("x"), "02 00 00 00 78 00", {}},
      {Type(DataType::Guid, 16),
       QStringLiteral("{6F9619FF-8B86-D011-B42D-00C04FC964FF}"),
       "10 ff 19 96 6f 86 8b 11 d0 b4 2d 00 c0 4f c9 64 ff",
       {}},
      {Type(DataType::Int4), qint64(7), "07 00 00 00", {}},
      {Type(DataType::DateTime2N, 0, 0, 3),
       QDateTime(QDate(1, 1, 1), QTime(0, 0, 0, 1)),
       "07 01 00 00 00 00 00 00",
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    Writer w;
    WriteValue(w, c.type, c.value);
    EXPECT_EQ(HexOf(w.Data()), HexOf(Hex(c.bytes)));
    Reader r(w.Data());
    const QVariant back = ReadValue(r, c.type);
    EXPECT_TRUE(r.AtEnd());
    const QVariant expected = c.readBack.isValid() ? c.readBack : c.value;
    if (expected.typeId() == QMetaType::Double)
      EXPECT_DOUBLE_EQ(back.toDouble(), expected.toDouble());
    else
      EXPECT_EQ(back, expected);
  }
  // Type descriptions read back as written.
  for (const TypeInfo& t : {Type(DataType::DecimalN, 17, 38, 8), Type(DataType::NVarChar, 80),
                            Type(DataType::Text, 0x7FFFFFFF), Type(DataType::TimeN, 0, 0, 7),
                            Type(DataType::BigBinary, 4)}) {
    Writer w;
    WriteTypeInfo(w, t);
    Reader r(w.Data());
    const TypeInfo back = ReadTypeInfo(r);
    EXPECT_EQ(back.type, t.type);
    EXPECT_EQ(back.precision, t.precision);
    EXPECT_EQ(back.scale, t.scale);
    EXPECT_TRUE(r.AtEnd()) << static_cast<int>(t.type);
  }
  Writer overflow;
  EXPECT_THROW(WriteDecimal(overflow, 1e30, 18, 4), std::range_error);
  EXPECT_THROW(WriteMoney(overflow, 1e16, 8), std::range_error);
  const QByteArray xmlBytes = Hex("f1 00");  // a reader only views its bytes
  Reader xml(xmlBytes);
  EXPECT_THROW(ReadTypeInfo(xml), ProtocolError);
  // Values their type cannot hold are refused, not stored as nonsense.
  for (const auto& [type, bytes] :
       {std::pair{Type(DataType::DateN, 3), "03 ff ff ff"},
        std::pair{Type(DataType::TimeN, 0, 0, 0), "03 80 51 01"},
        std::pair{Type(DataType::DateTimeN, 8), "08 00 00 00 00 00 ff ff ff"},
        std::pair{Type(DataType::DateTimeN, 8), "08 00 00 ff ff 00 00 00 00"}}) {
    const QByteArray data = Hex(bytes);
    Reader r(data);
    EXPECT_THROW(ReadValue(r, type), InvalidValue) << bytes;
  }
}

TEST(TdsTokens, TokensHaveTheDocumentedLayout) {
  struct Case {
    std::function<void(Writer&)> write;
    const char* bytes;
  };
  const Case cases[] = {
      {[](Writer& w) { WriteDone(w, Token::Done, kDoneCount | kDoneMore, kCmdSelect, 3); },
       "fd 11 00 c1 00 03 00 00 00 00 00 00 00"},
      {[](Writer& w) { WriteEnvChange(w, EnvChangeType::Database, u"DB", u"master"); },
       "e3 13 00 01 02 44 00 42 00 06 6d 00 61 00 73 00 74 00 65 00 72 00"},
      {[](Writer& w) {
         WriteEnvChangeBytes(w, EnvChangeType::SqlCollation, CollationBytes(kThaiCiAs), {});
       },
       "e3 08 00 07 05 1e 04 d0 00 00 00"},
      {[](Writer& w) { WriteLoginAck(w, 0x74000004, u"S", 0x0F0007D0); },
       "ad 0c 00 01 74 00 00 04 01 53 00 0f 00 07 d0"},
      {[](Writer& w) { WriteReturnStatus(w, -6); }, "79 fa ff ff ff"},
      {[](Writer& w) {
         WriteMessage(w, Token::Error,
                      {208, 1, 16, QStringLiteral("X"), QStringLiteral("S"), {}, 2});
       },
       "aa 12 00 d0 00 00 00 01 10 01 00 58 00 01 53 00 00 02 00 00 00"},
      // The forms a TDS 7.1 client reads: a two-byte line, a four-byte count.
      {[](Writer& w) {
         WriteMessage(w, Token::Error,
                      {208, 1, 16, QStringLiteral("X"), QStringLiteral("S"), {}, 2}, true);
       },
       "aa 10 00 d0 00 00 00 01 10 01 00 58 00 01 53 00 00 02 00"},
      {[](Writer& w) { WriteDone(w, Token::Done, kDoneError, 0, 0, true); },
       "fd 02 00 00 00 00 00 00 00"},
      {[](Writer& w) { WriteReturnValue(w, 2, u"@A", true, Type(DataType::IntN, 4), qint64(5)); },
       "ac 02 00 02 40 00 41 00 01 00 00 00 00 01 00 26 04 04 05 00 00 00"},
      {[](Writer& w) {
         WriteColMetadata(w, {{QStringLiteral("N"), Type(DataType::NText, 0x7FFFFFFE)}});
       },
       "81 01 00 00 00 00 00 09 00 63 fe ff ff 7f 1e 04 d0 00 00 00 01 4e 00"},
  };
  for (const Case& c : cases) {
    Writer w;
    c.write(w);
    EXPECT_EQ(HexOf(w.Data()), HexOf(Hex(c.bytes)));
  }
}

// The text of an RPC request as clients send it: ALL_HEADERS, the procedure, its parameters.
QByteArray RpcRequest(std::function<void(Writer&)> procedure, const std::vector<RpcParam>& params) {
  Writer w;
  w.Bytes(Hex("16 00 00 00 12 00 00 00 02 00 00 00 00 00 00 00 00 00 01 00 00 00"));
  procedure(w);
  w.U16(0);
  for (const RpcParam& p : params) {
    w.BVarchar(p.name);
    w.U8(p.output ? 1 : 0);
    WriteTypeInfo(w, p.type);
    WriteValue(w, p.type, p.value);
  }
  return w.Data();
}

TEST(TdsRequests, RpcCallsByNameAndByNumber) {
  const RpcParam handle{QString(), true, Type(DataType::IntN, 4), QVariant()};
  const RpcParam decl{QString(), false, Type(DataType::NText, 0x7FFFFFFE),
                      QStringLiteral("@P1 int")};
  const RpcParam stmt{QString(), false, Type(DataType::NText, 0x7FFFFFFE),
                      QStringLiteral("select * from T where Id = @P1")};
  const RpcParam value{QString(), false, Type(DataType::IntN, 4), qint64(7)};
  std::vector<RpcCall> calls = ParseRpc(View(RpcRequest(
                                            [](Writer& w) {
                                              w.U16(0xFFFF);
                                              w.U16(13);
                                            },
                                            {handle, decl, stmt, value})),
                                        true);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].special, SpecialProc::PrepExec);
  ASSERT_EQ(calls[0].params.size(), 4u);
  EXPECT_TRUE(calls[0].params[0].output);
  EXPECT_TRUE(calls[0].params[0].value.isNull());
  EXPECT_EQ(calls[0].params[2].value, stmt.value);
  EXPECT_EQ(calls[0].params[3].value, QVariant(qint64(7)));

  const RpcParam named{QStringLiteral("@CAPTION"), true, Type(DataType::NVarChar, 8000),
                       QVariant()};
  calls = ParseRpc(View(RpcRequest([](Writer& w) { w.UsVarchar(u"MENUCAPTION"); }, {value, named})),
                   true);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].name, "MENUCAPTION");
  EXPECT_EQ(calls[0].special, SpecialProc::None);
  EXPECT_EQ(calls[0].params[1].name, "@CAPTION");
  EXPECT_EQ(calls[0].params[1].type.length, 8000u);
  calls =
      ParseRpc(View(RpcRequest([](Writer& w) { w.UsVarchar(u"sp_executesql"); }, {stmt})), true);
  EXPECT_EQ(calls[0].special, SpecialProc::ExecuteSql);

  EXPECT_EQ(ParseSqlBatch(View(Hex("16 00 00 00 12 00 00 00 02 00 00 00 00 00 00 00 00 00 01 00 "
                                   "00 00 73 00 01 0e")),
                          true),
            "sก");
  EXPECT_THROW(ParseSqlBatch(View(Hex("ff 00 00 00 73 00")), true), ProtocolError);

  const TransactionManagerCall commit = ParseTransactionManager(
      View(Hex("16 00 00 00 12 00 00 00 02 00 05 00 00 00 00 00 00 00 01 00 00 00 07 00 00 00")));
  EXPECT_EQ(commit.type, TransactionRequest::Commit);
  EXPECT_FALSE(commit.beginAnother);
}

TEST(TdsSqlText, BatchesStatementsAndParameters) {
  // The statements of a batch with and without ";", each with its line; a block is one.
  struct Split {
    const char16_t* sql;
    QStringList texts;
    std::vector<int> lines;
  };
  const Split splits[] = {
      {u"select 1; select ';' ;\n\n update T set a = 1",
       {"select 1", "select ';'", "update T set a = 1"},
       {1, 1, 3}},
      {u"If Not Exists(select 1 from T) Alter Table T Add C Int; select 2",
       {"If Not Exists(select 1 from T) Alter Table T Add C Int", "select 2"},
       {1, 1}},
      {u"SET NOCOUNT ON\nselect top 2 Code from Customer",
       {"SET NOCOUNT ON", "select top 2 Code from Customer"},
       {1, 2}},
      {u"select 1 as a\n-- b next\nselect 2 as b", {"select 1 as a", "select 2 as b"}, {1, 3}},
      {u"\nif 1 = 1 begin\n select 1\n select 2\nend else print 'no'\nselect 3",
       {"if 1 = 1 begin\n select 1\n select 2\nend else print 'no'", "select 3"},
       {2, 6}},
      {u" ; -- nothing\n", {}, {}},
  };
  for (const Split& c : splits) {
    SCOPED_TRACE(QString::fromUtf16(c.sql).toStdString());
    QStringList texts;
    std::vector<int> lines;
    for (const BatchStatement& s : SplitBatch(QString::fromUtf16(c.sql))) {
      texts << s.text;
      lines.push_back(s.line);
    }
    EXPECT_EQ(texts, c.texts);
    EXPECT_EQ(lines, c.lines);
  }
  // SQL Server refuses such a batch whole, naming the line.
  const std::tuple<const char16_t*, int, int> refused[] = {
      {u"select 1\n\nend", 156, 3},
      {u"select 1\n/* a /* b */\nselect 2", 113, 2},
  };
  for (const auto& [sql, number, line] : refused) {
    try {
      SplitBatch(QString::fromUtf16(sql));
      ADD_FAILURE() << "no error for " << QString::fromUtf16(sql).toStdString();
    } catch (const sql::ETsqlSyntax& e) {
      EXPECT_EQ(e.Number(), number);
      EXPECT_EQ(e.Line(), line);
    }
  }

  using Kind = ServerStatement::Kind;
  struct Case {
    const char16_t* sql;
    Kind kind;
    QString name;
    int number;
  };
  const Case cases[] = {
      {u"use [QAV_CONFIG]", Kind::Use, "QAV_CONFIG", 0},
      {u"USE DEMO;", Kind::Use, "DEMO", 0},
      {u"set textsize 2147483647", Kind::Set, "TEXTSIZE", 0},
      {u"SET IMPLICIT_TRANSACTIONS ON", Kind::Set, "IMPLICIT_TRANSACTIONS", 1},
      {u"set nocount on", Kind::Set, "NOCOUNT", 1},
      {u"set @v = 1", Kind::Engine, {}, 0},
      {u"waitfor delay '00:00:02.5'", Kind::WaitFor, {}, 2500},
      {u"begin tran", Kind::BeginTran, {}, 0},
      {u"BEGIN TRANSACTION;", Kind::BeginTran, {}, 0},
      {u"IF @@TRANCOUNT > 0 COMMIT TRAN", Kind::Commit, {}, 0},
      {u"if @@trancount > 0 rollback transaction", Kind::Rollback, {}, 0},
      {u"IF @@TRANCOUNT > 1 COMMIT TRAN", Kind::Engine, {}, 0},
      {u"IF @@TRANCOUNT > 0 COMMIT ELSE ROLLBACK", Kind::Engine, {}, 0},
      {u"rollback", Kind::Rollback, {}, 0},
      {u"commit work", Kind::Commit, {}, 0},
      {u"raiserror('it''s ไทย', 16, 1)", Kind::RaiseError, "it's ไทย", 16},
      {u"raiserror(@text, 16, 1)", Kind::Engine, {}, 0},
      {u"RAISERROR('value %s and %d', 16, 1, 'abc', 7)", Kind::RaiseError, "value abc and 7", 16},
      {u"raiserror('%d%%, %s', 10, 1, -3, null)", Kind::RaiseError, "-3%, (null)", 10},
      {u"raiserror('%s', 16, 1, @v)", Kind::Engine, {}, 0},
      {u"begin select 1 end", Kind::Engine, {}, 0},
      {u"select * from UserName", Kind::Engine, {}, 0},
      {u"update T set x = 1", Kind::Engine, {}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(QString::fromUtf16(c.sql).toStdString());
    const std::vector<BatchStatement> split = SplitBatch(QString::fromUtf16(c.sql));
    ASSERT_EQ(split.size(), 1u);
    const ServerStatement& s = split.front().server;
    EXPECT_EQ(s.kind, c.kind);
    if (c.kind == Kind::RaiseError) {
      EXPECT_EQ(s.text, c.name);
      EXPECT_EQ(s.severity, c.number);
    } else if (c.kind == Kind::WaitFor) {
      EXPECT_EQ(s.milliseconds, c.number);
    } else if (!c.name.isEmpty()) {
      EXPECT_EQ(s.name, c.name);
      EXPECT_EQ(s.on, c.number == 1);
    }
  }

  const QStringList names =
      DeclaredParameterNames(u"@P1 int,@P2 nvarchar(4000) OUTPUT, @p10 money");
  EXPECT_EQ(names, QStringList({"@P1", "@P2", "@p10"}));
  EXPECT_EQ(NumberParameters(u"select '@P1', @p1, @P10, [@P2] -- @P2\nfrom T where a=@P2", names),
            "select '@P1', ?1, ?3, [@P2] -- @P2\nfrom T where a=?2");
  EXPECT_EQ(BodyVariables(u"SELECT @MENUID AS M, @@ROWCOUNT, @USERID, @menuid"),
            QStringList({"@MENUID", "@USERID"}));
}

TEST(TdsSqlText, RaiserrorFillsItsArgumentsAsSqlServerDoes) {
  struct Case {
    const char16_t* format;
    std::vector<QVariant> args;
    const char* want;
  };
  const QVariant thai = QStringLiteral("ไทย");
  const Case cases[] = {
      {u"value %s and %d", {QStringLiteral("abc"), qint64(7)}, "value abc and 7"},
      {u"%i|%s|%u", {qint64(-7), thai, qint64(3)}, "-7|ไทย|3"},
      {u"[%5d][%-5d][%05d][%+d]",
       {qint64(42), qint64(-7), qint64(-42), qint64(5)},
       "[   42][-7   ][-0042][+5]"},
      {u"%x %X %#x %o", {qint64(42), qint64(-7), qint64(255), qint64(8)}, "2a FFFFFFF9 0xff 10"},
      {u"%.2s|%*d|", {thai, qint64(4), qint64(7)}, "ไท|   7|"},
      {u"100%% %s %d", {QVariant()}, "100% (null) (null)"},  // NULL, then none left
      {u"%q and 5%", {qint64(1)}, "%q and 5%"},              // no conversion letter: as written
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(QString::fromUtf16(c.format).toStdString());
    EXPECT_EQ(FormatRaiserror(c.format, c.args), QString::fromUtf8(c.want));
  }
}

TEST(TdsSqlText, ParametersSelectedBackAndSessionValues) {
  const std::pair<const char16_t*, std::vector<int>> selected[] = {
      {u"select ?1", {1}},
      {u"SELECT ?2 AS d, ?1 b, 'x', ?3 + 1, (?4) from T where a = ?5", {2, 1, 0, 0, 0}},
      {u"select f(?1, ?2), ?3 'q' order by 1", {0, 3}},
      {u"update T set a = ?1", {}},
      {u"select top 1 ?1", {}},
  };
  for (const auto& [sql, want] : selected) {
    SCOPED_TRACE(QString::fromUtf16(sql).toStdString());
    EXPECT_EQ(SelectedParameters(QString::fromUtf16(sql)), want);
  }
  const SessionValues values{QStringLiteral("SQL 'v'"), 53, QStringLiteral("DEMO")};
  EXPECT_EQ(WithSessionValues(
                u"select @@VERSION, @@spid, DB_NAME ( ), db_name(5), '@@spid' -- @@spid", values),
            QStringLiteral("select N'SQL ''v''', 53, N'DEMO', db_name(5), '@@spid' -- @@spid"));
  EXPECT_EQ(WithSessionValues(u"select @@trancount", values), QStringLiteral("select @@trancount"));
}

TEST(TdsResultSet, ParametersSelectedBackKeepTheirOwnTypes) {
  db::ResultSet rs;
  rs.fields = {{QStringLiteral("?1"), db::ftFloat, 0}, {QStringLiteral("n"), db::ftString, 1}};
  rs.rows = db::RowStore(2);
  rs.rows.AddRow();
  rs.rows.SetFloat(0, 12.5);
  ResultEncoder encoder(rs);
  encoder.Echo(0, Type(DataType::DecimalN, 5, 5, 2), 12.5);
  encoder.Echo(1, Type(DataType::IntN, 4), QVariant());
  EXPECT_EQ(encoder.Columns()[0].type.type, DataType::DecimalN);
  EXPECT_EQ(encoder.Columns()[0].name, QString());  // as SQL Server names "SELECT @p"
  EXPECT_EQ(encoder.Columns()[1].type.type, DataType::IntN);
  Writer w;
  encoder.WriteRow(w, 0);
  // decimal(5,2) 12.50: length 5, sign, 1250; a NULL int: length 0.
  EXPECT_EQ(HexOf(w.Data()), "d1 05 01 e2 04 00 00 00");
}

TEST(TdsResultSet, ColumnTypesFollowTheFieldsAndWhatTheCellsHold) {
  using namespace qav::db;
  struct Case {
    FieldDef field;
    std::function<void(RowStore&)> fill;  // one cell of the single row
    DataType type;
    std::uint32_t length;
  };
  const auto text = [](const char* s) { return [s](RowStore& r) { r.SetBytes(0, s); }; };
  const auto integer = [](qint64 v) { return [v](RowStore& r) { r.SetInt(0, v); }; };
  const auto real = [](double v) { return [v](RowStore& r) { r.SetFloat(0, v); }; };
  const Case cases[] = {
      {{"a", ftInteger, 0}, integer(5), DataType::IntN, 4},
      {{"a", ftInteger, 0}, integer(qint64(1) << 33), DataType::IntN, 8},
      {{"a", ftSmallint, 0}, integer(7), DataType::IntN, 2},
      {{"a", ftSmallint, 0}, integer(70000), DataType::IntN, 4},
      {{"a", ftLargeint, 0}, integer(1), DataType::IntN, 8},
      {{"a", ftBoolean, 0}, integer(1), DataType::BitN, 1},
      {{"a", ftInteger, 0}, real(1.5), DataType::FltN, 8},
      {{"a", ftCurrency, 0}, real(1.5), DataType::MoneyN, 8},
      {{"a", ftBCD, 0}, real(1.5), DataType::DecimalN, 17},
      {{"a", ftDate, 0}, real(45000), DataType::DateN, 3},
      {{"a", ftDateTime, 0}, real(45000.5), DataType::DateTimeN, 8},
      {{"a", ftDateTime, 0}, real(EncodeDateTime(QDate(1700, 1, 1))), DataType::DateTime2N, 0},
      {{"a", ftDateTime, 0}, text("not a date"), DataType::BigVarChar, 10},
      {{"a", ftString, 20}, text("ไทย"), DataType::BigVarChar, 20},
      {{"a", ftString, 20}, text("ไทย 中"), DataType::NVarChar, 40},
      {{"a", ftString, 20, 0, 0, true}, text("ไทย"), DataType::NVarChar, 40},
      {{"a", ftMemo, 0, 0, 0, true}, text("x"), DataType::NText, 0x7FFFFFFE},
      {{"a", ftFixedChar, 4}, text("ab"), DataType::BigChar, 4},
      {{"a", ftString, 5000}, text("x"), DataType::BigVarChar, 5000},
      {{"a", ftString, 5000}, text("中"), DataType::NText, 0x7FFFFFFE},
      {{"a", ftMemo, 0}, text("x"), DataType::Text, 0x7FFFFFFF},
      {{"a", ftMemo, 0}, text("😀"), DataType::NText, 0x7FFFFFFE},
      {{"a", ftVarBytes, 16}, text("\x01"), DataType::BigVarBinary, 16},
      {{"a", ftBlob, 0}, text("\x01"), DataType::Image, 0x7FFFFFFF},
      {{"a", ftUnknown, 0}, integer(5), DataType::BigVarChar, 1},
  };
  for (const Case& c : cases) {
    ResultSet rs;
    rs.fields = {c.field};
    rs.rows = RowStore(1);
    rs.rows.AddRow();
    c.fill(rs.rows);
    const ResultEncoder encoder(rs);
    SCOPED_TRACE(FieldTypeName(c.field.type).toStdString() + " " +
                 std::to_string(static_cast<int>(c.type)));
    EXPECT_EQ(encoder.Columns()[0].type.type, c.type);
    EXPECT_EQ(encoder.Columns()[0].type.length, c.length);
    Writer w;
    encoder.WriteRow(w, 0);
    EXPECT_EQ(static_cast<std::uint8_t>(w.Data()[0]), static_cast<std::uint8_t>(Token::Row));
  }
}

TEST(TdsResultSet, DecimalsKeepTheirDeclarationAndOldClientsGetDatesAsText) {
  using namespace qav::db;
  struct Case {
    FieldDef field;
    double value;
    std::uint32_t version;
    DataType type;
    std::uint32_t length;
    std::uint8_t precision, scale;
    const char* cell;  // the row's bytes after the token, in hex
  };
  const double day = EncodeDateTime(QDate(2026, 12, 10), QTime(13, 45, 30, 250));
  const Case cases[] = {
      {{"d", ftBCD, 0, 18, 4},
       5,
       kTds74,
       DataType::DecimalN,
       9,
       18,
       4,
       "09 01 50 c3 00 00 00 00 00 00"},
      {{"d", ftBCD, 0, 5, 2}, -123.456, kTds74, DataType::DecimalN, 5, 5, 2, "05 00 3a 30 00 00"},
      // A value the engine let past its declaration: room for it, with the declared places.
      {{"d", ftBCD, 0, 5, 2}, 1e7, kTds74, DataType::DecimalN, 17, 38, 2, nullptr},
      {{"d", ftBCD, 0}, 1.5, kTds74, DataType::DecimalN, 17, 38, 8, nullptr},
      {{"t", ftDate, 0}, day, kTds74, DataType::DateN, 3, 0, 0, nullptr},
      {{"t", ftDate, 0},
       day,
       kTds72,
       DataType::NVarChar,
       20,
       0,
       0,
       "14 00 32 00 30 00 32 00 36 00 2d 00 31 00 32 00 2d 00 31 00 30 00"},
      {{"t", ftTime, 0}, day, kTds72, DataType::NVarChar, 24, 0, 0, nullptr},
      {{"t", ftDateTime, 0},
       EncodeDateTime(QDate(1700, 1, 1)),
       kTds72,
       DataType::NVarChar,
       46,
       0,
       0,
       nullptr},
      {{"t", ftDateTime, 0}, day, kTds72, DataType::DateTimeN, 8, 0, 0, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.field.name.toStdString() + " " + std::to_string(c.value) + " " +
                 std::to_string(c.version));
    ResultSet rs;
    rs.fields = {c.field};
    rs.rows = RowStore(1);
    rs.rows.AddRow();
    rs.rows.SetFloat(0, c.value);
    const ResultEncoder encoder(rs, c.version);
    const TypeInfo& t = encoder.Columns()[0].type;
    EXPECT_EQ(t.type, c.type);
    EXPECT_EQ(t.length, c.length);
    if (c.type == DataType::DecimalN) {
      EXPECT_EQ(t.precision, c.precision);
      EXPECT_EQ(t.scale, c.scale);
    }
    Writer w;
    encoder.WriteRow(w, 0);
    if (c.cell) {
      EXPECT_EQ(HexOf(w.Data().mid(1)), HexOf(Hex(c.cell)));
    }
  }
}

}  // namespace
