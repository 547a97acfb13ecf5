// Whole runs through the wizard: by hand, walking by itself in batch mode, stopped on the way,
// cancelled during a large table, and the result page's Finish.
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTest>
#include <QTimer>

#include "app/program.h"
#include "app/wizard/elided_label.h"
#include "app/wizard/wizard_texts.h"
#include "job/conversion_job.h"
#include "options/settings.h"
#include "tests/wizard/wizard_fixture.h"

using namespace wizardtest;
using jobtest::num;

namespace {

// Closes the next message box that opens and hands back its caption and text.
struct BoxSeen {
  QString caption, text, detail;
  Qt::TextInteractionFlags flags;
  bool seen = false;
};
void closeNextMessageBox(BoxSeen* seen) {
  whenModalOpens([seen](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    if (!box) return false;
    seen->seen = true;
    seen->caption = box->windowTitle();
    seen->text = box->text();
    seen->detail = box->informativeText();
    seen->flags = box->textInteractionFlags();
    box->accept();
    return true;
  });
}

}  // namespace

TEST_F(WizardTest, WalkByHandWritesTheWorkbook) {
  shopDb();
  startWizard();
  EXPECT_EQ(wizard->windowTitle(), "Fallowmere Wizard");
  EXPECT_EQ(status(), "Welcome dialog");
  clickNext();
  ASSERT_EQ(wizard->currentId(), kSourcePage);
  EXPECT_EQ(wizard->windowTitle(), "Fallowmere Wizard | Select Access file");
  EXPECT_EQ(status(), "Source file selection");

  // Typing the path opens the database; its tables come sorted and all selected.
  auto* field = control<QComboBox>(1017);
  QTest::keyClicks(field->lineEdit(), QString::fromStdString(path("shop.accdb")));
  auto* tables = control<QListWidget>(1015);
  ASSERT_EQ(tables->count(), 2);
  EXPECT_EQ(tables->item(0)->text(), "Customers");
  EXPECT_EQ(tables->item(1)->text(), "Orders");
  EXPECT_EQ(tables->selectedItems().size(), 2);
  clickNext();
  ASSERT_EQ(wizard->currentId(), kOutputPage);
  EXPECT_EQ(*options.selectedTables, ";Customers;;Orders;");
  EXPECT_EQ(status(), "Output file selection");

  // An empty name leaves only Back; typing one and choosing .xlsx gives the name its x.
  EXPECT_FALSE(nextButton()->isEnabled());
  auto* name = control<QComboBox>(200);
  QTest::keyClicks(name->lineEdit(), QString::fromStdString(path("book.xls")));
  control<QComboBox>(1021)->setCurrentIndex(1);
  EXPECT_EQ(name->currentText().toStdString(), path("book.xlsx"));
  EXPECT_EQ(options.outputPath, path("book.xlsx"));
  EXPECT_EQ(options.bookType, 1);
  clickNext();
  ASSERT_TRUE(reachesPage(kResultPage));
  EXPECT_EQ(wizard->windowTitle(), "Fallowmere Wizard | Conversion complete");
  EXPECT_EQ(status(), "Successful");
  EXPECT_EQ(control<QLabel>(1019)->text(), "2 tables (8 records) have been imported.");
  EXPECT_FALSE(wizard->button(QWizard::BackButton)->isVisible());
  wizard->button(QWizard::FinishButton)->click();
  EXPECT_FALSE(wizard->isVisible());

  auto book = testsupport::readWorkbook(path("book.xlsx"));
  ASSERT_EQ(book.size(), 2u);
  EXPECT_EQ(book[0]["name"], "Orders");
  EXPECT_EQ(book[0]["rows"].size(), 6u);
  EXPECT_EQ(book[0]["rows"][5][0], num(5));
  EXPECT_EQ(book[1]["name"], "Customers");
  EXPECT_EQ(book[1]["rows"].size(), 4u);
  // The paths are remembered for the next run.
  EXPECT_EQ(readLastPath("LastMDBFile").text, path("shop.accdb"));
  EXPECT_EQ(readLastPath("LastXLSFile").text, path("book.xlsx"));
  EXPECT_EQ(loadRecentList("XLSFiles"), std::vector<std::string>{path("book.xlsx")});
}

