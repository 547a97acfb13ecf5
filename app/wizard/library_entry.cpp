// The entry point of the wizard's library (libquarlex_wizard.so), the only symbol it exports.
#include <cstring>

#include "app/program.h"
#include "app/wizard_library.h"
#include "options/conversion_options.h"
#include "source/database_reader.h"

#ifndef QUARLEX_VERSION
#error "QUARLEX_VERSION comes from the project version in CMakeLists.txt"
#endif

extern "C" __attribute__((visibility("default"))) WizardOutcome quarlex_show_wizard(
    const char* programVersion, std::size_t optionsSize, ConversionOptions* options, int argc, char** argv,
    ProgramFlavour flavour) {
  if (std::strcmp(programVersion, QUARLEX_VERSION) != 0 || optionsSize != sizeof(ConversionOptions))
    return WizardOutcome::OtherBuild;
  // This library holds its own copy of the converter: its engine learns the flavour here.
  setReaderEngineFlavour(flavour == ProgramFlavour::Access2007 ? EngineFlavour::Dao120 : EngineFlavour::Dao36);
  return runWizard(options, argc, argv, flavour) ? WizardOutcome::Shown : WizardOutcome::NoDisplay;
}
