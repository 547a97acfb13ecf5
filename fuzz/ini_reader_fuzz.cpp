// libFuzzer entry point for the settings-file functions: every key of every section the input
// holds is read as a text and as a number; then a copy of the input gets one existing key and
// one new key written, and both must read back as written. A crash, a sanitizer report, a leak or
// a value that does not read back is a finding.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fuzz/memory_file.h"
#include "platform/private_profile.h"

namespace {

// Bounds that keep one input quick: each read parses the whole file again.
constexpr size_t kMostKeys = 200;

[[noreturn]] void finding(const std::string& what) {
  std::fprintf(stderr, "ini_reader_fuzz: %s\n", what.c_str());
  std::abort();
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

// The (section, key) names the input holds, found the plain way: a line opening with [ names a
// section up to its ], a line with = outside a comment a key.
std::vector<std::pair<std::string, std::string>> namesIn(std::string_view text) {
  std::vector<std::pair<std::string, std::string>> names;
  std::string section;
  bool inSection = false;
  while (!text.empty() && names.size() < kMostKeys) {
    size_t nl = text.find('\n');
    std::string_view line = trim(text.substr(0, nl));
    text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
    if (!line.empty() && line.front() == '[') {
      size_t close = line.find(']');
      section = trim(line.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
      inSection = true;
    } else if (inSection && !line.empty() && line.front() != ';' && line.find('=') != std::string_view::npos) {
      names.emplace_back(section, trim(line.substr(0, line.find('='))));
    }
  }
  return names;
}

void expectReadBack(const std::string& section, const std::string& key, const std::string& file) {
  const std::string value = "fuzz \"value\" 42";
  std::string error;
  if (!writeProfileString(section, key, value, file, &error)) return;  // names it refuses
  auto back = readProfileValue(section, key, file);
  if (!back || *back != value)
    finding("[" + section + "] " + key + " was written but reads back as " + (back ? *back : "nothing"));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  auto names = namesIn(text.substr(0, 3) == "\xEF\xBB\xBF" ? text.substr(3) : text);
  {
    MemoryFile input(data, size, "fuzz.ini");
    const std::string path = input.path();
    for (const auto& [section, key] : names) {
      (void)readProfileValue(section, key, path);
      (void)readProfileString(section, key, "fallback", path);
      (void)readProfileInt(section, key, -7, path);
    }
    (void)readProfileValue("Missing section", "Missing key", path);
  }
  // The writes need a real folder: the new file is renamed over the old one.
  static const ScratchFolder scratch("quarlex-ini-fuzz");
  const std::filesystem::path& folder = scratch.path();
  const std::filesystem::path copy = folder / "settings.ini";
  std::ofstream(copy, std::ios::binary | std::ios::trunc).write(text.data(), static_cast<std::streamsize>(text.size()));
  if (!names.empty()) expectReadBack(names.front().first, names.front().second, copy.string());
  expectReadBack("Fuzz section", "Fuzz key", copy.string());
  std::filesystem::remove(copy);
  int left = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) ++left;
  if (left != 0) finding("a write left a file beside the settings file");
  if (openMemoryFiles() != 0) finding("the reader left the input open");
  return 0;
}