TEST_F(WizardTest, BatchWalksToTheEndByItself) {
  shopDb();
  // Through the programs' own entry, as /BATCH with a plain path takes it.
  options.sourcePath = path("shop.accdb");
  options.outputPath = path("batch.xls");
  options.batch = 1;
  char program[] = "quarlex2007";
  char* argv[] = {program, nullptr};
  ASSERT_TRUE(runWizard(&options, 1, argv, ProgramFlavour::Access2007));
  EXPECT_EQ(status(), "Successful");
  EXPECT_EQ(options.tablesExported, 2);
  EXPECT_EQ(options.recordsExported, 8);
  EXPECT_EQ(options.titleFont, nullptr);
  auto book = testsupport::readWorkbook(path("batch.xls"));
  EXPECT_EQ(jobtest::sheetNames(book), nlohmann::json::array({"Orders", "Customers"}));
}

TEST_F(WizardTest, BatchStopsOnASourceThatDoesNotOpen) {
  shopDb();
  testsupport::writeFileBytes(dir / "broken.accdb", std::string(8192, 'x'));
  options.sourcePath = path("broken.accdb");
  options.outputPath = path("out.xls");
  options.batch = 1;
  startWizard();
  ASSERT_TRUE(reachesPage(kSourcePage));
  settle();
  EXPECT_EQ(wizard->currentId(), kSourcePage);
  EXPECT_EQ(options.batch, 0);
  EXPECT_EQ(control<QListWidget>(1015)->count(), 0);
  EXPECT_FALSE(options.selectedTables.has_value());

  // The user picks a good database and goes on; the walk does not resume.
  auto* field = control<QComboBox>(1017);
  field->lineEdit()->selectAll();
  QTest::keyClicks(field->lineEdit(), QString::fromStdString(path("shop.accdb")));
  EXPECT_EQ(control<QListWidget>(1015)->count(), 2);
  clickNext();
  settle();
  EXPECT_EQ(wizard->currentId(), kOutputPage);
  clickNext();
  ASSERT_TRUE(reachesPage(kResultPage));
  settle();
  EXPECT_TRUE(wizard->isVisible()) << "the result page must wait for Finish";
}

TEST_F(WizardTest, BatchWithWaitStopsOnTheResultPage) {
  shopDb();
  options.sourcePath = path("shop.accdb");
  options.outputPath = path("wait.xlsx");
  options.bookType = 1;
  options.batch = 1;
  options.wait = 1;
  startWizard();
  ASSERT_TRUE(reachesPage(kResultPage));
  settle(300);
  EXPECT_TRUE(wizard->isVisible());
  EXPECT_EQ(wizard->currentId(), kResultPage);
  wizard->button(QWizard::FinishButton)->click();
  EXPECT_FALSE(wizard->isVisible());
  EXPECT_EQ(testsupport::readWorkbook(path("wait.xlsx")).size(), 2u);
}

TEST_F(WizardTest, BatchStopsOnTheOutputPageWithoutAName) {
  shopDb();
  options.sourcePath = path("shop.accdb");
  options.batch = 1;
  startWizard();
  ASSERT_TRUE(reachesPage(kOutputPage));
  settle();
  EXPECT_EQ(wizard->currentId(), kOutputPage);
  EXPECT_EQ(options.batch, 0);
  EXPECT_EQ(status(), "Output file selection");
}

