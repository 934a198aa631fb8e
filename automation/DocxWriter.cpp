#include "automation/DocxWriter.h"

#include "core/Exception.h"
#include "core/FileError.h"
#include "core/PartialFile.h"
#include "platform/Files.h"

#include <zip.h>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QTemporaryDir>
#include <QXmlStreamWriter>
#include <cerrno>
#include <list>

namespace qav::docx {

namespace {

const QString kW = QStringLiteral("http://schemas.openxmlformats.org/wordprocessingml/2006/main");
const QString kR =
    QStringLiteral("http://schemas.openxmlformats.org/officeDocument/2006/relationships");
const QString kWp =
    QStringLiteral("http://schemas.openxmlformats.org/drawingml/2006/wordprocessingDrawing");
const QString kA = QStringLiteral("http://schemas.openxmlformats.org/drawingml/2006/main");
const QString kPic = QStringLiteral("http://schemas.openxmlformats.org/drawingml/2006/picture");
const QString kRelationships =
    QStringLiteral("http://schemas.openxmlformats.org/package/2006/relationships");
const QString kRelationshipBase =
    QStringLiteral("http://schemas.openxmlformats.org/officeDocument/2006/relationships/");

QString ImageContentType(const QString& extension) {
  static const QHash<QString, QString> types = {
      {QStringLiteral("png"), QStringLiteral("image/png")},
      {QStringLiteral("jpeg"), QStringLiteral("image/jpeg")},
      {QStringLiteral("jpg"), QStringLiteral("image/jpeg")},
      {QStringLiteral("gif"), QStringLiteral("image/gif")},
      {QStringLiteral("bmp"), QStringLiteral("image/bmp")},
      {QStringLiteral("tif"), QStringLiteral("image/tiff")},
      {QStringLiteral("tiff"), QStringLiteral("image/tiff")},
      {QStringLiteral("emf"), QStringLiteral("image/x-emf")},
      {QStringLiteral("wmf"), QStringLiteral("image/x-wmf")},
  };
  return types.value(extension.toLower(), QStringLiteral("application/octet-stream"));
}

QString UnderlineName(int underline) {
  switch (underline) {
    case 2:
      return QStringLiteral("words");
    case 3:
      return QStringLiteral("double");
    case 4:
      return QStringLiteral("dotted");
    case 6:
      return QStringLiteral("thick");
    case 7:
      return QStringLiteral("dash");
    case 9:
      return QStringLiteral("dotDash");
    case 10:
      return QStringLiteral("dotDotDash");
    case 11:
      return QStringLiteral("wave");
    default:
      return QStringLiteral("single");
  }
}

QString AlignmentName(int alignment) {
  switch (alignment) {
    case paCenter:
      return QStringLiteral("center");
    case paRight:
      return QStringLiteral("right");
    case paJustify:
      return QStringLiteral("both");
    default:
      return QStringLiteral("left");
  }
}

// An attribute of the document's namespace; its value may come from the user's text.
void WAttribute(QXmlStreamWriter& w, const QString& name, const QString& value) {
  w.writeAttribute(kW, name, XmlSafeText(value));
}

// The properties in which f differs from those the paragraph has from its table's style:
// a property the style sets is switched off explicitly where f lacks it.
void WriteRunFormat(QXmlStreamWriter& w, const TCharFormat& f, const TCharFormat& base) {
  if (f == base) return;
  const auto attribute = [&](const QString& name, const QString& value) {
    WAttribute(w, name, value);
  };
  w.writeStartElement(kW, QStringLiteral("rPr"));
  // The table's style names a font only when no text of the table lacks one.
  if (f.FontName != base.FontName && !f.FontName.isEmpty()) {
    w.writeEmptyElement(kW, QStringLiteral("rFonts"));
    // Thai text is complex script: the name must reach it as well as Latin text.
    for (const char* slot : {"ascii", "hAnsi", "eastAsia", "cs"})
      attribute(QLatin1String(slot), f.FontName);
  }
  const auto toggle = [&](bool on, bool baseOn, const char* name, const char* complex) {
    if (on == baseOn) return;
    for (const char* element : {name, complex}) {
      w.writeEmptyElement(kW, QLatin1String(element));
      if (!on) attribute(QStringLiteral("val"), QStringLiteral("0"));
    }
  };
  toggle(f.Bold, base.Bold, "b", "bCs");
  toggle(f.Italic, base.Italic, "i", "iCs");
  if (f.Color != base.Color) {
    w.writeEmptyElement(kW, QStringLiteral("color"));
    attribute(QStringLiteral("val"), f.Color.isEmpty() ? QStringLiteral("auto") : f.Color);
  }
  if (f.Highlight != base.Highlight) {
    w.writeEmptyElement(kW, QStringLiteral("highlight"));
    attribute(QStringLiteral("val"),
              f.Highlight > 0 ? HighlightName(f.Highlight) : QStringLiteral("none"));
  }
  if (f.Underline != base.Underline) {
    w.writeEmptyElement(kW, QStringLiteral("u"));
    attribute(QStringLiteral("val"),
              f.Underline > 0 ? UnderlineName(f.Underline) : QStringLiteral("none"));
  }
  w.writeEndElement();
}

QString TableStyleId(int number) {
  return QStringLiteral("QavTable%1").arg(number);
}

// A picture stored in the package.
struct Media {
  QString relationshipId;
  QString partName;  // under word/
  const TPicture* picture;
};

class DocumentXml {
 public:
  explicit DocumentXml(QIODevice* out) : w_(out) {}

