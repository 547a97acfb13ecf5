// Drives the real wizard under the offscreen platform: one QApplication for the whole test
// program, a scratch folder per test for databases, workbooks, settings and the registry file.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <cstdlib>
#include <functional>
#include <memory>
#include <vector>

#include "app/wizard/conversion_wizard.h"
#include "app/wizard/title_font.h"
#include "options/conversion_options.h"
#include "options/recent_paths.h"
#include "platform/private_profile.h"
#include "tests/job/fixtures.h"

namespace wizardtest {

// Hands the next modal window that opens to `handle`, which closes it and answers true, or
// answers false to keep waiting (another window opened first).
inline void whenModalOpens(std::function<bool(QWidget*)> handle) {
  QTimer::singleShot(20, [handle] {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || !handle(modal)) whenModalOpens(handle);
  });
}

class WizardTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    if (!QApplication::instance()) {
      static int argc = 1;
      static char name[] = "test_wizard";
      static char* argv[] = {name, nullptr};
      // Lives until the process ends: Qt allows one application object per process.
      application = new QApplication(argc, argv);
    }
  }

  void SetUp() override {
    setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    options.titleFont = &font;
    options.openOutput = 0;
    options.statusFile = path("status.ini");
  }

  void TearDown() override {
    // The wizard's end stops a conversion still running, without asking, and waits for it.
    wizard.reset();
    QApplication::processEvents();
  }

  ConversionWizard& startWizard(ProgramFlavour flavour = ProgramFlavour::Access2007) {
    WizardSetup setup;
    setup.flavour = flavour;
    setup.programFolder = (dir / "program").string() + "/";
    setup.settingsFile = settingsFile;
    setup.openUrl = [this](const QUrl& url) {
      opened.push_back(url);
      return openAnswers;
    };
    setup.chooseFile = [this](bool save, const QString& filter, const QString& start) {
      dialogs.push_back({save, filter});
      dialogStarts.push_back(start);
      return chosenFile;
    };
    wizard = std::make_unique<ConversionWizard>(&options, setup);
    wizard->show();
    // Focus moves only in the active window, as on a desktop.
    wizard->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(wizard.get()));
    QApplication::processEvents();
    return *wizard;
  }

  // Handles events until `done` holds or the time is up; true when it holds.
  static bool waitUntil(const std::function<bool()>& done, int milliseconds = 30000) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
      if (timer.elapsed() > milliseconds) return false;
      QApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
  }
  bool reachesPage(int id, int milliseconds = 30000) {
    return waitUntil([&] { return wizard->currentId() == id; }, milliseconds);
  }
  // Handles the events queued now and a little more, for checks that something did NOT happen.
  static void settle(int milliseconds = 200) {
    waitUntil([] { return false; }, milliseconds);
  }

  QAbstractButton* nextButton() {
    return wizard->button(wizard->currentPage()->isCommitPage() ? QWizard::CommitButton : QWizard::NextButton);
  }
  void clickNext() {
    nextButton()->click();
    QApplication::processEvents();
  }

  template <typename T = QWidget>
  T* control(int id) {
    T* widget = wizard->currentPage()->findChild<T*>(QStringLiteral("control%1").arg(id));
    EXPECT_NE(widget, nullptr) << "no control " << id << " of type " << typeid(T).name();
    return widget;
  }

  std::string status() { return readProfileString("QUARLEX", "Result", "", options.statusFile); }
  std::string path(const std::string& name) { return (dir / name).string(); }

  std::filesystem::path shopDb(int64_t orders = 5) {
    return jobtest::writeDb(dir / "shop.accdb",
                            {jobtest::countingTable("Orders", orders), jobtest::countingTable("Customers", 3)},
                            accesswriter::Format::Ace12);
  }

  static inline QApplication* application = nullptr;
  testsupport::ScratchDir dir;
  TitleFont font{QFont()};
  ConversionOptions options;
  std::unique_ptr<ConversionWizard> wizard;
  std::vector<QUrl> opened;
  bool openAnswers = true;  // what the desktop answers when asked to open a file
  std::vector<std::pair<bool, QString>> dialogs;  // the file dialogs asked for: save?, filter
  std::vector<QString> dialogStarts;              // and the path each starts from
  QString chosenFile;                             // what they answer
  std::string settingsFile = path("settings.ini");  // empty: the user's own settings file

};

}  // namespace wizardtest
