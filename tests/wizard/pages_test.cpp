// The pages' own controls: the table list, the output name and type, the overwrite boxes, the
// texts of the two programs, help, the title font, and saved queries in the list.
#include <QPlainTextEdit>
#include <QTest>
#include <set>

#include "app/wizard/book_type_rule.h"
#include "app/wizard/wizard_texts.h"
#include "tests/wizard/wizard_fixture.h"

using namespace wizardtest;

TEST_F(WizardTest, TableListPlusMinusAndSelection) {
  shopDb();
  options.sourcePath = path("shop.accdb");
  startWizard();
  clickNext();
  ASSERT_EQ(wizard->currentId(), kSourcePage);
  // Given on the command line, the database is open at once with all its tables selected.
  auto* tables = control<QListWidget>(1015);
  ASSERT_EQ(tables->count(), 2);
  EXPECT_EQ(tables->selectedItems().size(), 2);
  EXPECT_EQ(control<QComboBox>(1017)->currentText().toStdString(), path("shop.accdb"));

  control<QPushButton>(1050)->click();
  EXPECT_TRUE(tables->selectedItems().isEmpty());
  EXPECT_FALSE(nextButton()->isEnabled());
  // Next pressed anyway (as a batch walk would) is refused and stops the walk.
  options.batch = 1;
  wizard->next();
  EXPECT_EQ(wizard->currentId(), kSourcePage);
  EXPECT_EQ(options.batch, 0);

  control<QPushButton>(1049)->click();
  EXPECT_EQ(tables->selectedItems().size(), 2);
  EXPECT_TRUE(nextButton()->isEnabled());

  EXPECT_EQ(control<QPushButton>(1049)->toolTip(), "Select all tables");
  EXPECT_EQ(control<QPushButton>(1050)->accessibleName(), "Select no table");
  auto* count = wizard->currentPage()->findChild<QLabel*>("chosenTables");
  EXPECT_EQ(count->text(), "2 of 2 tables selected");

  // A click toggles one table, with or without a modifier, and a press that moves on to the next
  // table before its release still toggles only the first.
  QRect customers = tables->visualItemRect(tables->item(0));
  QRect orders = tables->visualItemRect(tables->item(1));
  QTest::mouseClick(tables->viewport(), Qt::LeftButton, Qt::ShiftModifier, customers.center());
  EXPECT_FALSE(tables->item(0)->isSelected());
  EXPECT_TRUE(tables->item(1)->isSelected());
  EXPECT_EQ(count->text(), "1 of 2 tables selected");
  QTest::mouseClick(tables->viewport(), Qt::LeftButton, {}, customers.center());
  EXPECT_EQ(tables->selectedItems().size(), 2);
  QTest::mousePress(tables->viewport(), Qt::LeftButton, {}, customers.center());
  QMouseEvent drag(QEvent::MouseMove, QPointF(orders.center()), tables->viewport()->mapToGlobal(QPointF(orders.center())),
                   Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(tables->viewport(), &drag);
  QTest::mouseRelease(tables->viewport(), Qt::LeftButton, {}, orders.center());
  EXPECT_FALSE(tables->item(0)->isSelected());
  EXPECT_TRUE(tables->item(1)->isSelected());
  clickNext();
  ASSERT_EQ(wizard->currentId(), kOutputPage);
  EXPECT_EQ(*options.selectedTables, ";Orders;");

  // Back does not fill the source page again: the selection stays, the status mark too.
  wizard->back();
  ASSERT_EQ(wizard->currentId(), kSourcePage);
  EXPECT_EQ(status(), "Output file selection");
  tables = control<QListWidget>(1015);
  EXPECT_EQ(tables->count(), 2);
  EXPECT_FALSE(tables->item(0)->isSelected());
  EXPECT_TRUE(tables->item(1)->isSelected());
  EXPECT_TRUE(nextButton()->isEnabled());
  EXPECT_TRUE(wizard->button(QWizard::BackButton)->isEnabled());
}

TEST_F(WizardTest, SourcePageOffersTheLastDatabaseAndAWrongPasswordKeepsTheListEmpty) {
  shopDb();
  writeLastPath("LastMDBFile", path("shop.accdb"));
  updateRecentList(path("older.mdb"), "MDBfiles");
  startWizard();
  clickNext();
  auto* field = control<QComboBox>(1017);
  EXPECT_EQ(field->currentText().toStdString(), path("shop.accdb"));
  ASSERT_EQ(field->count(), 1);
  EXPECT_EQ(field->itemText(0).toStdString(), path("older.mdb"));

  // A password typed in is tried at once; a database without one refuses none, so check
  // only that typing is a command that reopens and lists the tables.
  QTest::keyClicks(control<QLineEdit>(1022), "x");
  EXPECT_EQ(options.password, "x");
  EXPECT_EQ(options.sourcePath, path("shop.accdb"));
}

TEST_F(WizardTest, TypeListSwitchesTheExtension) {
  shopDb();
  options.sourcePath = path("shop.accdb");
  options.outputPath = "/out/data.xls";
  startWizard();
  clickNext();
  clickNext();
  ASSERT_EQ(wizard->currentId(), kOutputPage);
  auto* type = control<QComboBox>(1021);
  ASSERT_EQ(type->count(), 2);
  EXPECT_EQ(type->itemText(0), "Excel 97-2003 & 5.0/95 (*.xls)");
  EXPECT_EQ(type->itemText(1), "Excel 2007-2010 (*.xlsx)");
  EXPECT_EQ(type->currentIndex(), 0);
  auto* name = control<QComboBox>(200);
  type->setCurrentIndex(1);
  EXPECT_EQ(name->currentText(), "/out/data.xlsx");
  EXPECT_EQ(options.outputPath, "/out/data.xlsx");
  type->setCurrentIndex(0);
  EXPECT_EQ(name->currentText(), "/out/data.xls");
  EXPECT_EQ(options.bookType, 0);

  // A name typed with its extension chooses the type, either way.
  name->lineEdit()->selectAll();
  QTest::keyClicks(name->lineEdit(), "/out/report.xlsx");
  EXPECT_EQ(type->currentIndex(), 1);
  EXPECT_EQ(options.outputPath, "/out/report.xlsx");
  QTest::keyClick(name->lineEdit(), Qt::Key_Backspace);
  EXPECT_EQ(type->currentIndex(), 0);
  EXPECT_EQ(name->currentText(), "/out/report.xls");
  QTest::keyClicks(name->lineEdit(), "X");
  EXPECT_EQ(options.bookType, 1);
  EXPECT_EQ(options.outputPath, "/out/report.xlsX");
  // So does one browsed to.
  chosenFile = "/out/picked.xls";
  control<QPushButton>(1015)->click();
  EXPECT_EQ(type->currentIndex(), 0);
  EXPECT_EQ(options.outputPath, "/out/picked.xls");

  // No extension is given to a name without one, neither by the type nor on Next.
  name->lineEdit()->selectAll();
  QTest::keyClicks(name->lineEdit(), QString::fromStdString(path("plain")));
  type->setCurrentIndex(1);
  EXPECT_EQ(name->currentText().toStdString(), path("plain"));
  clickNext();
  EXPECT_EQ(options.outputPath, path("plain"));
  EXPECT_EQ(readLastPath("LastXLSFile").text, path("plain"));

  EXPECT_EQ(applyBookTypeRule("report.XLSX", 0), "report.XLS");
  EXPECT_EQ(applyBookTypeRule("report.Xls", 1), "report.Xlsx");
  EXPECT_EQ(applyBookTypeRule("report.xlsx", 1), "report.xlsx");
  EXPECT_EQ(applyBookTypeRule("report.xls", 0), "report.xls");
  EXPECT_EQ(applyBookTypeRule("ls", 1), "ls");
}

TEST_F(WizardTest, OverwriteBoxes) {
  shopDb();
  options.sourcePath = path("shop.accdb");
  options.outputPath = path("x.xls");
  options.overwriteFile = 2;  // from the command line
  startWizard();
  clickNext();
  clickNext();
  auto* file = control<QCheckBox>(1018);
  auto* table = control<QCheckBox>(1019);
  EXPECT_TRUE(file->isChecked());
  EXPECT_FALSE(table->isEnabled());
  file->click();
  EXPECT_EQ(options.overwriteFile, 0);
  EXPECT_TRUE(table->isEnabled());
  EXPECT_FALSE(table->isChecked());
  file->click();
  EXPECT_EQ(options.overwriteFile, 1);
  EXPECT_TRUE(table->isChecked());
  EXPECT_FALSE(table->isEnabled());
  EXPECT_EQ(options.overwriteTable, 1);
  // Unticking the file box enables the table box again, which stays ticked.
  file->click();
  EXPECT_TRUE(table->isEnabled());
  EXPECT_TRUE(table->isChecked());
  table->click();
  EXPECT_EQ(options.overwriteTable, 0);

  auto* header = control<QCheckBox>(1020);
  auto* onlyNew = control<QCheckBox>(1022);
  EXPECT_TRUE(header->isChecked());
  EXPECT_FALSE(onlyNew->isChecked());
  header->click();
  onlyNew->click();
  EXPECT_EQ(options.writeHeader, 0);
  EXPECT_EQ(options.headerOnlyForNewSheets, 1);
}

TEST_F(WizardTest, WelcomeTextsOfTheTwoPrograms) {
  startWizard(ProgramFlavour::Access2007);
  EXPECT_EQ(control<QLabel>(1040)->text(), "1.35 (2007)");
  EXPECT_EQ(control<QLabel>(1001)->text(),
            "This program helps you convert your Access (.mdb, .accdb, .accde, .accdt, .accdr) files to Excel "
            "(.xls, .xlsx) format.\n\nIt is easy. Just follow the program instructions.");
  EXPECT_EQ(control<QLabel>(1000)->text(), "Welcome to Fallowmere Wizard");
  EXPECT_EQ(control<QLabel>(1000)->font(), font.font);
  wizard.reset();

  startWizard(ProgramFlavour::Classic);
  EXPECT_EQ(control<QLabel>(1040)->text(), "1.35");
  EXPECT_EQ(control<QLabel>(1001)->text(),
            "This program helps you convert your Access (.mdb) files to Excel (.xls) format.\n\n"
            "It is easy. Just follow the program instructions.");
  EXPECT_FALSE(wizard->button(QWizard::BackButton)->isEnabled());
}

TEST_F(WizardTest, TitleFontIsBoldAtTwelvePoints) {
  QFont title = makeTitleFont();
  EXPECT_TRUE(title.bold());
  EXPECT_EQ(title.pointSize(), 12);
  EXPECT_EQ(title.weight(), QFont::Bold);
}

TEST_F(WizardTest, TheSameDatabaseAgainKeepsTheSelection) {
  shopDb();
  options.sourcePath = path("shop.accdb");
  updateRecentList(path("shop.accdb"), "MDBfiles");
  startWizard();
  clickNext();
  auto* tables = control<QListWidget>(1015);
  tables->item(0)->setSelected(false);
  auto* field = control<QComboBox>(1017);
  ASSERT_EQ(field->count(), 1);
  // Choosing the open database from the recent list is a command, but nothing has changed.
  field->activated(0);
  EXPECT_FALSE(tables->item(0)->isSelected());
  EXPECT_TRUE(tables->item(1)->isSelected());
}

TEST_F(WizardTest, OpenDialogFiltersOfTheTwoPrograms) {
  EXPECT_EQ(flavourTexts(ProgramFlavour::Classic).sourceFilter, "MDB (Access) files (*.mdb) (*.mdb);;All files (*.*) (*)");
  EXPECT_EQ(flavourTexts(ProgramFlavour::Access2007).sourceFilter,
            "MDB (Access) files (*.mdb, *.accdb, *.accde, *.accdt, *.accdr) (*.mdb *.accdb *.accde *.accdt *.accdr);;"
            "All files (*.*) (*)");
  EXPECT_EQ(workbookFilter(), "XLS files (*.xls, *.xlsx) (*.xls *.xlsx);;All files (*.*) (*)");
}

TEST_F(WizardTest, TheSourcePageSaysWhyTheListIsEmpty) {
  REQUIRE_SHARED_ACCESS_DATA();
  const std::filesystem::path shared = testsupport::sharedAccessData();
  std::filesystem::copy_file(shared / "jet4-2000-password.mdb", dir / "locked.mdb");
  std::filesystem::copy_file(shared / "jet4-empty.mdb", dir / "empty.mdb");
  testsupport::writeFileBytes(dir / "notes.mdb", std::string("just some notes\n") + std::string(4096, 'n'));
  startWizard();
  clickNext();
  auto* field = control<QComboBox>(1017);
  auto* password = control<QLineEdit>(1022);
  auto* why = wizard->currentPage()->findChild<QLabel*>("emptyListReason");
  ASSERT_NE(why, nullptr);
  auto lineFor = [&](const std::string& file, const QString& typed) {
    password->setText(typed);
    field->lineEdit()->selectAll();
    QTest::keyClicks(field->lineEdit(), QString::fromStdString(path(file)));
    EXPECT_EQ(control<QListWidget>(1015)->count(), 0) << file;
    return why->text().toStdString();
  };
  std::string missing = lineFor("locked.mdb", "");
  std::string wrong = lineFor("locked.mdb", "wrong");
  std::string notAccess = lineFor("notes.mdb", "");
  std::string none = lineFor("empty.mdb", "");
  std::set<std::string> lines{missing, wrong, notAccess, none};
  EXPECT_EQ(lines.size(), 4u) << missing << " | " << wrong << " | " << notAccess << " | " << none;
  EXPECT_EQ(lines.count(""), 0u);
  EXPECT_EQ(none, "This database has no tables.");

  // The right password lists the table and clears the line.
  field->lineEdit()->selectAll();
  QTest::keyClicks(field->lineEdit(), QString::fromStdString(path("locked.mdb")));
  password->selectAll();
  QTest::keyClicks(password, "password");
  EXPECT_EQ(control<QListWidget>(1015)->count(), 1);
  EXPECT_EQ(why->text(), "");
}

// Saved queries follow the tables, marked and not selected; one chosen goes into the filter the
// command line repeats, and the walk writes its sheet after the tables'.
TEST_F(WizardTest, QueriesFollowTheTablesUnselected) {
  REQUIRE_SHARED_ACCESS_DATA();
  options.sourcePath = (testsupport::sharedAccessData().parent_path() / "queries" / "queryTestV2003.mdb").string();
  options.outputPath = path("queries.xls");
  startWizard();
  clickNext();
  auto* list = control<QListWidget>(1015);
  std::vector<std::string> items;
  for (int row = 0; row < list->count(); ++row)
    items.push_back(list->item(row)->text().toStdString() + (list->item(row)->isSelected() ? " +" : ""));
  EXPECT_EQ(items, (std::vector<std::string>{"Table1 +", "Table2 +", "Table3 +", "CrosstabQuery (query)",
                                             "SelectQuery (query)", "UnionQuery (query)"}));
  list->findItems("SelectQuery (query)", Qt::MatchExactly).at(0)->setSelected(true);
  list->item(1)->setSelected(false);
  clickNext();
  ASSERT_EQ(wizard->currentId(), kOutputPage);
  EXPECT_EQ(*options.selectedTables, ";Table1;;Table3;");
  EXPECT_EQ(options.selectedQueries, ";SelectQuery;");
  clickNext();
  ASSERT_TRUE(reachesPage(kResultPage));
  std::string shown;
  whenModalOpens([&](QWidget* modal) {
    if (modal->objectName() != "commandLineBox") return false;
    shown = modal->findChild<QPlainTextEdit*>()->toPlainText().toStdString();
    static_cast<QDialog*>(modal)->accept();
    return true;
  });
  control<QPushButton>(1034)->click();
  EXPECT_NE(shown.find("\"/TABLES=;TABLE1;TABLE3;SELECTQUERY;\""), std::string::npos) << shown;
  EXPECT_EQ(jobtest::sheetNames(testsupport::readWorkbook(path("queries.xls"))),
            nlohmann::json::array({"Table1", "Table3", "SelectQuery"}));
}
