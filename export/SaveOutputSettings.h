#pragma once

#include <QObject>
#include <QString>
#include <memory>

namespace qav {

class TExportBaseComponent;

// The formats of the console's "Save output TO", numbered as the save dialog's filter: the five
// classic ones, then today's Excel workbook and UTF-8 CSV.
enum class TSaveFormat { Xls = 1, Word = 2, Text = 3, Wks = 4, Quattro = 5, Xlsx = 6, Csv = 7 };

// One type of the save dialog: its description and pattern as the filter lists them, the format
// it writes and the extension the dialog proposes after a save in it (none when empty).
struct TSaveType {
  const char* Description;
  const char* Pattern;
  TSaveFormat Format;
  const char* ProposedExtension;
};

// The save dialog's types in the order its filter lists them; the dialog's answer is matched to
// a type by its position, never by its description (which a dialog may show altered). A new
// type goes at the end, so that the filter index a user last chose keeps its meaning.
inline constexpr TSaveType kSaveTypes[] = {
    {"Microsoft  Excel fies", "*.xls", TSaveFormat::Xls, "XLS"},
    {"Microsoft  Word document", "*.doc", TSaveFormat::Word, "Doc"},
    {"Text", "*.txt", TSaveFormat::Text, "txt"},
    {"Lotus 1-2-3", "*.wks", TSaveFormat::Wks, "Wks"},
    {"QuattroPro spreadsheet", "*.wq1", TSaveFormat::Quattro, ""},
    {"Excel workbook", "*.xlsx", TSaveFormat::Xlsx, "xlsx"},
    {"CSV (UTF-8)", "*.csv", TSaveFormat::Csv, "csv"},
};

// The save dialog's filter, as the users know it: "Description|*.ext|...".
QString SaveOutputFilter();
// The type at a one-based filter index, or null outside the list.
const TSaveType* SaveTypeAt(int filterIndex);
// The extension a name typed without one takes in that type: the pattern's, as the type list
// spells it.
QString SaveTypeExtension(const TSaveType& type);

// The export component of a format with every setting the console gives it. Its column
// source and data are the caller's to set.
std::unique_ptr<TExportBaseComponent> CreateSaveOutputComponent(TSaveFormat format,
                                                                QObject* owner = nullptr);

}  // namespace qav
