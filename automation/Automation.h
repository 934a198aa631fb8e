#pragma once

#include "core/Exception.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <initializer_list>
#include <memory>
#include <utility>
#include <variant>
#include <vector>

namespace qav {

// Late-bound automation: objects whose members are looked up by name when they are called, as
// through a dispatch interface. On Windows these calls would go to the dispatch interface of
// the server; here the servers are objects of this program registered under their
// programmatic names.

class TAutoObject;
struct TAutoArgs;

// The errors of the automation layer. EOleSysError carries the system's result code;
// EOleException is an error that the server itself raised, with the server's message.
QAV_EXCEPTION_CLASS(EOleError, Exception);

class EOleSysError : public EOleError {
 public:
  EOleSysError(QString message, quint32 errorCode)
      : EOleError(std::move(message)), errorCode_(errorCode) {}
  const char* ClassName() const override { return "EOleSysError"; }
  quint32 ErrorCode() const { return errorCode_; }

 private:
  quint32 errorCode_;
};

class EOleException : public EOleSysError {
 public:
  EOleException(QString message, QString source, quint32 errorCode = kExceptionOccurred)
      : EOleSysError(std::move(message), errorCode), source_(std::move(source)) {}
  const char* ClassName() const override { return "EOleException"; }
  const QString& Source() const { return source_; }

  static constexpr quint32 kExceptionOccurred = 0x80020009;  // DISP_E_EXCEPTION

 private:
  QString source_;
};

// The system's result codes that this layer raises.
namespace autoerr {
inline constexpr quint32 kUnknownName = 0x80020006;         // DISP_E_UNKNOWNNAME
inline constexpr quint32 kMemberNotFound = 0x80020003;      // DISP_E_MEMBERNOTFOUND
inline constexpr quint32 kParamNotFound = 0x80020004;       // DISP_E_PARAMNOTFOUND
inline constexpr quint32 kTypeMismatch = 0x80020005;        // DISP_E_TYPEMISMATCH
inline constexpr quint32 kBadParamCount = 0x8002000E;       // DISP_E_BADPARAMCOUNT
inline constexpr quint32 kParamNotOptional = 0x8002000F;    // DISP_E_PARAMNOTOPTIONAL
inline constexpr quint32 kOverflow = 0x8002000A;            // DISP_E_OVERFLOW
inline constexpr quint32 kInvalidClassString = 0x800401F3;  // CO_E_CLASSSTRING
inline constexpr quint32 kUnavailable = 0x800401E3;         // MK_E_UNAVAILABLE
inline constexpr quint32 kDisconnected = 0x80010108;        // RPC_E_DISCONNECTED
}  // namespace autoerr

// A value that crosses the automation boundary: empty, text, 32-bit integer, Boolean (true is
// -1 as an integer), double or a reference to an automation object.
class TAutoValue {
 public:
  enum Kind { avEmpty, avText, avInteger, avBoolean, avDouble, avObject };

  TAutoValue() = default;
  TAutoValue(QString text) : value_(std::move(text)) {}
  // UTF-8; without it a literal would become a Boolean.
  TAutoValue(const char* text) : value_(QString::fromUtf8(text)) {}
  TAutoValue(qint32 value) : value_(value) {}
  TAutoValue(bool value) : value_(value) {}
  TAutoValue(double value) : value_(value) {}
  TAutoValue(std::shared_ptr<TAutoObject> object);

  Kind Type() const { return static_cast<Kind>(value_.index()); }
  bool IsEmpty() const { return Type() == avEmpty; }
  bool IsObject() const { return Type() == avObject; }

  // Conversions as the automation layer coerces arguments; EOleSysError "Type mismatch." or
  // "Overflow." when the value does not convert.
  QString ToText() const;
  qint32 ToInteger() const;
  bool ToBoolean() const;
  double ToDouble() const;
  // Raises "Variant does not reference an automation object" for any other value.
  std::shared_ptr<TAutoObject> ToObject() const;

  // The value as a call log shows it: 'text', 12, True, 1.5, <object Range>, Empty.
  QString Describe() const;

  bool operator==(const TAutoValue& other) const { return value_ == other.value_; }

  // Member access through the object this value references.
  TAutoValue Get(const QString& name) const;
  TAutoValue Get(const QString& name, const TAutoArgs& args) const;
  void Put(const QString& name, const TAutoValue& value) const;
  TAutoValue Call(const QString& name) const;
  TAutoValue Call(const QString& name, const TAutoArgs& args) const;

 private:
  std::variant<std::monostate, QString, qint32, bool, double, std::shared_ptr<TAutoObject>> value_;
};

// The arguments of one call: positional ones in order, then named ones.
struct TAutoArgs {
  TAutoArgs() = default;
  TAutoArgs(std::initializer_list<TAutoValue> positional) : Positional(positional) {}

