#include "automation/WordServer.h"

#include "automation/DocxDocument.h"
#include "automation/DocxReader.h"
#include "automation/DocxWriter.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <cmath>

namespace qav {

namespace {

using docx::TCharFormat;

const QString kSource = QStringLiteral("Word.Application");

// The word processor's "undefined" answer for a property that differs across a range, and its
// toggle value for the Boolean character properties.
constexpr qint32 kUndefined = 9999999;
constexpr qint32 kToggle = 9999998;
// The widest column the word processor allows: 22 inches.
constexpr double kMaxColumnWidthPoints = 1584;

[[noreturn]] void Fail(const QString& message) {
  throw EOleException(message, kSource);
}
[[noreturn]] void NoSuchMember() {
  Fail(QStringLiteral("The requested member of the collection does not exist."));
}
[[noreturn]] void OutOfRange() {
  Fail(QStringLiteral("Value out of range."));
}

struct WordApp;

struct WordDoc {
  docx::TDocument Model;
  QString Name;
  QString FullName;  // empty until saved or when made new
  bool Closed = false;
};

struct WordApp {
  bool Visible = false;
  bool Quit = false;
  int NextNumber = 1;
  int CallDepth = 0;  // calls of the server under way
  std::vector<std::shared_ptr<WordDoc>> Documents;
  std::shared_ptr<WordDoc> Active;

  void Forget(const std::shared_ptr<WordDoc>& doc) {
    std::erase(Documents, doc);
    if (Active == doc) Active = Documents.empty() ? nullptr : Documents.back();
  }
};

using AppPtr = std::shared_ptr<WordApp>;
using DocPtr = std::shared_ptr<WordDoc>;

// Base of every object of the server: dispatch by member table, and errors of the document
// model handed on as the server's errors.
template <class T>
class ServerObject : public TDispatchObject<T> {
 public:
  explicit ServerObject(AppPtr app, DocPtr doc = nullptr)
      : app_(std::move(app)), doc_(std::move(doc)) {}

  TAutoValue Dispatch(const TAutoCall& call) override {
    // Between two calls of the client nothing holds a cell of a document: the cells that the
    // call unpacked are packed again.
    struct Call {
      WordApp& app;
      explicit Call(WordApp& a) : app(a) { ++app.CallDepth; }
      ~Call() {
        if (--app.CallDepth > 0) return;
        // Out of memory the cells stay unpacked, which is no fault: a destructor must not throw.
        try {
          for (const auto& document : app.Documents) document->Model.Compact();
        } catch (const std::bad_alloc&) {
        }
      }
    } running(*app_);
    try {
      return TDispatchObject<T>::Dispatch(call);
    } catch (const EOleError&) {
      throw;
    } catch (const Exception& e) {
      Fail(e.Message());
    }
  }

  void CheckAlive() const {
    if (app_->Quit)
      throw EOleSysError(QStringLiteral("The object invoked has disconnected from its clients."),
                         autoerr::kDisconnected);
    if (doc_ && doc_->Closed) Fail(QStringLiteral("Object has been deleted."));
  }

 protected:
  docx::TDocument& Model() const { return doc_->Model; }
  template <class O, class... A>
  TAutoValue Make(A&&... args) const {
    return TAutoValue(std::make_shared<O>(app_, doc_, std::forward<A>(args)...));
  }

