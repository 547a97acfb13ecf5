// The wizard as a desktop user meets it: button states whatever the order of Qt's signals, the
// keyboard, copying the command line, opening the workbook written and the help.
#include <QClipboard>
#include <QDialogButtonBox>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>
#include <fstream>
#include <set>

#include "options/command_line.h"
#include "tests/wizard/wizard_fixture.h"

using namespace wizardtest;

namespace {

std::filesystem::path tablesDb(const std::filesystem::path& file, const std::vector<std::string>& names,
                               const std::string& password = {}) {
  std::vector<accesswriter::Table> tables;
  for (const std::string& name : names) tables.push_back(jobtest::countingTable(name, 2));
  accesswriter::Options format;
  format.format = accesswriter::Format::Jet4;
  format.password = password;
  accesswriter::writeDatabase(file, format, tables);
  return file;
}

// Runs the test's body with the current folder set to `folder`, as a user starting the program
// from a shell there.
class CurrentFolder {
 public:
  explicit CurrentFolder(const std::filesystem::path& folder) : before_(std::filesystem::current_path()) {
    std::filesystem::current_path(folder);
  }
  ~CurrentFolder() { std::filesystem::current_path(before_); }

 private:
  std::filesystem::path before_;
};

}  // namespace

TEST_F(WizardTest, AnErasedOutputNameIsNeverConvertedInto) {
  shopDb();
  options.sourcePath = path("shop.accdb");
  startWizard();
  clickNext();
  clickNext();
  ASSERT_EQ(wizard->currentId(), kOutputPage);
  auto* name = control<QComboBox>(200);
  QTest::keyClicks(name->lineEdit(), QString::fromStdString(path("typed.xls")));
  EXPECT_TRUE(nextButton()->isEnabled());
  EXPECT_EQ(options.outputPath, path("typed.xls"));
  name->lineEdit()->selectAll();
  QTest::keyClick(name->lineEdit(), Qt::Key_Backspace);
  EXPECT_FALSE(nextButton()->isEnabled());
  // The record follows the field: there is no name left to write into.
  EXPECT_EQ(options.outputPath, "");

  // Back and Next again: the empty field still gives Back only, whatever Qt sent on the way.
  wizard->back();
  ASSERT_EQ(wizard->currentId(), kSourcePage);
  clickNext();
  ASSERT_EQ(wizard->currentId(), kOutputPage);
  settle(100);
  EXPECT_EQ(control<QComboBox>(200)->currentText(), "");
  EXPECT_FALSE(nextButton()->isEnabled());
  EXPECT_TRUE(wizard->button(QWizard::BackButton)->isEnabled());
  // Next pressed anyway is refused.
  wizard->next();
  settle();
  EXPECT_EQ(wizard->currentId(), kOutputPage);
  EXPECT_FALSE(std::filesystem::exists(path("typed.xls")));
  EXPECT_FALSE(readLastPath("LastXLSFile").found);
}

TEST_F(WizardTest, ArrivingWithoutAnOutputNameGivesBackOnly) {
  shopDb();
  options.sourcePath = path("shop.accdb");
  startWizard();
  clickNext();
  clickNext();
  ASSERT_EQ(wizard->currentId(), kOutputPage);
  EXPECT_FALSE(nextButton()->isEnabled());
  EXPECT_TRUE(wizard->button(QWizard::BackButton)->isEnabled());
  // The first focus is the name field, ready for typing.
  EXPECT_EQ(QApplication::focusWidget(), control<QComboBox>(200));
  QTest::keyClicks(control<QComboBox>(200)->lineEdit(), "a");
  EXPECT_TRUE(nextButton()->isEnabled());
  EXPECT_EQ(options.outputPath, "a");
  wizard.reset();

  // A remembered workbook counts on arrival, as a name typed in.
  writeLastPath("LastXLSFile", path("last.xls"));
  options.outputPath.clear();
  startWizard();
  clickNext();
  clickNext();
  ASSERT_EQ(wizard->currentId(), kOutputPage);
  EXPECT_TRUE(nextButton()->isEnabled());
  EXPECT_EQ(options.outputPath, path("last.xls"));
}

