// Builds without Qt have no wizard: the start-up then tells the user how to convert unattended.
#include "app/wizard_library.h"

bool openWizard(ConversionOptions*, int, char**, ProgramFlavour, std::string* whyNot) {
  *whyNot = "this build has no wizard";
  return false;
}
