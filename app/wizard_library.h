// The wizard lives in a library of its own, opened only when the wizard is to be shown, so that
// unattended runs start without loading Qt. The programs and that library meet here.
#pragma once

#include <cstddef>
#include <string>

#include "app/program.h"

struct ConversionOptions;

enum class WizardOutcome : int {
  Shown,       // the wizard ran and closed
  NoDisplay,   // no display to show it on
  OtherBuild,  // the library comes from another build than the program: nothing was touched
};

// The one symbol the wizard's library exports. The program passes its version and the size of its
// options record, so that a library left over from another build refuses rather than misreads them.
inline constexpr const char* kWizardEntryPoint = "quarlex_show_wizard";
using WizardEntryPoint = WizardOutcome (*)(const char* programVersion, std::size_t optionsSize,
                                           ConversionOptions* options, int argc, char** argv, ProgramFlavour flavour);

// Shows the wizard over the record (Qt builds load the wizard's library for it). False when it
// cannot be shown; `whyNot` then says why (empty for "no display").
bool openWizard(ConversionOptions* options, int argc, char** argv, ProgramFlavour flavour, std::string* whyNot);
