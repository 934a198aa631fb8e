#pragma once

#include <QObject>
#include <QString>
#include <memory>

namespace qav {

class TExportBaseComponent;

// The five formats of the console's "Save output TO", numbered as the save dialog's filter.
enum class TSaveFormat { Xls = 1, Word = 2, Text = 3, Wks = 4, Quattro = 5 };

// The save dialog's filter, as the users know it.
inline constexpr char kSaveOutputFilter[] =
    "Microsoft  Excel fies|*.xls|Microsoft  Word document|*.doc|Text|*.txt|Lotus 1-2-3|*.wks|"
    "QuattroPro spreadsheet|*.wq1";

// The export component of a format with every setting the console gives it. Its column
// source and data are the caller's to set.
std::unique_ptr<TExportBaseComponent> CreateSaveOutputComponent(TSaveFormat format,
                                                                QObject* owner = nullptr);

// The default extension the save dialog proposes after a save in that format.
QString DefaultExtensionAfter(TSaveFormat format);

}  // namespace qav