  AppPtr app_;
  DocPtr doc_;
};

#define QAV_MEMBERS(Class) \
 public:                   \
  using Self = Class;      \
  static const std::vector<TDispatchObject<Class>::Member>& Members();

// ---- character and paragraph properties shared by Range and Font

// A property over the formats of a range: the common value, or "undefined".
template <class F>
qint32 Common(const std::vector<TCharFormat>& formats, F value) {
  if (formats.empty()) return 0;
  const qint32 first = value(formats.front());
  for (const TCharFormat& f : formats)
    if (value(f) != first) return kUndefined;
  return first;
}

qint32 ColorIndexOf(const TCharFormat& f) {
  if (f.Color.isEmpty()) return 0;
  bool ok = false;
  const uint rgb = f.Color.toUInt(&ok, 16);
  return ok ? docx::IndexOfColor(rgb) : 0;
}

QString ColorText(int index) {
  const QRgb rgb = docx::ColorOfIndex(index);
  return QStringLiteral("%1%2%3")
      .arg(qRed(rgb), 2, 16, QLatin1Char('0'))
      .arg(qGreen(rgb), 2, 16, QLatin1Char('0'))
      .arg(qBlue(rgb), 2, 16, QLatin1Char('0'))
      .toUpper();
}

// Bold := True, False or the toggle value.
void SetFlag(docx::TDocument& model, const docx::TSpan& span, bool TCharFormat::*flag,
             const TAutoValue& value) {
  const qint32 v = value.ToInteger();
  model.FormatCharacters(span.Start, span.End,
                         [&](TCharFormat& f) { f.*flag = v == kToggle ? !(f.*flag) : v != 0; });
}

qint32 GetFlag(const docx::TDocument& model, const docx::TSpan& span, bool TCharFormat::*flag) {
  return Common(model.FormatsIn(span.Start, span.End),
                [&](const TCharFormat& f) { return f.*flag ? -1 : 0; });
}

void SetUnderline(docx::TDocument& model, const docx::TSpan& span, const TAutoValue& value) {
  const qint32 v = value.ToInteger();
  if (v < 0 || v > 27) OutOfRange();
  model.FormatCharacters(span.Start, span.End, [&](TCharFormat& f) { f.Underline = v; });
}

qint32 GetUnderline(const docx::TDocument& model, const docx::TSpan& span) {
  return Common(model.FormatsIn(span.Start, span.End),
                [](const TCharFormat& f) { return f.Underline; });
}

class WordRange;
class WordTables;

// ---- Font

class WordFont : public ServerObject<WordFont> {
  QAV_MEMBERS(WordFont)
  WordFont(AppPtr app, DocPtr doc, std::shared_ptr<docx::TSpan> span)
      : ServerObject(std::move(app), std::move(doc)), span_(std::move(span)) {}
  QString TypeName() const override { return QStringLiteral("Font"); }

  TAutoValue GetColorIndex(const TAutoParams&) {
    return Common(Model().FormatsIn(span_->Start, span_->End), ColorIndexOf);
  }
  void SetColorIndex(const TAutoParams&, const TAutoValue& value) {
    const qint32 index = value.ToInteger();
    if (index < 0 || index > docx::kMaxColorIndex) OutOfRange();
    const QString color = index == 0 ? QString() : ColorText(index);
    Model().FormatCharacters(span_->Start, span_->End, [&](TCharFormat& f) { f.Color = color; });
  }
  TAutoValue GetName(const TAutoParams&) {
    const auto formats = Model().FormatsIn(span_->Start, span_->End);
    if (formats.empty()) return QString();
    for (const TCharFormat& f : formats)
      if (f.FontName != formats.front().FontName) return QString();
    return formats.front().FontName;
  }
  void SetName(const TAutoParams&, const TAutoValue& value) {
    const QString name = value.ToText().trimmed();
    Model().FormatCharacters(span_->Start, span_->End, [&](TCharFormat& f) { f.FontName = name; });
  }
  TAutoValue GetBold(const TAutoParams&) { return GetFlag(Model(), *span_, &TCharFormat::Bold); }
  void SetBold(const TAutoParams&, const TAutoValue& v) {
    SetFlag(Model(), *span_, &TCharFormat::Bold, v);
  }
  TAutoValue GetItalic(const TAutoParams&) {
    return GetFlag(Model(), *span_, &TCharFormat::Italic);
  }
  void SetItalic(const TAutoParams&, const TAutoValue& v) {
    SetFlag(Model(), *span_, &TCharFormat::Italic, v);
  }
  TAutoValue GetUnderlineValue(const TAutoParams&) { return GetUnderline(Model(), *span_); }
  void SetUnderlineValue(const TAutoParams&, const TAutoValue& v) {
    SetUnderline(Model(), *span_, v);
  }

 private:
  std::shared_ptr<docx::TSpan> span_;
};

const std::vector<TDispatchObject<WordFont>::Member>& WordFont::Members() {
  static const std::vector<Member> members = {
      {"ColorIndex", {}, &Self::GetColorIndex, &Self::SetColorIndex},
      {"Name", {}, &Self::GetName, &Self::SetName},
      {"Bold", {}, &Self::GetBold, &Self::SetBold},
      {"Italic", {}, &Self::GetItalic, &Self::SetItalic},
      {"Underline", {}, &Self::GetUnderlineValue, &Self::SetUnderlineValue},
  };
  return members;
}

// ---- ParagraphFormat

class WordParagraphFormat : public ServerObject<WordParagraphFormat> {
  QAV_MEMBERS(WordParagraphFormat)
  WordParagraphFormat(AppPtr app, DocPtr doc, std::shared_ptr<docx::TSpan> span)
      : ServerObject(std::move(app), std::move(doc)), span_(std::move(span)) {}
  QString TypeName() const override { return QStringLiteral("ParagraphFormat"); }

