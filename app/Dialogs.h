#pragma once

#include <QColor>
#include <QString>
#include <functional>

class QWidget;

namespace qav {

// Every modal dialog of the program goes through here, so that tests can answer them. The
// program shows real Qt dialogs; with an answerer installed none is shown.
struct DialogRequest {
  enum class Kind { Message, Confirm, Error, OpenFile, SaveFile, Information, YesNoCancel };
  Kind kind = Kind::Message;
  QString title;
  QString text;       // shown as plain text, never as markup: it carries names, files, errors
  QColor background;  // invalid: the toolkit's own colours
  QColor foreground;
  // File dialogs.
  QString folder;
  QString filter;         // "Description|*.ext|Description|*.ext"
  int filterIndex = 1;    // one-based, as the filter's pairs count
  QString defaultSuffix;  // without the dot
  QString fileName;
};

struct DialogReply {
  bool accepted = false;  // Yes, OK or a file chosen
  QString fileName;
  int filterIndex = 1;
  bool declined = false;  // No to a Yes/No/Cancel question (Cancel is neither)
};

using DialogAnswerer = std::function<DialogReply(const DialogRequest&)>;

// The environment variable of the tests' dialog script (see InstallScriptFromEnvironment).
inline constexpr char kTestDialogScriptVariable[] = "QAV_TEST_ONLY_DIALOG_SCRIPT";

// The application's title: the title of plain message boxes. Windows set it to their caption.
const QString& ApplicationTitle();
void SetApplicationTitle(const QString& title);

class Dialogs {
 public:
  // Installs (or with an empty function removes) the answerer used instead of real dialogs.
  static void SetAnswerer(DialogAnswerer answerer);
  // For the tests only: with kTestDialogScriptVariable set in the environment to a
  // comma-separated list of "yes", "no", "ok", "cancel" or a file name, every dialog is written
  // to standard error and answered from the list in turn ("ok"/"yes" once the list runs out),
  // so that tests drive the real executable headless. Unset or empty, real dialogs show.
  static void InstallScriptFromEnvironment();

  static DialogReply Show(const DialogRequest& request);
  // The buttons of the questions and messages in Thai (a Thai user) or English.
  static void SetThaiButtons(bool thai);
  // While a dialog script is active, writes a line about the program's progress (a window
  // shown, say) to standard error beside the dialogs, for the tests that read it.
  static void Trace(const QString& line);

  // A plain message box: no icon, one OK button, titled with the application's title.
  static void ShowMessage(const QString& text);
  // The standard Yes/No question "Confirm" with coloured background and white text; Yes is the
  // default button, No the cancel button. True only for Yes.
  static bool Confirm(const QString& text, const QColor& background);
  // A question with Yes (the default), No and Cancel (also Escape), titled with the
  // application's title.
  enum class Answer { Yes, No, Cancel };
  static Answer AskYesNoCancel(const QString& text);
};

}  // namespace qav