  void Write(const TDocument& document) {
    w_.setAutoFormatting(false);
    w_.writeStartDocument(QStringLiteral("1.0"), true);
    w_.writeNamespace(kW, QStringLiteral("w"));
    w_.writeNamespace(kR, QStringLiteral("r"));
    w_.writeNamespace(kWp, QStringLiteral("wp"));
    w_.writeNamespace(kA, QStringLiteral("a"));
    w_.writeNamespace(kPic, QStringLiteral("pic"));
    w_.writeStartElement(kW, QStringLiteral("document"));
    w_.writeStartElement(kW, QStringLiteral("body"));
    for (const TBlock& block : document.Blocks()) {
      if (const auto* p = std::get_if<TParagraph>(&block))
        WriteParagraph(*p);
      else
        WriteTable(*std::get<std::shared_ptr<TTable>>(block));
    }
    w_.writeStartElement(kW, QStringLiteral("sectPr"));
    w_.writeEmptyElement(kW, QStringLiteral("pgSz"));
    WAttribute(QStringLiteral("w"), QString::number(TDocument::kPageWidthTwips));
    WAttribute(QStringLiteral("h"), QString::number(TDocument::kPageHeightTwips));
    w_.writeEmptyElement(kW, QStringLiteral("pgMar"));
    const QString margin = QString::number(TDocument::kMarginTwips);
    for (const char* side : {"top", "right", "bottom", "left"})
      WAttribute(QLatin1String(side), margin);
    WAttribute(QStringLiteral("header"), QStringLiteral("708"));
    WAttribute(QStringLiteral("footer"), QStringLiteral("708"));
    WAttribute(QStringLiteral("gutter"), QStringLiteral("0"));
    w_.writeEndElement();  // sectPr
    w_.writeEndElement();  // body
    w_.writeEndElement();  // document
    w_.writeEndDocument();
  }

  const std::vector<Media>& Pictures() const { return media_; }
  // The styles of the tables written, numbered from 1.
  const std::vector<TCharFormat>& TableStyles() const { return tableStyles_; }

 private:
  void WAttribute(const QString& name, const QString& value) { docx::WAttribute(w_, name, value); }

  void WriteFormat(const TCharFormat& f, const TCharFormat& base) { WriteRunFormat(w_, f, base); }

  void WriteParagraph(const TParagraph& p, const TCharFormat& base = TCharFormat()) {
    w_.writeStartElement(kW, QStringLiteral("p"));
    if (p.Alignment != paLeft || p.MarkFormat != base) {
      w_.writeStartElement(kW, QStringLiteral("pPr"));
      if (p.Alignment != paLeft) {
        w_.writeEmptyElement(kW, QStringLiteral("jc"));
        WAttribute(QStringLiteral("val"), AlignmentName(p.Alignment));
      }
      WriteFormat(p.MarkFormat, base);
      w_.writeEndElement();
    }
    for (const TRun& run : p.Runs) {
      w_.writeStartElement(kW, QStringLiteral("r"));
      WriteFormat(run.Format, base);
      if (run.Picture)
        WritePicture(*run.Picture);
      else
        WriteRunText(run.Text);
      w_.writeEndElement();
    }
    w_.writeEndElement();
  }

