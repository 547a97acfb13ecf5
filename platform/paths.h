// Path helpers shared by the subsystems.
#pragma once

#include <string>

// Full path of the running executable (/proc/self/exe); in a shared library, the host program's.
// Empty when it cannot be read.
std::string executablePath();

// Everything up to and including the last '/', or empty when the path has none.
std::string folderOf(const std::string& path);

// Everything after the last '/', or the whole path when it has none.
std::string fileNameOf(const std::string& path);

// Everything after the last '/' or backslash, for paths that Windows programs stored in files.
std::string fileNameOfStoredPath(const std::string& path);

// The path cut at the last "." of its file name with `extension` appended: ".ini" replaces the
// dot too, "ini" keeps it. A file name without "." gets `extension` appended.
std::string replaceExtensionAfterLastDot(const std::string& path, const std::string& extension);

// True when the path names an existing folder (through links).
bool isExistingFolder(const std::string& path);
