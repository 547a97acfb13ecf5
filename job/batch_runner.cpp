#include "job/batch_runner.h"

#include "job/conversion_job.h"
#include "options/conversion_options.h"
#include "platform/file_search.h"
#include "platform/owner_window.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "source/database_reader.h"
#include "source/engine.h"

namespace {

void closeDatabase(ConversionOptions* options) {
  if (!options->database) return;
  try {
    options->database->Close();
  } catch (const ComError&) {
    // The file is only read; a failed close loses nothing.
  }
  options->database.reset();
}

}  // namespace

std::string deriveOutputPath(const std::string& outputFolder, const std::string& sourcePath) {
  // Only a dot in the database's file name counts: a dot in the output folder's name must not
  // cut the path there.
  std::string derived = outputFolder + fileNameOf(sourcePath);
  auto dot = derived.rfind('.');
  if (dot == std::string::npos || dot < outputFolder.size()) return derived + ".xls";
  return derived.substr(0, dot + 1) + "xls";
}

std::string alignExtensionWithBookType(const std::string& path, int bookType) {
  if (bookType != 0 && asciiEndsWithIgnoreCase(path, "xls")) return path + "x";
  if (bookType == 0 && asciiEndsWithIgnoreCase(path, "xlsx")) return path.substr(0, path.size() - 1);
  return path;
}

BatchResult RunBatch(ConversionOptions* options, BatchCaller caller) {
  BatchResult result;
  const std::string pattern = options->sourcePath;
  const bool deriveNames = options->outputPath.empty();
  const std::string folder = folderOf(pattern);

  for (const std::string& name : findMatchingFiles(pattern)) {
    if (name.empty() || name[0] == '.') continue;
    ++result.matched;
    options->sourcePath = folder + name;
    if (OpenSourceDatabase(nullptr, options, "") != 0) {
      // Unattended callers have no other way to learn which file was skipped.
      showMessageBox(options->progressWindow, "Cannot open the database " + options->sourcePath + ".", "Error",
                     MessageIcon::Error);
      ++result.failedToOpen;
      continue;
    }
    if (deriveNames) options->outputPath = deriveOutputPath(options->outputFolder, options->sourcePath);
    options->outputPath = alignExtensionWithBookType(options->outputPath, options->bookType);
    // The programs' terminal progress line, if any; none in the libraries.
    switch (RunConversionJob(options->progressWindow, options)) {
      case JobOutcome::Saved: break;
      case JobOutcome::TableFailed: ++result.jobsWithFailures; break;
      case JobOutcome::NotSaved: ++result.jobsNotSaved; break;
    }
    if (caller == BatchCaller::Library) closeDatabase(options);
  }
  if (caller == BatchCaller::Library) closeDatabase(options);
  return result;
}
