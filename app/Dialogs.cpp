#include "app/Dialogs.h"

#include "ui/NamedColors.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QStringList>
#include <cstdio>

namespace qav {

namespace {

bool& ScriptActive() {
  static bool active = false;
  return active;
}

DialogAnswerer& Answerer() {
  static DialogAnswerer answerer;
  return answerer;
}

QString& TitleSlot() {
  static QString title = QStringLiteral("qavtool");
  return title;
}

const char* KindName(DialogRequest::Kind kind) {
  switch (kind) {
    case DialogRequest::Kind::Message:
      return "message";
    case DialogRequest::Kind::Confirm:
      return "confirm";
    case DialogRequest::Kind::Error:
      return "error";
    case DialogRequest::Kind::OpenFile:
      return "open";
    case DialogRequest::Kind::SaveFile:
      return "save";
    case DialogRequest::Kind::Information:
      return "information";
    case DialogRequest::Kind::YesNoCancel:
      return "question";
  }
  return "?";
}

// "Text files|*.txt|All|*.*" becomes "Text files (*.txt);;All (*.*)".
QStringList QtFilters(const QString& filter) {
  const QStringList parts = filter.split(u'|');
  QStringList out;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2)
    out << QStringLiteral("%1 (%2)").arg(parts[i], QString(parts[i + 1]).replace(u';', u' '));
  return out;
}

// The patterns part of a filter as a dialog lists it: "Text (*.txt)" gives "*.txt".
QString FilterPatterns(const QString& filter) {
  const qsizetype open = filter.lastIndexOf(u'(');
  const qsizetype close = filter.lastIndexOf(u')');
  return (open >= 0 && close > open ? filter.mid(open + 1, close - open - 1) : filter).simplified();
}

// The one-based position of the dialog's chosen filter in the request's list, 0 for none. The
// dialog collapses blanks in the descriptions it shows ("Microsoft  Excel fies" comes back
// with one blank), so a filter is known by its position or its patterns, never by its text.
int ChosenFilterIndex(const QStringList& requested, const QStringList& shown,
                      const QString& chosen) {
  const qsizetype at = shown.indexOf(chosen);
  if (at >= 0 && at < requested.size()) return static_cast<int>(at) + 1;
  for (qsizetype i = 0; i < requested.size(); ++i)
    if (FilterPatterns(requested[i]) == FilterPatterns(chosen)) return static_cast<int>(i) + 1;
  return 0;
}

// The extension a name typed without one takes under a filter: that of its first pattern, as
// the filter spells it (whatever the request's suffix says, so that the case never depends on
// how the type was chosen), none for "*" or "*.*".
QString FilterSuffix(const QString& filter) {
  const QString first = FilterPatterns(filter).section(u' ', 0, 0);
  if (!first.startsWith(QLatin1String("*."))) return {};
  const QString suffix = first.mid(2);
  if (suffix.isEmpty() || suffix.contains(u'*') || suffix.contains(u'?')) return {};
  return suffix;
}

void Colour(QWidget& w, const DialogRequest& r) {
  if (!r.background.isValid()) return;
  w.setStyleSheet(QStringLiteral("QMessageBox { background-color: %1; } QLabel { color: %2; }")
                      .arg(r.background.name(), r.foreground.isValid()
                                                    ? r.foreground.name()
                                                    : NamedColor(TNamedColor::White).name()));
}

void Centre(QWidget& w) {
  w.adjustSize();
  if (QScreen* screen = QGuiApplication::primaryScreen())
    w.move(screen->availableGeometry().center() - w.rect().center());
}

bool thaiButtons = false;

// The buttons' captions in the user's language, as a Thai Windows shows them.
void Caption(QAbstractButton* button, const char* english, const char* thai) {
  if (button) button->setText(thaiButtons ? QString::fromUtf8(thai) : QObject::tr(english));
}

DialogReply ShowReal(const DialogRequest& r) {
  DialogReply reply;
  switch (r.kind) {
    case DialogRequest::Kind::Message:
    case DialogRequest::Kind::Information:
    case DialogRequest::Kind::Error: {
      const QMessageBox::Icon icon = r.kind == DialogRequest::Kind::Error ? QMessageBox::Critical
                                     : r.kind == DialogRequest::Kind::Information
                                         ? QMessageBox::Information
                                         : QMessageBox::NoIcon;
      QMessageBox box(icon, r.title, r.text, QMessageBox::Ok);
      box.setTextFormat(Qt::PlainText);
      if (thaiButtons) Caption(box.button(QMessageBox::Ok), "OK", "ตกลง");
      Colour(box, r);
      box.exec();
      reply.accepted = true;
      break;
    }
    case DialogRequest::Kind::Confirm: {
      QMessageBox box(QMessageBox::Question, r.title, r.text, QMessageBox::NoButton);
      box.setTextFormat(Qt::PlainText);
      QPushButton* yes = box.addButton(QString(), QMessageBox::YesRole);
      QPushButton* no = box.addButton(QString(), QMessageBox::NoRole);
      Caption(yes, "&Yes", "ใช่");
      Caption(no, "&No", "ไม่ใช่");
      box.setDefaultButton(yes);
      box.setEscapeButton(no);
      Colour(box, r);
      Centre(box);
      box.exec();
      reply.accepted = box.clickedButton() == yes;
      break;
    }
    case DialogRequest::Kind::YesNoCancel: {
      QMessageBox box(QMessageBox::Question, r.title, r.text,
                      QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
      box.setTextFormat(Qt::PlainText);
      box.setDefaultButton(QMessageBox::Yes);
      box.setEscapeButton(QMessageBox::Cancel);
      if (thaiButtons) {
        Caption(box.button(QMessageBox::Yes), "&Yes", "ใช่");
        Caption(box.button(QMessageBox::No), "&No", "ไม่ใช่");
        Caption(box.button(QMessageBox::Cancel), "Cancel", "ยกเลิก");
      }
      box.exec();
      reply.accepted = box.clickedButton() == box.button(QMessageBox::Yes);
      reply.declined = box.clickedButton() == box.button(QMessageBox::No);
      break;
    }
    case DialogRequest::Kind::OpenFile:
    case DialogRequest::Kind::SaveFile: {
      QFileDialog dialog(nullptr, r.title, r.folder);
      // Qt's own dialog on every platform: it behaves the same under every platform plugin,
      // and the journey tests drive it as a user does.
      dialog.setOption(QFileDialog::DontUseNativeDialog);
      const QStringList filters = QtFilters(r.filter);
      dialog.setNameFilters(filters);
      const QStringList shown = dialog.nameFilters();
      const bool filtered = r.filterIndex >= 1 && r.filterIndex <= shown.size();
      if (filtered) dialog.selectNameFilter(shown[r.filterIndex - 1]);
      // The suffix of the request stands for its filter's extension when it is one.
      const QString shownSuffix = filtered ? FilterSuffix(shown[r.filterIndex - 1]) : QString();
      dialog.setDefaultSuffix(shownSuffix.compare(r.defaultSuffix, Qt::CaseInsensitive) == 0
                                  ? shownSuffix
                                  : r.defaultSuffix);
      if (r.kind == DialogRequest::Kind::SaveFile) {
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        // The program asks its own overwrite question.
        dialog.setOption(QFileDialog::DontConfirmOverwrite);
        // A name typed without an extension takes the extension of the type chosen last.
        QObject::connect(
            &dialog, &QFileDialog::filterSelected, &dialog,
            [&dialog](const QString& filter) { dialog.setDefaultSuffix(FilterSuffix(filter)); });
      } else {
        dialog.setFileMode(QFileDialog::ExistingFile);
      }
      if (!r.fileName.isEmpty()) dialog.selectFile(r.fileName);
      if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
        reply.accepted = true;
        reply.fileName = dialog.selectedFiles().first();
        reply.filterIndex = ChosenFilterIndex(filters, shown, dialog.selectedNameFilter());
      }
      break;
    }
  }
  return reply;
}

}  // namespace

