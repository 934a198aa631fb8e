#pragma once

// The SQL console on the embedded demo company, with its dialogs answered from a script and the
// errors that reach the application's handler collected.
#include "app/CommandLine.h"
#include "app/DM.h"
#include "app/DMConfig.h"
#include "app/Dialogs.h"
#include "app/FormLogo.h"
#include "console/FrExecSQL.h"
#include "core/ExceptionHandler.h"
#include "tests/support/TestSuite.h"

#include <gtest/gtest.h>
#include <QApplication>
#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <array>
#include <functional>
#include <memory>

namespace qav::test {

class Console : public ::testing::Test {
 protected:
  void SetUp() override {
    SetCommandLine({"12", QString::number(userId_), "DEMO", "", "EXPORT-TO", "09/12/2026"});
    dm_ = std::make_unique<TDM>();
    config_ = std::make_unique<TDMConfig>();
    config_->GetCompanyConfig("DEMO");
    config_->CheckRight(12, userId_);
    // Errors that reach the application's handler are collected here.
    SetApplicationExceptionHandler([this](const Exception& e) { errors_ << e.Message(); });
    Dialogs::SetAnswerer([this](const DialogRequest& r) {
      asked_.push_back(r);
      DialogReply reply;
      reply.accepted = !answers_.isEmpty() ? answers_.first() != "no" : true;
      if (r.kind == DialogRequest::Kind::YesNoCancel && !answers_.isEmpty()) {
        reply.accepted = answers_.first() == "yes";
        reply.declined = answers_.first() == "no";
      }
      if (r.kind == DialogRequest::Kind::OpenFile || r.kind == DialogRequest::Kind::SaveFile) {
        if (onOpen_) onOpen_();
        reply.accepted = !answers_.isEmpty();
        reply.fileName = reply.accepted ? answers_.first() : QString();
        reply.filterIndex = filterIndex_ > 0 ? filterIndex_ : r.filterIndex;
      }
      if (!answers_.isEmpty()) answers_.removeFirst();
      return reply;
    });
    // The window keeps its sizes in the user's settings: here, in the test's own folder.
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, files_.filePath("settings"));
    window_ = std::make_unique<TFrExecSQL>();
    window_->show();
    QApplication::setActiveWindow(window_.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
  }

  void TearDown() override {
    window_.reset();
    Dialogs::SetAnswerer({});
    ReleaseLogo();
  }

  QStringList Texts(DialogRequest::Kind kind) const {
    QStringList out;
    for (const auto& r : asked_)
      if (r.kind == kind) out << r.text;
    return out;
  }

  void Type(const QString& text) {
    window_->Memo1->setFocus();
    QTest::keyClicks(window_->Memo1, text);
  }

  // Enabled state of Open, Execute and Save output, in that order.
  std::array<bool, 3> Buttons() const {
    return {window_->BtnOpen->isEnabled(), window_->BtnExec->isEnabled(),
            window_->BtnExport->isEnabled()};
  }

  QString WriteFile(const QString& name, const QByteArray& bytes) {
    const QString path = files_.path() + u'/' + name;
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
    return path;
  }

  // The user the suite starts the console for: 1 works in English, 2 in Thai.
  int userId_ = 1;
  test::DemoSuiteFolder folder_{60};
  QTemporaryDir files_;
  std::unique_ptr<TDM> dm_;
  std::unique_ptr<TDMConfig> config_;
  std::unique_ptr<TFrExecSQL> window_;
  std::vector<DialogRequest> asked_;
  QStringList errors_;
  QStringList answers_;
  // Runs when a file dialog shows, before it answers.
  std::function<void()> onOpen_;
  // The format the save dialog answers with; 0 keeps the one it proposed.
  int filterIndex_ = 0;
};

}  // namespace qav::test
