// Shows every page of the wizard of both programs over a small written database and grabs each
// into <folder>/<flavour>-<n>-<page>.png, so the pages' look can be checked by eye.
//   quarlex-wizard-shots <folder>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "app/wizard/conversion_wizard.h"
#include "app/wizard/title_font.h"
#include "options/conversion_options.h"
#include "tools/accesswriter/access_writer.h"

namespace {

accesswriter::Table numbers(const std::string& name, int64_t count) {
  auto next = std::make_shared<int64_t>(0);
  return {name, {{"N", accesswriter::FieldType::Long}, {"Label", accesswriter::FieldType::Text}},
          [next, count](accesswriter::Row& row) {
            if (*next >= count) return false;
            ++*next;
            row = {accesswriter::Value(*next), accesswriter::Value("item " + std::to_string(*next))};
            return true;
          }};
}

void settle(int milliseconds) {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < milliseconds) QApplication::processEvents(QEventLoop::AllEvents, 10);
}

bool waitForPage(ConversionWizard& wizard, int id, int milliseconds) {
  QElapsedTimer timer;
  timer.start();
  while (wizard.currentId() != id && timer.elapsed() < milliseconds) QApplication::processEvents(QEventLoop::AllEvents, 10);
  return wizard.currentId() == id;
}

bool grab(ConversionWizard& wizard, const QString& file) {
  settle(150);
  bool ok = wizard.grab().save(file);
  std::printf("%s %s\n", ok ? "wrote" : "cannot write", file.toUtf8().constData());
  return ok;
}

// Opens the result page's command-line box, grabs it and closes it.
bool grabCommandLineBox(ConversionWizard& wizard, const QString& file) {
  auto* show = wizard.currentPage()->findChild<QPushButton*>(QStringLiteral("control1034"));
  if (!show) return false;
  bool ok = false;
  QTimer::singleShot(300, [&] {
    if (QWidget* box = QApplication::activeModalWidget()) {
      ok = box->grab().save(file);
      std::printf("%s %s\n", ok ? "wrote" : "cannot write", file.toUtf8().constData());
      box->close();
    }
  });
  show->click();
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("build/screenshots");
  QDir().mkpath(folder);
  std::filesystem::path scratch = std::filesystem::temp_directory_path() / ("quarlex-shots-" + std::to_string(getpid()));
  std::filesystem::create_directories(scratch);
  setenv("XDG_CONFIG_HOME", (scratch / "config").c_str(), 1);
  std::filesystem::path database = scratch / "shop.accdb";
  accesswriter::Options format;
  format.format = accesswriter::Format::Ace12;
  accesswriter::writeDatabase(database, format, {numbers("Customers", 40), numbers("Orders", 400000), numbers("Products", 25)});

  QApplication application(argc, argv);
  TitleFont font{makeTitleFont()};
  bool ok = true;
  const char* names[] = {"welcome", "source", "output", "progress", "result"};
  for (ProgramFlavour flavour : {ProgramFlavour::Access2007, ProgramFlavour::Classic}) {
    QString prefix = folder + "/" + (flavour == ProgramFlavour::Access2007 ? "quarlex2007" : "quarlex");
    ConversionOptions options;
    options.titleFont = &font;
    options.sourcePath = database.string();
    options.outputPath = (scratch / (flavour == ProgramFlavour::Access2007 ? "shop.xlsx" : "shop.xls")).string();
    options.bookType = flavour == ProgramFlavour::Access2007 ? 1 : 0;
    options.overwriteFile = 1;
    options.overwriteTable = 1;
    options.openOutput = 0;
    WizardSetup setup;
    setup.flavour = flavour;
    setup.openUrl = [](const QUrl&) { return false; };
    ConversionWizard wizard(&options, setup);
    wizard.show();
    for (int id = kWelcomePage; id <= kResultPage; ++id) {
      if (!waitForPage(wizard, id, 60000)) {
        std::fprintf(stderr, "the wizard did not reach page %d\n", id);
        ok = false;
        break;
      }
      if (id == kProgressPage) {
        // Catch the bar somewhere in the middle of the large table.
        auto* bar = wizard.currentPage()->findChild<QProgressBar*>(QStringLiteral("control1016"));
        QElapsedTimer timer;
        timer.start();
        while (bar->value() < bar->maximum() / 3 && wizard.currentId() == kProgressPage && timer.elapsed() < 20000)
          QApplication::processEvents(QEventLoop::AllEvents, 10);
        ok = wizard.grab().save(QStringLiteral("%1-%2-%3.png").arg(prefix).arg(id + 1).arg(names[id])) && ok;
        continue;
      }
      ok = grab(wizard, QStringLiteral("%1-%2-%3.png").arg(prefix).arg(id + 1).arg(names[id])) && ok;
      if (id < kProgressPage) wizard.next();
      if (id == kResultPage) ok = grabCommandLineBox(wizard, prefix + "-6-command-line.png") && ok;
    }
    wizard.reject();
    wizard.waitForWorker();
  }
  std::filesystem::remove_all(scratch);
  return ok ? 0 : 1;
}
