#pragma once

#include "automation/DocxDocument.h"

#include <QByteArray>
#include <QString>

namespace qav::docx {

// The document as an Office Open XML word-processing package (a zip of XML parts and the
// pictures), whatever name it is later saved under.
QByteArray WriteDocx(const TDocument& document);
// Writes the package to fileName through a temporary file, so that a failed save leaves an
// existing file as it was. Raises EInOutError with the reason.
void SaveDocx(const TDocument& document, const QString& fileName);

// Text as XML 1.0 can carry it: characters the format forbids (most control characters,
// unpaired surrogates, U+FFFE and U+FFFF) are left out.
QString XmlSafeText(QStringView text);

}  // namespace qav::docx