TEST_F(WizardTest, CancelAsksFirstAndTheResultPageSaysWhereItStopped) {
  jobtest::writeDb(dir / "big.mdb", {jobtest::countingTable("Big", 200000), jobtest::countingTable("After", 3)});
  options.sourcePath = path("big.mdb");
  options.outputPath = path("big.xlsx");
  options.bookType = 1;
  options.batch = 1;
  startWizard();
  ASSERT_TRUE(reachesPage(kProgressPage));
  EXPECT_EQ(wizard->windowTitle(), "Fallowmere Wizard | Conversion in progress");
  EXPECT_FALSE(wizard->button(QWizard::BackButton)->isEnabled());
  EXPECT_FALSE(wizard->button(QWizard::NextButton)->isEnabled());
  // Wait until the bar has moved: the big table is being exported.
  auto* bar = control<QProgressBar>(1016);
  ASSERT_TRUE(waitUntil([&] { return bar->value() > 0; }));
  EXPECT_EQ(bar->maximum(), 200000);
  EXPECT_EQ(control<QLabel>(1021)->text().toStdString(), "Big -> " + path("big.xlsx"));

  // Cancel asks first; No goes on.
  QString question;
  auto answer = [&](QMessageBox::StandardButton button) {
    whenModalOpens([&question, button](QWidget* modal) {
      auto* box = qobject_cast<QMessageBox*>(modal);
      if (!box || box->objectName() != "stopQuestion") return false;
      question = box->text();
      box->button(button)->click();
      return true;
    });
  };
  answer(QMessageBox::No);
  wizard->button(QWizard::CancelButton)->click();
  EXPECT_TRUE(wizard->isVisible());
  EXPECT_EQ(options.cancelRequested.load(), 0);
  EXPECT_TRUE(question.startsWith("Stop the conversion? The tables converted so far are kept; Big stops at record "))
      << question.toStdString();
  int64_t before = question.section(' ', -1).chopped(1).toLongLong();
  ASSERT_TRUE(waitUntil([&] { return bar->value() > before; }));

  // Closing the window is the same Cancel: Yes stops at the record the question names, and the
  // wizard stays to say so.
  answer(QMessageBox::Yes);
  wizard->close();
  int64_t stop = question.section(' ', -1).chopped(1).toLongLong();
  ASSERT_GT(stop, before);
  ASSERT_TRUE(reachesPage(kResultPage));
  settle();
  EXPECT_TRUE(wizard->isVisible()) << "a stopped batch waits on the result page";
  EXPECT_EQ(wizard->windowTitle(), "Fallowmere Wizard | Conversion stopped");
  EXPECT_EQ(control<QLabel>(1000)->text(), "Conversion stopped");
  EXPECT_EQ(control<QLabel>(1019)->text().toStdString(),
            "0 of 2 tables (" + std::to_string(stop) + " records) have been imported.");
  EXPECT_EQ(wizard->currentPage()->findChild<QLabel*>("detail")->text().toStdString(),
            "Big stops at record " + std::to_string(stop) + " of 200000.");
  EXPECT_EQ(status(), "Failed");
  EXPECT_EQ(options.recordsExported, stop);
  EXPECT_TRUE(control<QCheckBox>(1020)->isEnabled());

  // The records converted so far are in the workbook; the table after it is not started.
  std::string rows = testsupport::runPython(
      "import openpyxl, sys\n"
      "b = openpyxl.load_workbook(sys.argv[1], read_only=True)\n"
      "print(b.sheetnames, b['Big'].max_row)\n",
      {path("big.xlsx")});
  EXPECT_EQ(rows, "['Big'] " + std::to_string(stop + 1) + "\n");
}

TEST_F(WizardTest, AFailedSaveEndsOnAResultPageThatSaysWhy) {
  shopDb();
  // A long path loses its middle on the page instead of widening the window.
  std::string folder = "no/such";
  for (int i = 0; i < 8; ++i) folder += "/" + std::string(40, 'd');
  const std::string output = path(folder + "/out.xls");
  options.sourcePath = path("shop.accdb");
  options.outputPath = output;
  options.batch = 1;
  BoxSeen box;
  startWizard();
  ASSERT_TRUE(reachesPage(kProgressPage));
  closeNextMessageBox(&box);
  ASSERT_TRUE(reachesPage(kResultPage));
  ASSERT_TRUE(box.seen);
  EXPECT_EQ(box.caption, "Error");
  EXPECT_EQ(box.text, "Cannot save XLS file.");
  // The missing folder and the system's reason are the box's informative text, not hidden.
  EXPECT_EQ(box.detail.toStdString().rfind("the folder " + output.substr(0, output.rfind('/')) + ": ", 0), 0u)
      << box.detail.toStdString();
  EXPECT_NE(box.detail.toStdString().find("No such file or directory"), std::string::npos);

  // The result page does not claim success for a workbook that was not saved, and stays.
  settle();
  EXPECT_TRUE(wizard->isVisible());
  EXPECT_EQ(status(), "Failed");
  EXPECT_EQ(wizard->windowTitle(), "Fallowmere Wizard | Conversion failed");
  EXPECT_EQ(control<QLabel>(1000)->text(), "Conversion failed");
  EXPECT_EQ(wizard->currentPage()->findChild<QLabel*>("summary")->text(), "The workbook was not saved.");
  EXPECT_EQ(control<QLabel>(1019)->text(), "Cannot save XLS file.");
  auto* reason = wizard->currentPage()->findChild<ElidedLabel*>("reason");
  ASSERT_NE(reason, nullptr);
  EXPECT_EQ(reason->text(), box.detail);
  EXPECT_TRUE(reason->shownText().contains(QChar(0x2026))) << reason->shownText().toStdString();
  EXPECT_TRUE(reason->shownText().endsWith("No such file or directory"));
  EXPECT_LT(wizard->minimumSizeHint().width(), 1000);
}

