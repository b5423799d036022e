#pragma once
// The program folder: the folder of the executable, ending with "/". Every relative file name
// of the program (settings, logs, manual, data) is taken from here.

#include <QString>

namespace vtr {

QString ProgramFolder();
// Tests run the program against a folder of their own; empty text restores the default.
void SetProgramFolderForTests(const QString& folder);

} // namespace vtr
