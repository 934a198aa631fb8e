#include "automation/DocxReader.h"

#include "core/FileError.h"

#include "core/Exception.h"

#include <zip.h>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QXmlStreamReader>
#include <functional>

namespace qav::docx {

namespace {

// The parts of a package read from memory.
class ZipReader {
 public:
  ZipReader(const QByteArray& bytes, const QString& name) : bytes_(bytes) {
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_buffer_create(
        bytes_.constData(), static_cast<zip_uint64_t>(bytes_.size()), 0, &error);
    if (source) {
      archive_ = zip_open_from_source(source, ZIP_RDONLY, &error);
      if (!archive_) zip_source_free(source);
    }
    if (!archive_) {
      const QString reason = QString::fromLocal8Bit(zip_error_strerror(&error));
      zip_error_fini(&error);
      throw EInOutError(QStringLiteral("The file %1 is not a document package: %2")
                            .arg(QDir::toNativeSeparators(name), reason));
    }
    zip_error_fini(&error);
  }
  ~ZipReader() {
    if (archive_) zip_discard(archive_);
  }
  ZipReader(const ZipReader&) = delete;
  ZipReader& operator=(const ZipReader&) = delete;

  // Empty when the part is missing; part names in a package are case-insensitive.
  QByteArray Part(const QString& name) const {
    const zip_int64_t index = zip_name_locate(archive_, name.toUtf8().constData(), ZIP_FL_NOCASE);
    if (index < 0) return {};
    zip_stat_t stat;
    zip_stat_init(&stat);
    if (zip_stat_index(archive_, static_cast<zip_uint64_t>(index), 0, &stat) < 0) return {};
    zip_file_t* file = zip_fopen_index(archive_, static_cast<zip_uint64_t>(index), 0);
    if (!file) return {};
    QByteArray data(static_cast<qsizetype>(stat.size), Qt::Uninitialized);
    const zip_int64_t got = zip_fread(file, data.data(), stat.size);
    zip_fclose(file);
    if (got < 0) return {};
    data.truncate(static_cast<qsizetype>(got));
    return data;
  }