  // Tabs and line breaks are elements of their own in the format.
  void WriteRunText(const QString& text) {
    qsizetype from = 0;
    const auto flush = [&](qsizetype to) {
      if (to <= from) return;
      w_.writeStartElement(kW, QStringLiteral("t"));
      w_.writeAttribute(QStringLiteral("xml:space"), QStringLiteral("preserve"));
      w_.writeCharacters(XmlSafeText(QStringView(text).mid(from, to - from)));
      w_.writeEndElement();
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
      const char16_t c = text[i].unicode();
      if (c != u'\t' && c != u'\v' && c != u'\f') continue;
      flush(i);
      from = i + 1;
      if (c == u'\t') {
        w_.writeEmptyElement(kW, QStringLiteral("tab"));
      } else {
        w_.writeEmptyElement(kW, QStringLiteral("br"));
        if (c == u'\f') WAttribute(QStringLiteral("type"), QStringLiteral("page"));
      }
    }
    flush(text.size());
  }

  const Media& MediaOf(const TPicture& picture) {
    for (const Media& m : media_)
      if (m.picture == &picture) return m;
    const int n = static_cast<int>(media_.size()) + 1;
    const QString extension =
        picture.Extension.isEmpty() ? QStringLiteral("bin") : picture.Extension;
    media_.push_back({QStringLiteral("rIdImage%1").arg(n),
                      QStringLiteral("media/image%1.%2").arg(n).arg(extension.toLower()),
                      &picture});
    return media_.back();
  }

  void WritePicture(const TPicture& picture) {
    const Media& media = MediaOf(picture);
    const QString id = QString::number(++drawingId_);
    const QString cx = QString::number(picture.WidthEmu);
    const QString cy = QString::number(picture.HeightEmu);
    w_.writeStartElement(kW, QStringLiteral("drawing"));
    w_.writeStartElement(kWp, QStringLiteral("inline"));
    for (const char* d : {"distT", "distB", "distL", "distR"})
      w_.writeAttribute(QLatin1String(d), QStringLiteral("0"));
    w_.writeEmptyElement(kWp, QStringLiteral("extent"));
    w_.writeAttribute(QStringLiteral("cx"), cx);
    w_.writeAttribute(QStringLiteral("cy"), cy);
    w_.writeEmptyElement(kWp, QStringLiteral("docPr"));
    w_.writeAttribute(QStringLiteral("id"), id);
    w_.writeAttribute(QStringLiteral("name"), QStringLiteral("Picture ") + id);
    w_.writeStartElement(kWp, QStringLiteral("cNvGraphicFramePr"));
    w_.writeEmptyElement(kA, QStringLiteral("graphicFrameLocks"));
    w_.writeAttribute(QStringLiteral("noChangeAspect"), QStringLiteral("1"));
    w_.writeEndElement();
    w_.writeStartElement(kA, QStringLiteral("graphic"));
    w_.writeStartElement(kA, QStringLiteral("graphicData"));
    w_.writeAttribute(QStringLiteral("uri"), kPic);
    w_.writeStartElement(kPic, QStringLiteral("pic"));
    w_.writeStartElement(kPic, QStringLiteral("nvPicPr"));
    w_.writeEmptyElement(kPic, QStringLiteral("cNvPr"));
    w_.writeAttribute(QStringLiteral("id"), QStringLiteral("0"));
    w_.writeAttribute(QStringLiteral("name"), media.partName.section(u'/', -1));
    w_.writeEmptyElement(kPic, QStringLiteral("cNvPicPr"));
    w_.writeEndElement();  // nvPicPr
    w_.writeStartElement(kPic, QStringLiteral("blipFill"));
    w_.writeEmptyElement(kA, QStringLiteral("blip"));
    w_.writeAttribute(kR, QStringLiteral("embed"), media.relationshipId);
    w_.writeStartElement(kA, QStringLiteral("stretch"));
    w_.writeEmptyElement(kA, QStringLiteral("fillRect"));
    w_.writeEndElement();  // stretch
    w_.writeEndElement();  // blipFill
    w_.writeStartElement(kPic, QStringLiteral("spPr"));
    w_.writeStartElement(kA, QStringLiteral("xfrm"));
    w_.writeEmptyElement(kA, QStringLiteral("off"));
    w_.writeAttribute(QStringLiteral("x"), QStringLiteral("0"));
    w_.writeAttribute(QStringLiteral("y"), QStringLiteral("0"));
    w_.writeEmptyElement(kA, QStringLiteral("ext"));
    w_.writeAttribute(QStringLiteral("cx"), cx);
    w_.writeAttribute(QStringLiteral("cy"), cy);
    w_.writeEndElement();  // xfrm
    w_.writeStartElement(kA, QStringLiteral("prstGeom"));
    w_.writeAttribute(QStringLiteral("prst"), QStringLiteral("rect"));
    w_.writeEmptyElement(kA, QStringLiteral("avLst"));
    w_.writeEndElement();  // prstGeom
    w_.writeEndElement();  // spPr
    w_.writeEndElement();  // pic
    w_.writeEndElement();  // graphicData
    w_.writeEndElement();  // graphic
    w_.writeEndElement();  // inline
    w_.writeEndElement();  // drawing
  }

