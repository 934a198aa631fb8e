#include "console/SaveOutputFlow.h"

#include "app/DM.h"
#include "app/Dialogs.h"
#include "console/HeldResult.h"
#include "console/ResultGrid.h"
#include "console/ResultModel.h"
#include "export/CellFileExport.h"
#include "export/ExportComponent.h"
#include "export/ExportStrings.h"

#include <QFileInfo>
#include <QLocale>
#include <memory>

namespace qav {

// The folder the console was first shown in, where the save dialog starts.
extern QString StartFolder;

namespace {

// The save type whose files end in that extension (without regard to case), or null.
const TSaveType* SaveTypeOfExtension(const QString& suffix) {
  for (const TSaveType& type : kSaveTypes)
    if (SaveTypeExtension(type).compare(suffix, Qt::CaseInsensitive) == 0) return &type;
  return nullptr;
}

}  // namespace

TSaveOutputFlow::TSaveOutputFlow(TResultGrid* grid, db::TDataSet* dataSet, QObject* owner)
    : QObject(owner), grid_(grid), dataSet_(dataSet) {
  for (const TSaveType& type : kSaveTypes) {
    TExportBaseComponent* c =
        CreateSaveOutputComponent(type.Format, owner).release();  // owned by the window
    c->SetDBGrid(grid);
    c->SetDataSet(dataSet);
    components_.push_back(c);
  }
}

TExportBaseComponent* TSaveOutputFlow::ComponentFor(TSaveFormat format) const {
  for (std::size_t i = 0; i < components_.size(); ++i)
    if (kSaveTypes[i].Format == format) return components_[i];
  return nullptr;
}

bool TSaveOutputFlow::Run(TResultGrid* front) {
  const db::TDataSet& source = *front->DataSource();
  DialogReply reply;
  const TSaveType* type = nullptr;
  for (;;) {
    DialogRequest request;
    request.kind = DialogRequest::Kind::SaveFile;
    request.folder = StartFolder;
    request.filter = SaveOutputFilter();
    request.filterIndex = FilterIndex;
    request.defaultSuffix = DefaultExt;
    reply = Dialogs::Show(request);
    if (!reply.accepted) return false;
    type = SaveTypeAt(reply.filterIndex);
    if (!type) return false;  // no type of ours: nothing to run
    // A name typed without an extension takes the chosen type's, whatever the dialog proposed;
    // an extension of one of the types chooses that type, so that the file is what its name
    // says whichever type the list showed.
    const QString suffix = QFileInfo(reply.fileName).suffix();
    if (suffix.isEmpty())
      reply.fileName += u'.' + SaveTypeExtension(*type);
    else if (const TSaveType* typed = SaveTypeOfExtension(suffix))
      type = typed;
    FilterIndex = static_cast<int>(type - kSaveTypes) + 1;
    if (!QFileInfo::exists(reply.fileName)) break;
    if (DM && DM->AskConfirm(QStringLiteral("File Exists!! Overwrite this file ?"))) break;
  }
  DefaultExt = QString::fromUtf8(type->ProposedExtension);
  TExportBaseComponent* component = ComponentFor(type->Format);
  // A sorted grid is saved in the order the user sees: its rows in that order, in a grid of
  // their own that nobody sees.
  TResultGrid* grid = front;
  std::unique_ptr<THeldResult> shown;
  std::unique_ptr<TResultGrid> shownGrid;
  if (grid->Sorted()) {
    shown = std::make_unique<THeldResult>(grid->ResultModel()->ShownRows(), nullptr);
    shownGrid = std::make_unique<TResultGrid>();
    shownGrid->setFont(grid->font());
    shownGrid->SetDataSource(shown.get());
    grid = shownGrid.get();
  }
  component->SetDBGrid(grid);
  component->SetDataSet(grid->DataSource());
  Save(component, reply.fileName, source);
  component->SetDBGrid(grid_);
  component->SetDataSet(dataSet_);
  return true;
}

void TSaveOutputFlow::Save(TExportBaseComponent* component, const QString& fileName,
                           const db::TDataSet& source) {
  component->FileName = fileName;
  component->Execute();
  // A failed run has had its own message.
  switch (component->RunStatus()) {
    case rsDone: {
      QString message = QStringLiteral("OK !! Exported To ") + fileName;
      // A result stopped by Escape is not the whole result, and the file must not pass for it.
      if (source.FetchCancelled())
        message += QStringLiteral(
                       "\n\nThe file holds %1 of the rows: the statement was stopped "
                       "before the rest arrived.")
                       .arg(QLocale(QLocale::English).toString(source.RecordCount()));
      // Characters the 8-bit formats cannot hold are not lost without a word.
      const auto* cells = dynamic_cast<const TExportToCellFile*>(component);
      if (const QString note = cells ? cells->UnwritableNote() : QString(); !note.isEmpty())
        message += QStringLiteral("\n\n") + note;
      Dialogs::ShowMessage(message);
      break;
    }
    case rsCancelled:
      Dialogs::ShowMessage(component->GetLanguageString(lsExportCanceled));
      break;
    default:
      break;
  }
}

}  // namespace qav
