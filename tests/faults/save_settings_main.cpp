// "Save new settings" as the wizard's result page does it, as a program of its own so that it
// can run under the fault shim: quarlex-save-settings FILE writes Log=1, OverWrite=1, Open=0.
#include <cstdio>
#include <string>

#include "options/conversion_options.h"
#include "options/settings.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  ConversionOptions options;
  options.logEnabled = 1;
  options.overwriteFile = 1;
  options.openOutput = 0;
  std::string why;
  if (writeProgramSettings(&options, argv[1], &why)) return 0;
  std::fprintf(stderr, "Cannot save the settings. %s: %s\n", argv[1], why.c_str());
  return 1;
}
