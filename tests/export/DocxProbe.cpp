#include "tests/export/DocxProbe.h"

#include <zip.h>
#include <QFile>
#include <QHash>
#include <QStringList>
#include <QXmlStreamReader>

namespace qav::test {

namespace {

QString Attribute(const QXmlStreamReader& r, QStringView name) {
  for (const QXmlStreamAttribute& a : r.attributes())
    if (a.name() == name) return a.value().toString();
  return {};
}

bool Toggle(const QXmlStreamReader& r) {
  const QString v = Attribute(r, u"val");
  return v.isEmpty() || v == u"1" || v == u"true" || v == u"on";
}

// One element of run properties; "none", "auto" and an off toggle undo what a style set.
void ApplyRunProperty(InspectedRun& run, const QXmlStreamReader& r) {
  const QStringView k = r.name();
  const QString v = Attribute(r, u"val");
  const QString value = v == u"none" || v == u"auto" ? QString() : v;
  if (k == u"b") run.Bold = Toggle(r);
  if (k == u"i") run.Italic = Toggle(r);
  if (k == u"u") run.Underline = value;
  if (k == u"color") run.Color = value;
  if (k == u"highlight") run.Highlight = value;
  if (k == u"rFonts") run.Font = Attribute(r, u"ascii");
}

// The run properties of the table styles in a styles part, by style id (no bases: the
// program's own styles stand alone).
QHash<QString, InspectedRun> TableStyles(const QByteArray& xml) {
  QHash<QString, InspectedRun> styles;
  QXmlStreamReader r(xml);
  QString id;
  bool inRunProperties = false;
  while (!r.atEnd()) {
    const auto token = r.readNext();
    if (token == QXmlStreamReader::EndElement && r.name() == u"rPr") inRunProperties = false;
    if (token != QXmlStreamReader::StartElement) continue;
    if (r.name() == u"style")
      id = Attribute(r, u"type") == u"table" ? Attribute(r, u"styleId") : QString();
    else if (r.name() == u"rPr" && !id.isEmpty())
      inRunProperties = true;
    else if (inRunProperties)
      ApplyRunProperty(styles[id], r);
  }
  return styles;
}

class Parser {
 public:
  Parser(const QByteArray& xml, QHash<QString, InspectedRun> tableStyles)
      : r_(xml), tableStyles_(std::move(tableStyles)) {}

  InspectedDocument Run() {
    InspectedDocument doc;
    while (!r_.atEnd()) {
      if (r_.readNext() == QXmlStreamReader::StartElement && r_.name() == u"body") {
        ReadBody(doc.Body);
        break;
      }
    }
    // Read to the end so that a fault after the body shows too.
    while (!r_.atEnd()) r_.readNext();
    doc.WellFormed = !r_.hasError();
    doc.Error = r_.errorString();
    return doc;
  }

 private:
  void ReadBody(std::vector<InspectedBlock>& body) {
    while (r_.readNextStartElement()) {
      InspectedBlock block;
      if (r_.name() == u"p") {
        block.Paragraph = ReadParagraph();
      } else if (r_.name() == u"tbl") {
        block.IsTable = true;
        block.Table = ReadTable();
      } else {
        r_.skipCurrentElement();
        continue;
      }
      body.push_back(std::move(block));
    }
  }

  InspectedParagraph ReadParagraph() {
    InspectedParagraph p;
    while (r_.readNextStartElement()) {
      if (r_.name() == u"pPr") {
        while (r_.readNextStartElement()) {
          if (r_.name() == u"jc") p.Alignment = Attribute(r_, u"val");
          r_.skipCurrentElement();
        }
      } else if (r_.name() == u"r") {
        p.Runs.push_back(ReadRun());
      } else {
        r_.skipCurrentElement();
      }
    }
    return p;
  }

