// Builds without Qt have no wizard: the start-up then tells the user how to convert unattended.
#include "app/program.h"

bool runWizard(ConversionOptions*, int, char**, ProgramFlavour) { return false; }
