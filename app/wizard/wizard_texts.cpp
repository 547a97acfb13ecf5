#include "app/wizard/wizard_texts.h"

namespace {

// Qt reads the patterns from the last parenthesised group; the text before it is what the
// dialog shows once its details are hidden.
QString filterEntry(const char* shown, const char* patterns) {
  return QString::fromUtf8(shown) + QStringLiteral(" (") + QString::fromUtf8(patterns) + QStringLiteral(")");
}

QString allFiles() { return filterEntry("All files (*.*)", "*"); }

const char* const kSecondParagraph = "\n\nIt is easy. Just follow the program instructions.";

}  // namespace

FlavourTexts flavourTexts(ProgramFlavour flavour) {
  FlavourTexts texts;
  if (flavour == ProgramFlavour::Access2007) {
    texts.version = QStringLiteral("1.35 (2007)");
    texts.description = QStringLiteral(
                            "This program helps you convert your Access (.mdb, .accdb, .accde, .accdt, .accdr) "
                            "files to Excel (.xls, .xlsx) format.") +
                        QString::fromUtf8(kSecondParagraph);
    texts.sourceFilter = filterEntry("MDB (Access) files (*.mdb, *.accdb, *.accde, *.accdt, *.accdr)",
                                     "*.mdb *.accdb *.accde *.accdt *.accdr") +
                         QStringLiteral(";;") + allFiles();
  } else {
    texts.version = QStringLiteral("1.35");
    texts.description = QStringLiteral("This program helps you convert your Access (.mdb) files to Excel (.xls) format.") +
                        QString::fromUtf8(kSecondParagraph);
    texts.sourceFilter = filterEntry("MDB (Access) files (*.mdb)", "*.mdb") + QStringLiteral(";;") + allFiles();
  }
  return texts;
}

QString workbookFilter() {
  return filterEntry("XLS files (*.xls, *.xlsx)", "*.xls *.xlsx") + QStringLiteral(";;") + allFiles();
}