  TAutoValue GetAlignment(const TAutoParams&) {
    const std::vector<int> all = Model().AlignmentsIn(span_->Start, span_->End);
    if (all.empty()) return 0;
    return all.size() == 1 ? all.front() : kUndefined;
  }
  void SetAlignment(const TAutoParams&, const TAutoValue& value) {
    const qint32 alignment = value.ToInteger();
    if (alignment < docx::paLeft || alignment > docx::paJustify) OutOfRange();
    Model().SetAlignment(span_->Start, span_->End, alignment);
  }

 private:
  std::shared_ptr<docx::TSpan> span_;
};

const std::vector<TDispatchObject<WordParagraphFormat>::Member>& WordParagraphFormat::Members() {
  static const std::vector<Member> members = {
      {"Alignment", {}, &Self::GetAlignment, &Self::SetAlignment},
  };
  return members;
}

// ---- Range

class WordRange : public ServerObject<WordRange> {
  QAV_MEMBERS(WordRange)
  // Positions inside the story: the callers clamp what they were given.
  WordRange(AppPtr app, DocPtr doc, int start, int end)
      : ServerObject(std::move(app), std::move(doc)), span_(Model().Track(start, end)) {}
  QString TypeName() const override { return QStringLiteral("Range"); }

  const WordDoc* Document() const { return doc_.get(); }
  const docx::TSpan& Span() const { return *span_; }

  TAutoValue GetStart(const TAutoParams&) { return span_->Start; }
  TAutoValue GetEnd(const TAutoParams&) { return span_->End; }
  TAutoValue GetText(const TAutoParams&) { return Model().Text(span_->Start, span_->End); }
  TAutoValue GetBold(const TAutoParams&) { return GetFlag(Model(), *span_, &TCharFormat::Bold); }
  void SetBold(const TAutoParams&, const TAutoValue& v) {
    SetFlag(Model(), *span_, &TCharFormat::Bold, v);
  }
  TAutoValue GetItalic(const TAutoParams&) {
    return GetFlag(Model(), *span_, &TCharFormat::Italic);
  }
  void SetItalic(const TAutoParams&, const TAutoValue& v) {
    SetFlag(Model(), *span_, &TCharFormat::Italic, v);
  }
  TAutoValue GetUnderlineValue(const TAutoParams&) { return GetUnderline(Model(), *span_); }
  void SetUnderlineValue(const TAutoParams&, const TAutoValue& v) {
    SetUnderline(Model(), *span_, v);
  }
  TAutoValue GetHighlight(const TAutoParams&) {
    return Common(Model().FormatsIn(span_->Start, span_->End),
                  [](const TCharFormat& f) { return f.Highlight; });
  }
  void SetHighlight(const TAutoParams&, const TAutoValue& value) {
    const qint32 index = value.ToInteger();
    if (index < 0 || index > docx::kMaxColorIndex) OutOfRange();
    Model().FormatCharacters(span_->Start, span_->End,
                             [&](TCharFormat& f) { f.Highlight = index; });
  }
  TAutoValue GetFont(const TAutoParams&) { return Make<WordFont>(span_); }
  TAutoValue GetParagraphFormat(const TAutoParams&) { return Make<WordParagraphFormat>(span_); }
  TAutoValue GetTables(const TAutoParams&);

  // The range grows to take in what was added after it.
  TAutoValue InsertAfter(const TAutoParams& p) {
    const QString text = p.Required(0).ToText();
    const int pos = Model().InsertionPoint(span_->Start, span_->End);
    const int added = Model().InsertText(pos, text);
    span_->End = std::max(span_->End, pos + added);
    return {};
  }
  TAutoValue InsertParagraphAfter(const TAutoParams&) {
    const int pos = Model().InsertionPoint(span_->Start, span_->End);
    const int added = Model().InsertParagraph(pos);
    span_->End = std::max(span_->End, pos + added);
    return {};
  }

 private:
  std::shared_ptr<docx::TSpan> span_;
};

// ---- InlineShapes

class WordInlineShape : public ServerObject<WordInlineShape> {
  QAV_MEMBERS(WordInlineShape)
  WordInlineShape(AppPtr app, DocPtr doc, double width, double height)
      : ServerObject(std::move(app), std::move(doc)), width_(width), height_(height) {}
  QString TypeName() const override { return QStringLiteral("InlineShape"); }

  TAutoValue GetWidth(const TAutoParams&) { return width_; }
  TAutoValue GetHeight(const TAutoParams&) { return height_; }

 private:
  double width_;
  double height_;
};

const std::vector<TDispatchObject<WordInlineShape>::Member>& WordInlineShape::Members() {
  static const std::vector<Member> members = {
      {"Width", {}, &Self::GetWidth, nullptr},
      {"Height", {}, &Self::GetHeight, nullptr},
  };
  return members;
}

constexpr double kEmuPerPoint = 12700;

class WordInlineShapes : public ServerObject<WordInlineShapes> {
  QAV_MEMBERS(WordInlineShapes)
  WordInlineShapes(AppPtr app, DocPtr doc) : ServerObject(std::move(app), std::move(doc)) {}
  QString TypeName() const override { return QStringLiteral("InlineShapes"); }

