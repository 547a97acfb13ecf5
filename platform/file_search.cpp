#include "platform/file_search.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>

#include "platform/paths.h"

namespace {

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Classic wildcard matching with one remembered star position: linear backtracking, no recursion.
bool wildcardMatch(const std::string& pattern, const std::string& name) {
  size_t p = 0, n = 0, starP = std::string::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      starP = p++;
      starN = n;
    } else if (p < pattern.size() && (pattern[p] == '?' || lower(pattern[p]) == lower(name[n]))) {
      ++p;
      ++n;
    } else if (starP != std::string::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace

bool hasWildcards(const std::string& pattern) { return pattern.find_first_of("*?") != std::string::npos; }

std::vector<std::string> findMatchingFiles(const std::string& pattern) {
  std::vector<std::string> names;
  std::string folder = folderOf(pattern);
  std::string namePattern = fileNameOf(pattern);
  if (namePattern.empty()) return names;
  if (!hasWildcards(namePattern)) {
    struct stat st {};
    if (stat(pattern.c_str(), &st) == 0) names.push_back(namePattern);
    return names;
  }
  DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
  if (!dir) return names;
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (wildcardMatch(namePattern, name)) names.push_back(name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}
