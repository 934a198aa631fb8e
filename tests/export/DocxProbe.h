#pragma once

#include <QByteArray>
#include <QString>
#include <vector>

namespace qav::test {

// A saved word-processing document taken apart with nothing of the program's own reader: the
// zip through libzip, the body through a plain XML reader.

// The part's bytes; empty when the file is no zip or lacks the part.
QByteArray ZipPart(const QString& fileName, const QString& partName);

struct InspectedRun {
  QString Text;
  bool Bold = false;
  bool Italic = false;
  QString Underline;  // w:u value
  QString Color;      // w:color value
  QString Highlight;  // w:highlight value
  QString Font;       // w:rFonts ascii
  QString PictureId;  // r:embed of a drawing
};

struct InspectedParagraph {
  QString Alignment;  // w:jc value, empty when none
  std::vector<InspectedRun> Runs;

  QString Text() const;
};

struct InspectedCell {
  std::vector<InspectedParagraph> Paragraphs;

  QString Text() const;  // paragraphs joined by "\n"
};

struct InspectedTable {
  std::vector<int> GridColumns;
  std::vector<std::vector<InspectedCell>> Rows;
};

// The body in order: a paragraph or a table each.
struct InspectedBlock {
  bool IsTable = false;
  InspectedParagraph Paragraph;
  InspectedTable Table;
};

struct InspectedDocument {
  bool WellFormed = false;
  QString Error;
  std::vector<InspectedBlock> Body;
  QByteArray Xml;

  const InspectedTable* FirstTable() const;
  // The paragraphs outside tables, by their text.
  std::vector<QString> ParagraphTexts() const;
};

InspectedDocument InspectDocx(const QString& fileName);

}  // namespace qav::test