const QString& ApplicationTitle() {
  return TitleSlot();
}

void SetApplicationTitle(const QString& title) {
  TitleSlot() = title;
}

void Dialogs::SetAnswerer(DialogAnswerer answerer) {
  Answerer() = std::move(answerer);
}

void Dialogs::InstallScriptFromEnvironment() {
  // An empty value counts as unset: only a test that means it may answer for the user.
  const QString value = qEnvironmentVariable(kTestDialogScriptVariable);
  if (value.isEmpty()) return;
  ScriptActive() = true;
  auto script = std::make_shared<QStringList>(value.split(u',', Qt::SkipEmptyParts));
  SetAnswerer([script](const DialogRequest& r) {
    std::fprintf(stderr, "DIALOG %s [%s] %s\n", KindName(r.kind), r.title.toUtf8().constData(),
                 r.text.toUtf8().constData());
    std::fflush(stderr);
    DialogReply reply;
    const QString answer = script->isEmpty() ? QStringLiteral("ok") : script->takeFirst();
    const QString lower = answer.toLower();
    reply.accepted = lower == u"yes" || lower == u"ok" ||
                     (lower != u"no" && lower != u"cancel" && !answer.isEmpty());
    reply.declined = lower == u"no";
    if (r.kind == DialogRequest::Kind::OpenFile || r.kind == DialogRequest::Kind::SaveFile) {
      reply.fileName = reply.accepted ? answer : QString();
      reply.filterIndex = r.filterIndex;
    }
    return reply;
  });
}

void Dialogs::Trace(const QString& line) {
  if (!ScriptActive()) return;
  std::fprintf(stderr, "%s\n", line.toUtf8().constData());
  std::fflush(stderr);
}

void Dialogs::SetThaiButtons(bool thai) {
  thaiButtons = thai;
}

DialogReply Dialogs::Show(const DialogRequest& request) {
  if (Answerer()) return Answerer()(request);
  return ShowReal(request);
}

void Dialogs::ShowMessage(const QString& text) {
  DialogRequest r;
  r.kind = DialogRequest::Kind::Message;
  r.title = ApplicationTitle();
  r.text = text;
  Show(r);
}

bool Dialogs::Confirm(const QString& text, const QColor& background) {
  DialogRequest r;
  r.kind = DialogRequest::Kind::Confirm;
  r.title = QStringLiteral("Confirm");
  r.text = text;
  r.background = background;
  r.foreground = NamedColor(TNamedColor::White);
  return Show(r).accepted;
}

Dialogs::Answer Dialogs::AskYesNoCancel(const QString& text) {
  DialogRequest r;
  r.kind = DialogRequest::Kind::YesNoCancel;
  r.title = ApplicationTitle();
  r.text = text;
  const DialogReply reply = Show(r);
  return reply.accepted ? Answer::Yes : reply.declined ? Answer::No : Answer::Cancel;
}

}  // namespace qav