  TAutoValue GetCount(const TAutoParams&) {
    int count = 0;
    const auto countIn = [&](const docx::TParagraph& p) {
      for (const docx::TRun& run : p.Runs) count += run.Picture ? 1 : 0;
    };
    for (const docx::TBlock& block : Model().Blocks()) {
      if (const auto* p = std::get_if<docx::TParagraph>(&block)) {
        countIn(*p);
        continue;
      }
      const auto& table = *std::get<std::shared_ptr<docx::TTable>>(block);
      for (int i = 0; i < table.CellCount(); ++i)
        for (const docx::TParagraph& p : table.CellContent(i).Paragraphs) countIn(p);
    }
    return count;
  }

  // The picture is embedded in the document; a range that is not empty is replaced by it.
  TAutoValue AddPicture(const TAutoParams& p) {
    const QString fileName = p.Required(0).ToText();
    int start = 0;
    int end = 0;
    if (p.Has(3)) {
      const auto* range = dynamic_cast<const WordRange*>(p.Required(3).ToObject().get());
      if (!range) throw EOleSysError(QStringLiteral("Type mismatch."), autoerr::kTypeMismatch);
      if (range->Document() != doc_.get())
        Fail(QStringLiteral("The range does not belong to this document."));
      start = range->Span().Start;
      end = range->Span().End;
    }
    QImage image;
    if (!QFileInfo::exists(fileName))
      Fail(QStringLiteral("The file could not be found.\n(%1)")
               .arg(QDir::toNativeSeparators(fileName)));
    if (!image.load(fileName))
      Fail(QStringLiteral("The picture %1 could not be read.")
               .arg(QDir::toNativeSeparators(fileName)));
    auto picture = std::make_shared<docx::TPicture>();
    QBuffer buffer(&picture->Data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    picture->Extension = QStringLiteral("png");
    // Its own resolution gives the picture its size on the page; 96 dots per inch without one.
    const double dotsPerMeterX = image.dotsPerMeterX() > 0 ? image.dotsPerMeterX() : 3780;
    const double dotsPerMeterY = image.dotsPerMeterY() > 0 ? image.dotsPerMeterY() : 3780;
    picture->WidthEmu = std::llround(image.width() / dotsPerMeterX * 36000000.0);
    picture->HeightEmu = std::llround(image.height() / dotsPerMeterY * 36000000.0);
    if (start < end) Model().ClearText(start, end);
    const int pos = Model().InsertionPoint(start, start);
    Model().InsertPicture(pos, picture);
    return Make<WordInlineShape>(picture->WidthEmu / kEmuPerPoint,
                                 picture->HeightEmu / kEmuPerPoint);
  }
};

const std::vector<TDispatchObject<WordInlineShapes>::Member>& WordInlineShapes::Members() {
  static const std::vector<Member> members = {
      {"Count", {}, &Self::GetCount, nullptr},
      {"AddPicture",
       {QStringLiteral("FileName"), QStringLiteral("LinkToFile"),
        QStringLiteral("SaveWithDocument"), QStringLiteral("Range")},
       &Self::AddPicture,
       nullptr},
  };
  return members;
}

// ---- Table

using TablePtr = std::shared_ptr<docx::TTable>;

class WordTableObject {
 protected:
  // A table taken out of its document no longer answers.
  static void CheckInDocument(const docx::TDocument& model, const TablePtr& table) {
    if (model.TableStart(table.get()) < 0) Fail(QStringLiteral("Object has been deleted."));
  }
};

class WordCell : public ServerObject<WordCell>, WordTableObject {
  QAV_MEMBERS(WordCell)
  WordCell(AppPtr app, DocPtr doc, TablePtr table, int row, int column)
      : ServerObject(std::move(app), std::move(doc)),
        table_(std::move(table)),
        row_(row),
        column_(column) {}
  QString TypeName() const override { return QStringLiteral("Cell"); }

  TAutoValue GetRange(const TAutoParams&) {
    const int tableStart = Model().TableStart(table_.get());
    if (tableStart < 0) Fail(QStringLiteral("Object has been deleted."));
    const int index = row_ * table_->Columns() + column_;
    const int start = tableStart + table_->CellStart(index);
    return Make<WordRange>(start, start + table_->CellLength(index));
  }
  TAutoValue GetRowIndex(const TAutoParams&) { return row_ + 1; }
  TAutoValue GetColumnIndex(const TAutoParams&) { return column_ + 1; }

