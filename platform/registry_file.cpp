#include "platform/registry_file.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "platform/private_profile.h"

namespace {
const char* const kKeySection = "Software\\Fallowmere\\Wizards";

std::string configHome() {
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/') return xdg;
  if (const char* home = std::getenv("HOME"); home && home[0]) return std::string(home) + "/.config";
  if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return std::string(pw->pw_dir) + "/.config";
  return "/tmp";
}
}  // namespace

std::string userSettingsFolder() { return configHome() + "/Fallowmere/"; }

std::string registryFilePath() { return userSettingsFolder() + "Wizards.ini"; }

std::optional<std::string> readRegistryValue(const std::string& name) {
  return readProfileValue(kKeySection, name, registryFilePath());
}

bool writeRegistryValue(const std::string& name, const std::string& value) {
  std::string file = registryFilePath();
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(file).parent_path(), ec);
  return writeProfileString(kKeySection, name, value, file);
}
