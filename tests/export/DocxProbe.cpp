#include "tests/export/DocxProbe.h"

#include <zip.h>
#include <QFile>
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

class Parser {
 public:
  explicit Parser(const QByteArray& xml) : r_(xml) {}

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
    InspectedRun run;
    while (r_.readNextStartElement()) {
      const QStringView n = r_.name();
      if (n == u"rPr") {
        while (r_.readNextStartElement()) {
          const QStringView k = r_.name();
          if (k == u"b") run.Bold = Toggle(r_);
          if (k == u"i") run.Italic = Toggle(r_);
          if (k == u"u") run.Underline = Attribute(r_, u"val");
          if (k == u"color") run.Color = Attribute(r_, u"val");
          if (k == u"highlight") run.Highlight = Attribute(r_, u"val");
          if (k == u"rFonts") run.Font = Attribute(r_, u"ascii");
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
    while (r_.readNextStartElement()) {
      if (r_.name() == u"tblGrid") {
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
            } else if (r_.name() == u"tcPr") {
              while (r_.readNextStartElement()) {
                if (r_.name() == u"tcW") cell.Width = Attribute(r_, u"w").toInt();
                r_.skipCurrentElement();
              }
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
    return table;
  }

  QXmlStreamReader r_;
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
  InspectedDocument doc = Parser(xml).Run();
  doc.Xml = xml;
  return doc;
}

}  // namespace qav::test
