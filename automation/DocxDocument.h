#pragma once

#include <QByteArray>
#include <QHash>
#include <QRgb>
#include <QString>
#include <functional>
#include <memory>
#include <unordered_map>
#include <variant>
#include <vector>

namespace qav::docx {

// A word-processing document as the document server holds it: a story of paragraphs and
// tables addressed by character positions the way a word processor counts them. Every
// paragraph ends in a mark that takes one position; in a table the last mark of a cell is the
// end-of-cell mark, and every row ends in an end-of-row mark of one position. The story ends
// in the mark of its last paragraph, which is always a paragraph, never a table.

// The word processor's colour index table: 1 black to 16 silver; 0 is automatic (no
// highlight) and any other colour has no index.
QRgb ColorOfIndex(int index);
int IndexOfColor(QRgb rgb);
// The highlight names of the document format by colour index ("yellow" for 7); empty for 0.
QString HighlightName(int index);
int HighlightIndex(const QString& name);

inline constexpr int kMaxColorIndex = 16;

enum TParagraphAlignment { paLeft = 0, paCenter = 1, paRight = 2, paJustify = 3 };

struct TCharFormat {
  bool Bold = false;
  bool Italic = false;
  int Underline = 0;  // 0 none, 1 single, 3 double, ...
  QString Color;      // "RRGGBB"; empty is automatic
  QString FontName;   // empty is the document's default
  int Highlight = 0;  // colour index; 0 is none

  bool operator==(const TCharFormat&) const = default;
};

size_t qHash(const TCharFormat& format, size_t seed = 0) noexcept;

struct TPicture {
  QByteArray Data;
  QString Extension;  // "png", "jpeg", ...: the part's name and content type follow it
  qint64 WidthEmu = 0;
  qint64 HeightEmu = 0;
};

// Text in one format, or one inline picture (one position).
struct TRun {
  QString Text;
  std::shared_ptr<const TPicture> Picture;
  TCharFormat Format;

  int Length() const { return Picture ? 1 : static_cast<int>(Text.size()); }
};

struct TParagraph {
  std::vector<TRun> Runs;
  TCharFormat MarkFormat;  // the mark's own format, which text typed into an empty paragraph takes
  int Alignment = paLeft;

  int TextLength() const;
  int Length() const { return TextLength() + 1; }
};

struct TTableCell {
  std::vector<TParagraph> Paragraphs = std::vector<TParagraph>(1);

  int Length() const;
};

// Cells row by row. Cell starts are kept relative to the table and computed as far as needed:
// a table is filled cell after cell, and each edit only moves the cells after it.
//
// A long table is mostly plain cells: one paragraph of at most one run of text. The table keeps
// those packed (the text in blocks shared by the table, the formats as numbers in a list of the
// table's distinct formats) and unpacks a cell only while it is worked on: a paragraph object
// per cell would take kilobytes per row of a table of thousands.
class TTable {
 public:
  // Every cell gets one paragraph formatted like `like`, the columns share totalWidth.
  TTable(int rows, int columns, const TParagraph& like, int totalWidthTwips);

  int Rows() const { return rows_; }
  int Columns() const { return columns_; }
  std::vector<int>& ColumnWidths() { return widths_; }  // twips
  const std::vector<int>& ColumnWidths() const { return widths_; }

  // The cell to read or change, 0-based. The reference holds until Compact().
  TTableCell& Cell(int row, int column) { return CellAt(row * columns_ + column); }
  TTableCell& CellAt(int index);
  // A copy of the cell, for a reader that changes nothing.
  TTableCell CellContent(int index) const;
  int CellLength(int index) const;
  int CellCount() const { return static_cast<int>(cells_.size()); }

  int CellStart(int index) const;
  int Length() const;
  // The cell holding relative position rel; for an end-of-row mark the last cell of the row;
  // -1 past the table.
  int FindCell(int rel) const;
  // The cell's content changed: the cells after it move.
  void Invalidate(int editedCell);

  // How often each format of the table's cells is used, for a writer that states what most
  // cells share once for the table.
  struct TFormatUse {
    TCharFormat Format;
    qint64 Runs = 0;
    qint64 Marks = 0;       // of paragraphs with text
    qint64 EmptyMarks = 0;  // of empty paragraphs
  };
  std::vector<TFormatUse> FormatUse() const;

  // Packs again the cells worked on since the last call that are plain. Every reference to a
  // cell ends here: call it where no edit is under way.
  void Compact();

  // For a table read from a file: the rows as they came, padded to a rectangle by the reader.
  static std::shared_ptr<TTable> FromCells(int rows, int columns, std::vector<TTableCell> cells,
                                           std::vector<int> widths);

 private:
  struct PackedCell {
    const char16_t* Text = nullptr;  // in textBlocks_
    quint32 Length = 0;
    quint16 RunFormat = 0;  // in formats_
    quint16 MarkFormat = 0;
    quint8 Alignment = 0;
    bool Unpacked = false;  // the cell lives in unpacked_
  };

