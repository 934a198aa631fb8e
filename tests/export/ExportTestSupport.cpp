#include "tests/export/ExportTestSupport.h"

#include "db/DateTime.h"

#include <QDateTime>
#include <QFile>

namespace qav::test {

TMemoryDataSet::TMemoryDataSet(std::vector<db::FieldDef> fields,
                               std::vector<std::vector<QVariant>> rows, QObject* owner)
    : db::TDataSet(owner), fields_(std::move(fields)), rows_(std::move(rows)) {}

std::unique_ptr<db::ResultSet> TMemoryDataSet::OpenCursor() {
  auto result = std::make_unique<db::ResultSet>();
  result->fields = fields_;
  result->rows = db::RowStore(static_cast<int>(fields_.size()));
  for (const auto& row : rows_) {
    result->rows.AddRow();
    for (int c = 0; c < static_cast<int>(row.size()); ++c) {
      const QVariant& v = row[static_cast<size_t>(c)];
      switch (v.typeId()) {
        case QMetaType::UnknownType:
          result->rows.SetNull(c);
          break;
        case QMetaType::Bool:
        case QMetaType::Int:
        case QMetaType::LongLong:
          result->rows.SetInt(c, v.toLongLong());
          break;
        case QMetaType::Double:
          result->rows.SetFloat(c, v.toDouble());
          break;
        case QMetaType::QDate:
          result->rows.SetFloat(c, db::EncodeDateTime(v.toDate()));
          break;
        case QMetaType::QDateTime:
          result->rows.SetFloat(c, db::EncodeDateTime(v.toDateTime()));
          break;
        case QMetaType::QByteArray: {
          const QByteArray b = v.toByteArray();
          result->rows.SetBytes(c, std::string_view(b.constData(), static_cast<size_t>(b.size())));
          break;
        }
        default: {
          const QByteArray b = v.toString().toUtf8();
          result->rows.SetBytes(c, std::string_view(b.constData(), static_cast<size_t>(b.size())));
        }
      }
    }
  }
  return result;
}

DialogLog::DialogLog() {
  Dialogs::SetAnswerer([this](const DialogRequest& r) {
    requests.push_back(r);
    DialogReply reply;
    reply.accepted = true;
    return reply;
  });
}

DialogLog::~DialogLog() {
  Dialogs::SetAnswerer({});
}

QStringList DialogLog::Texts() const {
  QStringList out;
  for (const auto& r : requests) out << r.text;
  return out;
}

qint64 FailingDevice::writeData(const char* data, qint64 size) {
  ++writes_;
  if (buffer().size() + size > capacity_) {
    setErrorString(QStringLiteral("No space left on device"));
    return -1;
  }
  return QBuffer::writeData(data, size);
}

QByteArray ReadFileBytes(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return QByteArray();
  return f.readAll();
}

void WriteFileBytes(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  if (f.open(QIODevice::WriteOnly)) f.write(bytes);
}

}  // namespace qav::test
