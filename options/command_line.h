// The command-line syntax shared by the programs and the libraries: plain paths and switches
// that begin with "/" or "-", parsed into the options record and built back from it.
#pragma once

#include <string>

struct ConversionOptions;

// The longest text buildCommandLine returns.
inline constexpr size_t kCommandLineMaxLength = 8192;

// Fills the record from argv[1] to argv[argc - 1]; argv[0] is never looked at. Never fails:
// what it does not recognise it ignores.
void parseCommandLine(ConversionOptions* options, int argc, const char* const* argv);

// The command line that repeats the conversion described by the record.
std::string buildCommandLine(const ConversionOptions* options);
