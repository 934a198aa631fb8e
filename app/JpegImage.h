#pragma once

#include <QByteArray>
#include <QImage>

namespace qav {

// Decodes a baseline or progressive JPEG with libjpeg. A null image when the data is not a
// JPEG that libjpeg can read.
QImage DecodeJpeg(const QByteArray& data);

}  // namespace qav