 private:
  TablePtr table_;
  int row_;
  int column_;
};

const std::vector<TDispatchObject<WordCell>::Member>& WordCell::Members() {
  static const std::vector<Member> members = {
      {"Range", {}, &Self::GetRange, nullptr},
      {"RowIndex", {}, &Self::GetRowIndex, nullptr},
      {"ColumnIndex", {}, &Self::GetColumnIndex, nullptr},
  };
  return members;
}

class WordColumn : public ServerObject<WordColumn>, WordTableObject {
  QAV_MEMBERS(WordColumn)
  WordColumn(AppPtr app, DocPtr doc, TablePtr table, int column)
      : ServerObject(std::move(app), std::move(doc)), table_(std::move(table)), column_(column) {}
  QString TypeName() const override { return QStringLiteral("Column"); }

  // Points; a width of 0 or less leaves the column as it is, a larger one than the page
  // format allows is cut to the widest.
  TAutoValue SetWidth(const TAutoParams& p) {
    Resize(p.Required(0).ToDouble());
    return {};
  }
  TAutoValue GetWidth(const TAutoParams&) {
    return table_->ColumnWidths()[static_cast<size_t>(column_)] / 20.0;
  }
  void PutWidth(const TAutoParams&, const TAutoValue& value) { Resize(value.ToDouble()); }

 private:
  void Resize(double points) {
    CheckInDocument(Model(), table_);
    if (!(points > 0)) return;
    table_->ColumnWidths()[static_cast<size_t>(column_)] =
        static_cast<int>(std::lround(std::min(points, kMaxColumnWidthPoints) * 20));
  }

  TablePtr table_;
  int column_;
};

const std::vector<TDispatchObject<WordColumn>::Member>& WordColumn::Members() {
  static const std::vector<Member> members = {
      {"SetWidth",
       {QStringLiteral("ColumnWidth"), QStringLiteral("RulerStyle")},
       &Self::SetWidth,
       nullptr},
      {"Width", {}, &Self::GetWidth, &Self::PutWidth},
  };
  return members;
}

class WordColumns : public ServerObject<WordColumns> {
  QAV_MEMBERS(WordColumns)
  WordColumns(AppPtr app, DocPtr doc, TablePtr table)
      : ServerObject(std::move(app), std::move(doc)), table_(std::move(table)) {}
  QString TypeName() const override { return QStringLiteral("Columns"); }

  TAutoValue GetCount(const TAutoParams&) { return table_->Columns(); }
  TAutoValue Item(const TAutoParams& p) {
    const qint32 index = p.Required(0).ToInteger();
    if (index < 1 || index > table_->Columns()) NoSuchMember();
    return Make<WordColumn>(table_, index - 1);
  }

 private:
  TablePtr table_;
};

const std::vector<TDispatchObject<WordColumns>::Member>& WordColumns::Members() {
  static const std::vector<Member> members = {
      {"Count", {}, &Self::GetCount, nullptr},
      {"Item", {QStringLiteral("Index")}, &Self::Item, nullptr},
  };
  return members;
}

class WordRows : public ServerObject<WordRows> {
  QAV_MEMBERS(WordRows)
  WordRows(AppPtr app, DocPtr doc, TablePtr table)
      : ServerObject(std::move(app), std::move(doc)), table_(std::move(table)) {}
  QString TypeName() const override { return QStringLiteral("Rows"); }

  TAutoValue GetCount(const TAutoParams&) { return table_->Rows(); }

 private:
  TablePtr table_;
};

const std::vector<TDispatchObject<WordRows>::Member>& WordRows::Members() {
  static const std::vector<Member> members = {
      {"Count", {}, &Self::GetCount, nullptr},
  };
  return members;
}

class WordTable : public ServerObject<WordTable> {
  QAV_MEMBERS(WordTable)
  WordTable(AppPtr app, DocPtr doc, TablePtr table)
      : ServerObject(std::move(app), std::move(doc)), table_(std::move(table)) {}
  QString TypeName() const override { return QStringLiteral("Table"); }

  TAutoValue GetColumns(const TAutoParams&) { return Make<WordColumns>(table_); }
  TAutoValue GetRows(const TAutoParams&) { return Make<WordRows>(table_); }
  TAutoValue Cell(const TAutoParams& p) {
    const qint32 row = p.Required(0).ToInteger();
    const qint32 column = p.Required(1).ToInteger();
    if (row < 1 || row > table_->Rows() || column < 1 || column > table_->Columns()) NoSuchMember();
    return Make<WordCell>(table_, row - 1, column - 1);
  }
  TAutoValue GetRange(const TAutoParams&) {
    const int start = Model().TableStart(table_.get());
    if (start < 0) Fail(QStringLiteral("Object has been deleted."));
    return Make<WordRange>(start, start + table_->Length());
  }