TEST_F(WizardTest, TheDatabaseTypedAsItsOwnOutputIsLeftAlone) {
  shopDb();
  const std::string before = testsupport::readFileBytes(dir / "shop.accdb");
  options.sourcePath = path("shop.accdb");
  startWizard();
  clickNext();
  clickNext();
  QTest::keyClicks(control<QComboBox>(200)->lineEdit(), QString::fromStdString(path("shop.accdb")));
  BoxSeen box;
  closeNextMessageBox(&box);
  clickNext();
  ASSERT_TRUE(reachesPage(kResultPage));
  EXPECT_EQ(box.text, "Cannot load XLS file.");
  EXPECT_EQ(box.detail.toStdString().rfind(path("shop.accdb") + ": it is the database being converted", 0), 0u)
      << box.detail.toStdString();
  EXPECT_EQ(control<QLabel>(1000)->text(), "Conversion failed");
  EXPECT_EQ(control<QLabel>(1019)->text(), "Cannot load XLS file.");
  EXPECT_EQ(wizard->currentPage()->findChild<ElidedLabel*>("reason")->text(), box.detail);
  EXPECT_EQ(testsupport::readFileBytes(dir / "shop.accdb"), before);
}

TEST_F(WizardTest, APartlyFailedConversionSaysWhichTablesFailed) {
  // A table whose second record holds a memo with a damaged length, then a good one.
  auto next = std::make_shared<int>(0);
  accesswriter::Table broken{"Broken", {{"N", accesswriter::FieldType::Long}, {"Note", accesswriter::FieldType::Memo}},
                             [next](accesswriter::Row& row) {
                               if (*next >= 3) return false;
                               int n = (*next)++;
                               row = {accesswriter::Value(int64_t{n}),
                                      accesswriter::Value(std::string(n == 1 ? "BROKEN-RECORD" : "fine"))};
                               return true;
                             }};
  accesswriter::Options format;
  format.compressText = false;  // the memo's characters stand as UTF-16 in the file
  accesswriter::writeDatabase(dir / "broken.mdb", format, {broken, jobtest::countingTable("After", 3)});
  std::string bytes = testsupport::readFileBytes(dir / "broken.mdb");
  std::string marker;
  for (char c : std::string("BROKEN-RECORD")) marker += std::string{c, '\0'};
  size_t at = bytes.find(marker);
  ASSERT_TRUE(at != std::string::npos && at >= 12);
  // An inline long value: 3 bytes of length, a flag byte and 8 more before the characters.
  bytes.replace(at - 12, 3, "\xFF\xFF\x7F");
  testsupport::writeFileBytes(dir / "broken.mdb", bytes);

  options.sourcePath = path("broken.mdb");
  options.outputPath = path("broken.xlsx");
  options.bookType = 1;
  options.batch = 1;
  startWizard();
  ASSERT_TRUE(reachesPage(kProgressPage));
  BoxSeen engineBox;
  closeNextMessageBox(&engineBox);
  ASSERT_TRUE(reachesPage(kResultPage));
  settle();
  EXPECT_TRUE(engineBox.seen);
  EXPECT_TRUE(wizard->isVisible());
  EXPECT_EQ(control<QLabel>(1000)->text(), "Conversion incomplete");
  EXPECT_EQ(control<QLabel>(1019)->text(), "1 of 2 tables (4 records) have been imported.");
  EXPECT_EQ(wizard->currentPage()->findChild<QLabel*>("detail")->text(), "Not converted: Broken.");
  EXPECT_EQ(status(), "Failed");
  // The workbook holds what was converted and can be opened.
  EXPECT_TRUE(control<QCheckBox>(1020)->isEnabled());
  EXPECT_EQ(jobtest::sheetNames(testsupport::readWorkbook(path("broken.xlsx"))),
            nlohmann::json::array({"Broken", "After"}));
}

