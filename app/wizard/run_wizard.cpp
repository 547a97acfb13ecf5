// The wizard path of the programs: a QApplication, the title font, the wizard, and waiting for
// the conversion worker before the record goes away.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QApplication>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "app/program.h"
#include "app/wizard/conversion_wizard.h"
#include "app/wizard/title_font.h"
#include "options/conversion_options.h"
#include "platform/paths.h"

namespace {

bool unixSocketAnswers(const std::string& path) {
  sockaddr_un address{};
  if (path.size() >= sizeof address.sun_path) return false;
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return ok;
}

const char* environment(const char* name) {
  const char* value = std::getenv(name);
  return value && value[0] ? value : nullptr;
}

// Qt ends the process when its platform cannot start, so a display that surely is not there is
// found out beforehand. Only local displays are checked; anything else is left to Qt.
bool displayAvailable() {
  if (environment("QT_QPA_PLATFORM")) return true;
  if (const char* wayland = environment("WAYLAND_DISPLAY")) {
    if (wayland[0] == '/') return unixSocketAnswers(wayland);
    if (const char* runtime = environment("XDG_RUNTIME_DIR")) {
      if (unixSocketAnswers(std::string(runtime) + "/" + wayland)) return true;
    }
  }
  const char* display = environment("DISPLAY");
  if (!display) return false;
  if (display[0] != ':') return true;  // a remote display: Qt will tell
  std::string number(display + 1);
  number = number.substr(0, number.find('.'));
  return unixSocketAnswers("/tmp/.X11-unix/X" + number) || access(("/tmp/.X11-unix/X" + number).c_str(), F_OK) == 0;
}

}  // namespace

bool runWizard(ConversionOptions* options, int argc, char** argv, ProgramFlavour flavour) {
  if (!displayAvailable()) return false;
  static int qtArgc = 1;
  static char name[] = "quarlex";
  static char* qtArgv[] = {argc > 0 && argv && argv[0] ? argv[0] : name, nullptr};
  std::unique_ptr<QApplication> application;
  if (!QApplication::instance()) application = std::make_unique<QApplication>(qtArgc, qtArgv);

  auto font = std::make_unique<TitleFont>(TitleFont{makeTitleFont()});
  options->titleFont = font.get();
  {
    WizardSetup setup;
    setup.flavour = flavour;
    setup.programFolder = folderOf(executablePath());
    ConversionWizard wizard(options, setup);
    wizard.exec();
    // The record must outlive the worker, and a workbook being saved must be saved whole.
    wizard.waitForWorker();
  }
  options->titleFont = nullptr;
  options->progressWindow = nullptr;
  return true;
}