 private:
  TablePtr table_;
};

const std::vector<TDispatchObject<WordTable>::Member>& WordTable::Members() {
  static const std::vector<Member> members = {
      {"Columns", {}, &Self::GetColumns, nullptr},
      {"Rows", {}, &Self::GetRows, nullptr},
      {"Cell", {QStringLiteral("Row"), QStringLiteral("Column")}, &Self::Cell, nullptr},
      {"Range", {}, &Self::GetRange, nullptr},
  };
  return members;
}

// The tables of a document, or of a range of it.
class WordTables : public ServerObject<WordTables> {
  QAV_MEMBERS(WordTables)
  WordTables(AppPtr app, DocPtr doc, std::shared_ptr<docx::TSpan> span)
      : ServerObject(std::move(app), std::move(doc)), span_(std::move(span)) {}
  QString TypeName() const override { return QStringLiteral("Tables"); }

  TAutoValue GetCount(const TAutoParams&) { return static_cast<qint32>(List().size()); }
  TAutoValue Item(const TAutoParams& p) {
    const auto tables = List();
    const qint32 index = p.Required(0).ToInteger();
    if (index < 1 || index > static_cast<qint32>(tables.size())) NoSuchMember();
    return Make<WordTable>(tables[static_cast<size_t>(index - 1)]);
  }
  // The table replaces the range given, or stands at its place when it is empty.
  TAutoValue Add(const TAutoParams& p) {
    const auto* range = dynamic_cast<const WordRange*>(p.Required(0).ToObject().get());
    if (!range) throw EOleSysError(QStringLiteral("Type mismatch."), autoerr::kTypeMismatch);
    if (range->Document() != doc_.get())
      Fail(QStringLiteral("The range does not belong to this document."));
    const qint32 rows = p.Required(1).ToInteger();
    const qint32 columns = p.Required(2).ToInteger();
    if (rows < 1 || rows > 32767) Fail(QStringLiteral("The number must be between 1 and 32767."));
    if (columns < 1 || columns > 63) Fail(QStringLiteral("The number must be between 1 and 63."));
    const int start = range->Span().Start;
    const int end = range->Span().End;
    if (start < end) Model().ClearText(start, end);
    const int pos = Model().InsertionPoint(start, start);
    return Make<WordTable>(Model().AddTable(pos, rows, columns));
  }

 private:
  std::vector<TablePtr> List() const {
    return span_ ? Model().Tables(span_->Start, span_->End) : Model().Tables();
  }

  std::shared_ptr<docx::TSpan> span_;
};

const std::vector<TDispatchObject<WordTables>::Member>& WordTables::Members() {
  static const std::vector<Member> members = {
      {"Count", {}, &Self::GetCount, nullptr},
      {"Item", {QStringLiteral("Index")}, &Self::Item, nullptr},
      {"Add",
       {QStringLiteral("Range"), QStringLiteral("NumRows"), QStringLiteral("NumColumns"),
        QStringLiteral("DefaultTableBehavior"), QStringLiteral("AutoFitBehavior")},
       &Self::Add,
       nullptr},
  };
  return members;
}

TAutoValue WordRange::GetTables(const TAutoParams&) {
  return Make<WordTables>(span_);
}

const std::vector<TDispatchObject<WordRange>::Member>& WordRange::Members() {
  static const std::vector<Member> members = {
      {"Start", {}, &Self::GetStart, nullptr},
      {"End", {}, &Self::GetEnd, nullptr},
      {"Text", {}, &Self::GetText, nullptr},
      {"Bold", {}, &Self::GetBold, &Self::SetBold},
      {"Italic", {}, &Self::GetItalic, &Self::SetItalic},
      {"Underline", {}, &Self::GetUnderlineValue, &Self::SetUnderlineValue},
      {"HighlightColorIndex", {}, &Self::GetHighlight, &Self::SetHighlight},
      {"Font", {}, &Self::GetFont, nullptr},
      {"ParagraphFormat", {}, &Self::GetParagraphFormat, nullptr},
      {"Tables", {}, &Self::GetTables, nullptr},
      {"InsertAfter", {QStringLiteral("Text")}, &Self::InsertAfter, nullptr},
      {"InsertParagraphAfter", {}, &Self::InsertParagraphAfter, nullptr},
  };
  return members;
}

// ---- Document

QString AbsoluteName(const QString& fileName) {
  return QDir::cleanPath(QFileInfo(fileName).absoluteFilePath());
}

// SaveChanges of Close and Quit.
constexpr qint32 kSaveChanges = -1;

void SaveDocument(WordDoc& doc, const QString& fileName) {
  docx::SaveDocx(doc.Model, fileName);
  doc.FullName = AbsoluteName(fileName);
  doc.Name = QFileInfo(fileName).fileName();
}

void CloseDocument(WordApp& app, const DocPtr& doc, qint32 saveChanges) {
  if (saveChanges == kSaveChanges && !doc->FullName.isEmpty()) SaveDocument(*doc, doc->FullName);
  doc->Closed = true;
  app.Forget(doc);
}

class WordDocument : public ServerObject<WordDocument> {
  QAV_MEMBERS(WordDocument)
  WordDocument(AppPtr app, DocPtr doc) : ServerObject(std::move(app), std::move(doc)) {}
  QString TypeName() const override { return QStringLiteral("Document"); }