  void WriteBorder(const char* side) {
    w_.writeEmptyElement(kW, QLatin1String(side));
    WAttribute(QStringLiteral("val"), QStringLiteral("single"));
    WAttribute(QStringLiteral("sz"), QStringLiteral("4"));
    WAttribute(QStringLiteral("space"), QStringLiteral("0"));
    WAttribute(QStringLiteral("color"), QStringLiteral("auto"));
  }

  void WriteTable(const TTable& table) {
    // What most of the table's text shares is said once, in a style of the table, rather than
    // in every cell.
    const TCharFormat base = SharedFormat(table);
    w_.writeStartElement(kW, QStringLiteral("tbl"));
    w_.writeStartElement(kW, QStringLiteral("tblPr"));
    if (base != TCharFormat()) {
      tableStyles_.push_back(base);
      w_.writeEmptyElement(kW, QStringLiteral("tblStyle"));
      WAttribute(QStringLiteral("val"), TableStyleId(static_cast<int>(tableStyles_.size())));
    }
    w_.writeEmptyElement(kW, QStringLiteral("tblW"));
    WAttribute(QStringLiteral("w"), QStringLiteral("0"));
    WAttribute(QStringLiteral("type"), QStringLiteral("auto"));
    // A new table of the word processor is a grid of single lines.
    w_.writeStartElement(kW, QStringLiteral("tblBorders"));
    for (const char* side : {"top", "left", "bottom", "right", "insideH", "insideV"})
      WriteBorder(side);
    w_.writeEndElement();
    // The widths set are the widths shown.
    w_.writeEmptyElement(kW, QStringLiteral("tblLayout"));
    WAttribute(QStringLiteral("type"), QStringLiteral("fixed"));
    w_.writeEndElement();  // tblPr
    w_.writeStartElement(kW, QStringLiteral("tblGrid"));
    for (int width : table.ColumnWidths()) {
      w_.writeEmptyElement(kW, QStringLiteral("gridCol"));
      WAttribute(QStringLiteral("w"), QString::number(width));
    }
    w_.writeEndElement();
    for (int r = 0; r < table.Rows(); ++r) {
      w_.writeStartElement(kW, QStringLiteral("tr"));
      for (int c = 0; c < table.Columns(); ++c) {
        // A cell is as wide as its column of the grid.
        w_.writeStartElement(kW, QStringLiteral("tc"));
        for (const TParagraph& p : table.CellContent(r * table.Columns() + c).Paragraphs)
          WriteParagraph(p, base);
        w_.writeEndElement();  // tc
      }
      w_.writeEndElement();  // tr
    }
    w_.writeEndElement();  // tbl
  }

  // The format most of the table's text has. A font cannot be switched back to the document's
  // default inside a table whose style names one, so a font goes to the style only when all text
  // of the table has one; the mark of an empty paragraph shows nothing and takes the table's.
  static TCharFormat SharedFormat(const TTable& table) {
    const std::vector<TTable::TFormatUse> uses = table.FormatUse();
    const TTable::TFormatUse* most = nullptr;
    for (const TTable::TFormatUse& u : uses)
      if (u.Runs + u.Marks > 0 && (!most || u.Runs + u.Marks > most->Runs + most->Marks)) most = &u;
    if (!most) return {};
    TCharFormat shared = most->Format;
    for (const TTable::TFormatUse& u : uses)
      if (u.Runs + u.Marks > 0 && u.Format.FontName.isEmpty()) shared.FontName.clear();
    return shared;
  }

