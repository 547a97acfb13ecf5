// The start-up of the two programs: the options record from defaults, the settings file and the
// command line, then the wizard or the unattended batch.
#pragma once

struct ConversionOptions;

enum class ProgramFlavour { Classic, Access2007 };

// Runs the program; the result is the process's exit code: 0 when the run did what it was asked,
// 1 when an unattended run converted less than asked or the wizard could not be shown.
int runProgram(int argc, char** argv, ProgramFlavour flavour);

// Shows the wizard over the record and returns when it closes; false when there is no display.
// Part of the wizard's library: the programs reach it through openWizard (app/wizard_library.h).
bool runWizard(ConversionOptions* options, int argc, char** argv, ProgramFlavour flavour);