  TAutoValue GetContent(const TAutoParams&) { return Make<WordRange>(0, Model().Length()); }
  TAutoValue Range(const TAutoParams& p) {
    const int length = Model().Length();
    const qint32 start = p.Optional(0, 0).ToInteger();
    const qint32 end = p.Optional(1, length).ToInteger();
    if (start < 0 || end < 0) OutOfRange();
    const int from = std::min(start, length);
    return Make<WordRange>(from, std::clamp(end, from, length));
  }
  TAutoValue GetTables(const TAutoParams&) { return Make<WordTables>(nullptr); }
  TAutoValue GetInlineShapes(const TAutoParams&) { return Make<WordInlineShapes>(); }
  TAutoValue GetName(const TAutoParams&) { return doc_->Name; }
  TAutoValue GetFullName(const TAutoParams&) {
    return doc_->FullName.isEmpty() ? doc_->Name : QDir::toNativeSeparators(doc_->FullName);
  }
  // Always the document package, whatever format or extension is asked for.
  TAutoValue SaveAs(const TAutoParams& p) {
    const QString fileName = p.Optional(0, doc_->FullName).ToText();
    if (fileName.isEmpty()) Fail(QStringLiteral("The document has no file name."));
    SaveDocument(*doc_, fileName);
    return {};
  }
  TAutoValue Close(const TAutoParams& p) {
    CloseDocument(*app_, doc_, p.Optional(0, 0).ToInteger());
    return {};
  }
};

const std::vector<TDispatchObject<WordDocument>::Member>& WordDocument::Members() {
  static const std::vector<Member> members = {
      {"Content", {}, &Self::GetContent, nullptr},
      {"Range", {QStringLiteral("Start"), QStringLiteral("End")}, &Self::Range, nullptr},
      {"Tables", {}, &Self::GetTables, nullptr},
      {"InlineShapes", {}, &Self::GetInlineShapes, nullptr},
      {"Name", {}, &Self::GetName, nullptr},
      {"FullName", {}, &Self::GetFullName, nullptr},
      {"SaveAs",
       {QStringLiteral("FileName"), QStringLiteral("FileFormat"), QStringLiteral("LockComments"),
        QStringLiteral("Password"), QStringLiteral("AddToRecentFiles"),
        QStringLiteral("WritePassword"), QStringLiteral("ReadOnlyRecommended"),
        QStringLiteral("EmbedTrueTypeFonts"), QStringLiteral("SaveNativePictureFormat"),
        QStringLiteral("SaveFormsData"), QStringLiteral("SaveAsAOCELetter"),
        QStringLiteral("Encoding")},
       &Self::SaveAs,
       nullptr},
      {"Close",
       {QStringLiteral("SaveChanges"), QStringLiteral("OriginalFormat"),
        QStringLiteral("RouteDocument")},
       &Self::Close,
       nullptr},
  };
  return members;
}

// ---- Documents

class WordDocuments : public ServerObject<WordDocuments> {
  QAV_MEMBERS(WordDocuments)
  WordDocuments(AppPtr app, DocPtr doc) : ServerObject(std::move(app), std::move(doc)) {}
  QString TypeName() const override { return QStringLiteral("Documents"); }

  TAutoValue GetCount(const TAutoParams&) { return static_cast<qint32>(app_->Documents.size()); }
  TAutoValue Item(const TAutoParams& p) {
    const TAutoValue& key = p.Required(0);
    if (key.Type() == TAutoValue::avText) {
      for (const DocPtr& doc : app_->Documents)
        if (doc->Name.compare(key.ToText(), Qt::CaseInsensitive) == 0 ||
            doc->FullName.compare(AbsoluteName(key.ToText()), Qt::CaseInsensitive) == 0)
          return Wrap(doc);
      NoSuchMember();
    }
    const qint32 index = key.ToInteger();
    if (index < 1 || index > static_cast<qint32>(app_->Documents.size())) NoSuchMember();
    return Wrap(app_->Documents[static_cast<size_t>(index - 1)]);
  }
  // A new document, empty or made from a template's content.
  TAutoValue Add(const TAutoParams& p) {
    auto doc = std::make_shared<WordDoc>();
    if (p.Has(0)) doc->Model.SetBlocks(Load(p.Required(0).ToText()));
    doc->Name = QStringLiteral("Document%1").arg(app_->NextNumber++);
    return Activate(doc);
  }
  TAutoValue Open(const TAutoParams& p) {
    const QString fileName = p.Required(0).ToText();
    auto doc = std::make_shared<WordDoc>();
    doc->Model.SetBlocks(Load(fileName));
    doc->FullName = AbsoluteName(fileName);
    doc->Name = QFileInfo(fileName).fileName();
    return Activate(doc);
  }