  QXmlStreamWriter w_;
  std::vector<Media> media_;
  std::vector<TCharFormat> tableStyles_;
  int drawingId_ = 0;
};

QByteArray StylesXml(const std::vector<TCharFormat>& tableStyles) {
  QByteArray out;
  QXmlStreamWriter w(&out);
  w.writeStartDocument(QStringLiteral("1.0"), true);
  w.writeNamespace(kW, QStringLiteral("w"));
  w.writeStartElement(kW, QStringLiteral("styles"));
  w.writeStartElement(kW, QStringLiteral("docDefaults"));
  w.writeStartElement(kW, QStringLiteral("rPrDefault"));
  w.writeStartElement(kW, QStringLiteral("rPr"));
  w.writeEmptyElement(kW, QStringLiteral("sz"));
  w.writeAttribute(kW, QStringLiteral("val"), QStringLiteral("22"));
  // Thai reads best a size larger than Latin text.
  w.writeEmptyElement(kW, QStringLiteral("szCs"));
  w.writeAttribute(kW, QStringLiteral("val"), QStringLiteral("28"));
  w.writeEmptyElement(kW, QStringLiteral("lang"));
  w.writeAttribute(kW, QStringLiteral("val"), QStringLiteral("en-US"));
  w.writeAttribute(kW, QStringLiteral("bidi"), QStringLiteral("th-TH"));
  w.writeEndElement();  // rPr
  w.writeEndElement();  // rPrDefault
  w.writeEndElement();  // docDefaults
  for (size_t i = 0; i < tableStyles.size(); ++i) {
    const QString id = TableStyleId(static_cast<int>(i) + 1);
    w.writeStartElement(kW, QStringLiteral("style"));
    w.writeAttribute(kW, QStringLiteral("type"), QStringLiteral("table"));
    w.writeAttribute(kW, QStringLiteral("customStyle"), QStringLiteral("1"));
    w.writeAttribute(kW, QStringLiteral("styleId"), id);
    w.writeEmptyElement(kW, QStringLiteral("name"));
    w.writeAttribute(kW, QStringLiteral("val"), id);
    WriteRunFormat(w, tableStyles[i], TCharFormat());
    w.writeEndElement();  // style
  }
  w.writeEndElement();  // styles
  w.writeEndDocument();
  return out;
}

QByteArray Relationships(const std::vector<std::pair<QString, QString>>& typeAndTarget,
                         const QStringList& ids) {
  QByteArray out;
  QXmlStreamWriter w(&out);
  w.writeStartDocument(QStringLiteral("1.0"), true);
  w.writeDefaultNamespace(kRelationships);
  w.writeStartElement(kRelationships, QStringLiteral("Relationships"));
  for (size_t i = 0; i < typeAndTarget.size(); ++i) {
    w.writeEmptyElement(kRelationships, QStringLiteral("Relationship"));
    w.writeAttribute(QStringLiteral("Id"), ids[static_cast<qsizetype>(i)]);
    w.writeAttribute(QStringLiteral("Type"), kRelationshipBase + typeAndTarget[i].first);
    w.writeAttribute(QStringLiteral("Target"), typeAndTarget[i].second);
  }
  w.writeEndElement();
  w.writeEndDocument();
  return out;
}

QByteArray ContentTypes(const QStringList& imageExtensions) {
  const QString ns = QStringLiteral("http://schemas.openxmlformats.org/package/2006/content-types");
  QByteArray out;
  QXmlStreamWriter w(&out);
  w.writeStartDocument(QStringLiteral("1.0"), true);
  w.writeDefaultNamespace(ns);
  w.writeStartElement(ns, QStringLiteral("Types"));
  const auto byDefault = [&](const QString& extension, const QString& type) {
    w.writeEmptyElement(ns, QStringLiteral("Default"));
    w.writeAttribute(QStringLiteral("Extension"), extension);
    w.writeAttribute(QStringLiteral("ContentType"), type);
  };
  byDefault(QStringLiteral("rels"),
            QStringLiteral("application/vnd.openxmlformats-package.relationships+xml"));
  byDefault(QStringLiteral("xml"), QStringLiteral("application/xml"));
  for (const QString& extension : imageExtensions)
    byDefault(extension, ImageContentType(extension));
  const auto part = [&](const QString& name, const QString& type) {
    w.writeEmptyElement(ns, QStringLiteral("Override"));
    w.writeAttribute(QStringLiteral("PartName"), name);
    w.writeAttribute(QStringLiteral("ContentType"), type);
  };
  part(QStringLiteral("/word/document.xml"),
       QStringLiteral(
           "application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml"));
  part(QStringLiteral("/word/styles.xml"),
       QStringLiteral("application/vnd.openxmlformats-officedocument.wordprocessingml.styles+xml"));
  w.writeEndElement();
  w.writeEndDocument();
  return out;
}

// An archive written to a file by libzip, which writes it under a temporary name beside the
// file and gives it the file's name only when it is complete. Every part added stays alive (in
// memory, or in its own file for the large document part) until the archive is closed.
class ZipBuilder {
 public:
  explicit ZipBuilder(const QString& fileName) : fileName_(fileName) {
    zip_error_init(&error_);
    int code = 0;
    archive_ = zip_open(QFile::encodeName(fileName).constData(), ZIP_CREATE | ZIP_TRUNCATE, &code);
    if (!archive_) {
      zip_error_set(&error_, code, errno);
      Failed(&error_);
    }
  }
  ~ZipBuilder() {
    if (archive_) zip_discard(archive_);
    zip_error_fini(&error_);
  }
  ZipBuilder(const ZipBuilder&) = delete;
  ZipBuilder& operator=(const ZipBuilder&) = delete;

