#include "job/batch_runner.h"

#include <new>

#include "job/conversion_job.h"
#include "job/output_check.h"
#include "options/conversion_options.h"
#include "platform/file_search.h"
#include "platform/interruption.h"
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

// Tells every table (or query) that the filter named and the database does not have, as the user
// wrote its name; the tables it has are converted all the same. The reader drops the filter once
// it has used it on a database.
int reportMissingTables(const ConversionOptions* options, const std::string& filter) {
  std::string listed = options->tableFilter ? std::string()
                                            : asciiUpper(options->selectedTables.value_or("") + options->namedQueries);
  const std::string& asWritten = options->tablesAsWritten.empty() ? filter : options->tablesAsWritten;
  int missing = 0;
  for (size_t begin = 1; begin < asWritten.size();) {
    size_t end = asWritten.find(';', begin);
    if (end == std::string::npos) end = asWritten.size();
    std::string name = asWritten.substr(begin, end - begin);
    if (!name.empty() && listed.find(";" + asciiUpper(name) + ";") == std::string::npos) {
      showMessageBox(options->progressWindow, "The database " + options->sourcePath + " has no table " + name + "; it was not converted.",
                     "Error", MessageIcon::Error);
      ++missing;
    }
    begin = end + 1;
  }
  return missing;
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

std::string severalSourcesRefusal(const ConversionOptions& options) {
  const std::vector<std::string>& given = options.givenSources;
  if (given.size() < 2) return {};
  std::string names;
  for (size_t i = 0; i < given.size(); ++i)
    names += (i == 0 ? "" : i + 1 == given.size() ? " and " : ", ") + given[i];
  return "more than one database was given (" + names +
         "); a run converts one, or those that a wildcard matches. Nothing was converted.";
}

BatchResult RunBatch(ConversionOptions* options, BatchCaller caller) {
  BatchResult result;
  const std::string pattern = options->sourcePath;
  const bool deriveNames = options->outputPath.empty();
  const std::string folder = folderOf(pattern);

  // As in a shell, a leading "." is matched only by a pattern that begins with one, and the
  // folder entries "." and ".." never: "*.mdb" passes hidden files over, ".old.mdb" names one.
  const bool dotNamesAsked = fileNameOf(pattern).rfind('.', 0) == 0;
  // A folder that cannot take the workbooks is said once, before any database is read.
  const std::string firstOutput = deriveNames ? deriveOutputPath(options->outputFolder, pattern) : options->outputPath;
  if (!pattern.empty() && !outputFolderUsable(options->progressWindow, firstOutput)) {
    result.outputRefused = true;
    return result;
  }
  for (const std::string& name : findMatchingFiles(pattern)) {
    if (interruptionSignal() != 0) break;
    if (name.empty() || name == "." || name == ".." || (name[0] == '.' && !dotNamesAsked)) continue;
    ++result.matched;
    options->sourcePath = folder + name;
    const OwnedText filter = options->tableFilter;
    std::string whyNotOpened;
    int notOpened = 1;
    try {
      notOpened = OpenSourceDatabase(nullptr, options, "", &whyNotOpened);
    } catch (const std::bad_alloc&) {
      options->database.reset();
      whyNotOpened = options->sourcePath + ": out of memory";
    }
    if (notOpened != 0) {
      // Unattended callers have no other way to learn which file was skipped, nor why.
      showFailure(options->progressWindow, "Cannot open the database " + options->sourcePath + ".", whyNotOpened);
      ++result.failedToOpen;
      continue;
    }
    if (filter) result.tablesMissing += reportMissingTables(options, *filter);
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
  result.sourceMissing = result.matched == 0 && !pattern.empty() && !hasWildcards(pattern);
  result.interrupted = interruptionSignal() != 0;
  return result;
}