 private:
  static std::vector<docx::TBlock> Load(const QString& fileName) {
    if (!QFileInfo(fileName).isFile())
      Fail(QStringLiteral("This file could not be found.\n(%1)")
               .arg(QDir::toNativeSeparators(fileName)));
    return docx::LoadDocx(fileName);
  }
  TAutoValue Activate(const DocPtr& doc) {
    app_->Documents.push_back(doc);
    app_->Active = doc;
    return Wrap(doc);
  }
  TAutoValue Wrap(const DocPtr& doc) const {
    return TAutoValue(std::make_shared<WordDocument>(app_, doc));
  }
};

const std::vector<TDispatchObject<WordDocuments>::Member>& WordDocuments::Members() {
  static const std::vector<Member> members = {
      {"Count", {}, &Self::GetCount, nullptr},
      {"Item", {QStringLiteral("Index")}, &Self::Item, nullptr},
      {"Add",
       {QStringLiteral("Template"), QStringLiteral("NewTemplate"), QStringLiteral("DocumentType"),
        QStringLiteral("Visible")},
       &Self::Add,
       nullptr},
      {"Open",
       {QStringLiteral("FileName"), QStringLiteral("ConfirmConversions"),
        QStringLiteral("ReadOnly"), QStringLiteral("AddToRecentFiles"),
        QStringLiteral("PasswordDocument"), QStringLiteral("PasswordTemplate"),
        QStringLiteral("Revert"), QStringLiteral("WritePasswordDocument"),
        QStringLiteral("WritePasswordTemplate"), QStringLiteral("Format"),
        QStringLiteral("Encoding"), QStringLiteral("Visible")},
       &Self::Open,
       nullptr},
  };
  return members;
}

// ---- Application

class WordApplication : public ServerObject<WordApplication> {
  QAV_MEMBERS(WordApplication)
  explicit WordApplication(AppPtr app) : ServerObject(std::move(app)) {}
  ~WordApplication() override {
    if (!app_->Quit) RevokeActiveObject(QLatin1String(kWordApplicationProgId), this);
  }
  QString TypeName() const override { return QStringLiteral("Application"); }

  TAutoValue GetVisible(const TAutoParams&) { return app_->Visible; }
  void SetVisible(const TAutoParams&, const TAutoValue& value) {
    app_->Visible = value.ToBoolean();
  }
  TAutoValue GetDocuments(const TAutoParams&) {
    return TAutoValue(std::make_shared<WordDocuments>(app_, nullptr));
  }
  TAutoValue GetActiveDocument(const TAutoParams&) {
    if (!app_->Active)
      Fail(QStringLiteral("This command is not available because no document is open."));
    return TAutoValue(std::make_shared<WordDocument>(app_, app_->Active));
  }
  TAutoValue Quit(const TAutoParams& p) {
    const qint32 saveChanges = p.Optional(0, 0).ToInteger();
    while (!app_->Documents.empty()) CloseDocument(*app_, app_->Documents.back(), saveChanges);
    app_->Quit = true;
    RevokeActiveObject(QLatin1String(kWordApplicationProgId), this);
    return {};
  }
};

const std::vector<TDispatchObject<WordApplication>::Member>& WordApplication::Members() {
  static const std::vector<Member> members = {
      {"Visible", {}, &Self::GetVisible, &Self::SetVisible},
      {"Documents", {}, &Self::GetDocuments, nullptr},
      {"ActiveDocument", {}, &Self::GetActiveDocument, nullptr},
      {"Quit",
       {QStringLiteral("SaveChanges"), QStringLiteral("OriginalFormat"),
        QStringLiteral("RouteDocument")},
       &Self::Quit,
       nullptr},
  };
  return members;
}

}  // namespace

std::shared_ptr<TAutoObject> NewWordApplication() {
  auto application = std::make_shared<WordApplication>(std::make_shared<WordApp>());
  RegisterActiveObject(QLatin1String(kWordApplicationProgId), application);
  return application;
}

}  // namespace qav
