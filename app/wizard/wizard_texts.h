// The texts of the wizard that differ between the two programs, and the file-dialog filters.
#pragma once

#include <QString>

#include "app/program.h"

struct FlavourTexts {
  QString version;
  QString description;
  QString sourceFilter;  // for QFileDialog, details hidden so the first part is what users read
};

FlavourTexts flavourTexts(ProgramFlavour flavour);

// The output page's save-dialog filter.
QString workbookFilter();

// The address shown on the welcome page's web button and opened by it.
inline constexpr const char* kProductWebPage = "https://www.fallowmere.com/wizards/";
