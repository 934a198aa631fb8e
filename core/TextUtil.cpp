#include "core/TextUtil.h"

namespace qav {

namespace {
bool IsBlank(QChar c) {
  return c.unicode() <= 32;
}
}  // namespace

QString TrimLeft(const QString& text) {
  qsizetype i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  return text.mid(i);
}

QString TrimRight(const QString& text) {
  qsizetype n = text.size();
  while (n > 0 && IsBlank(text[n - 1])) --n;
  return text.left(n);
}

QString Trim(const QString& text) {
  return TrimLeft(TrimRight(text));
}

QString UpperAscii(const QString& text) {
  QString out = text;
  for (QChar& c : out)
    if (c >= u'a' && c <= u'z') c = QChar(c.unicode() - 32);
  return out;
}

}  // namespace qav
