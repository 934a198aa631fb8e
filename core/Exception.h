#pragma once

#include <QByteArray>
#include <QString>
#include <exception>
#include <utility>

namespace qav {

// Root of the program's error classes. Every error carries a Unicode message and names its
// class, because the last-chance error box shows both.
class Exception : public std::exception {
 public:
  explicit Exception(QString message) : message_(std::move(message)) {}

  const QString& Message() const { return message_; }
  void SetMessage(QString message) {
    message_ = std::move(message);
    what_.clear();
  }
  virtual const char* ClassName() const { return "Exception"; }

  const char* what() const noexcept override {
    if (what_.isEmpty()) what_ = message_.toUtf8();
    return what_.constData();
  }

 private:
  QString message_;
  mutable QByteArray what_;
};

#define QAV_EXCEPTION_CLASS(Name, Base)                      \
  class Name : public Base {                                 \
   public:                                                   \
    using Base::Base;                                        \
    const char* ClassName() const override { return #Name; } \
  }

// The silent abort: unwinds an operation without any message being shown.
QAV_EXCEPTION_CLASS(EAbort, Exception);
// A text that does not convert to the number or date asked for.
QAV_EXCEPTION_CLASS(EConvertError, Exception);
// A file that cannot be read or written.
QAV_EXCEPTION_CLASS(EInOutError, Exception);
// A number outside the range its destination can hold.
QAV_EXCEPTION_CLASS(ERangeError, Exception);

}  // namespace qav
