#pragma once
// Appending one record line to a file shared by several helper processes.

#include <string>
#include <string_view>

namespace plovatek::testing {

// The value of an environment variable; empty when it is not set.
std::wstring EnvironmentValue(const wchar_t* name);

// Appends line + LF in one write (append mode, so records of processes that run
// at the same time do not overwrite each other). False when the file cannot be
// opened or written.
bool AppendLine(const std::wstring& path, std::string_view line);

// GetCommandLineW split the way a program's own C runtime would see it.
std::string ArgumentsJson();

}  // namespace plovatek::testing
