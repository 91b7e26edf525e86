#include "support/UtilityFunctions.h"

#include "errortrap/Procedure.h"
#include "base/VbError.h"
#include "support/CommonLogger.h"
#include "support/CommonWordInteractionFunctions.h"
#include "support/GetSpecialFolder.h"

namespace tamberlux::UtilityFunctions {

using vbw::Var;

namespace {

// The Templates folder and those above it, when Word has not made them yet.
void CreateFolders(const std::wstring& path) {
  for (size_t at = path.find(L'\\', 3); at != std::wstring::npos; at = path.find(L'\\', at + 1))
    CreateDirectoryW(path.substr(0, at).c_str(), nullptr);
}

// Copies source over destination. A missing source is left as the product's
// installer left it (nothing to copy, nothing said); any other failure raises
// "Path/File access error" (75), naming both files and the Windows error.
void CopyTemplate(const std::wstring& source, const std::wstring& destination) {
  if (GetFileAttributesW(source.c_str()) == INVALID_FILE_ATTRIBUTES) return;
  CreateFolders(destination);
  if (CopyFileW(source.c_str(), destination.c_str(), FALSE)) return;
  const DWORD error = GetLastError();
  vb::Raise(vb::kPathFileAccessError, L"The template " + source + L" could not be copied to " + destination +
                                          L" (Windows error " + std::to_wstring(error) + L")");
}

}  // namespace

std::wstring SRC_PATH(const std::wstring& name) {
  std::wstring result;
  vbw::Proc p(L"UtilityFunctions.SRC_PATH[Get]", vbw::BannerOnly, {Var(L"name", name)});
  p.Run([&] {
    p(101, [&] {
      int32_t csidl = GetSpecialFolder::CSIDL_PROGRAM_FILES;
      result = GetSpecialFolder::fGetSpecialFolder(csidl) + L"Valdomeren\\" + name + L"\\";
    });
  });
  return result;
}

bool fileExists(const std::wstring& path) {
  bool result = false;
  vbw::Proc p(L"UtilityFunctions.fileExists", vbw::BannerOnly, {Var(L"path", path)});
  p.Run([&] {
    p.ResumeNext();
    p(201, [&] {
      const DWORD attributes = GetFileAttributesW(path.c_str());
      result = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    });
  });
  return result;
}

FILETIME getTime(const std::wstring& filePath) {
  FILETIME result{};
  vbw::Proc p(L"UtilityFunctions.getTime", vbw::BannerOnly, {Var(L"filePath", filePath)});
  FILETIME creation{}, lastAccess{}, lastWrite{};
  p.Local(L"creation", creation);
  p.Local(L"lastAccess", lastAccess);
  p.Local(L"lastWrite", lastWrite);
  p.Run([&] {
    Handle file;
    p(301, [&] {
      file = Handle(CreateFileW(filePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    });
    if (!file) return;
    p(302, [&] { GetFileTime(file.Get(), &creation, &lastAccess, &lastWrite); });
    p(303, [&] { result = lastWrite; });
  });
  return result;
}

std::wstring TrustedTemplatePath(const std::wstring& fileName) {
  int32_t csidl = GetSpecialFolder::CSIDL_APPDATA;
  return GetSpecialFolder::fGetSpecialFolder(csidl) + L"Microsoft\\Templates\\" + fileName;
}

bool NeedToCopy(const std::wstring& name, const std::wstring& templatePath) {
  bool result = false;
  vbw::Proc p(L"UtilityFunctions.NeedToCopy", vbw::BannerOnly, {Var(L"name", name), Var(L"templatePath", templatePath)});
  FILETIME source{}, copy{};
  p.Local(L"source", source);
  p.Local(L"copy", copy);
  p.Run([&] {
    bool exists = false;
    p(401, [&] { exists = fileExists(templatePath); });
    if (!exists) {
      result = true;
      return;
    }
    // The source's time is always the ".dot" file's, whichever file is copied.
    p(402, [&] { source = getTime(SRC_PATH(name) + name + L".dot"); });
    p(403, [&] { copy = getTime(templatePath); });
    p(404, [&] {
      result = source.dwLowDateTime != copy.dwLowDateTime || source.dwHighDateTime != copy.dwHighDateTime;
    });
  });
  return result;
}

std::wstring CopyTemplateIntoTrustedFolder(const std::wstring& name) {
  std::wstring result;
  vbw::Proc p(L"UtilityFunctions.CopyTemplateIntoTrustedFolder", vbw::BannerOnly, {Var(L"name", name)});
  std::wstring fileName, destination;
  p.Local(L"fileName", fileName);
  p.Local(L"destination", destination);
  p.Run([&] {
    p(501, [&] { CommonLogger::Log(L"CopyTemplateIntoTrustedFolder"); });
    p(502, [&] { fileName = name + (CommonWordInteractionFunctions::isWord2007OrLater() ? L".dotm" : L".dot"); });
    p(503, [&] { destination = TrustedTemplatePath(fileName); });
    bool copy = false;
    p(504, [&] { copy = NeedToCopy(name, destination); });
    if (copy) {
      std::wstring source;
      p(505, [&] { source = SRC_PATH(name) + fileName; });
      p(506, [&] { CommonLogger::Log(L"Copying " + source); });
      // A copy that fails is reported: Word would otherwise be handed the
      // path of a template that is not there.
      p(507, [&] { CopyTemplate(source, destination); });
    }
    p(508, [&] { result = L"\"" + destination + L"\""; });
  });
  return result;
}

}  // namespace tamberlux::UtilityFunctions
