// Settings kept between runs: the program settings file beside the executable (section Common)
// and the field caption file beside a source database (section FIELDS).
#pragma once

#include <string>

struct ConversionOptions;

// The running executable's path with its extension replaced by ".ini".
std::string programSettingsPath();

// The source database's path with its extension replaced by "ini".
std::string fieldCaptionPath(const ConversionOptions* options);

// Log, OverWrite and Open of the program settings file into logEnabled, overwriteFile and
// openOutput; missing keys give 0, 0 and 1. The path defaults to programSettingsPath().
void readProgramSettings(ConversionOptions* options);
void readProgramSettings(ConversionOptions* options, const std::string& settingsFile);

// Writes Log, OverWrite and Open, in this order; failures are ignored.
void writeProgramSettings(ConversionOptions* options);
void writeProgramSettings(ConversionOptions* options, const std::string& settingsFile);

// The column title for a field: its entry in the caption file, or the field name itself when the
// file, the entry or its value is missing. Titles are cut to 259 bytes.
std::string readFieldCaption(const std::string& fieldName, const ConversionOptions* options);
