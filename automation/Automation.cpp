#include "automation/Automation.h"

#include "automation/WordServer.h"

#include <QHash>
#include <cmath>
#include <limits>
#include <mutex>

namespace qav {

namespace {

[[noreturn]] void ThrowSys(const char* message, quint32 code) {
  throw EOleSysError(QString::fromLatin1(message), code);
}

[[noreturn]] void ThrowTypeMismatch() {
  ThrowSys("Type mismatch.", autoerr::kTypeMismatch);
}

// Text to number as the dispatch layer coerces it; blanks around the number are allowed.
double TextToDouble(const QString& text) {
  bool ok = false;
  const double value = text.trimmed().toDouble(&ok);
  if (!ok) ThrowTypeMismatch();
  return value;
}

qint32 DoubleToInteger(double value) {
  if (std::isnan(value)) ThrowTypeMismatch();
  // Halves go to the even neighbour, as the system's coercion rounds.
  const double rounded = std::nearbyint(value);
  if (rounded < std::numeric_limits<qint32>::min() || rounded > std::numeric_limits<qint32>::max())
    ThrowSys("Overflow.", autoerr::kOverflow);
  return static_cast<qint32>(rounded);
}

struct Registry {
  std::mutex lock;
  QHash<QString, TAutoClassFactory> classes;
  struct Running {
    QString progId;
    std::weak_ptr<TAutoObject> object;
  };
  std::vector<Running> running;