  void Add(const QString& name, QByteArray data) {
    parts_.push_back(std::move(data));
    const QByteArray& held = parts_.back();
    AddSource(name, zip_source_buffer(archive_, held.constData(),
                                      static_cast<zip_uint64_t>(held.size()), 0));
  }

  // The part's bytes are read from the file when the archive is written.
  void AddFile(const QString& name, const QString& file) {
    AddSource(name, zip_source_file(archive_, QFile::encodeName(file).constData(), 0, -1));
  }

  void Finish() {
    if (zip_close(archive_) < 0) Failed(zip_get_error(archive_));
    archive_ = nullptr;
  }

 private:
  void AddSource(const QString& name, zip_source_t* part) {
    if (!part) Failed(zip_get_error(archive_));
    const zip_int64_t index = zip_file_add(archive_, name.toUtf8().constData(), part,
                                           ZIP_FL_OVERWRITE | ZIP_FL_ENC_UTF_8);
    if (index < 0) {
      zip_source_free(part);
      Failed(zip_get_error(archive_));
    }
    // Unpacked on Unix, a part would otherwise get the mode of wherever its bytes came from
    // (0600 from a temporary file) or none at all (0666): a document's parts are the owner's
    // to change and everyone's to read.
    constexpr zip_uint32_t kRegularFile0644 = (0100000u | 0644u) << 16;
    if (zip_file_set_external_attributes(archive_, static_cast<zip_uint64_t>(index), 0,
                                         ZIP_OPSYS_UNIX, kRegularFile0644) < 0)
      Failed(zip_get_error(archive_));
  }

  [[noreturn]] void Failed(zip_error_t* error) const {
    throw FileError(FileAction::Write, fileName_,
                    QString::fromLocal8Bit(zip_error_strerror(error)));
  }

