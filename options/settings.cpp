#include "options/settings.h"

#include <filesystem>
#include <system_error>

#include "options/conversion_options.h"
#include "platform/paths.h"
#include "platform/private_profile.h"
#include "platform/registry_file.h"
#include "platform/text.h"

namespace {
constexpr size_t kCaptionMaxBytes = 259;
const char* const kCommonSection = "Common";
const char* const kFieldsSection = "FIELDS";

// Each key keeps the value it has when the file does not hold it, so a later file overrides an
// earlier one key by key.
void overlaySettings(ConversionOptions* options, const std::string& settingsFile) {
  options->logEnabled = readProfileInt(kCommonSection, "Log", options->logEnabled, settingsFile);
  options->overwriteFile = readProfileInt(kCommonSection, "OverWrite", options->overwriteFile, settingsFile);
  options->openOutput = readProfileInt(kCommonSection, "Open", options->openOutput, settingsFile);
  options->typedCells = readProfileInt(kCommonSection, "Cells", options->typedCells, settingsFile);
  options->tableLayout = readProfileInt(kCommonSection, "Layout", options->tableLayout, settingsFile);
  options->valueFiles = readProfileInt(kCommonSection, "Files", options->valueFiles, settingsFile);
}

void setSettingsDefaults(ConversionOptions* options) {
  options->logEnabled = 0;
  options->overwriteFile = 0;
  options->openOutput = 1;
  options->typedCells = 0;
  options->tableLayout = 0;
  options->valueFiles = 0;
}
}  // namespace

std::string programSettingsPath() { return replaceExtensionAfterLastDot(executablePath(), ".ini"); }

std::string userSettingsPath() { return userSettingsFolder() + fileNameOf(programSettingsPath()); }

std::string fieldCaptionPath(const ConversionOptions* options) {
  return replaceExtensionAfterLastDot(options->sourcePath, "ini");
}

void readProgramSettings(ConversionOptions* options) {
  readProgramSettings(options, programSettingsPath(), userSettingsPath());
}

void readProgramSettings(ConversionOptions* options, const std::string& programFile, const std::string& userFile) {
  setSettingsDefaults(options);
  overlaySettings(options, programFile);
  overlaySettings(options, userFile);
}

void readProgramSettings(ConversionOptions* options, const std::string& settingsFile) {
  setSettingsDefaults(options);
  overlaySettings(options, settingsFile);
}

bool writeProgramSettings(ConversionOptions* options, std::string* error) {
  return writeProgramSettings(options, userSettingsPath(), error);
}

bool writeProgramSettings(ConversionOptions* options, const std::string& settingsFile, std::string* error) {
  std::error_code made;
  std::filesystem::path folder = std::filesystem::path(settingsFile).parent_path();
  if (!folder.empty() && !std::filesystem::is_directory(folder, made)) {
    std::filesystem::create_directories(folder, made);
    if (made) {
      if (error) *error = made.message();
      return false;
    }
  }
  // In one replacement: a failed save leaves the file as it was, not with some keys new.
  return writeProfileStrings(kCommonSection,
                             {{"Log", std::to_string(options->logEnabled)},
                              {"OverWrite", std::to_string(options->overwriteFile)},
                              {"Open", std::to_string(options->openOutput)},
                              {"Cells", std::to_string(options->typedCells)},
                              {"Layout", std::to_string(options->tableLayout)},
                              {"Files", std::to_string(options->valueFiles)}},
                             settingsFile, error);
}

std::string readFieldCaption(const std::string& fieldName, const ConversionOptions* options) {
  std::string title = utf8Prefix(readProfileString(kFieldsSection, fieldName, "", fieldCaptionPath(options)),
                                 kCaptionMaxBytes);
  return title.empty() ? fieldName : title;
}