  Registry() {
    // The servers this program carries in place of installed ones.
    classes.insert(QStringLiteral("word.application"), &NewWordApplication);
  }
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

QString Key(const QString& progId) {
  return progId.trimmed().toLower();
}

[[noreturn]] void ThrowInvalidClass(const QString& progId) {
  throw EOleSysError(QStringLiteral("Invalid class string (%1)").arg(progId),
                     autoerr::kInvalidClassString);
}

}  // namespace

// ---- TAutoValue

TAutoValue::TAutoValue(std::shared_ptr<TAutoObject> object) {
  if (object) value_ = std::move(object);
}

QString TAutoValue::ToText() const {
  switch (Type()) {
    case avEmpty:
      return {};
    case avText:
      return std::get<QString>(value_);
    case avInteger:
      return QString::number(std::get<qint32>(value_));
    case avBoolean:
      return std::get<bool>(value_) ? QStringLiteral("True") : QStringLiteral("False");
    case avDouble:
      return QString::number(std::get<double>(value_), 'g', 15);
    case avObject:
      break;
  }
  ThrowTypeMismatch();
}

qint32 TAutoValue::ToInteger() const {
  switch (Type()) {
    case avEmpty:
      return 0;
    case avText: {
      const QString& text = std::get<QString>(value_);
      if (text.trimmed().compare(QLatin1String("True"), Qt::CaseInsensitive) == 0) return -1;
      if (text.trimmed().compare(QLatin1String("False"), Qt::CaseInsensitive) == 0) return 0;
      return DoubleToInteger(TextToDouble(text));
    }
    case avInteger:
      return std::get<qint32>(value_);
    case avBoolean:
      return std::get<bool>(value_) ? -1 : 0;
    case avDouble:
      return DoubleToInteger(std::get<double>(value_));
    case avObject:
      break;
  }
  ThrowTypeMismatch();
}

bool TAutoValue::ToBoolean() const {
  if (Type() == avBoolean) return std::get<bool>(value_);
  return ToDouble() != 0;
}

double TAutoValue::ToDouble() const {
  switch (Type()) {
    case avEmpty:
      return 0;
    case avText: {
      const QString text = std::get<QString>(value_).trimmed();
      if (text.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0) return -1;
      if (text.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0) return 0;
      return TextToDouble(text);
    }
    case avInteger:
      return std::get<qint32>(value_);
    case avBoolean:
      return std::get<bool>(value_) ? -1 : 0;
    case avDouble:
      return std::get<double>(value_);
    case avObject:
      break;
  }
  ThrowTypeMismatch();
}

std::shared_ptr<TAutoObject> TAutoValue::ToObject() const {
  if (Type() != avObject)
    throw EOleError(QStringLiteral("Variant does not reference an automation object"));
  return std::get<std::shared_ptr<TAutoObject>>(value_);
}

QString TAutoValue::Describe() const {
  switch (Type()) {
    case avEmpty:
      return QStringLiteral("Empty");
    case avText:
      return QLatin1Char('\'') + std::get<QString>(value_) + QLatin1Char('\'');
    case avObject:
      return QStringLiteral("<%1>").arg(std::get<std::shared_ptr<TAutoObject>>(value_)->TypeName());
    default:
      return ToText();
  }
}

TAutoValue TAutoValue::Get(const QString& name) const {
  return ToObject()->GetProperty(name);
}

TAutoValue TAutoValue::Get(const QString& name, const TAutoArgs& args) const {
  return ToObject()->GetProperty(name, args);
}

void TAutoValue::Put(const QString& name, const TAutoValue& value) const {
  ToObject()->SetProperty(name, value);
}

TAutoValue TAutoValue::Call(const QString& name) const {
  return ToObject()->Invoke(name);
}

TAutoValue TAutoValue::Call(const QString& name, const TAutoArgs& args) const {
  return ToObject()->Invoke(name, args);
}

// ---- TAutoArgs

QString TAutoArgs::Describe() const {
  QStringList parts;
  for (const TAutoValue& value : Positional) parts << value.Describe();
  for (const auto& [name, value] : NamedArgs)
    parts << name + QStringLiteral(":=") + value.Describe();
  return parts.join(QStringLiteral(", "));
}

// ---- TAutoObject

TAutoObject::~TAutoObject() = default;

TAutoValue TAutoObject::GetProperty(const QString& name, const TAutoArgs& args) {
  return Dispatch({dkPropertyGet, name, args, {}});
}

void TAutoObject::SetProperty(const QString& name, const TAutoValue& value) {
  Dispatch({dkPropertyPut, name, {}, value});
}

TAutoValue TAutoObject::Invoke(const QString& name, const TAutoArgs& args) {
  return Dispatch({dkMethod, name, args, {}});
}

// ---- TAutoParams

TAutoParams::TAutoParams(const QString& member, const QStringList& formal, const TAutoArgs& args)
    : member_(member),
      values_(static_cast<size_t>(formal.size())),
      given_(static_cast<size_t>(formal.size()), false) {
  if (args.Positional.size() > values_.size())
    ThrowSys("Invalid number of parameters.", autoerr::kBadParamCount);
  for (size_t i = 0; i < args.Positional.size(); ++i) {
    values_[i] = args.Positional[i];
    // An empty value in a position is an omitted argument.
    given_[i] = !args.Positional[i].IsEmpty();
  }
  for (const auto& [name, value] : args.NamedArgs) {
    qsizetype index = -1;
    for (qsizetype i = 0; i < formal.size() && index < 0; ++i)
      if (formal[i].compare(name, Qt::CaseInsensitive) == 0) index = i;
    if (index < 0) ThrowSys("Parameter not found.", autoerr::kParamNotFound);
    values_[static_cast<size_t>(index)] = value;
    given_[static_cast<size_t>(index)] = !value.IsEmpty();
  }
}

bool TAutoParams::Has(int index) const {
  return index >= 0 && static_cast<size_t>(index) < given_.size() &&
         given_[static_cast<size_t>(index)];
}

const TAutoValue& TAutoParams::Required(int index) const {
  if (!Has(index)) ThrowSys("Parameter not optional.", autoerr::kParamNotOptional);
  return values_[static_cast<size_t>(index)];
}

TAutoValue TAutoParams::Optional(int index, TAutoValue fallback) const {
  return Has(index) ? values_[static_cast<size_t>(index)] : fallback;
}

void ThrowAutoMemberNotFound() {
  ThrowSys("Member not found.", autoerr::kMemberNotFound);
}

void ThrowAutoUnknownName(const QString& name) {
  throw EOleSysError(QStringLiteral("Method '%1' not supported by automation object").arg(name),
                     autoerr::kUnknownName);
}

// ---- the registry

TAutoClassFactory RegisterAutoClass(const QString& progId, TAutoClassFactory factory) {
  Registry& registry = TheRegistry();
  std::lock_guard guard(registry.lock);
  TAutoClassFactory previous = registry.classes.value(Key(progId));
  if (factory)
    registry.classes.insert(Key(progId), std::move(factory));
  else
    registry.classes.remove(Key(progId));
  return previous;
}

TAutoValue CreateOleObject(const QString& progId) {
  TAutoClassFactory factory;
  {
    Registry& registry = TheRegistry();
    std::lock_guard guard(registry.lock);
    factory = registry.classes.value(Key(progId));
  }
  if (!factory) ThrowInvalidClass(progId);
  // The factory runs outside the lock: a starting server registers itself as running.
  std::shared_ptr<TAutoObject> object = factory();
  if (!object)
    throw EOleSysError(QStringLiteral("Server execution failed (%1)").arg(progId), 0x80080005);
  return TAutoValue(std::move(object));
}

TAutoValue GetActiveOleObject(const QString& progId) {
  Registry& registry = TheRegistry();
  std::lock_guard guard(registry.lock);
  if (!registry.classes.contains(Key(progId))) ThrowInvalidClass(progId);
  std::erase_if(registry.running, [](const Registry::Running& r) { return r.object.expired(); });
  for (const Registry::Running& r : registry.running)
    if (r.progId == Key(progId))
      if (std::shared_ptr<TAutoObject> object = r.object.lock()) return TAutoValue(object);
  throw EOleSysError(QStringLiteral("Operation unavailable (%1)").arg(progId),
                     autoerr::kUnavailable);
}

void RegisterActiveObject(const QString& progId, const std::shared_ptr<TAutoObject>& object) {
  Registry& registry = TheRegistry();
  std::lock_guard guard(registry.lock);
  registry.running.push_back({Key(progId), object});
}

void RevokeActiveObject(const QString& progId, const TAutoObject* object) {
  Registry& registry = TheRegistry();
  std::lock_guard guard(registry.lock);
  std::erase_if(registry.running, [&](const Registry::Running& r) {
    if (r.progId != Key(progId)) return false;
    const std::shared_ptr<TAutoObject> held = r.object.lock();
    return !held || held.get() == object;
  });
}

}  // namespace qav
