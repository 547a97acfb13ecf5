#include "options/recent_paths.h"

#include "platform/registry_file.h"
#include "platform/text.h"

namespace {
// Values are read into a 255-byte buffer, terminator included.
constexpr size_t kLongestValue = 254;
constexpr int kRecentPlaces = 10;
}  // namespace

LastPath readLastPath(const std::string& name) {
  auto value = readRegistryValue(name);
  if (!value || value->size() > kLongestValue) return {};
  return {*value, true};
}

void writeLastPath(const std::string& name, const std::string& text) { writeRegistryValue(name, text); }

std::vector<std::string> loadRecentList(const std::string& listName) {
  std::vector<std::string> paths;
  for (int i = 0; i < kRecentPlaces; ++i) {
    LastPath value = readLastPath(listName + std::to_string(i));
    if (value.found && !value.text.empty()) paths.push_back(value.text);
  }
  return paths;
}

void updateRecentList(const std::string& path, const std::string& listName) {
  std::vector<std::string> entries{path};
  for (int i = 0; i < kRecentPlaces; ++i) {
    std::string value = readLastPath(listName + std::to_string(i)).text;
    if (!asciiEqualsIgnoreCase(value, path)) entries.push_back(value);
  }
  entries.resize(kRecentPlaces);  // every old value may have been the new path
  for (int i = 0; i < kRecentPlaces; ++i) writeLastPath(listName + std::to_string(i), entries[static_cast<size_t>(i)]);
}
