#include "platform/paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <vector>

std::string executablePath() {
  std::vector<char> buf(4096);
  for (;;) {
    ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size());
    if (n < 0) return {};
    if (static_cast<size_t>(n) < buf.size()) return std::string(buf.data(), static_cast<size_t>(n));
    buf.resize(buf.size() * 2);
  }
}

std::string folderOf(const std::string& path) {
  auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string fileNameOf(const std::string& path) {
  auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string fileNameOfStoredPath(const std::string& path) {
  auto cut = path.find_last_of("\\/");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::string replaceExtensionAfterLastDot(const std::string& path, const std::string& extension) {
  // Only a dot in the file name counts: a dot in a folder name must not cut the path there.
  auto slash = path.rfind('/');
  auto dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path + extension;
  bool keepDot = !extension.empty() && extension[0] != '.';
  return path.substr(0, keepDot ? dot + 1 : dot) + extension;
}

bool isExistingFolder(const std::string& path) {
  struct stat st {};
  return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}