TEST_F(WizardTest, TheRememberedDatabaseOpensOnEnteringTheSourcePage) {
  shopDb();
  writeLastPath("LastMDBFile", path("shop.accdb"));
  startWizard();
  clickNext();
  ASSERT_EQ(wizard->currentId(), kSourcePage);
  EXPECT_EQ(control<QComboBox>(1017)->currentText().toStdString(), path("shop.accdb"));
  auto* tables = control<QListWidget>(1015);
  ASSERT_EQ(tables->count(), 2);
  EXPECT_EQ(tables->selectedItems().size(), 2);
  EXPECT_TRUE(nextButton()->isEnabled());
  EXPECT_EQ(options.sourcePath, path("shop.accdb"));

  // A remembered database that is gone leaves the list empty and Next disabled.
  wizard.reset();
  options.sourcePath.clear();
  writeLastPath("LastMDBFile", path("gone.accdb"));
  startWizard();
  clickNext();
  EXPECT_EQ(control<QListWidget>(1015)->count(), 0);
  EXPECT_FALSE(nextButton()->isEnabled());
  EXPECT_TRUE(wizard->button(QWizard::BackButton)->isEnabled());
}

TEST_F(WizardTest, ABatchStoppedByAWrongPasswordShowsBackOnly) {
  tablesDb(dir / "locked.mdb", {"Orders", "Staff"}, "right");
  options.sourcePath = path("locked.mdb");
  options.outputPath = path("out.xls");
  options.password = "wrong";
  options.batch = 1;
  startWizard();
  ASSERT_TRUE(reachesPage(kSourcePage));
  settle();
  EXPECT_EQ(wizard->currentId(), kSourcePage);
  EXPECT_EQ(options.batch, 0);
  EXPECT_EQ(control<QListWidget>(1015)->count(), 0);
  EXPECT_FALSE(nextButton()->isEnabled());
  EXPECT_TRUE(wizard->button(QWizard::BackButton)->isEnabled());

  // The right password, typed over the wrong one, opens it.
  auto* password = control<QLineEdit>(1022);
  password->selectAll();
  QTest::keyClicks(password, "right");
  EXPECT_EQ(control<QListWidget>(1015)->count(), 2);
  EXPECT_TRUE(nextButton()->isEnabled());
}

TEST_F(WizardTest, TablesAreListedWithoutRegardToCase) {
  tablesDb(dir / "mixed.mdb", {"Zebra", "apple", "Mango", "banana", "CHERRY"});
  options.sourcePath = path("mixed.mdb");
  startWizard();
  clickNext();
  auto* tables = control<QListWidget>(1015);
  QStringList listed;
  for (int row = 0; row < tables->count(); ++row) listed << tables->item(row)->text();
  EXPECT_EQ(listed, QStringList({"apple", "banana", "CHERRY", "Mango", "Zebra"}));
  clickNext();
  EXPECT_EQ(*options.selectedTables, ";apple;;banana;;CHERRY;;Mango;;Zebra;");
}

