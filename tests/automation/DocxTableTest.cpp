// The document model's tables keep plain cells packed between edits: what the cells hold must
// not change by being packed, rewritten, or moved when the table's text store is collected.
#include "automation/DocxDocument.h"

#include <gtest/gtest.h>

namespace qav::docx {
namespace {

class DocxTable : public ::testing::Test {
 protected:
  void SetUp() override {
    table_ = doc_.AddTable(doc_.Length() - 1, 2, 3);
    texts_.resize(static_cast<size_t>(table_->CellCount()));
  }

  int CellStart(int index) { return doc_.TableStart(table_.get()) + table_->CellStart(index); }

  // Replaces the text of a one-paragraph cell, as a client of the server would in two calls.
  void Rewrite(int index, const QString& text) {
    const int start = CellStart(index);
    doc_.ClearText(start, start + static_cast<int>(texts_[static_cast<size_t>(index)].size()));
    doc_.Compact();
    doc_.InsertText(start, text);
    doc_.Compact();
    texts_[static_cast<size_t>(index)] = text;
  }

  QString Expected() const {
    QString text;
    for (size_t i = 0; i < texts_.size(); ++i) {
      text += texts_[i] + QStringLiteral("\r\a");
      if ((i + 1) % 3 == 0) text += QStringLiteral("\r\a");
    }
    return text + QStringLiteral("\r");
  }

  TDocument doc_;
  std::shared_ptr<TTable> table_;
  std::vector<QString> texts_;
};

TEST_F(DocxTable, CellsKeepTextAndFormatThroughRewritesAndCollection) {
  // Thousands of rewrites leave most of the store dead, which is then collected.
  for (int round = 0; round < 3000; ++round)
    Rewrite(round % 6, QStringLiteral("รอบ %1 ของเซลล์ที่ %2 ").arg(round).arg(round % 6).repeated(3));
  EXPECT_EQ(doc_.Text(0, doc_.Length()), Expected());

  // A text longer than a block of the store, and an empty one.
  Rewrite(4, QStringLiteral("ก").repeated(40000));
  Rewrite(5, QString());
  EXPECT_EQ(doc_.Text(0, doc_.Length()), Expected());

  // Formats and alignment survive packing; a neighbour keeps its own.
  const int start = CellStart(1);
  doc_.FormatCharacters(start, start + 3, [](TCharFormat& f) {
    f.Bold = true;
    f.FontName = QStringLiteral("Tahoma");
  });
  doc_.SetAlignment(start, start, paRight);
  doc_.Compact();
  const TTableCell bold = table_->CellContent(1);
  ASSERT_EQ(bold.Paragraphs.size(), 1u);
  ASSERT_EQ(bold.Paragraphs[0].Runs.size(), 2u);  // the format split the run
  EXPECT_TRUE(bold.Paragraphs[0].Runs[0].Format.Bold);
  EXPECT_FALSE(bold.Paragraphs[0].Runs[1].Format.Bold);
  EXPECT_EQ(bold.Paragraphs[0].Alignment, paRight);
  EXPECT_EQ(table_->CellContent(2).Paragraphs[0].Alignment, paLeft);
  EXPECT_EQ(doc_.Text(0, doc_.Length()), Expected());
}

TEST_F(DocxTable, CellsThatAreNotPlainStayWhole) {
  Rewrite(0, QStringLiteral("บรรทัดแรก"));
  doc_.InsertText(CellStart(0) + 3, QStringLiteral("\r"));  // two paragraphs
  doc_.Compact();
  texts_[0] = QStringLiteral("บรร\rทัดแรก");
  Rewrite(3, QStringLiteral("ท้าย"));
  EXPECT_EQ(doc_.Text(0, doc_.Length()), Expected());
  EXPECT_EQ(table_->CellContent(0).Paragraphs.size(), 2u);
  EXPECT_EQ(table_->CellLength(0), 11);
}

}  // namespace
}  // namespace qav::docx
