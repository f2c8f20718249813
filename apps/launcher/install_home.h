#pragma once
// The install home: where it is, what lies in it, the website address and the
// stamp a website appends to the launcher it serves, and the file helpers.

#include <filesystem>
#include <string>
#include <string_view>

struct _GUID;

namespace plovatek {

// Names inside the install home, used exactly as written.
inline constexpr char kVersionsFolder[] = "Versions";
inline constexpr char kCurrentFile[] = "current.txt";
inline constexpr char kWebsiteFile[] = "website.txt";
inline constexpr char kInstalledMarker[] = "plovatek-installed.txt";
inline constexpr char kLauncherCopy[] = "PlovatekLauncher.exe";
inline constexpr char kOldLauncherCopy[] = "PlovatekLauncher.old.exe";
inline constexpr char kStagingSuffix[] = ".partial";

// CR LF "PLOVATEK-WEBSITE=": the start of the stamp at the end of a launcher file.
inline constexpr std::string_view WebsiteStampMarker = "\r\nPLOVATEK-WEBSITE=";
inline constexpr size_t kStampWindow = 1024;
inline constexpr size_t kMaxWebsiteAddress = 200;

// Local AppData (else the temporary folder) joined with "Plovatek"; empty when
// neither folder is known. Creates nothing.
std::filesystem::path DefaultInstallHome();
// The same rule on given base folders, for callers that already know them.
std::filesystem::path InstallHomeFrom(const std::filesystem::path& localAppData,
                                      const std::filesystem::path& temporary);

// The running launcher's file; empty on failure.
std::filesystem::path OwnExecutablePath();
// Tests stand in for the module-name query behind it (GetModuleFileNameW of the
// process's own module: the name's length, or the capacity when it was cut).
using ModuleFileNameFunction = unsigned long (*)(wchar_t* buffer, unsigned long capacity);
ModuleFileNameFunction ReplaceModuleFileNameForTesting(ModuleFileNameFunction replacement);

// home\Versions\<name in current.txt> when that folder holds its marker; else empty.
std::filesystem::path InstalledVersionFolder(const std::filesystem::path& home);

// An acceptable website base address, or empty. Never fails.
std::string NormaliseWebsiteAddress(std::string_view text);
// The address stamped at the end of a launcher file, or empty.
std::string ReadWebsiteStamp(std::string_view bytes);
// The bytes without a usable stamp (an unusable one stays).
std::string StripWebsiteStamp(std::string_view bytes);
// The bytes before the first CR or LF.
std::string FirstLine(std::string_view text);

// 1 to 40 bytes, not starting with '.', only ASCII letters, digits, '-' and '.'.
bool IsValidVersionName(std::string_view text);

// False (output untouched) when the file cannot be opened or read whole.
bool ReadWholeFile(const std::filesystem::path& path, std::string& bytes);
// Creates missing parent folders (failures ignored), then writes all bytes.
bool WriteWholeFile(const std::filesystem::path& path, std::string_view bytes);

// Deletes a file, or a folder with everything in it, as far as it can: an entry
// that cannot go stays and the rest still goes. Directory links and junctions
// are deleted as links and never entered, so nothing outside the folder is touched.
void RemoveTree(const std::filesystem::path& path);

// SHGetKnownFolderPath with no flags; empty on failure.
std::wstring KnownFolderPath(const _GUID& folderId);

// Paths are UTF-16 on Windows and built from UTF-8 through the strict conversion.
std::filesystem::path PathFromUtf8(std::string_view text);
std::string PathToUtf8(const std::filesystem::path& path);

}  // namespace plovatek