  TTable() = default;
  void Extend() const;
  // False when the cell is not plain or the table has as many formats as a number holds.
  bool Pack(int index, const TTableCell& cell);
  int FormatNumber(const TCharFormat& format);
  const char16_t* StoreText(QStringView text);
  // Copies the live texts into new blocks once most of what the blocks hold is dead.
  void CollectText();

  int rows_ = 0;
  int columns_ = 0;
  std::vector<int> widths_;
  std::vector<PackedCell> cells_;
  // Nodes: a reference to an unpacked cell survives the unpacking of others.
  std::unordered_map<int, TTableCell> unpacked_;
  std::vector<int> touched_;  // unpacked since the last Compact()
  std::vector<TCharFormat> formats_;
  QHash<TCharFormat, int> formatNumbers_;
  std::vector<std::unique_ptr<char16_t[]>> textBlocks_;
  char16_t* filling_ = nullptr;  // the block short texts go to
  size_t textUsed_ = 0;          // of it
  size_t textLive_ = 0;
  size_t textDead_ = 0;
  mutable std::vector<int> starts_;
  mutable int valid_ = 0;
};

using TBlock = std::variant<TParagraph, std::shared_ptr<TTable>>;

// A start and end position that follows the edits of its document.
struct TSpan {
  int Start = 0;
  int End = 0;
};

// Where a paragraph of the story lies.
struct TParagraphRef {
  TParagraph* Paragraph = nullptr;
  int Start = 0;  // position of its first character
  int Block = 0;
  TTable* Table = nullptr;  // null in the body
  int Cell = -1;
  int Index = 0;                 // in the body's blocks or the cell's paragraphs
  bool LastInContainer = false;  // its mark ends a cell or the story
};

class TDocument {
 public:
  TDocument();

  // Portrait A4 with margins of one inch.
  static constexpr int kPageWidthTwips = 11906;
  static constexpr int kPageHeightTwips = 16838;
  static constexpr int kMarginTwips = 1440;
  static constexpr int kTextWidthTwips = kPageWidthTwips - 2 * kMarginTwips;

  std::vector<TBlock>& Blocks() { return blocks_; }
  const std::vector<TBlock>& Blocks() const { return blocks_; }
  // After the blocks were replaced wholesale (a document read from a file).
  void SetBlocks(std::vector<TBlock> blocks);

  // Position after the story's final mark.
  int Length() const;
  // Paragraph marks as "\r", end-of-cell and end-of-row marks as "\r\a", pictures as "/".
  QString Text(int start, int end) const;

  // Calls visit for every paragraph that shares a position with [start, end), or that holds
  // start when the span is empty, in story order; visit returns false to stop.
  void Walk(int start, int end, const std::function<bool(const TParagraphRef&)>& visit) const;
  // The paragraph holding the character at pos; Paragraph is null for an end-of-row mark.
  TParagraphRef Locate(int pos) const;

  // Where text added after [start, end) goes: after the span, but before a final mark of the
  // story or of a cell, which nothing can follow; at the start of the next paragraph when the
  // span ends with an ordinary paragraph mark.
  int InsertionPoint(int start, int end) const;
  // Inserts at pos (a position inside a paragraph, its mark included). Line breaks (CR, LF,
  // CR LF) start new paragraphs. Returns the positions added.
  int InsertText(int pos, const QString& text);
  int InsertParagraph(int pos);
  int InsertPicture(int pos, std::shared_ptr<const TPicture> picture);
  // Removes the characters of [start, end); marks stay.
  void ClearText(int start, int end);
  // Places a table at pos, splitting the paragraph there when pos is inside its text. The
  // table takes the place of the paragraph's remaining part, which follows it.
  std::shared_ptr<TTable> AddTable(int pos, int rows, int columns);
  int TableStart(const TTable* table) const;
  std::vector<std::shared_ptr<TTable>> Tables(int start, int end) const;
  std::vector<std::shared_ptr<TTable>> Tables() const;

  // Character formatting of [start, end), marks included.
  void FormatCharacters(int start, int end, const std::function<void(TCharFormat&)>& change);
  // The distinct formats of [start, end); for an empty span the format new text there gets.
  std::vector<TCharFormat> FormatsIn(int start, int end) const;
  void SetAlignment(int start, int end, int alignment);
  std::vector<int> AlignmentsIn(int start, int end) const;

  // Spans that follow the edits, as a word processor's ranges do.
  std::shared_ptr<TSpan> Track(int start, int end);

  // Packs the table cells that edits unpacked (TTable::Compact): the server calls it between
  // calls, when no reference into a cell is held.
  void Compact();

 private:
  TParagraph& ParagraphOf(const TParagraphRef& ref);
  void Edited(const TParagraphRef& ref);
  // Text inserted at pos (delta > 0) or [pos, pos - delta) removed.
  void Shift(int pos, int delta);

  std::vector<TBlock> blocks_;
  std::vector<std::weak_ptr<TSpan>> spans_;
};

}  // namespace qav::docx
