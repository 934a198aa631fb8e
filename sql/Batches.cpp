#include "sql/Batches.h"

#include "core/Exception.h"
#include "sql/TsqlLexer.h"

namespace qav::sql {

namespace {

bool HasLineEnd(QStringView text, const Token& t) {
  const QStringView s = t.Text(text);
  return s.contains(u'\n') || s.contains(u'\r');
}

// True when nothing but blanks stands between the last line end before `at` and `at`.
bool StartsLine(QStringView text, qsizetype at) {
  for (qsizetype i = at - 1; i >= 0; --i) {
    const QChar c = text[i];
    if (c == u'\n' || c == u'\r') return true;
    if (c != u' ' && c != u'\t' && c != QChar(0xFEFF)) return false;
  }
  return true;
}

}  // namespace

std::vector<Batch> SplitBatches(QStringView script) {
  const std::vector<Token> tokens = Tokenize(script);
  std::vector<Batch> batches;
  qsizetype batchStart = 0;
  int batchLine = 1;
  bool batchHasCode = false;
  auto close = [&](qsizetype end, int repeat) {
    if (batchHasCode)
      batches.push_back({script.mid(batchStart, end - batchStart).toString(), batchLine, repeat});
    batchHasCode = false;
  };
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    const Token& t = tokens[i];
    if (!IsWord(script, t, QLatin1StringView("go")) || !StartsLine(script, t.start)) {
      // A comment or string never closed goes to the server, which refuses it (errors 113,
      // 105): left out, the script would seem to have run whole.
      batchHasCode = batchHasCode || t.IsCode() || t.kind == TokenKind::Error;
      continue;
    }
    // GO [count] [-- comment], then the line's end.
    std::size_t k = i + 1;
    auto skipBlanks = [&] {
      if (k < tokens.size() && tokens[k].kind == TokenKind::Space && !HasLineEnd(script, tokens[k]))
        ++k;
    };
    skipBlanks();
    const Token* count = nullptr;
    if (k < tokens.size() && tokens[k].kind == TokenKind::Number) count = &tokens[k++];
    skipBlanks();
    if (k < tokens.size() && tokens[k].kind == TokenKind::LineComment) ++k;
    if (k < tokens.size() &&
        !(tokens[k].kind == TokenKind::Space && HasLineEnd(script, tokens[k]))) {
      batchHasCode = true;  // "go" begins a line of other text: a name, not a separator
      continue;
    }
    int repeat = 1;
    if (count) {
      bool ok = false;
      repeat = count->Text(script).toInt(&ok);
      if (!ok || repeat < 1)
        throw EConvertError(
            QStringLiteral("Incorrect syntax was encountered while parsing GO on line %1")
                .arg(t.line));
    }
    qsizetype lineStart = t.start;
    while (lineStart > 0 && script[lineStart - 1] != u'\n' && script[lineStart - 1] != u'\r')
      --lineStart;
    close(lineStart, repeat);
    i = k - 1;
    // The next batch begins on the line after the GO line.
    if (k < tokens.size()) {
      const QStringView lineEnd = tokens[k].Text(script);
      qsizetype skip = lineEnd.indexOf(u'\n');
      const qsizetype cr = lineEnd.indexOf(u'\r');
      if (skip < 0 || (cr >= 0 && cr < skip)) skip = cr;
      if (lineEnd.mid(skip).startsWith(u"\r\n")) ++skip;
      batchStart = tokens[k].start + skip + 1;
      batchLine = tokens[k].line + 1;
    } else {
      batchStart = script.size();
    }
  }
  close(script.size(), 1);
  return batches;
}

QString ErrorPlace(int batch, int line) {
  return batch > 0 ? QStringLiteral("Batch %1, line %2").arg(batch).arg(line)
                   : QStringLiteral("Line %1").arg(line);
}

}  // namespace qav::sql
