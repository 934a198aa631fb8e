#pragma once

#include <QString>

namespace qav {

// The numbers of the export components' messages and captions.
enum TExportStringId {
  lsPropertyNotSpecified = 0,  // "Property %s is not specified."
  lsUnsupportedGrid = 1,       // "Assigned DBGrid (%s) is not a supported type"
  lsExportDone = 2,            // "The %s file was successfully generated with exported data."
  lsExportError = 3,           // "Error of data export."
  lsExporting = 8,             // "Exporting..."
  lsNoProcessDialog = 9,       // "Can't create a process dialog"
  lsCancelCaption = 12,        // "&Cancel"
  lsExportCanceled = 16,       // "Data export was canceled by user."
};

// The fixed text of an id; empty for a number outside the table. The other numbers of the
// numbering held captions of setup dialogs that this program does not have.
QString ExportLanguageText(int id);

// Replaces the "%s" of a table text.
QString FormatExportText(const QString& text, const QString& argument);

}  // namespace qav
