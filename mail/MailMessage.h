#pragma once

#include <QStringList>

namespace qav {

// One mail message. Recipient entries are a bare address, "Name <address>" or
// "prefix:address"; the body holds one text line per entry.
class TMailMessage {
 public:
  QString FromName;
  QString FromAddress;
  QString Subject;
  // The mailer name for the "X-Mailer" header.
  QString LocalProgram;
  // Used verbatim for the "Date" header.
  QString Date;
  QString ReplyTo;
  // File paths.
  QStringList Attachments;
  QStringList ToAddress;
  QStringList ToCarbonCopy;
  QStringList ToBlindCarbonCopy;
  QStringList Body;
};

// A string list of header lines ("Name: value").
class TExStringList : public QStringList {
 public:
  using QStringList::QStringList;
  TExStringList() = default;
  TExStringList(const QStringList& lines) : QStringList(lines) {}

  // A sorted list keeps its lines in the order of their header names (ASCII case ignored)
  // and finds them by bisection.
  bool Sorted() const { return sorted_; }
  void SetSorted(bool sorted);

  // The index of the first line whose text before its first ":" equals name, ignoring case;
  // a line without ":" never matches; -1 if none.
  qsizetype IndexOfHeader(const QString& name) const;
  // A non-empty value replaces the line of that header, or adds one; an empty value deletes
  // the line.
  void SetHeaderValue(const QString& name, const QString& value);

 private:
  bool sorted_ = false;
};

}  // namespace qav
