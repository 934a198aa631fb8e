#pragma once

#include <QObject>
#include <QString>
#include <memory>

namespace qav {

class TExportBaseComponent;

// The formats of the console's "Save output TO", numbered as the save dialog's filter: the five
// classic ones, then today's Excel workbook and UTF-8 CSV.
enum class TSaveFormat { Xls = 1, Word = 2, Text = 3, Wks = 4, Quattro = 5, Xlsx = 6, Csv = 7 };

// The save dialog's filter, as the users know it; the newer formats follow the classic five.
inline constexpr char kSaveOutputFilter[] =
    "Microsoft  Excel fies|*.xls|Microsoft  Word document|*.doc|Text|*.txt|Lotus 1-2-3|*.wks|"
    "QuattroPro spreadsheet|*.wq1|Excel workbook|*.xlsx|CSV (UTF-8)|*.csv";

// The export component of a format with every setting the console gives it. Its column
// source and data are the caller's to set.
std::unique_ptr<TExportBaseComponent> CreateSaveOutputComponent(TSaveFormat format,
                                                                QObject* owner = nullptr);

// The default extension the save dialog proposes after a save in that format.
QString DefaultExtensionAfter(TSaveFormat format);

}  // namespace qav
