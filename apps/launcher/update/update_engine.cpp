#include "update/update_engine.h"

namespace plovatek {

UpdateResult RunUpdate(const std::string& website, const std::filesystem::path& home,
                       const ProgressReporter& reporter) {
  (void)home;
  (void)reporter;
  UpdateResult result;
  if (website.empty()) {
    result.error = "No website to update from";  // nothing reported: there is nothing to check
    return result;
  }
  // NOT BUILT YET: fetching the manifest and its signature, checking them and
  // installing the release. Until that lands, an update with a website fails
  // without contacting it: never upToDate, and websiteAnswered stays false
  // because no request was made, so an installed version starts without a box.
  result.error = "This launcher can't download releases yet";
  return result;
}

}  // namespace plovatek