  QString fileName_;
  zip_error_t error_;
  zip_t* archive_ = nullptr;
  std::list<QByteArray> parts_;
};

// The parts of the package beside the document part, which is written on its own.
void AddPackageParts(ZipBuilder& zip, const DocumentXml& xml) {
  QStringList imageExtensions;
  std::vector<std::pair<QString, QString>> relations = {
      {QStringLiteral("styles"), QStringLiteral("styles.xml")}};
  QStringList ids = {QStringLiteral("rIdStyles")};
  for (const Media& m : xml.Pictures()) {
    const QString extension = m.partName.section(u'.', -1);
    if (!imageExtensions.contains(extension)) imageExtensions << extension;
    relations.emplace_back(QStringLiteral("image"), m.partName);
    ids << m.relationshipId;
  }
  zip.Add(QStringLiteral("[Content_Types].xml"), ContentTypes(imageExtensions));
  zip.Add(QStringLiteral("_rels/.rels"),
          Relationships({{QStringLiteral("officeDocument"), QStringLiteral("word/document.xml")}},
                        {QStringLiteral("rId1")}));
  zip.Add(QStringLiteral("word/styles.xml"), StylesXml(xml.TableStyles()));
  zip.Add(QStringLiteral("word/_rels/document.xml.rels"), Relationships(relations, ids));
  for (const Media& m : xml.Pictures())
    zip.Add(QStringLiteral("word/") + m.partName, m.picture->Data);
}

// Copies the bytes of `from` into the file `to`, which keeps its identity when it exists.
void CopyInto(const QString& from, const QString& to) {
  QFile source(from);
  if (!source.open(QIODevice::ReadOnly))
    throw FileError(FileAction::Read, from, source.errorString());
  QFile target(to);
  if (!target.open(QIODevice::WriteOnly | QIODevice::Truncate))
    throw FileError(FileAction::Write, to, target.errorString());
  QByteArray chunk;
  while (!(chunk = source.read(1 << 20)).isEmpty())
    if (target.write(chunk) != chunk.size())
      throw FileError(FileAction::Write, to, target.errorString());
  if (source.error() != QFileDevice::NoError)
    throw FileError(FileAction::Read, from, source.errorString());
  if (!target.flush()) throw FileError(FileAction::Write, to, target.errorString());
}

}  // namespace

QString XmlSafeText(QStringView text) {
  QString safe;
  safe.reserve(text.size());
  for (qsizetype i = 0; i < text.size(); ++i) {
    const char16_t c = text[i].unicode();
    if (QChar::isHighSurrogate(c)) {
      if (i + 1 < text.size() && QChar::isLowSurrogate(text[i + 1].unicode())) {
        safe += text[i];
        safe += text[i + 1];
        ++i;
      }
      continue;
    }
    if (QChar::isLowSurrogate(c)) continue;
    if (c < 0x20 && c != 0x09 && c != 0x0A && c != 0x0D) continue;
    if (c == 0xFFFE || c == 0xFFFF) continue;
    safe += text[i];
  }
  return safe;
}

QByteArray WriteDocx(const TDocument& document) {
  QTemporaryDir dir;
  if (!dir.isValid())
    throw EInOutError(
        QStringLiteral("Cannot create a temporary folder. %1").arg(dir.errorString()));
  const QString file = dir.filePath(QStringLiteral("document.docx"));
  SaveDocx(document, file);
  QFile package(file);
  if (!package.open(QIODevice::ReadOnly))
    throw FileError(FileAction::Open, file, package.errorString());
  return package.readAll();
}

void SaveDocx(const TDocument& document, const QString& fileName) {
  // The document part grows with the table: it goes to a file of its own, from which the
  // archive compresses it, rather than into memory whole. It is a partial file of the temporary
  // folder, never published: a run killed while it writes leaves it to the next run to remove.
  // Its errors name the document the user asked for: the part is only a step towards it.
  TPartialFile part(QDir::temp().filePath(QStringLiteral("qavdoc.xml")));
  QFile partFile;
  try {
    part.Create();
  } catch (const EInOutError& e) {
    throw FileError(FileAction::Write, fileName, e.Message());
  }
  if (!partFile.open(part.Handle(), QIODevice::WriteOnly, QFileDevice::DontCloseHandle))
    throw FileError(FileAction::Write, fileName, partFile.errorString());
  DocumentXml xml(&partFile);
  xml.Write(document);
  if (!partFile.flush() || partFile.error() != QFileDevice::NoError)
    throw FileError(FileAction::Write, fileName, partFile.errorString());

  // libzip writes an archive under a name of its own and renames it over the name it was given,
  // so the file of that name would become another file: an export that holds the file it
  // created (and its lock) would lose its work. The archive is built beside the file and its
  // bytes copied in.
  const QString archive = fileName + QStringLiteral(".zip");
  platform::TrackTemporaryFile(archive);
  const struct Remove {
    QString name;
    ~Remove() {
      QFile::remove(name);
      platform::ForgetTemporaryFile(name);
    }
  } remove{archive};
  ZipBuilder zip(archive);
  AddPackageParts(zip, xml);
  zip.AddFile(QStringLiteral("word/document.xml"), part.Path());
  zip.Finish();
  CopyInto(archive, fileName);
}

}  // namespace qav::docx
