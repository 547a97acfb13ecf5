// Opens the wizard's library, whose place relative to the program's folder is fixed at build time
// (the same in a build tree and an installation), and shows the wizard.
#include <dlfcn.h>

#include <string>

#include "app/wizard_library.h"
#include "options/conversion_options.h"
#include "platform/paths.h"

#if !defined(QUARLEX_VERSION) || !defined(QUARLEX_WIZARD_LIBRARY)
#error "QUARLEX_VERSION and QUARLEX_WIZARD_LIBRARY come from app/CMakeLists.txt"
#endif

bool openWizard(ConversionOptions* options, int argc, char** argv, ProgramFlavour flavour, std::string* whyNot) {
  const std::string path = folderOf(executablePath()) + QUARLEX_WIZARD_LIBRARY;
  // Loaded for good: Qt's libraries are not made to be unloaded.
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    const char* reason = dlerror();
    *whyNot = reason ? reason : "cannot load " + path;
    return false;
  }
  auto entry = reinterpret_cast<WizardEntryPoint>(dlsym(library, kWizardEntryPoint));
  if (!entry) {
    *whyNot = path + ": not the wizard's library";
    return false;
  }
  switch (entry(QUARLEX_VERSION, sizeof(ConversionOptions), options, argc, argv, flavour)) {
    case WizardOutcome::Shown: return true;
    case WizardOutcome::NoDisplay: whyNot->clear(); return false;
    case WizardOutcome::OtherBuild: break;
  }
  *whyNot = path + " belongs to another build of quarlex";
  return false;
}