 private:
  QByteArray bytes_;
  zip_t* archive_ = nullptr;
};

// An attribute by its local name, whatever prefix the package gave its namespace.
QStringView Attr(const QXmlStreamAttributes& attributes, QStringView name) {
  for (const QXmlStreamAttribute& a : attributes)
    if (a.name() == name) return a.value();
  return {};
}

// Id -> target of a relationships part, targets resolved against the folder of the part they
// belong to.
QHash<QString, QString> ReadRelationships(const QByteArray& xml, const QString& folder) {
  QHash<QString, QString> targets;
  QXmlStreamReader r(xml);
  while (!r.atEnd()) {
    if (r.readNext() != QXmlStreamReader::StartElement || r.name() != u"Relationship") continue;
    const auto a = r.attributes();
    if (Attr(a, u"TargetMode") == u"External") continue;
    QString target = Attr(a, u"Target").toString();
    if (target.startsWith(u'/'))
      target = target.mid(1);
    else if (!folder.isEmpty())
      target = QDir::cleanPath(folder + u'/' + target);
    targets.insert(Attr(a, u"Id").toString(), target);
    // The type tells which part is the main document.
    if (Attr(a, u"Type").endsWith(u"/officeDocument"))
      targets.insert(QStringLiteral("#main"), target);
    if (Attr(a, u"Type").endsWith(u"/styles")) targets.insert(QStringLiteral("#styles"), target);
  }
  return targets;
}

bool OnOff(const QXmlStreamAttributes& a) {
  const QStringView v = Attr(a, u"val");
  return v.isEmpty() || !(v == u"0" || v == u"false" || v == u"off");
}

int UnderlineValue(QStringView name) {
  static const QHash<QString, int> values = {
      {QStringLiteral("none"), 0},        {QStringLiteral("single"), 1},
      {QStringLiteral("words"), 2},       {QStringLiteral("double"), 3},
      {QStringLiteral("dotted"), 4},      {QStringLiteral("thick"), 6},
      {QStringLiteral("dash"), 7},        {QStringLiteral("dotDash"), 9},
      {QStringLiteral("dotDotDash"), 10}, {QStringLiteral("wave"), 11},
  };
  return values.value(name.toString(), 1);
}

int AlignmentValue(QStringView name) {
  if (name == u"center") return paCenter;
  if (name == u"right" || name == u"end") return paRight;
  if (name == u"both" || name == u"distribute") return paJustify;
  return paLeft;
}

// One element of run properties applied to the properties the text has so far.
void ApplyProperty(TCharFormat& f, QStringView n, const QXmlStreamAttributes& a) {
  if (n == u"b") {
    f.Bold = OnOff(a);
  } else if (n == u"i") {
    f.Italic = OnOff(a);
  } else if (n == u"u") {
    f.Underline = UnderlineValue(Attr(a, u"val"));
  } else if (n == u"color") {
    const QString v = Attr(a, u"val").toString().toUpper();
    f.Color = v == u"AUTO" ? QString() : v;
  } else if (n == u"highlight") {
    f.Highlight = HighlightIndex(Attr(a, u"val").toString());
  } else if (n == u"rFonts") {
    for (const char16_t* slot : {u"ascii", u"hAnsi", u"cs", u"eastAsia"}) {
      if (!Attr(a, slot).isEmpty()) {
        f.FontName = Attr(a, slot).toString();
        break;
      }
    }
  }
}

// The run properties of the table styles of a styles part, by style id; a style based on
// another starts from that one's.
QHash<QString, TCharFormat> ReadTableStyles(const QByteArray& xml) {
  struct Style {
    QString basedOn;
    std::vector<std::pair<QString, QXmlStreamAttributes>> properties;
  };
  QHash<QString, Style> found;
  QXmlStreamReader r(xml);
  while (!r.atEnd()) {
    if (r.readNext() != QXmlStreamReader::StartElement || r.name() != u"style") continue;
    if (Attr(r.attributes(), u"type") != u"table") continue;
    const QString id = Attr(r.attributes(), u"styleId").toString();
    Style style;
    while (r.readNextStartElement()) {
      if (r.name() == u"basedOn") {
        style.basedOn = Attr(r.attributes(), u"val").toString();
      } else if (r.name() == u"rPr") {
        while (r.readNextStartElement()) {
          style.properties.emplace_back(r.name().toString(), r.attributes());
          r.skipCurrentElement();
        }
        continue;
      }
      r.skipCurrentElement();
    }
    found.insert(id, std::move(style));
  }
  QHash<QString, TCharFormat> formats;
  // A chain of bases ends after as many styles as there are, whatever loops it has.
  const std::function<TCharFormat(const QString&, qsizetype)> resolve =
      [&](const QString& id, qsizetype depth) -> TCharFormat {
    if (const auto known = formats.constFind(id); known != formats.cend()) return *known;
    const auto it = found.constFind(id);
    if (it == found.cend() || depth > found.size()) return {};
    TCharFormat format = it->basedOn.isEmpty() ? TCharFormat() : resolve(it->basedOn, depth + 1);
    for (const auto& [name, attributes] : it->properties) ApplyProperty(format, name, attributes);
    formats.insert(id, format);
    return format;
  };
  for (auto it = found.cbegin(); it != found.cend(); ++it) resolve(it.key(), 0);
  return formats;
}

class BodyReader {
 public:
  BodyReader(const QByteArray& xml, const ZipReader& zip, QHash<QString, QString> relations,
             QHash<QString, TCharFormat> tableStyles, QString name)
      : r_(xml),
        zip_(zip),
        relations_(std::move(relations)),
        tableStyles_(std::move(tableStyles)),
        name_(std::move(name)) {}

  std::vector<TBlock> Read() {
    std::vector<TBlock> blocks;
    while (r_.readNextStartElement()) {
      if (r_.name() == u"document") continue;  // into it
      if (r_.name() == u"body") {
        ReadBlocks(blocks);
        break;
      }
      r_.skipCurrentElement();
    }
    if (r_.hasError())
      throw EInOutError(QStringLiteral("The document %1 cannot be read: %2")
                            .arg(QDir::toNativeSeparators(name_), r_.errorString()));
    return blocks;
  }

 private:
  // The children of the current element that are paragraphs or tables.
  void ReadBlocks(std::vector<TBlock>& blocks) {
    while (r_.readNextStartElement()) {
      const QStringView n = r_.name();
      if (n == u"p") {
        blocks.emplace_back(ReadParagraph());
      } else if (n == u"tbl") {
        if (auto table = ReadTable()) blocks.emplace_back(std::move(table));
      } else if (n == u"sdt" || n == u"sdtContent" || n == u"customXml") {
        ReadBlocks(blocks);
      } else {
        r_.skipCurrentElement();
      }
    }
  }