  TAutoArgs& Named(QString name, TAutoValue value) {
    NamedArgs.emplace_back(std::move(name), std::move(value));
    return *this;
  }
  bool IsEmpty() const { return Positional.empty() && NamedArgs.empty(); }
  // "a, b, Name:=c", for messages and logs.
  QString Describe() const;

  std::vector<TAutoValue> Positional;
  std::vector<std::pair<QString, TAutoValue>> NamedArgs;
};

enum TDispatchKind { dkMethod, dkPropertyGet, dkPropertyPut };

struct TAutoCall {
  TDispatchKind Kind;
  QString Name;
  TAutoArgs Args;
  TAutoValue Value;  // the value assigned by a property put
};

// An object whose members are found by name at the moment of the call.
class TAutoObject : public std::enable_shared_from_this<TAutoObject> {
 public:
  virtual ~TAutoObject();

  // The object's kind for messages and logs ("Range").
  virtual QString TypeName() const = 0;

  TAutoValue GetProperty(const QString& name, const TAutoArgs& args = {});
  void SetProperty(const QString& name, const TAutoValue& value);
  TAutoValue Invoke(const QString& name, const TAutoArgs& args = {});

  // The one entry point of every call. Unknown members raise the system's error.
  virtual TAutoValue Dispatch(const TAutoCall& call) = 0;
};

// The arguments of a call matched to the formal parameters of the member it reached: named
// arguments go to the parameter of that name, case aside.
class TAutoParams {
 public:
  TAutoParams(const QString& member, const QStringList& formal, const TAutoArgs& args);

  bool Has(int index) const;
  // Raises "Parameter not optional." when the argument was not given.
  const TAutoValue& Required(int index) const;
  TAutoValue Optional(int index, TAutoValue fallback = {}) const;

 private:
  QString member_;
  std::vector<TAutoValue> values_;
  std::vector<bool> given_;
};

// Base of the server objects: a table of members (name, formal parameters, read or call, and
// assignment) per class, looked up case-insensitively as a dispatch interface does.
template <class T>
class TDispatchObject : public TAutoObject {
 public:
  struct Member {
    const char* Name;
    QStringList Formal;
    TAutoValue (T::*Read)(const TAutoParams&);                // property read or method call
    void (T::*Write)(const TAutoParams&, const TAutoValue&);  // property assignment
  };

  TAutoValue Dispatch(const TAutoCall& call) override {
    // Every call first asks whether the server is still there.
    static_cast<T*>(this)->CheckAlive();
    for (const Member& m : T::Members()) {
      if (call.Name.compare(QLatin1String(m.Name), Qt::CaseInsensitive) != 0) continue;
      const TAutoParams params(QLatin1String(m.Name), m.Formal, call.Args);
      if (call.Kind == dkPropertyPut) {
        if (!m.Write) ThrowMemberNotFound();
        (static_cast<T*>(this)->*m.Write)(params, call.Value);
        return {};
      }
      if (!m.Read) ThrowMemberNotFound();
      return (static_cast<T*>(this)->*m.Read)(params);
    }
    ThrowUnknownName(call.Name);
  }

 protected:
  void CheckAlive() const {}
  [[noreturn]] static void ThrowMemberNotFound();
  [[noreturn]] static void ThrowUnknownName(const QString& name);
};

[[noreturn]] void ThrowAutoMemberNotFound();
[[noreturn]] void ThrowAutoUnknownName(const QString& name);

template <class T>
void TDispatchObject<T>::ThrowMemberNotFound() {
  ThrowAutoMemberNotFound();
}

template <class T>
void TDispatchObject<T>::ThrowUnknownName(const QString& name) {
  ThrowAutoUnknownName(name);
}

// The classes known on this machine, by programmatic name (case aside), and the running
// objects registered under such names.
using TAutoClassFactory = std::function<std::shared_ptr<TAutoObject>()>;

// Registers (or with an empty factory removes) a class; returns the factory it replaced, so
// that a caller can put it back.
TAutoClassFactory RegisterAutoClass(const QString& progId, TAutoClassFactory factory);
// A new object of the class; "Invalid class string" for a name that is not registered.
TAutoValue CreateOleObject(const QString& progId);
// The running object registered under the class's name; "Operation unavailable" when none
// runs, "Invalid class string" for a name that is not registered.
TAutoValue GetActiveOleObject(const QString& progId);
// A server announces itself as running, and withdraws when it ends. The table does not keep
// the object alive.
void RegisterActiveObject(const QString& progId, const std::shared_ptr<TAutoObject>& object);
void RevokeActiveObject(const QString& progId, const TAutoObject* object);

}  // namespace qav
