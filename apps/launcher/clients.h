#pragma once
// Handing over to another program: a client of the platform, or the browser.

#include <filesystem>
#include <string>
#include <vector>

namespace plovatek {

// Starts the executable with every argument in double quotes (backslashes that
// end an argument doubled) and its own folder as the working folder, then lets it run on its own (no handle kept, no wait).
// False with a sentence in error when an argument holds a double quote (nothing
// is started) or Windows did not create the process; error is untouched on success.
bool StartClient(const std::filesystem::path& executable, const std::vector<std::string>& arguments,
                 std::string& error);

// Asks the shell to open the URL with the user's default handler; failures are not reported.
void OpenLink(const std::string& url);

}  // namespace plovatek
