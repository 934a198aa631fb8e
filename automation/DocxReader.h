#pragma once

#include "automation/DocxDocument.h"

#include <QByteArray>
#include <QString>
#include <vector>

namespace qav::docx {

// Reads the body of an Office Open XML word-processing package: paragraphs with their
// alignment, runs with the character formats the document server knows, tables with their
// column widths, and inline pictures. Whatever else the package holds (styles, headers,
// numbering, fields) is not kept. Raises EInOutError when the bytes are not such a package.
std::vector<TBlock> ReadDocx(const QByteArray& package, const QString& nameForMessages);
// The same from a file.
std::vector<TBlock> LoadDocx(const QString& fileName);

}  // namespace qav::docx
