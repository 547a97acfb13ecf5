// Whole runs through the wizard: by hand, walking by itself in batch mode, stopped on the way,
// cancelled during a large table, and the result page's Finish.
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTest>
#include <QTimer>

#include "app/program.h"
#include "app/wizard/wizard_texts.h"
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
    seen->detail = box->detailedText();
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

TEST_F(WizardTest, CancelDuringALargeTableStillSavesTheWorkbook) {
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
  wizard->button(QWizard::CancelButton)->click();
  EXPECT_FALSE(wizard->isVisible());
  EXPECT_EQ(options.cancelRequested.load(), 1);
  wizard->waitForWorker();

  // The table under way counts as exported; the one after it is not started.
  EXPECT_EQ(options.tablesExported, 1);
  EXPECT_GT(options.recordsExported, 0);
  EXPECT_LT(options.recordsExported, 200000);
  std::string rows = testsupport::runPython(
      "import openpyxl, sys\n"
      "b = openpyxl.load_workbook(sys.argv[1], read_only=True)\n"
      "print(b.sheetnames, b['Big'].max_row)\n",
      {path("big.xlsx")});
  EXPECT_EQ(rows, "['Big'] " + std::to_string(options.recordsExported + 1) + "\n");
}

TEST_F(WizardTest, AJobErrorIsShownAndTheWizardStillMovesOn) {
  shopDb();
  options.sourcePath = path("shop.accdb");
  options.outputPath = path("no/such/folder/out.xls");
  options.batch = 1;
  options.wait = 1;
  BoxSeen box;
  startWizard();
  ASSERT_TRUE(reachesPage(kProgressPage));
  closeNextMessageBox(&box);
  ASSERT_TRUE(reachesPage(kResultPage));
  ASSERT_TRUE(box.seen);
  EXPECT_EQ(box.caption, "Error");
  EXPECT_EQ(box.text, "Cannot save XLS file.");
  // The file and the system's reason are the box's details.
  EXPECT_EQ(box.detail.toStdString().rfind(path("no/such/folder/out.xls") + ": ", 0), 0u) << box.detail.toStdString();
  EXPECT_NE(box.detail.toStdString().find("No such file or directory"), std::string::npos);
  // The result page does not claim success for a workbook that was not saved.
  EXPECT_EQ(status(), "Failed");
  EXPECT_EQ(control<QLabel>(1019)->text(), "2 tables (8 records) have been imported.");
}

TEST_F(WizardTest, FinishSavesSettingsAndOpensTheWorkbook) {
  shopDb();
  options.sourcePath = path("shop.accdb");
  options.outputPath = path("done.xls");
  options.openOutput = 1;
  options.logEnabled = 1;
  startWizard();
  clickNext();
  clickNext();
  ASSERT_EQ(wizard->currentId(), kOutputPage);
  // The overwrite choice of the output page is what the settings keep.
  control<QCheckBox>(1018)->click();
  EXPECT_EQ(options.overwriteFile, 1);
  clickNext();
  ASSERT_TRUE(reachesPage(kResultPage));

  QString shown;
  whenModalOpens([&](QWidget* modal) {
    if (modal->objectName() != "commandLineBox") return false;
    shown = modal->findChild<QPlainTextEdit*>()->toPlainText();
    static_cast<QDialog*>(modal)->accept();
    return true;
  });
  control<QPushButton>(1034)->click();
  EXPECT_NE(shown.toStdString().find(path("done.xls")), std::string::npos) << shown.toStdString();

  EXPECT_TRUE(control<QCheckBox>(1020)->isChecked());
  control<QCheckBox>(1021)->click();
  wizard->button(QWizard::FinishButton)->click();
  EXPECT_FALSE(wizard->isVisible());
  EXPECT_EQ(testsupport::readFileBytes(path("settings.ini")), "[Common]\nLog=1\nOverWrite=1\nOpen=1\n");
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0], QUrl::fromLocalFile(QString::fromStdString(path("done.xls"))));
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
  ASSERT_EQ(dialogs.size(), 1u);
  EXPECT_FALSE(dialogs[0].first);
  EXPECT_EQ(dialogs[0].second, flavourTexts(ProgramFlavour::Classic).sourceFilter);
  EXPECT_EQ(control<QComboBox>(1017)->currentText(), chosenFile);
  EXPECT_FALSE(nextButton()->isEnabled());

  // A good one opens without a word; the output dialog's answer follows the type.
  shopDb();
  chosenFile = QString::fromStdString(path("shop.accdb"));
  control<QPushButton>(1012)->click();
  EXPECT_EQ(control<QListWidget>(1015)->count(), 2);
  EXPECT_TRUE(nextButton()->isEnabled());
  clickNext();
  control<QComboBox>(1021)->setCurrentIndex(1);
  chosenFile = QString::fromStdString(path("picked.xls"));
  control<QPushButton>(1015)->click();
  EXPECT_EQ(options.outputPath, path("picked.xlsx"));
  ASSERT_EQ(dialogs.size(), 3u);
  EXPECT_TRUE(dialogs[2].first);
  EXPECT_EQ(dialogs[2].second, workbookFilter());
}