  // The reader stands on an rPr element; base is what the text has without it.
  TCharFormat ReadFormat(TCharFormat base) {
    while (r_.readNextStartElement()) {
      ApplyProperty(base, r_.name(), r_.attributes());
      r_.skipCurrentElement();
    }
    return base;
  }

  TParagraph ReadParagraph() {
    TParagraph p;
    p.MarkFormat = base_;
    ReadInline(p);
    return p;
  }

  // Runs and the elements that hold runs (hyperlinks, fields, insertions, content controls).
  void ReadInline(TParagraph& p) {
    while (r_.readNextStartElement()) {
      const QStringView n = r_.name();
      if (n == u"pPr") {
        while (r_.readNextStartElement()) {
          if (r_.name() == u"jc") p.Alignment = AlignmentValue(Attr(r_.attributes(), u"val"));
          if (r_.name() == u"rPr") {
            p.MarkFormat = ReadFormat(base_);
            continue;
          }
          r_.skipCurrentElement();
        }
      } else if (n == u"r") {
        ReadRun(p);
      } else if (n == u"hyperlink" || n == u"smartTag" || n == u"ins" || n == u"fldSimple" ||
                 n == u"sdt" || n == u"sdtContent" || n == u"customXml") {
        ReadInline(p);
      } else {
        r_.skipCurrentElement();
      }
    }
  }

  void ReadRun(TParagraph& p) {
    TCharFormat format = base_;
    QString text;
    const auto flush = [&] {
      if (text.isEmpty()) return;
      p.Runs.push_back({text, nullptr, format});
      text.clear();
    };
    while (r_.readNextStartElement()) {
      const QStringView n = r_.name();
      if (n == u"rPr") {
        format = ReadFormat(base_);
      } else if (n == u"t") {
        text += r_.readElementText();
      } else if (n == u"tab") {
        text += u'\t';
        r_.skipCurrentElement();
      } else if (n == u"br" || n == u"cr") {
        text += Attr(r_.attributes(), u"type") == u"page" ? u'\f' : u'\v';
        r_.skipCurrentElement();
      } else if (n == u"noBreakHyphen") {
        text += u'-';
        r_.skipCurrentElement();
      } else if (n == u"drawing") {
        if (auto picture = ReadDrawing()) {
          flush();
          p.Runs.push_back({QString(), std::move(picture), format});
        }
      } else {
        r_.skipCurrentElement();
      }
    }
    flush();
  }

  std::shared_ptr<const TPicture> ReadDrawing() {
    qint64 cx = 0;
    qint64 cy = 0;
    QString embed;
    for (int depth = 1; depth > 0 && !r_.atEnd();) {
      const auto token = r_.readNext();
      if (token == QXmlStreamReader::EndElement) {
        --depth;
        continue;
      }
      if (token != QXmlStreamReader::StartElement) continue;
      ++depth;
      const auto a = r_.attributes();
      if (r_.name() == u"extent" && cx == 0) {
        cx = Attr(a, u"cx").toLongLong();
        cy = Attr(a, u"cy").toLongLong();
      } else if (r_.name() == u"blip" && embed.isEmpty()) {
        embed = Attr(a, u"embed").toString();
      }
    }
    const QString target = relations_.value(embed);
    if (target.isEmpty()) return nullptr;
    auto picture = std::make_shared<TPicture>();
    picture->Data = zip_.Part(target);
    if (picture->Data.isEmpty()) return nullptr;
    picture->Extension = target.section(u'.', -1).toLower();
    picture->WidthEmu = cx;
    picture->HeightEmu = cy;
    return picture;
  }

  // A cell's paragraphs; a table inside it gives up its paragraphs to the cell.
  void ReadCellContent(std::vector<TParagraph>& paragraphs) {
    while (r_.readNextStartElement()) {
      const QStringView n = r_.name();
      if (n == u"p") {
        paragraphs.push_back(ReadParagraph());
      } else if (n == u"tbl" || n == u"tr" || n == u"tc" || n == u"sdt" || n == u"sdtContent" ||
                 n == u"customXml") {
        ReadCellContent(paragraphs);
      } else {
        r_.skipCurrentElement();
      }
    }
  }