TEST_F(WizardTest, CtrlCCopiesTheCommandLineBox) {
  shopDb();
  options.sourcePath = path("shop.accdb");
  options.outputPath = path("copied.xls");
  options.overwriteFile = 1;
  options.batch = 1;
  options.wait = 1;
  startWizard();
  ASSERT_TRUE(reachesPage(kResultPage));
  const QString caption = "Press Ctrl-C to copy command line parameters to the clipboard";
  const QString commandLine = QString::fromStdString(buildCommandLine(&options));
  QGuiApplication::clipboard()->clear();

  QString copied, selected, copiedOfPart, copiedOutside;
  bool seen = false;
  whenModalOpens([&](QWidget* modal) {
    if (modal->objectName() != "commandLineBox") return false;
    seen = true;
    auto* box = static_cast<QDialog*>(modal);
    // A message box's dress: the caption, the information icon, the text and one OK button.
    EXPECT_EQ(box->windowTitle(), caption);
    auto* icon = box->findChild<QLabel*>("icon");
    EXPECT_TRUE(icon && !icon->pixmap().isNull());
    auto* buttons = box->findChild<QDialogButtonBox*>();
    EXPECT_TRUE(buttons && buttons->buttons().size() == 1 && buttons->button(QDialogButtonBox::Ok));
    auto* text = box->findChild<QPlainTextEdit*>();
    EXPECT_EQ(text->toPlainText(), commandLine);
    // Each line of the command line is one line on screen: no switch is broken.
    int screenLines = 0;
    for (QTextBlock block = text->document()->begin(); block.isValid(); block = block.next())
      screenLines += block.layout()->lineCount();
    EXPECT_EQ(screenLines, text->document()->blockCount());
    EXPECT_EQ(text->document()->blockCount(), commandLine.count('\n') + 1);
    EXPECT_TRUE(text->textInteractionFlags() & Qt::TextSelectableByMouse);

    // Ctrl-C where the focus is on opening (OK): the whole box.
    QWidget* focus = box->focusWidget();
    EXPECT_TRUE(qobject_cast<QPushButton*>(focus));
    QTest::keyClick(focus ? focus : box, Qt::Key_C, Qt::ControlModifier);
    copied = QGuiApplication::clipboard()->text(QClipboard::Clipboard);
    if (QGuiApplication::clipboard()->supportsSelection())
      selected = QGuiApplication::clipboard()->text(QClipboard::Selection);
    // Another program reads the clipboard where there is a display server to ask.
    if (QGuiApplication::platformName() == "xcb" && !QStandardPaths::findExecutable("xclip").isEmpty()) {
      QProcess xclip;
      xclip.start("xclip", {"-o", "-selection", "clipboard"});
      waitUntil([&] { return xclip.state() == QProcess::NotRunning; }, 10000);
      copiedOutside = QString::fromUtf8(xclip.readAllStandardOutput());
      RecordProperty("clipboard_read_by", "xclip");
    }

    // Ctrl-C in the text with a part selected: that part.
    text->setFocus();
    QTextCursor cursor = text->textCursor();
    cursor.setPosition(0);
    cursor.movePosition(QTextCursor::EndOfWord, QTextCursor::KeepAnchor);
    text->setTextCursor(cursor);
    QTest::keyClick(text, Qt::Key_C, Qt::ControlModifier);
    copiedOfPart = QGuiApplication::clipboard()->text();
    box->accept();
    return true;
  });
  control<QPushButton>(1034)->click();
  ASSERT_TRUE(seen);
  const QString rule = "---------------------------\n";
  const QString whole = rule + caption + "\n" + rule + commandLine + "\n" + rule + "OK\n" + rule;
  EXPECT_EQ(copied, whole);
  if (QGuiApplication::clipboard()->supportsSelection()) {
    EXPECT_EQ(selected, whole);
  }
  if (!copiedOutside.isNull()) {
    EXPECT_EQ(copiedOutside, whole);
  }
  EXPECT_FALSE(copiedOfPart.isEmpty());
  EXPECT_TRUE(commandLine.startsWith(copiedOfPart)) << copiedOfPart.toStdString();
  EXPECT_LT(copiedOfPart.size(), commandLine.size());
}

TEST_F(WizardTest, OpenNewFileOpensTheAbsolutePathOfARelativeOutput) {
  shopDb();
  CurrentFolder here(dir.path());
  options.sourcePath = path("shop.accdb");
  options.outputPath = "relative.xlsx";
  options.bookType = 1;
  options.openOutput = 1;
  options.batch = 1;
  options.wait = 1;
  startWizard();
  ASSERT_TRUE(reachesPage(kResultPage));
  EXPECT_TRUE(control<QCheckBox>(1020)->isChecked());
  wizard->button(QWizard::FinishButton)->click();
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0], QUrl::fromLocalFile(QString::fromStdString(path("relative.xlsx"))));
  EXPECT_TRUE(opened[0].isLocalFile());
  EXPECT_TRUE(std::filesystem::exists(opened[0].toLocalFile().toStdString()));

  // A workbook the desktop cannot open is a box with the reason: no program, or no file.
  for (bool removed : {false, true}) {
    wizard.reset();
    openAnswers = removed;
    startWizard();
    ASSERT_TRUE(reachesPage(kResultPage));
    if (removed) std::filesystem::remove(path("relative.xlsx"));
    QString detail;
    whenModalOpens([&](QWidget* modal) {
      auto* box = qobject_cast<QMessageBox*>(modal);
      if (!box || box->objectName() != "openFailure") return false;
      detail = box->text() + " " + box->informativeText();
      box->accept();
      return true;
    });
    wizard->button(QWizard::FinishButton)->click();
    EXPECT_EQ(detail.toStdString(), "Cannot open the new file. " + path("relative.xlsx") + ": " +
                                        (removed ? "No such file or directory" : "No program could be started to open it."));
    EXPECT_FALSE(wizard->isVisible());
  }
}