  InspectedRun ReadRun() {
    InspectedRun run = tableStyle_;
    while (r_.readNextStartElement()) {
      const QStringView n = r_.name();
      if (n == u"rPr") {
        while (r_.readNextStartElement()) {
          ApplyRunProperty(run, r_);
          r_.skipCurrentElement();
        }
      } else if (n == u"t") {
        run.Text += r_.readElementText();
      } else if (n == u"tab") {
        run.Text += u'\t';
        r_.skipCurrentElement();
      } else if (n == u"drawing") {
        for (int depth = 1; depth > 0;) {
          const auto token = r_.readNext();
          if (token == QXmlStreamReader::StartElement) {
            ++depth;
            if (r_.name() == u"blip") run.PictureId = Attribute(r_, u"embed");
          } else if (token == QXmlStreamReader::EndElement) {
            --depth;
          } else if (r_.atEnd()) {
            break;
          }
        }
      } else {
        r_.skipCurrentElement();
      }
    }
    return run;
  }

  InspectedTable ReadTable() {
    InspectedTable table;
    tableStyle_ = {};
    while (r_.readNextStartElement()) {
      if (r_.name() == u"tblPr") {
        while (r_.readNextStartElement()) {
          if (r_.name() == u"tblStyle") tableStyle_ = tableStyles_.value(Attribute(r_, u"val"));
          r_.skipCurrentElement();
        }
      } else if (r_.name() == u"tblGrid") {
        while (r_.readNextStartElement()) {
          table.GridColumns.push_back(Attribute(r_, u"w").toInt());
          r_.skipCurrentElement();
        }
      } else if (r_.name() == u"tr") {
        std::vector<InspectedCell> row;
        while (r_.readNextStartElement()) {
          if (r_.name() != u"tc") {
            r_.skipCurrentElement();
            continue;
          }
          InspectedCell cell;
          while (r_.readNextStartElement()) {
            if (r_.name() == u"p") {
              cell.Paragraphs.push_back(ReadParagraph());
            } else {
              r_.skipCurrentElement();
            }
          }
          row.push_back(std::move(cell));
        }
        table.Rows.push_back(std::move(row));
      } else {
        r_.skipCurrentElement();
      }
    }
    tableStyle_ = {};
    return table;
  }

  QXmlStreamReader r_;
  QHash<QString, InspectedRun> tableStyles_;
  InspectedRun tableStyle_;  // of the table being read
};

}  // namespace

QByteArray ZipPart(const QString& fileName, const QString& partName) {
  int error = 0;
  zip_t* archive = zip_open(QFile::encodeName(fileName).constData(), ZIP_RDONLY, &error);
  if (!archive) return {};
  QByteArray data;
  zip_stat_t stat;
  zip_stat_init(&stat);
  if (zip_stat(archive, partName.toUtf8().constData(), 0, &stat) == 0) {
    if (zip_file_t* file = zip_fopen(archive, partName.toUtf8().constData(), 0)) {
      data.resize(static_cast<qsizetype>(stat.size));
      const zip_int64_t got = zip_fread(file, data.data(), stat.size);
      data.truncate(got < 0 ? 0 : static_cast<qsizetype>(got));
      zip_fclose(file);
    }
  }
  zip_discard(archive);
  return data;
}

QString InspectedParagraph::Text() const {
  QString text;
  for (const InspectedRun& run : Runs) text += run.Text;
  return text;
}

QString InspectedCell::Text() const {
  QStringList texts;
  for (const InspectedParagraph& p : Paragraphs) texts << p.Text();
  return texts.join(u'\n');
}

const InspectedTable* InspectedDocument::FirstTable() const {
  for (const InspectedBlock& block : Body)
    if (block.IsTable) return &block.Table;
  return nullptr;
}

std::vector<QString> InspectedDocument::ParagraphTexts() const {
  std::vector<QString> texts;
  for (const InspectedBlock& block : Body)
    if (!block.IsTable) texts.push_back(block.Paragraph.Text());
  return texts;
}

InspectedDocument InspectDocx(const QString& fileName) {
  const QByteArray xml = ZipPart(fileName, QStringLiteral("word/document.xml"));
  if (xml.isEmpty()) {
    InspectedDocument doc;
    doc.Error = QStringLiteral("no word/document.xml in ") + fileName;
    return doc;
  }
  InspectedDocument doc =
      Parser(xml, TableStyles(ZipPart(fileName, QStringLiteral("word/styles.xml")))).Run();
  doc.Xml = xml;
  return doc;
}

}  // namespace qav::test
