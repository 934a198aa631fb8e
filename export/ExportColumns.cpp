#include "export/ExportColumns.h"

namespace qav {

void TExportColumnTitle::Assign(const TExportColumnTitle& source) {
  Caption = source.Caption;
  Color = source.Color;
  Alignment = source.Alignment;
  Font = source.Font;
}

int TExportColumn::Index() const {
  if (!collection_) return -1;
  for (int i = 0; i < collection_->Count(); ++i)
    if (&collection_->Items(i) == this) return i;
  return -1;
}

void TExportColumn::Assign(const TExportColumn& source) {
  if (collection_) collection_->BeginUpdate();
  FieldName = source.FieldName;
  FieldIndex = source.FieldIndex;
  Color = source.Color;
  Width = source.Width;
  Font = source.Font;
  Alignment = source.Alignment;
  Visible = source.Visible;
  Title.Assign(source.Title);
  if (collection_) collection_->EndUpdate();
}

TExportColumn& TExportColumns::Add() {
  items_.push_back(std::make_unique<TExportColumn>(this));
  return *items_.back();
}

int TExportColumns::VisibleCount() const {
  int n = 0;
  for (const auto& c : items_) n += c->Visible;
  return n;
}

void TExportColumns::Clear() {
  items_.clear();
}

void TExportColumns::Assign(const TExportColumns& source) {
  if (&source == this) return;
  BeginUpdate();
  items_.clear();
  for (const auto& c : source.items_) Add().Assign(*c);
  EndUpdate();
}

}  // namespace qav
