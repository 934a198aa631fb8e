#include "automation/DocxDocument.h"

#include "core/Exception.h"

#include <algorithm>
#include <array>
#include <limits>

namespace qav::docx {

namespace {

struct IndexedColor {
  QRgb rgb;
  const char* highlight;
};

// Index 1 to 16.
constexpr std::array<IndexedColor, kMaxColorIndex> kColors = {{
    {qRgb(0, 0, 0), "black"},
    {qRgb(0, 0, 255), "blue"},
    {qRgb(0, 255, 255), "cyan"},
    {qRgb(0, 255, 0), "green"},
    {qRgb(255, 0, 255), "magenta"},
    {qRgb(255, 0, 0), "red"},
    {qRgb(255, 255, 0), "yellow"},
    {qRgb(255, 255, 255), "white"},
    {qRgb(0, 0, 128), "darkBlue"},
    {qRgb(0, 128, 128), "darkCyan"},
    {qRgb(0, 128, 0), "darkGreen"},
    {qRgb(128, 0, 128), "darkMagenta"},
    {qRgb(128, 0, 0), "darkRed"},
    {qRgb(128, 128, 0), "darkYellow"},
    {qRgb(128, 128, 128), "darkGray"},
    {qRgb(192, 192, 192), "lightGray"},
}};

// Makes a run start at offset (splitting a text run) and gives that run's index; the count of
// runs when offset is the end of the text.
size_t SplitAt(TParagraph& p, int offset) {
  int pos = 0;
  for (size_t i = 0; i < p.Runs.size(); ++i) {
    if (pos == offset) return i;
    const int len = p.Runs[i].Length();
    if (offset < pos + len) {
      TRun tail = p.Runs[i];
      tail.Text = p.Runs[i].Text.mid(offset - pos);
      p.Runs[i].Text.truncate(offset - pos);
      p.Runs.insert(p.Runs.begin() + static_cast<std::ptrdiff_t>(i) + 1, std::move(tail));
      return i + 1;
    }
    pos += len;
  }
  return p.Runs.size();
}

// Joins neighbouring text runs of one format, so that a paragraph edited cell by cell keeps
// few runs.
void Merge(TParagraph& p) {
  std::vector<TRun> runs;
  runs.reserve(p.Runs.size());
  for (TRun& run : p.Runs) {
    if (!run.Picture && run.Text.isEmpty()) continue;
    if (!runs.empty() && !run.Picture && !runs.back().Picture && runs.back().Format == run.Format)
      runs.back().Text += run.Text;
    else
      runs.push_back(std::move(run));
  }
  p.Runs = std::move(runs);
}

// New text takes the format of the character before it; at the start of a paragraph the
// format of the character after it, and in an empty paragraph the format of its mark.
TCharFormat FormatForInsert(const TParagraph& p, int offset) {
  if (p.Runs.empty()) return p.MarkFormat;
  if (offset <= 0) return p.Runs.front().Format;
  int pos = 0;
  for (const TRun& run : p.Runs) {
    pos += run.Length();
    if (offset <= pos) return run.Format;
  }
  return p.Runs.back().Format;
}

[[noreturn]] void NotInParagraph() {
  throw Exception(QStringLiteral("The position is not inside a paragraph."));
}

}  // namespace

QRgb ColorOfIndex(int index) {
  if (index < 1 || index > kMaxColorIndex) return qRgb(0, 0, 0);
  return kColors[static_cast<size_t>(index - 1)].rgb;
}

int IndexOfColor(QRgb rgb) {
  for (size_t i = 0; i < kColors.size(); ++i)
    if (qRed(kColors[i].rgb) == qRed(rgb) && qGreen(kColors[i].rgb) == qGreen(rgb) &&
        qBlue(kColors[i].rgb) == qBlue(rgb))
      return static_cast<int>(i) + 1;
  return 0;
}

QString HighlightName(int index) {
  if (index < 1 || index > kMaxColorIndex) return {};
  return QLatin1String(kColors[static_cast<size_t>(index - 1)].highlight);
}

int HighlightIndex(const QString& name) {
  for (size_t i = 0; i < kColors.size(); ++i)
    if (name.compare(QLatin1String(kColors[i].highlight), Qt::CaseInsensitive) == 0)
      return static_cast<int>(i) + 1;
  return 0;
}

// ---- TParagraph, TTableCell

int TParagraph::TextLength() const {
  int n = 0;
  for (const TRun& run : Runs) n += run.Length();
  return n;
}

int TTableCell::Length() const {
  int n = 0;
  for (const TParagraph& p : Paragraphs) n += p.Length();
  return n;
}

// ---- TTable

namespace {

// A block of the table's text store; a longer text gets a block of its own.
constexpr size_t kTextBlock = 32768;

}  // namespace

size_t qHash(const TCharFormat& f, size_t seed) noexcept {
  return qHashMulti(seed, f.Bold, f.Italic, f.Underline, f.Color, f.FontName, f.Highlight);
}

TTable::TTable(int rows, int columns, const TParagraph& like, int totalWidthTwips)
    : rows_(rows),
      columns_(columns),
      widths_(static_cast<size_t>(columns), columns > 0 ? totalWidthTwips / columns : 0),
      cells_(static_cast<size_t>(rows) * static_cast<size_t>(columns)),
      starts_(cells_.size()) {
  PackedCell empty;
  empty.MarkFormat = empty.RunFormat = static_cast<quint16>(FormatNumber(like.MarkFormat));
  empty.Alignment = static_cast<quint8>(like.Alignment);
  std::fill(cells_.begin(), cells_.end(), empty);
}

std::shared_ptr<TTable> TTable::FromCells(int rows, int columns, std::vector<TTableCell> cells,
                                          std::vector<int> widths) {
  std::shared_ptr<TTable> table(new TTable);
  table->rows_ = rows;
  table->columns_ = columns;
  cells.resize(static_cast<size_t>(rows) * static_cast<size_t>(columns));
  table->cells_.resize(cells.size());
  for (size_t i = 0; i < cells.size(); ++i) {
    if (table->Pack(static_cast<int>(i), cells[i])) continue;
    table->cells_[i].Unpacked = true;
    table->unpacked_.emplace(static_cast<int>(i), std::move(cells[i]));
  }
  table->widths_ = std::move(widths);
  table->widths_.resize(static_cast<size_t>(columns),
                        TDocument::kTextWidthTwips / std::max(columns, 1));
  table->starts_.resize(table->cells_.size());
  return table;
}

int TTable::FormatNumber(const TCharFormat& format) {
  const auto it = formatNumbers_.constFind(format);
  if (it != formatNumbers_.cend()) return *it;
  if (formats_.size() > std::numeric_limits<quint16>::max()) return -1;
  formats_.push_back(format);
  const int number = static_cast<int>(formats_.size()) - 1;
  formatNumbers_.insert(format, number);
  return number;
}

const char16_t* TTable::StoreText(QStringView text) {
  const auto n = static_cast<size_t>(text.size());
  if (n == 0) return nullptr;
  char16_t* at;
  if (n > kTextBlock / 4) {
    // A long text in the block being filled would waste the rest of it.
    textBlocks_.emplace_back(new char16_t[n]);
    at = textBlocks_.back().get();
  } else {
    if (!filling_ || textUsed_ + n > kTextBlock) {
      textBlocks_.emplace_back(new char16_t[kTextBlock]);
      filling_ = textBlocks_.back().get();
      textUsed_ = 0;
    }
    at = filling_ + textUsed_;
    textUsed_ += n;
  }
  std::copy(text.utf16(), text.utf16() + n, at);
  textLive_ += n;
  return at;
}

bool TTable::Pack(int index, const TTableCell& cell) {
  if (cell.Paragraphs.size() != 1) return false;
  const TParagraph& p = cell.Paragraphs.front();
  if (p.Runs.size() > 1 || (p.Runs.size() == 1 && p.Runs.front().Picture)) return false;
  if (p.Alignment < 0 || p.Alignment > std::numeric_limits<quint8>::max()) return false;
  const int mark = FormatNumber(p.MarkFormat);
  const int run = p.Runs.empty() ? mark : FormatNumber(p.Runs.front().Format);
  if (mark < 0 || run < 0) return false;

  PackedCell& packed = cells_[static_cast<size_t>(index)];
  const QStringView text = p.Runs.empty() ? QStringView() : QStringView(p.Runs.front().Text);
  const QStringView before(packed.Text, packed.Length);
  // Unchanged text keeps its place in the store.
  if (text != before) {
    textLive_ -= packed.Length;
    textDead_ += packed.Length;
    packed.Text = StoreText(text);
    packed.Length = static_cast<quint32>(text.size());
  }
  packed.RunFormat = static_cast<quint16>(run);
  packed.MarkFormat = static_cast<quint16>(mark);
  packed.Alignment = static_cast<quint8>(p.Alignment);
  packed.Unpacked = false;
  return true;
}

TTableCell& TTable::CellAt(int index) {
  PackedCell& packed = cells_[static_cast<size_t>(index)];
  if (packed.Unpacked) return unpacked_.at(index);
  TTableCell& cell = unpacked_.emplace(index, CellContent(index)).first->second;
  packed.Unpacked = true;
  touched_.push_back(index);
  return cell;
}

TTableCell TTable::CellContent(int index) const {
  const PackedCell& packed = cells_[static_cast<size_t>(index)];
  if (packed.Unpacked) return unpacked_.at(index);
  TTableCell cell;
  TParagraph& p = cell.Paragraphs.front();
  p.MarkFormat = formats_[packed.MarkFormat];
  p.Alignment = packed.Alignment;
  if (packed.Length > 0)
    p.Runs.push_back({QString(reinterpret_cast<const QChar*>(packed.Text),
                              static_cast<qsizetype>(packed.Length)),
                      nullptr, formats_[packed.RunFormat]});
  return cell;
}

int TTable::CellLength(int index) const {
  const PackedCell& packed = cells_[static_cast<size_t>(index)];
  if (packed.Unpacked) return unpacked_.at(index).Length();
  return static_cast<int>(packed.Length) + 1;
}

std::vector<TTable::TFormatUse> TTable::FormatUse() const {
  std::vector<TFormatUse> uses(formats_.size());
  for (size_t i = 0; i < formats_.size(); ++i) uses[i].Format = formats_[i];
  for (const PackedCell& packed : cells_) {
    if (packed.Unpacked) continue;
    if (packed.Length == 0) {
      ++uses[packed.MarkFormat].EmptyMarks;
      continue;
    }
    ++uses[packed.RunFormat].Runs;
    ++uses[packed.MarkFormat].Marks;
  }
  const auto use = [&](const TCharFormat& format) -> TFormatUse& {
    const auto it = formatNumbers_.constFind(format);
    if (it != formatNumbers_.cend()) return uses[static_cast<size_t>(*it)];
    for (size_t i = formats_.size(); i < uses.size(); ++i)
      if (uses[i].Format == format) return uses[i];
    uses.push_back({format});
    return uses.back();
  };
  for (const auto& [index, cell] : unpacked_) {
    for (const TParagraph& p : cell.Paragraphs) {
      for (const TRun& run : p.Runs) ++use(run.Format).Runs;
      ++(p.Runs.empty() ? use(p.MarkFormat).EmptyMarks : use(p.MarkFormat).Marks);
    }
  }
  std::erase_if(uses, [](const TFormatUse& u) { return u.Runs + u.Marks + u.EmptyMarks == 0; });
  return uses;
}

void TTable::Compact() {
  if (touched_.empty()) return;
  for (int index : touched_) {
    const auto it = unpacked_.find(index);
    if (it != unpacked_.end() && Pack(index, it->second)) unpacked_.erase(it);
  }
  touched_.clear();
  if (textDead_ > kTextBlock && textDead_ > textLive_) CollectText();
}

void TTable::CollectText() {
  std::vector<std::unique_ptr<char16_t[]>> old;
  old.swap(textBlocks_);
  filling_ = nullptr;
  textUsed_ = 0;
  textLive_ = 0;
  textDead_ = 0;
  for (PackedCell& packed : cells_)
    if (!packed.Unpacked && packed.Length > 0)
      packed.Text = StoreText(QStringView(packed.Text, packed.Length));
}

void TTable::Extend() const {
  if (valid_ == 0) {
    starts_[0] = 0;
    valid_ = 1;
    return;
  }
  const int k = valid_ - 1;
  const int rowMark = (k + 1) % columns_ == 0 ? 1 : 0;
  starts_[static_cast<size_t>(valid_)] = starts_[static_cast<size_t>(k)] + CellLength(k) + rowMark;
  ++valid_;
}

int TTable::CellStart(int index) const {
  while (valid_ <= index) Extend();
  return starts_[static_cast<size_t>(index)];
}

int TTable::Length() const {
  if (cells_.empty()) return 0;
  const int last = CellCount() - 1;
  return CellStart(last) + CellLength(last) + 1;
}

int TTable::FindCell(int rel) const {
  const int n = CellCount();
  if (n == 0 || rel < 0) return -1;
  if (valid_ == 0) Extend();
  while (valid_ < n && starts_[static_cast<size_t>(valid_ - 1)] <= rel) Extend();
  const auto it = std::upper_bound(starts_.begin(), starts_.begin() + valid_, rel);
  const int i = static_cast<int>(it - starts_.begin()) - 1;
  const int end = starts_[static_cast<size_t>(i)] + CellLength(i);
  if (rel < end) return i;
  if ((i + 1) % columns_ == 0 && rel == end) return i;  // the row's end mark
  return -1;
}

void TTable::Invalidate(int editedCell) {
  valid_ = std::min(valid_, editedCell + 1);
}

// ---- TDocument

TDocument::TDocument() {
  blocks_.emplace_back(TParagraph{});
}

void TDocument::SetBlocks(std::vector<TBlock> blocks) {
  blocks_ = std::move(blocks);
  if (blocks_.empty() || !std::holds_alternative<TParagraph>(blocks_.back()))
    blocks_.emplace_back(TParagraph{});
  spans_.clear();
}

int TDocument::Length() const {
  int n = 0;
  for (const TBlock& block : blocks_) {
    if (const auto* p = std::get_if<TParagraph>(&block))
      n += p->Length();
    else
      n += std::get<std::shared_ptr<TTable>>(block)->Length();
  }
  return n;
}

void TDocument::Walk(int start, int end,
                     const std::function<bool(const TParagraphRef&)>& visit) const {
  const bool point = start >= end;
  if (point) end = start;
  const auto overlaps = [&](int ps, int pe) {
    return point ? ps <= start && start < pe : ps < end && pe > start;
  };
  const auto past = [&](int ps) { return point ? ps > start : ps >= end; };

  int pos = 0;
  for (size_t b = 0; b < blocks_.size(); ++b) {
    if (past(pos)) return;
    if (const auto* para = std::get_if<TParagraph>(&blocks_[b])) {
      const int len = para->Length();
      if (overlaps(pos, pos + len)) {
        TParagraphRef ref;
        ref.Paragraph = const_cast<TParagraph*>(para);
        ref.Start = pos;
        ref.Block = static_cast<int>(b);
        ref.Index = static_cast<int>(b);
        ref.LastInContainer = b + 1 == blocks_.size();
        if (!visit(ref)) return;
      }
      pos += len;
      continue;
    }
    TTable* table = std::get<std::shared_ptr<TTable>>(blocks_[b]).get();
    int first = 0;
    if (start > pos) {
      first = table->FindCell(start - pos);
      if (first < 0) {
        pos += table->Length();
        continue;
      }
    }
    for (int i = first; i < table->CellCount(); ++i) {
      int ps = pos + table->CellStart(i);
      if (past(ps)) return;
      // A cell out of the span stays packed.
      if (!overlaps(ps, ps + table->CellLength(i))) continue;
      TTableCell& cell = table->CellAt(i);
      for (size_t j = 0; j < cell.Paragraphs.size(); ++j) {
        if (past(ps)) return;
        const int len = cell.Paragraphs[j].Length();
        if (overlaps(ps, ps + len)) {
          TParagraphRef ref;
          ref.Paragraph = &cell.Paragraphs[j];
          ref.Start = ps;
          ref.Block = static_cast<int>(b);
          ref.Table = table;
          ref.Cell = i;
          ref.Index = static_cast<int>(j);
          ref.LastInContainer = j + 1 == cell.Paragraphs.size();
          if (!visit(ref)) return;
        }
        ps += len;
      }
    }
    pos += table->Length();
  }
}

TParagraphRef TDocument::Locate(int pos) const {
  TParagraphRef found;
  Walk(pos, pos, [&](const TParagraphRef& ref) {
    found = ref;
    return false;
  });
  return found;
}

QString TDocument::Text(int start, int end) const {
  QString text;
  if (start >= end) return text;
  Walk(start, end, [&](const TParagraphRef& ref) {
    const TParagraph& p = *ref.Paragraph;
    int pos = ref.Start;
    for (const TRun& run : p.Runs) {
      const int len = run.Length();
      const int a = std::max(start, pos) - pos;
      const int b = std::min(end, pos + len) - pos;
      if (a < b) text += run.Picture ? QStringLiteral("/") : run.Text.mid(a, b - a);
      pos += len;
    }
    if (pos >= start && pos < end) {
      const bool cellEnd = ref.Table && ref.LastInContainer;
      text += cellEnd ? QStringLiteral("\r\a") : QStringLiteral("\r");
      // The row's end mark follows the mark of its last cell.
      if (cellEnd && (ref.Cell + 1) % ref.Table->Columns() == 0 && pos + 1 < end)
        text += QStringLiteral("\r\a");
    }
    return true;
  });
  return text;
}

int TDocument::InsertionPoint(int start, int end) const {
  // Spans lie inside the story; its length is not worth computing for every cell.
  start = std::max(start, 0);
  end = std::max(end, start);
  if (start == end) {
    // Past the story or on an end-of-row mark: the end of the story's or the row's last
    // paragraph.
    return Locate(end).Paragraph ? end : end - 1;
  }
  const TParagraphRef before = Locate(end - 1);
  if (!before.Paragraph) return InsertionPoint(start, end - 1);
  const bool endsWithMark = end - 1 - before.Start == before.Paragraph->TextLength();
  if (endsWithMark && before.LastInContainer) return end - 1;
  return end;
}

TParagraph& TDocument::ParagraphOf(const TParagraphRef& ref) {
  if (!ref.Paragraph) NotInParagraph();
  return *ref.Paragraph;
}

void TDocument::Edited(const TParagraphRef& ref) {
  if (ref.Table) ref.Table->Invalidate(ref.Cell);
}

int TDocument::InsertText(int pos, const QString& text) {
  int added = 0;
  qsizetype from = 0;
  bool first = true;
  while (from <= text.size()) {
    qsizetype stop = from;
    while (stop < text.size() && text[stop] != u'\r' && text[stop] != u'\n') ++stop;
    if (!first) {
      added += InsertParagraph(pos);
      ++pos;
    }
    first = false;
    if (stop > from) {
      const TParagraphRef ref = Locate(pos);
      TParagraph& p = ParagraphOf(ref);
      const int offset = pos - ref.Start;
      TRun run;
      run.Text = text.mid(from, stop - from);
      run.Format = FormatForInsert(p, offset);
      const int len = run.Length();
      const size_t at = SplitAt(p, offset);
      p.Runs.insert(p.Runs.begin() + static_cast<std::ptrdiff_t>(at), std::move(run));
      Merge(p);
      Edited(ref);
      Shift(pos, len);
      pos += len;
      added += len;
    }
    if (stop >= text.size()) break;
    // CR LF is one break.
    from =
        stop + (text[stop] == u'\r' && stop + 1 < text.size() && text[stop + 1] == u'\n' ? 2 : 1);
    if (from == text.size()) {
      added += InsertParagraph(pos);
      break;
    }
  }
  return added;
}

int TDocument::InsertParagraph(int pos) {
  const TParagraphRef ref = Locate(pos);
  TParagraph& p = ParagraphOf(ref);
  TParagraph head;
  head.MarkFormat = p.MarkFormat;
  head.Alignment = p.Alignment;
  const size_t at = SplitAt(p, pos - ref.Start);
  head.Runs.assign(std::make_move_iterator(p.Runs.begin()),
                   std::make_move_iterator(p.Runs.begin() + static_cast<std::ptrdiff_t>(at)));
  p.Runs.erase(p.Runs.begin(), p.Runs.begin() + static_cast<std::ptrdiff_t>(at));
  // The paragraph keeps its own mark and follows the new one.
  if (ref.Table) {
    auto& paragraphs = ref.Table->CellAt(ref.Cell).Paragraphs;
    paragraphs.insert(paragraphs.begin() + ref.Index, std::move(head));
  } else {
    blocks_.insert(blocks_.begin() + ref.Block, std::move(head));
  }
  Edited(ref);
  Shift(pos, 1);
  return 1;
}

int TDocument::InsertPicture(int pos, std::shared_ptr<const TPicture> picture) {
  const TParagraphRef ref = Locate(pos);
  TParagraph& p = ParagraphOf(ref);
  const int offset = pos - ref.Start;
  TRun run;
  run.Picture = std::move(picture);
  run.Format = FormatForInsert(p, offset);
  const size_t at = SplitAt(p, offset);
  p.Runs.insert(p.Runs.begin() + static_cast<std::ptrdiff_t>(at), std::move(run));
  Edited(ref);
  Shift(pos, 1);
  return 1;
}

void TDocument::ClearText(int start, int end) {
  if (start >= end) return;
  std::vector<TParagraphRef> refs;
  Walk(start, end, [&](const TParagraphRef& ref) {
    refs.push_back(ref);
    return true;
  });
  // From the last paragraph back, so that the positions of the earlier ones hold.
  for (auto it = refs.rbegin(); it != refs.rend(); ++it) {
    TParagraph& p = *it->Paragraph;
    const int a = std::max(0, start - it->Start);
    const int b = std::min(p.TextLength(), end - it->Start);
    if (a >= b) continue;
    // Splitting at b leaves the runs before it where they are; not so the other way round.
    const size_t i = SplitAt(p, a);
    const size_t j = SplitAt(p, b);
    p.Runs.erase(p.Runs.begin() + static_cast<std::ptrdiff_t>(i),
                 p.Runs.begin() + static_cast<std::ptrdiff_t>(j));
    Merge(p);
    Edited(*it);
    Shift(it->Start + a, a - b);
  }
}

std::shared_ptr<TTable> TDocument::AddTable(int pos, int rows, int columns) {
  TParagraphRef ref = Locate(pos);
  ParagraphOf(ref);
  if (ref.Table) throw Exception(QStringLiteral("A table cannot be placed inside a table."));
  if (pos > ref.Start) {
    InsertParagraph(pos);
    ++pos;
    ref = Locate(pos);
  }
  const TParagraph& like = ParagraphOf(ref);
  auto table = std::make_shared<TTable>(rows, columns, like, kTextWidthTwips);
  blocks_.insert(blocks_.begin() + ref.Block, table);
  Shift(pos, table->Length());
  return table;
}

int TDocument::TableStart(const TTable* table) const {
  int pos = 0;
  for (const TBlock& block : blocks_) {
    if (const auto* p = std::get_if<TParagraph>(&block)) {
      pos += p->Length();
      continue;
    }
    const auto& t = std::get<std::shared_ptr<TTable>>(block);
    if (t.get() == table) return pos;
    pos += t->Length();
  }
  return -1;
}

std::vector<std::shared_ptr<TTable>> TDocument::Tables(int start, int end) const {
  std::vector<std::shared_ptr<TTable>> found;
  const bool point = start >= end;
  int pos = 0;
  for (const TBlock& block : blocks_) {
    if (const auto* p = std::get_if<TParagraph>(&block)) {
      pos += p->Length();
      continue;
    }
    const auto& t = std::get<std::shared_ptr<TTable>>(block);
    const int len = t->Length();
    if (point ? pos <= start && start < pos + len : pos < end && pos + len > start)
      found.push_back(t);
    pos += len;
  }
  return found;
}

std::vector<std::shared_ptr<TTable>> TDocument::Tables() const {
  std::vector<std::shared_ptr<TTable>> found;
  for (const TBlock& block : blocks_)
    if (const auto* t = std::get_if<std::shared_ptr<TTable>>(&block)) found.push_back(*t);
  return found;
}

void TDocument::FormatCharacters(int start, int end,
                                 const std::function<void(TCharFormat&)>& change) {
  if (start >= end) return;
  Walk(start, end, [&](const TParagraphRef& ref) {
    TParagraph& p = *ref.Paragraph;
    const int textLength = p.TextLength();
    const int a = std::max(0, start - ref.Start);
    const int b = std::min(p.Length(), end - ref.Start);
    const int textEnd = std::min(b, textLength);
    if (a < textEnd) {
      const size_t i = SplitAt(p, a);
      const size_t j = SplitAt(p, textEnd);
      for (size_t k = i; k < j; ++k) change(p.Runs[k].Format);
      Merge(p);
    }
    if (b > textLength) change(p.MarkFormat);
    return true;
  });
}

std::vector<TCharFormat> TDocument::FormatsIn(int start, int end) const {
  std::vector<TCharFormat> formats;
  const auto add = [&](const TCharFormat& format) {
    if (std::find(formats.begin(), formats.end(), format) == formats.end())
      formats.push_back(format);
  };
  if (start >= end) {
    const int length = Length();
    const int pos = std::clamp(start, 0, length - 1);
    const TParagraphRef ref = Locate(pos);
    if (ref.Paragraph) add(FormatForInsert(*ref.Paragraph, pos - ref.Start));
    return formats;
  }
  Walk(start, end, [&](const TParagraphRef& ref) {
    const TParagraph& p = *ref.Paragraph;
    int pos = ref.Start;
    for (const TRun& run : p.Runs) {
      const int len = run.Length();
      if (pos < end && pos + len > start) add(run.Format);
      pos += len;
    }
    if (pos >= start && pos < end) add(p.MarkFormat);
    return true;
  });
  return formats;
}

void TDocument::SetAlignment(int start, int end, int alignment) {
  Walk(start, end, [&](const TParagraphRef& ref) {
    ref.Paragraph->Alignment = alignment;
    return true;
  });
}

std::vector<int> TDocument::AlignmentsIn(int start, int end) const {
  std::vector<int> alignments;
  Walk(start, end, [&](const TParagraphRef& ref) {
    if (std::find(alignments.begin(), alignments.end(), ref.Paragraph->Alignment) ==
        alignments.end())
      alignments.push_back(ref.Paragraph->Alignment);
    return true;
  });
  return alignments;
}

void TDocument::Compact() {
  for (const TBlock& block : blocks_)
    if (const auto* t = std::get_if<std::shared_ptr<TTable>>(&block)) (*t)->Compact();
}

std::shared_ptr<TSpan> TDocument::Track(int start, int end) {
  auto span = std::make_shared<TSpan>(TSpan{start, end});
  std::erase_if(spans_, [](const std::weak_ptr<TSpan>& s) { return s.expired(); });
  spans_.push_back(span);
  return span;
}

void TDocument::Shift(int pos, int delta) {
  std::erase_if(spans_, [](const std::weak_ptr<TSpan>& s) { return s.expired(); });
  for (const std::weak_ptr<TSpan>& weak : spans_) {
    const std::shared_ptr<TSpan> span = weak.lock();
    if (delta > 0) {
      if (span->Start > pos) span->Start += delta;
      if (span->End > pos) span->End += delta;
    } else {
      const int removedEnd = pos - delta;
      for (int* x : {&span->Start, &span->End}) {
        if (*x >= removedEnd)
          *x += delta;
        else if (*x > pos)
          *x = pos;
      }
    }
  }
}

}  // namespace qav::docx