TEST_F(WizardTest, AFailedSaveOffersNothingToOpen) {
  shopDb();
  options.sourcePath = path("shop.accdb");
  options.outputPath = path("no/such/folder/out.xls");
  options.openOutput = 1;
  options.batch = 1;
  options.wait = 1;
  startWizard();
  ASSERT_TRUE(reachesPage(kProgressPage));
  whenModalOpens([](QWidget* modal) {
    static_cast<QDialog*>(modal)->accept();
    return true;
  });
  ASSERT_TRUE(reachesPage(kResultPage));
  auto* openNew = control<QCheckBox>(1020);
  EXPECT_FALSE(openNew->isChecked());
  EXPECT_FALSE(openNew->isEnabled());
  // No count of imported tables for a workbook that is not there.
  EXPECT_EQ(control<QLabel>(1019)->text(), "Cannot save XLS file.");
  wizard->button(QWizard::FinishButton)->click();
  EXPECT_FALSE(wizard->isVisible());
  EXPECT_TRUE(opened.empty());
}

TEST_F(WizardTest, HelpOpensTheCompiledHelpElseTheHelpPage) {
  std::filesystem::create_directories(dir / "program");
  startWizard();
  auto pressHelp = [&] {
    opened.clear();
    control<QPushButton>(1048)->click();
    return opened.empty() ? QString() : opened[0].toLocalFile();
  };
  // Nothing to open: nothing opens and nothing is said.
  EXPECT_EQ(pressHelp(), "");
  EXPECT_TRUE(opened.empty());
  // An installed program: the page in the documentation folder beside its bin folder.
  std::filesystem::create_directories(dir / "share/doc/quarlex");
  testsupport::writeFileBytes(dir / "share/doc/quarlex/wizards.html", "<html></html>");
  EXPECT_EQ(pressHelp().toStdString(), path("share/doc/quarlex/wizards.html"));
  // A page beside the program comes before that.
  testsupport::writeFileBytes(dir / "program/wizards.html", "<html></html>");
  EXPECT_EQ(pressHelp().toStdString(), path("program/wizards.html"));
  // The page opens at the section of the page "?" was pressed on.
  EXPECT_EQ(opened[0].fragment(), "welcome");
  options.sourcePath = path("shop.accdb");
  shopDb();
  clickNext();
  EXPECT_EQ(pressHelp().toStdString(), path("program/wizards.html"));
  EXPECT_EQ(opened[0].fragment(), "source");
  wizard->back();
  // wizards.chm in the program's folder comes first, from every page that has "?".
  testsupport::writeFileBytes(dir / "program/wizards.chm", "ITSF");
  EXPECT_EQ(pressHelp().toStdString(), path("program/wizards.chm"));
  EXPECT_EQ(opened[0].fragment(), "");
  clickNext();
  EXPECT_EQ(pressHelp().toStdString(), path("program/wizards.chm"));
}