  std::shared_ptr<TTable> ReadTable() {
    std::vector<int> widths;
    std::vector<std::vector<TTableCell>> rows;
    // The text of the table starts from the properties of its style.
    struct Restore {
      TCharFormat& base;
      TCharFormat saved;
      ~Restore() { base = saved; }
    } restore{base_, base_};
    while (r_.readNextStartElement()) {
      const QStringView n = r_.name();
      if (n == u"tblPr") {
        while (r_.readNextStartElement()) {
          if (r_.name() == u"tblStyle")
            base_ = tableStyles_.value(Attr(r_.attributes(), u"val").toString());
          r_.skipCurrentElement();
        }
      } else if (n == u"tblGrid") {
        while (r_.readNextStartElement()) {
          if (r_.name() == u"gridCol") {
            bool ok = false;
            const int w = Attr(r_.attributes(), u"w").toInt(&ok);
            widths.push_back(ok && w > 0 ? w : 0);
          }
          r_.skipCurrentElement();
        }
      } else if (n == u"tr") {
        std::vector<TTableCell> row;
        while (r_.readNextStartElement()) {
          if (r_.name() != u"tc") {
            r_.skipCurrentElement();
            continue;
          }
          TTableCell cell;
          cell.Paragraphs.clear();
          ReadCellContent(cell.Paragraphs);
          if (cell.Paragraphs.empty()) cell.Paragraphs.emplace_back();
          row.push_back(std::move(cell));
        }
        rows.push_back(std::move(row));
      } else {
        r_.skipCurrentElement();
      }
    }
    size_t columns = widths.size();
    for (const auto& row : rows) columns = std::max(columns, row.size());
    if (rows.empty() || columns == 0) return nullptr;
    // Rows with merged or missing cells are padded to a rectangle.
    std::vector<TTableCell> cells;
    cells.reserve(rows.size() * columns);
    for (auto& row : rows) {
      row.resize(columns);
      for (TTableCell& cell : row) cells.push_back(std::move(cell));
    }
    for (int& w : widths)
      if (w == 0) w = TDocument::kTextWidthTwips / static_cast<int>(columns);
    return TTable::FromCells(static_cast<int>(rows.size()), static_cast<int>(columns),
                             std::move(cells), std::move(widths));
  }

  QXmlStreamReader r_;
  const ZipReader& zip_;
  QHash<QString, QString> relations_;
  QHash<QString, TCharFormat> tableStyles_;
  TCharFormat base_;  // of the table being read
  QString name_;
};

}  // namespace

std::vector<TBlock> ReadDocx(const QByteArray& package, const QString& nameForMessages) {
  const ZipReader zip(package, nameForMessages);
  const QHash<QString, QString> root =
      ReadRelationships(zip.Part(QStringLiteral("_rels/.rels")), {});
  const QString main = root.value(QStringLiteral("#main"), QStringLiteral("word/document.xml"));
  const QByteArray xml = zip.Part(main);
  if (xml.isEmpty())
    throw EInOutError(QStringLiteral("The file %1 holds no word-processing document.")
                          .arg(QDir::toNativeSeparators(nameForMessages)));
  const QString folder = main.contains(u'/') ? main.section(u'/', 0, -2) : QString();
  const QString file = main.section(u'/', -1);
  const QString relsName = (folder.isEmpty() ? QString() : folder + u'/') +
                           QStringLiteral("_rels/") + file + QStringLiteral(".rels");
  const QHash<QString, QString> relations = ReadRelationships(zip.Part(relsName), folder);
  // The styles part is the one the document's relationships name, by its type.
  QString styles = relations.value(QStringLiteral("#styles"));
  if (styles.isEmpty())
    styles = (folder.isEmpty() ? QString() : folder + u'/') + QStringLiteral("styles.xml");
  BodyReader reader(xml, zip, relations, ReadTableStyles(zip.Part(styles)), nameForMessages);
  return reader.Read();
}

std::vector<TBlock> LoadDocx(const QString& fileName) {
  QFile file(fileName);
  if (!file.open(QIODevice::ReadOnly))
    throw FileError(FileAction::Open, fileName, file.errorString());
  return ReadDocx(file.readAll(), fileName);
}

}  // namespace qav::docx
