#pragma once

#include <QString>
#include <QStringList>

namespace qav {

// The program's positional arguments, counted from 1 as the suite's menu program passes them.
// Start-up records them; modules read them again later (the company module reads argument 3
// when its connection opens).
void SetCommandLine(const QStringList& arguments);  // without the program's own path
int ParamCount();
// The argument at that position, or an empty text when there is none.
QString ParamStr(int index);

}  // namespace qav
