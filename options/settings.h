// Settings kept between runs: the program settings file beside the executable and the current
// user's own settings file (section Common), and the field caption file beside a source database
// (section FIELDS).
#pragma once

#include <string>

struct ConversionOptions;

// The running executable's path with its extension replaced by ".ini".
std::string programSettingsPath();

// The current user's settings file: the program settings file's name in the user's Fallowmere
// folder, $XDG_CONFIG_HOME/Fallowmere/quarlex2007.ini (quarlex.ini for the classic program).
std::string userSettingsPath();

// The source database's path with its extension replaced by "ini".
std::string fieldCaptionPath(const ConversionOptions* options);

// Log, OverWrite, Open, Cells, Layout and Files into logEnabled, overwriteFile, openOutput,
// typedCells, tableLayout and valueFiles: the program settings file first, then the user's, whose
// values win key by key; keys missing from both give 0, 0, 1, 0, 0 and 0.
void readProgramSettings(ConversionOptions* options);
void readProgramSettings(ConversionOptions* options, const std::string& programFile, const std::string& userFile);
// The same from one file.
void readProgramSettings(ConversionOptions* options, const std::string& settingsFile);

// Writes Log, OverWrite, Open, Cells, Layout and Files, all in one replacement, into the user's settings file (or `settingsFile`),
// making its folder when missing. False when it cannot be written, with the reason in `error`.
bool writeProgramSettings(ConversionOptions* options, std::string* error = nullptr);
bool writeProgramSettings(ConversionOptions* options, const std::string& settingsFile, std::string* error = nullptr);

// The column title for a field: its entry in the caption file, or the field name itself when the
// file, the entry or its value is missing. Titles are cut to 259 bytes.
std::string readFieldCaption(const std::string& fieldName, const ConversionOptions* options);
