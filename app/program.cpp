#include "app/program.h"

#include <cstdio>
#include <optional>
#include <string>

#include "app/heap_warmup.h"
#include "app/interrupt.h"
#include "app/list_contents.h"
#include "app/terminal_progress.h"
#include "app/usage.h"
#include "app/wizard_library.h"
#include "job/batch_runner.h"
#include "job/progress.h"
#include "options/command_line.h"
#include "options/conversion_options.h"
#include "options/settings.h"
#include "platform/file_search.h"
#include "platform/interruption.h"
#include "platform/paths.h"
#include "source/database_reader.h"

namespace {

// About what converting a small database allocates; a larger one grows the heap as it goes.
constexpr std::size_t kWarmHeapBytes = 1 << 20;

bool unattendedPathChosen(const ConversionOptions& options) {
  return options.silent != 0 || (options.batch != 0 && hasWildcards(options.sourcePath));
}

void printLine(const std::string& line) {
  std::fputs((line + "\n").c_str(), stderr);
  std::fflush(stderr);
}

// An error line of the unattended run; through the terminal's progress line, when there is one,
// so that the line is cleared first.
void printError(const ConversionOptions& options, const std::string& text) {
  showMessageBox(options.progressWindow, text, "Error", MessageIcon::Error);
}

int runUnattended(ConversionOptions* options) {
  InterruptHandling interrupts(&options->cancelRequested);
  const std::string pattern = options->sourcePath;
  if (std::string refusal = severalSourcesRefusal(*options); !refusal.empty()) {
    printError(*options, refusal);
    writeStatus(options, kStatusFailed);
    return 1;
  }
  if (pattern.empty()) printError(*options, "no source database was given.");
  BatchResult result = RunBatch(options, BatchCaller::Program);
  if (result.interrupted) {
    int signal = interruptionSignal();
    printError(*options, "interrupted by " + signalName(signal) + "; the workbook being written was not saved.");
    writeStatus(options, kStatusFailed);
    return exitCodeForSignal(signal);
  }
  // A plain path that names no file is a failure; a wildcard that matches nothing is not.
  if (result.sourceMissing) printError(*options, "no file matches " + pattern);
  bool ok = !pattern.empty() && result.allConverted();
  writeStatus(options, ok ? kStatusSuccessful : kStatusFailed);
  return ok && !statusWriteFailed() ? 0 : 1;
}

}  // namespace

int runProgram(int argc, char** argv, ProgramFlavour flavour) {
  if (std::optional<int> answered = answerInformationRequest(argc, argv, flavour)) return *answered;
  setReaderEngineFlavour(flavour == ProgramFlavour::Access2007 ? EngineFlavour::Dao120 : EngineFlavour::Dao36);
  if (std::optional<int> listed = answerListRequest(argc, argv, flavour)) return *listed;
  ConversionOptions options;
  readProgramSettings(&options);
  parseCommandLine(&options, argc, argv);
  if (unattendedPathChosen(options)) {
    warmHeap(kWarmHeapBytes);
    // On a terminal the run shows its progress on one line of standard error, cleared at the end.
    std::optional<TerminalProgress> progress;
    if (standardErrorIsTerminal()) options.progressWindow = &progress.emplace(&options);
    int code = runUnattended(&options);
    options.progressWindow = nullptr;
    return code;
  }
  std::string whyNot;
  if (openWizard(&options, argc, argv, flavour, &whyNot)) return 0;
  std::string program = fileNameOf(argc > 0 && argv[0] ? argv[0] : "quarlex");
  printLine(program + ": the wizard cannot be shown here (" + (whyNot.empty() ? "no display" : whyNot) +
            "). Nothing was converted.\n"
            "To convert without the wizard add /SILENT, for example:\n  " + program +
            " /data/shop.accdb /data/shop.xlsx /TYPE=2007 /SILENT");
  return 1;
}
