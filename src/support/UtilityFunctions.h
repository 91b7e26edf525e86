// The product's template and its copy in the folder Word trusts.
#pragma once

#include <windows.h>

#include <string>

namespace tamberlux::UtilityFunctions {

// Program Files + "Valdomeren\" + name + "\": where the product installs its template.
std::wstring SRC_PATH(const std::wstring& name);
// True for a file that exists; false for a folder or anything unreadable.
bool fileExists(const std::wstring& path);
// The file's last-write time; zero when it cannot be opened.
FILETIME getTime(const std::wstring& filePath);
// Where Word's trusted templates folder keeps fileName.
std::wstring TrustedTemplatePath(const std::wstring& fileName);
// True when the copy is missing or its time differs from the source ".dot".
bool NeedToCopy(const std::wstring& name, const std::wstring& templatePath);
// Copies the template into the user's Templates folder when needed (making
// the folder when Word has not), and answers the copy's path in double
// quotes. A missing source copies nothing, silently; a copy that fails
// otherwise goes to the error trap ("Path/File access error").
std::wstring CopyTemplateIntoTrustedFolder(const std::wstring& name);

}  // namespace tamberlux::UtilityFunctions
