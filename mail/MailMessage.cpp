#include "mail/MailMessage.h"

#include <algorithm>

namespace qav {

namespace {

// The text before the first ":", or the whole line when it has none.
QStringView HeaderKey(const QString& line, bool* hasColon = nullptr) {
  const qsizetype colon = line.indexOf(u':');
  if (hasColon) *hasColon = colon >= 0;
  return colon >= 0 ? QStringView(line).left(colon) : QStringView(line);
}

int CompareKeys(QStringView a, QStringView b) {
  return a.compare(b, Qt::CaseInsensitive);
}

}  // namespace

void TExStringList::SetSorted(bool sorted) {
  sorted_ = sorted;
  if (!sorted_) return;
  std::stable_sort(begin(), end(), [](const QString& a, const QString& b) {
    return CompareKeys(HeaderKey(a), HeaderKey(b)) < 0;
  });
}

qsizetype TExStringList::IndexOfHeader(const QString& name) const {
  if (!sorted_) {
    for (qsizetype i = 0; i < size(); ++i) {
      bool hasColon = false;
      const QStringView key = HeaderKey(at(i), &hasColon);
      if (hasColon && CompareKeys(key, name) == 0) return i;
    }
    return -1;
  }
  // The first line whose key is not below name; equal keys sit together.
  qsizetype low = 0;
  qsizetype high = size();
  while (low < high) {
    const qsizetype mid = low + (high - low) / 2;
    if (CompareKeys(HeaderKey(at(mid)), name) < 0)
      low = mid + 1;
    else
      high = mid;
  }
  for (qsizetype i = low; i < size() && CompareKeys(HeaderKey(at(i)), name) == 0; ++i) {
    bool hasColon = false;
    HeaderKey(at(i), &hasColon);
    if (hasColon) return i;
  }
  return -1;
}

void TExStringList::SetHeaderValue(const QString& name, const QString& value) {
  const qsizetype index = IndexOfHeader(name);
  if (value.isEmpty()) {
    if (index >= 0) removeAt(index);
    return;
  }
  const QString line = name + QStringLiteral(": ") + value;
  if (index >= 0) {
    (*this)[index] = line;
  } else if (sorted_) {
    auto at = std::upper_bound(begin(), end(), line, [](const QString& a, const QString& b) {
      return CompareKeys(HeaderKey(a), HeaderKey(b)) < 0;
    });
    insert(at, line);
  } else {
    append(line);
  }
}

}  // namespace qav
