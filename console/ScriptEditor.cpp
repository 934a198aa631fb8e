#include "console/ScriptEditor.h"

#include "app/DM.h"
#include "app/DMConfig.h"
#include "app/Dialogs.h"
#include "console/SqlHighlighter.h"
#include "core/Exception.h"

#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextCursor>
#include <QTextDocument>
#include <QVBoxLayout>

namespace qav {

extern QString StartFolder;

namespace {

const QString kScriptFilter = QStringLiteral("SQL Script files|*.sql|All files|*.*");

bool AskOverwrite() {
  const QString question = QStringLiteral("File Exists!! Overwrite this file ?");
  return DM ? DM->AskConfirm(question) : Dialogs::Confirm(question, QColor());
}

}  // namespace

TScriptEditor::TScriptEditor(QWidget* parent) : QWidget(parent) {
  memo_ = new QPlainTextEdit(this);
  memo_->setObjectName(QStringLiteral("Memo1"));
  memo_->setLineWrapMode(QPlainTextEdit::NoWrap);
  memo_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  memo_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  new TSqlHighlighter(memo_->document());
  findBar_ = new QLineEdit(this);
  findBar_->setObjectName(QStringLiteral("FindEdit"));
  findBar_->setPlaceholderText(QStringLiteral("Find (Return: next, Esc: close)"));
  findBar_->hide();
  findBar_->installEventFilter(this);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(findBar_);
  layout->addWidget(memo_);
  connect(memo_->document(), &QTextDocument::modificationChanged, this, [this] { ShowCaption(); });
}

bool TScriptEditor::Changed() const {
  return memo_->document()->isModified();
}

QString TScriptEditor::Caption() const {
  QString caption = QStringLiteral("SQL Script");
  if (const QString& name = fileName_.isEmpty() ? openedName_ : fileName_; !name.isEmpty())
    caption += u' ' + name;
  if (Changed()) caption += QStringLiteral(" *");
  return caption;
}

void TScriptEditor::ShowCaption() {
  emit CaptionChanged(Caption());
}

void TScriptEditor::SetTextSilently(const QString& text) {
  {
    const QSignalBlocker block(memo_);
    memo_->setPlainText(text);
  }
  memo_->document()->setModified(false);
  ShowCaption();
}

void TScriptEditor::Clear() {
  fileName_.clear();
  openedName_.clear();
  form_ = TScriptForm();
  {
    const QSignalBlocker block(memo_);
    QTextCursor cursor(memo_->document());
    cursor.select(QTextCursor::Document);
    cursor.removeSelectedText();
  }
  memo_->document()->setModified(false);
  ShowCaption();
}

void TScriptEditor::Load(const QString& fileName) {
  fileName_.clear();
  openedName_ = fileName;
  form_ = TScriptForm();
  SetTextSilently(QString());
  if (QFileInfo::exists(fileName)) {
    QString text;
    try {
      // The editor holds lines; the file's line ends come back when it is written.
      text = ReadScriptFile(fileName, &form_).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
      fileName_ = fileName;
    } catch (const EInOutError& e) {
      // A pipe, a device, a huge file, a NUL: said plainly, and the text stays empty.
      Dialogs::ShowMessage(e.Message());
    }
    if (!text.isEmpty()) memo_->setPlainText(text);  // counts as a change of the text
    memo_->document()->setModified(false);
  } else {
    Dialogs::ShowMessage(QStringLiteral("File not found!!!"));
  }
  ShowCaption();
}

bool TScriptEditor::MayDiscard() {
  if (!Changed()) return true;
  switch (Dialogs::AskYesNoCancel(InUsersLanguage("The SQL script has changed. Save it ?",
                                                  "สคริปต์ SQL มีการแก้ไข ต้องการบันทึกหรือไม่ ?"))) {
    case Dialogs::Answer::Yes:
      return Save();
    case Dialogs::Answer::No:
      return true;
    case Dialogs::Answer::Cancel:
      break;
  }
  memo_->setFocus();
  return false;
}

bool TScriptEditor::Save() {
  if (fileName_.isEmpty()) return SaveAs();
  try {
    // An unchanged file is left as it is, its time and bytes untouched.
    if (!Changed() && QFileInfo::exists(fileName_)) return true;
    form_ = WriteScriptFile(fileName_, memo_->toPlainText(), form_);
  } catch (const EInOutError& e) {
    Dialogs::ShowMessage(e.Message());
    return false;
  }
  memo_->document()->setModified(false);
  ShowCaption();
  return true;
}

bool TScriptEditor::SaveAs() {
  QString fileName;
  for (;;) {
    DialogRequest request;
    request.kind = DialogRequest::Kind::SaveFile;
    request.folder = fileName_.isEmpty() ? QDir::currentPath() : QFileInfo(fileName_).path();
    request.filter = kScriptFilter;
    request.defaultSuffix = QStringLiteral("sql");
    request.fileName = fileName_;
    const DialogReply reply = Dialogs::Show(request);
    if (!StartFolder.isEmpty()) QDir::setCurrent(StartFolder);
    if (!reply.accepted || reply.fileName.isEmpty()) return false;
    fileName = reply.fileName;
    if (QFileInfo(fileName).suffix().isEmpty()) fileName += QStringLiteral(".sql");
    if (!QFileInfo::exists(fileName) || AskOverwrite()) break;
  }
  const QString previous = fileName_;
  fileName_ = fileName;
  // A new file is written even when the text has not changed since it was read.
  const bool changed = Changed();
  memo_->document()->setModified(true);
  if (Save()) return true;
  memo_->document()->setModified(changed);
  fileName_ = previous;
  ShowCaption();
  return false;
}

void TScriptEditor::ShowFindBar() {
  findBar_->show();
  findBar_->setFocus();
  findBar_->selectAll();
}

bool TScriptEditor::FindNext() {
  const QString text = findBar_->text();
  if (text.isEmpty()) return true;
  if (memo_->find(text)) return true;
  // From the top again, once.
  QTextCursor cursor = memo_->textCursor();
  cursor.movePosition(QTextCursor::Start);
  memo_->setTextCursor(cursor);
  return memo_->find(text);
}

bool TScriptEditor::eventFilter(QObject* watched, QEvent* event) {
  if (watched == findBar_ && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      if (!FindNext()) emit NotFound(findBar_->text());
      return true;
    }
    if (key == Qt::Key_Escape) {
      findBar_->hide();
      memo_->setFocus();
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace qav