TEST_F(WizardTest, TheBuiltProgramFindsItsHelpPage) {
  // The build copies the page beside the programs, where "?" finds it.
  std::string help = findHelpFile(QUARLEX_PROGRAM_FOLDER);
  ASSERT_EQ(help, std::string(QUARLEX_PROGRAM_FOLDER) + "wizards.html");
  std::ifstream in(help);
  std::string page((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // A section for every page of the wizard and one on the command line.
  for (const char* section : {"id=\"welcome\"", "id=\"source\"", "id=\"output\"", "id=\"progress\"", "id=\"result\"",
                              "id=\"command-line\""})
    EXPECT_NE(page.find(section), std::string::npos) << section;
  // Every switch the result page writes, and the controls' texts as they stand.
  ConversionOptions all;
  all.password = "p";
  all.exportRecords = 0;
  all.maxLength = 5;
  all.sortOrder = "N";
  all.statusFile = "s";
  all.batch = all.wait = 1;
  std::string built = buildCommandLine(&all);
  for (size_t at = built.find('/'); at != std::string::npos; at = built.find('/', at + 1)) {
    std::string name = built.substr(at + 1, built.find_first_of("= \n", at) - at - 1);
    EXPECT_NE(page.find("/" + name), std::string::npos) << name;
  }
  for (const char* text : {"Overwrite existing file", "Overwrite existing table", "Header (names of fields)",
                           "Only for new sheets", "Open new file", "Save new settings", "Show command line parameters"})
    EXPECT_NE(page.find(text), std::string::npos) << text;
}

TEST_F(WizardTest, EnterMeansNextOrFinishOnEveryPage) {
  shopDb();
  options.sourcePath = path("shop.accdb");
  options.outputPath = path("enter.xls");
  startWizard();
  ASSERT_TRUE(QApplication::focusWidget());
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
  EXPECT_EQ(wizard->currentId(), kSourcePage);
  EXPECT_TRUE(opened.empty()) << "Enter opened " << opened[0].toString().toStdString();

  // On a page button with the focus, Enter is still Next: "&Browse" does not open its dialog.
  control<QPushButton>(1012)->setFocus();
  QTest::keyClick(control<QPushButton>(1012), Qt::Key_Return);
  EXPECT_EQ(wizard->currentId(), kOutputPage);
  control<QPushButton>(1048)->setFocus();
  QTest::keyClick(control<QPushButton>(1048), Qt::Key_Enter);
  EXPECT_TRUE(reachesPage(kResultPage));
  EXPECT_TRUE(dialogs.empty());
  EXPECT_TRUE(opened.empty());
  for (int id : wizard->pageIds())
    for (QPushButton* button : wizard->page(id)->findChildren<QPushButton*>())
      EXPECT_FALSE(button->autoDefault()) << button->objectName().toStdString() << " on page " << id;
  auto* finish = qobject_cast<QPushButton*>(wizard->button(QWizard::FinishButton));
  ASSERT_TRUE(finish);
  EXPECT_TRUE(finish->isDefault());
  QTest::keyClick(control<QCheckBox>(1021), Qt::Key_Return);
  EXPECT_FALSE(wizard->isVisible());
}

TEST_F(WizardTest, AccessKeysAndTabOrderOfThePages) {
  shopDb();
  options.sourcePath = path("shop.accdb");
  options.outputPath = path("keys.xls");
  startWizard();
  for (int id : {kWelcomePage, kSourcePage, kOutputPage}) {
    ASSERT_EQ(wizard->currentId(), id);
    std::set<QString> keys;
    QList<QAbstractButton*> buttons = wizard->currentPage()->findChildren<QAbstractButton*>();
    for (QWizard::WizardButton which : {QWizard::BackButton, QWizard::NextButton, QWizard::CommitButton,
                                        QWizard::FinishButton, QWizard::CancelButton})
      buttons << wizard->button(which);
    for (QAbstractButton* button : buttons) {
      if (!button->isVisible() || button->shortcut().isEmpty()) continue;
      QString key = button->shortcut().toString();
      EXPECT_TRUE(keys.insert(key).second) << key.toStdString() << " twice on page " << id;
    }
    // The pages' own buttons keep their letter.
    if (id != kWelcomePage) EXPECT_EQ(control<QPushButton>(id == kSourcePage ? 1012 : 1015)->shortcut(), QKeySequence("Alt+B"));
    if (id != kOutputPage) clickNext();
  }

  // Tab walks the controls in the order they are laid out, "?" at the top right first.
  auto walk = [&](std::initializer_list<const char*> expected) {
    QWidget* at = QApplication::focusWidget();
    for (const char* name : expected) {
      EXPECT_EQ(at ? at->objectName().toStdString() : "", name);
      QTest::keyClick(at, Qt::Key_Tab);
      at = QApplication::focusWidget();
    }
  };
  control<QPushButton>(1048)->setFocus();
  walk({"control1048", "control200", "control1015", "control1018", "control1019", "control1021", "control1020",
        "control1022"});
  wizard->back();
  ASSERT_EQ(wizard->currentId(), kSourcePage);
  // The first focus is the path, ready for typing.
  EXPECT_EQ(QApplication::focusWidget(), control<QComboBox>(1017));
  control<QPushButton>(1048)->setFocus();
  walk({"control1048", "control1017", "control1012", "control1015", "control1022", "control1049", "control1050"});
}