TEST_F(WizardTest, FinishSavesSettingsAndOpensTheWorkbook) {
  shopDb();
  options.sourcePath = path("shop.accdb");
  options.outputPath = path("done.xls");
  options.openOutput = 1;
  options.logEnabled = 1;
  settingsFile.clear();  // the user's own, not the one beside the program
  startWizard();
  clickNext();
  options.tableLayout = 1;  // from the command line: the typed box shows half ticked
  control<QListWidget>(1015)->item(0)->setSelected(false);  // Customers
  clickNext();
  ASSERT_EQ(wizard->currentId(), kOutputPage);
  // The overwrite choice and the two boxes of the output page are what the settings keep.
  control<QCheckBox>(1018)->click();
  EXPECT_EQ(options.overwriteFile, 1);
  auto* typed = wizard->currentPage()->findChild<QCheckBox*>("typedCells");
  auto* files = wizard->currentPage()->findChild<QCheckBox*>("valueFiles");
  ASSERT_TRUE(typed && files);
  EXPECT_EQ(typed->checkState(), Qt::PartiallyChecked);
  typed->click();
  EXPECT_EQ(typed->checkState(), Qt::Checked);
  files->click();
  EXPECT_EQ(options.typedCells + options.tableLayout + options.valueFiles, 3);
  clickNext();
  ASSERT_TRUE(reachesPage(kResultPage));

  // The command line repeats the run: the one table chosen, quoted for the shell.
  QString shown;
  whenModalOpens([&](QWidget* modal) {
    if (modal->objectName() != "commandLineBox") return false;
    shown = modal->findChild<QPlainTextEdit*>()->toPlainText();
    static_cast<QDialog*>(modal)->accept();
    return true;
  });
  control<QPushButton>(1034)->click();
  EXPECT_EQ(shown.toStdString().rfind(path("shop.accdb") + " " + path("done.xls") + " \"/TABLES=;ORDERS;\" ", 0), 0u)
      << shown.toStdString();
  EXPECT_NE(shown.toStdString().find("/CELLS=TYPED /LAYOUT=TABLE /FILES=1 "), std::string::npos) << shown.toStdString();
  // The book is the one the command line's three switches write.
  {
    ConversionOptions silent;
    jobtest::openInto(&silent, path("shop.accdb"));
    silent.outputPath = path("silent.xls");
    silent.selectedTables = ";Orders;";
    silent.typedCells = silent.tableLayout = silent.valueFiles = 1;
    ASSERT_EQ(RunConversionJob(nullptr, &silent), JobOutcome::Saved);
    auto looks = [](const std::string& book) {
      return testsupport::runCommand({testsupport::python(),
                                      (testsupport::projectRoot() / "tests/support/read_looks.py").string(), book})
          .out;
    };
    std::string wizardLooks = looks(path("done.xls"));
    EXPECT_NE(wizardLooks.find("\"frozen\": [0, 1]"), std::string::npos) << wizardLooks;
    EXPECT_EQ(wizardLooks, looks(path("silent.xls")));
  }

  EXPECT_TRUE(control<QCheckBox>(1020)->isChecked());
  control<QCheckBox>(1021)->click();
  wizard->button(QWizard::FinishButton)->click();
  EXPECT_FALSE(wizard->isVisible());
  const std::string userFile = path("config/Fallowmere/test_wizard.ini");
  EXPECT_EQ(userSettingsPath(), userFile);
  EXPECT_EQ(testsupport::readFileBytes(userFile), "[Common]\nLog=1\nOverWrite=1\nOpen=1\nCells=1\nLayout=1\nFiles=1\n");
  EXPECT_FALSE(std::filesystem::exists(programSettingsPath()));
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0], QUrl::fromLocalFile(QString::fromStdString(path("done.xls"))));

  // A settings file that cannot be written is reported, and Finish still ends the wizard.
  wizard.reset();
  std::filesystem::remove(userFile);
  std::filesystem::create_directory(userFile);
  options.batch = options.wait = 1;
  startWizard();
  ASSERT_TRUE(reachesPage(kResultPage));
  control<QCheckBox>(1021)->click();
  BoxSeen box;
  closeNextMessageBox(&box);
  wizard->button(QWizard::FinishButton)->click();
  ASSERT_TRUE(box.seen);
  EXPECT_EQ(box.text, "Cannot save the settings.");
  EXPECT_EQ(box.detail.toStdString().rfind(userFile + ": ", 0), 0u) << box.detail.toStdString();
  EXPECT_FALSE(wizard->isVisible());
}

