#pragma once

#include "automation/Automation.h"

#include <memory>

namespace qav {

// The document server that this program carries in place of the word processor, registered as
// "Word.Application". It serves the members a document export drives, with the word
// processor's meaning:
//
//   application  Visible, Documents, ActiveDocument, Quit
//   documents    Add, Open, Count, Item
//   document     Content, Range([Start, End]), Tables, InlineShapes, SaveAs, Close, Name,
//                FullName
//   range        Start, End, Text, Bold, Italic, Underline, ParagraphFormat.Alignment,
//                Font.ColorIndex, Font.Name, Font.Bold, Font.Italic, Font.Underline,
//                HighlightColorIndex, InsertAfter, InsertParagraphAfter, Tables
//   tables       Add(Range, NumRows, NumColumns), Count, Item
//   table        Columns.Item(i).SetWidth, Columns.Item(i).Width, Columns.Count, Rows.Count,
//                Cell(Row, Column).Range
//   inline shapes AddPicture(FileName, LinkToFile, SaveWithDocument, Range), Count
//
// SaveAs writes an Office Open XML word-processing document under the name it is given, whatever
// the extension; Open reads one back. The server lives in this process: it ends with Quit, or
// when nothing refers to it any more; after Quit every object of it fails as a disconnected
// server does. Pictures are embedded whatever LinkToFile says.
std::shared_ptr<TAutoObject> NewWordApplication();

inline constexpr char kWordApplicationProgId[] = "Word.Application";

}  // namespace qav
