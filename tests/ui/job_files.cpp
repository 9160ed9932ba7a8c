#include "tests/ui/job_files.h"

#include <fstream>

#include "job/job_lock.h"
#include "platform/utf8_path.h"
#include "ui/station_image.h"

namespace torvane::testing {

std::string WriteJobFile(const std::string& image, const std::string& name, const std::string& extra,
                         const std::string& more, const std::string& password) {
  const std::string folder = image.substr(0, image.find_last_of("/\\") + 1);
  std::string text = "[job]\nimage = " + image.substr(folder.size()) + "\nsha256 = " + ReadStationImage(image).digest.sha256 +
                     "\n" + extra + more;
  if (!password.empty()) text += "[lock]\npassword = " + MakeJobLockValue(password, kJobLockMinIterations) + "\n";
  const std::string path = folder + name;
  std::ofstream(platform::PathFromUtf8(path), std::ios::binary) << text;
  return path;
}

}  // namespace torvane::testing