TEST_F(WizardTest, FinishWithoutTheBoxesWritesNothing) {
  shopDb();
  options.sourcePath = path("shop.accdb");
  options.outputPath = path("plain.xls");
  options.batch = 1;
  startWizard();
  ASSERT_TRUE(waitUntil([&] { return !wizard->isVisible(); }));
  EXPECT_FALSE(std::filesystem::exists(path("settings.ini")));
  EXPECT_TRUE(opened.empty());
  EXPECT_TRUE(std::filesystem::exists(path("plain.xls")));
}

TEST_F(WizardTest, BrowsingToADatabaseThatDoesNotOpenSaysSo) {
  testsupport::writeFileBytes(dir / "broken.mdb", std::string(4096, 'x'));
  startWizard(ProgramFlavour::Classic);
  clickNext();
  chosenFile = QString::fromStdString(path("broken.mdb"));
  BoxSeen box;
  closeNextMessageBox(&box);
  control<QPushButton>(1012)->click();
  ASSERT_TRUE(box.seen);
  EXPECT_EQ(box.caption, "Error");
  EXPECT_EQ(box.text, "Unable to open this MDB file. ");
  // The engine's reason is told in the box and stays under the empty list.
  EXPECT_FALSE(box.detail.isEmpty());
  EXPECT_EQ(wizard->currentPage()->findChild<QLabel*>("emptyListReason")->text(), box.detail);
  ASSERT_EQ(dialogs.size(), 1u);
  EXPECT_EQ(dialogStarts[0], "");
  EXPECT_FALSE(dialogs[0].first);
  EXPECT_EQ(dialogs[0].second, flavourTexts(ProgramFlavour::Classic).sourceFilter);
  EXPECT_EQ(control<QComboBox>(1017)->currentText(), chosenFile);
  EXPECT_FALSE(nextButton()->isEnabled());

  // A good one opens without a word; the output dialog's answer chooses the type. Each dialog
  // starts from the path in its page's field.
  shopDb();
  chosenFile = QString::fromStdString(path("shop.accdb"));
  control<QPushButton>(1012)->click();
  EXPECT_EQ(control<QListWidget>(1015)->count(), 2);
  EXPECT_EQ(wizard->currentPage()->findChild<QLabel*>("emptyListReason")->text(), "");
  EXPECT_TRUE(nextButton()->isEnabled());
  clickNext();
  control<QComboBox>(1021)->setCurrentIndex(1);
  control<QComboBox>(200)->setEditText(QString::fromStdString(path("old.xlsx")));
  chosenFile = QString::fromStdString(path("picked.xls"));
  control<QPushButton>(1015)->click();
  EXPECT_EQ(options.outputPath, path("picked.xls"));
  EXPECT_EQ(options.bookType, 0);
  ASSERT_EQ(dialogs.size(), 3u);
  EXPECT_TRUE(dialogs[2].first);
  EXPECT_EQ(dialogs[2].second, workbookFilter());
  EXPECT_EQ(dialogStarts[1].toStdString(), path("broken.mdb"));
  EXPECT_EQ(dialogStarts[2].toStdString(), path("old.xlsx"));
}
