#pragma once

#include <QSyntaxHighlighter>

namespace qav {

// Colours the memo's T-SQL as the management tools do: keywords blue, strings red, comments
// green, variables teal. Each line is read with the one lexer, going on from the state the line
// before ended in, so a string or comment over several lines colours whole.
class TSqlHighlighter : public QSyntaxHighlighter {
  Q_OBJECT

 public:
  explicit TSqlHighlighter(QTextDocument* document);

  static bool IsKeyword(QStringView word);

 protected:
  void highlightBlock(const QString& text) override;
};

}  // namespace qav
