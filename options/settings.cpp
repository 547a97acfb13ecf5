#include "options/settings.h"

#include "options/conversion_options.h"
#include "platform/paths.h"
#include "platform/private_profile.h"
#include "platform/text.h"

namespace {
constexpr size_t kCaptionMaxBytes = 259;
const char* const kCommonSection = "Common";
const char* const kFieldsSection = "FIELDS";
}  // namespace

std::string programSettingsPath() { return replaceExtensionAfterLastDot(executablePath(), ".ini"); }

std::string fieldCaptionPath(const ConversionOptions* options) {
  return replaceExtensionAfterLastDot(options->sourcePath, "ini");
}

void readProgramSettings(ConversionOptions* options) { readProgramSettings(options, programSettingsPath()); }

void readProgramSettings(ConversionOptions* options, const std::string& settingsFile) {
  options->logEnabled = readProfileInt(kCommonSection, "Log", 0, settingsFile);
  options->overwriteFile = readProfileInt(kCommonSection, "OverWrite", 0, settingsFile);
  options->openOutput = readProfileInt(kCommonSection, "Open", 1, settingsFile);
}

void writeProgramSettings(ConversionOptions* options) { writeProgramSettings(options, programSettingsPath()); }

void writeProgramSettings(ConversionOptions* options, const std::string& settingsFile) {
  writeProfileString(kCommonSection, "Log", std::to_string(options->logEnabled), settingsFile);
  writeProfileString(kCommonSection, "OverWrite", std::to_string(options->overwriteFile), settingsFile);
  writeProfileString(kCommonSection, "Open", std::to_string(options->openOutput), settingsFile);
}

std::string readFieldCaption(const std::string& fieldName, const ConversionOptions* options) {
  std::string title = utf8Prefix(readProfileString(kFieldsSection, fieldName, "", fieldCaptionPath(options)),
                                 kCaptionMaxBytes);
  return title.empty() ? fieldName : title;
}
