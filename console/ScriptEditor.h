#pragma once

#include "core/ScriptFile.h"

#include <QString>
#include <QWidget>

class QLineEdit;
class QPlainTextEdit;

namespace qav {

// The script page: the text (coloured as T-SQL), its find bar, the file it came from with the
// encoding and line ends it is written back in, and whether it has changed since it was last
// opened or saved. Questions go through the dialog seam.
class TScriptEditor : public QWidget {
  Q_OBJECT

 public:
  explicit TScriptEditor(QWidget* parent = nullptr);

  QPlainTextEdit* Memo() const { return memo_; }
  // Shown by Find (Ctrl+F): Return finds the next match, Escape hides it.
  QLineEdit* FindBar() const { return findBar_; }

  // The file the script was last read from or saved to; empty for a new script, and for one
  // whose file could not be read.
  const QString& FileName() const { return fileName_; }
  bool Changed() const;
  // "SQL Script", the file's name, and " *" while changed: the page's caption.
  QString Caption() const;

  // Empties the text as an edit (Ctrl+Z brings it back) and forgets the file.
  void Clear();
  // Reads a file chosen in the open dialog. Its name shows on the page even when it cannot be
  // read, but only a file that was read becomes the one Save writes to; a file that is not
  // there, or cannot be read, is said in a message. The text loaded counts as a change of the
  // text (its textChanged), not as the user's change (Changed).
  void Load(const QString& fileName);
  // Writes the script to its file (asking for a name the first time); false when not written.
  bool Save();
  bool SaveAs();
  // Before changed text goes: asks Yes (save), No (discard) or Cancel; false keeps it.
  bool MayDiscard();

  void ShowFindBar();
  // The next match of the find bar's text, from the top again at the end; false when none.
  bool FindNext();

 signals:
  void CaptionChanged(const QString& caption);
  // Return in the find bar found nothing.
  void NotFound(const QString& text);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void SetTextSilently(const QString& text);
  void ShowCaption();

  QPlainTextEdit* memo_;
  QLineEdit* findBar_;
  QString fileName_;
  // The name last chosen in the open dialog, shown even when it could not be read.
  QString openedName_;
  TScriptForm form_;
};

}  // namespace qav
