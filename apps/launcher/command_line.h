#pragma once
// What the command line asked for, and the rules that read it.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace plovatek {

struct LaunchRequest {
  std::string link;            // last argument starting "plovatek:", as given
  std::string websiteAddress;  // settled WebsiteAddress, or empty
  std::string fileToOpen;      // last place or model file, as given
  bool openStudio = false;
  bool noStart = false;
  bool removePlatform = false;  // never seen by the launch job
  std::filesystem::path installHome;
  std::string websiteFileText;  // whole website.txt, read once at start-up
};

// Walks the arguments into request; installHome must already hold the default.
void ScanArguments(const std::vector<std::string>& arguments, LaunchRequest& request);

// "--website", else the stamp, else website.txt's first line, else the link's "origin".
std::string SettleWebsiteAddress(const LaunchRequest& request, std::string_view stamp);

// The path library's extension, lower-cased in ASCII ("" when there is none).
std::string LowerCaseExtension(std::string_view argument);
bool IsPlaceFile(std::string_view argument);
bool IsModelFile(std::string_view argument);

// Raw value of the first query parameter with exactly that name, or empty.
std::string QueryParameter(std::string_view link, std::string_view name);
std::string PercentDecode(std::string_view text);

// The whole run: removal or launch. Returns the process exit code.
int LauncherMain(const std::vector<std::string>& arguments);
// The same with the default install home given (empty: none could be found).
int LauncherMain(const std::vector<std::string>& arguments, const std::filesystem::path& defaultHome);

}  // namespace plovatek
