// `--help` and `--version` for the two programs: answered when one of them is the only argument,
// before the settings, the parser or the wizard see anything.
#pragma once

#include <optional>
#include <string>

#include "app/program.h"

// The program's name as installed: quarlex2007 or quarlex.
const char* programName(ProgramFlavour flavour);

// "quarlex2007 1.35" or "quarlex 1.35".
std::string versionText(ProgramFlavour flavour);

// The short usage that --help prints.
std::string usageText(ProgramFlavour flavour);

// When the command line is exactly `--help` or `--version`, prints the answer to standard output
// and gives the exit code; otherwise nothing happens and the result is empty.
std::optional<int> answerInformationRequest(int argc, char** argv, ProgramFlavour flavour);
