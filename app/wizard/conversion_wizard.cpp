#include "app/wizard/conversion_wizard.h"

#include <QAbstractButton>
#include <QDesktopServices>
#include <QFile>
#include <QMessageBox>
#include <QMimeDatabase>
#include <QPainter>
#include <QPixmap>
#include <QProcess>
#include <QPushButton>
#include <QTimer>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <unistd.h>

#include "app/wizard/pages.h"
#include "job/conversion_job.h"
#include "options/conversion_options.h"

namespace {

const char* const kCompiledHelp = "wizards.chm";
const char* const kHelpPage = "wizards.html";
// The documentation folder of an installed program, seen from its bin folder; app/help's
// CMakeLists.txt installs the page to CMAKE_INSTALL_DOCDIR, which is share/doc/quarlex.
const char* const kInstalledDocFolder = "../share/doc/quarlex/";
// How long the desktop may take to say which program opens a type of file.
constexpr int kDesktopQueryMilliseconds = 5000;

bool isFile(const std::filesystem::path& path) {
  std::error_code error;
  return std::filesystem::is_regular_file(path, error);
}

// How long Cancel waits for the worker to come to its next record before asking without naming it.
constexpr int kHoldWaitMilliseconds = 300;

const char* const kCaptions[] = {
    "Fallowmere Wizard",
    "Fallowmere Wizard | Select Access file",
    "Fallowmere Wizard | Select the output file",
    "Fallowmere Wizard | Conversion in progress",
    "Fallowmere Wizard | Conversion complete",
};

}  // namespace

// The pictures live in the static library's resources, which need registering by hand (and
// outside any namespace).
static void loadWizardArt() {
  static bool loaded = false;
  if (loaded) return;
  loaded = true;
  Q_INIT_RESOURCE(wizard_art);
}

ConversionWizard::ConversionWizard(ConversionOptions* options, WizardSetup setup, QWidget* parent)
    : QWizard(parent), options_(options), setup_(std::move(setup)) {
  loadWizardArt();
  setObjectName(QStringLiteral("wizard"));
  setWizardStyle(QWizard::ModernStyle);
  // The result page offers Finish only; the pages themselves carry their "?" buttons.
  setOptions(QWizard::NoBackButtonOnLastPage);
  // Room for the output page's two columns with the full type names.
  setMinimumWidth(600);

  setPage(kWelcomePage, new WelcomePage(this));
  setPage(kSourcePage, new SourcePage(this));
  setPage(kOutputPage, new OutputPage(this));
  setPage(kProgressPage, new ProgressPage(this));
  setPage(kResultPage, new ResultPage(this));
  setStartId(kWelcomePage);
  setWindowTitle(QString::fromUtf8(kCaptions[kWelcomePage]));
  // "&Browse" keeps its letter on the pages that have it.
  setButtonText(QWizard::BackButton, QStringLiteral("< B&ack"));
  // Enter means the wizard's Next or Finish on every page: a page's own buttons never take the
  // default when they receive the focus.
  for (int id : pageIds()) {
    for (QPushButton* button : page(id)->findChildren<QPushButton*>()) button->setAutoDefault(false);
  }

  connect(this, &QWizard::currentIdChanged, this, [this](int id) { pageBecameCurrent(id); });
}

ConversionWizard::~ConversionWizard() {
  if (auto* progress = dynamic_cast<ProgressPage*>(page(kProgressPage))) progress->sink()->detach();
  // A conversion still running stops without a question; one that ended leaves the flag alone.
  if (workerRunning()) options_->cancelRequested = 1;
  waitForWorker();
  if (options_->progressWindow == static_cast<ProgressPage*>(page(kProgressPage))->sink()) options_->progressWindow = nullptr;
}

void ConversionWizard::resizeEvent(QResizeEvent* event) {
  // The header picture keeps its right end at the window's edge; its plain left part widens.
  int wanted = std::max(width(), 500);
  if (pixmap(QWizard::BannerPixmap).width() != wanted) {
    QPixmap header(QStringLiteral(":/wizard/art/header.png"));
    QPixmap banner(wanted, header.height());
    QPainter painter(&banner);
    int left = banner.width() - header.width();
    painter.drawPixmap(QRect(0, 0, left, header.height()), header, QRect(0, 0, 1, header.height()));
    painter.drawPixmap(left, 0, header);
    painter.end();
    setPixmap(QWizard::BannerPixmap, banner);
  }
  QWizard::resizeEvent(event);
}

void ConversionWizard::pageBecameCurrent(int id) {
  if (auto* left = dynamic_cast<WizardPage*>(page(activePage_))) left->leftPage();
  activePage_ = id;
  if (id < kWelcomePage || id > kResultPage) return;
  setWindowTitle(QString::fromUtf8(kCaptions[id]));
  if (auto* current = dynamic_cast<WizardPage*>(page(id))) current->becameCurrent();
}

void ConversionWizard::pressNextLater() {
  QTimer::singleShot(0, this, [this] { next(); });
}

void ConversionWizard::pressFinishLater() {
  QTimer::singleShot(0, this, [this] {
    if (currentId() == kResultPage) accept();
  });
}

bool ConversionWizard::openUrl(const QUrl& url) const {
  return setup_.openUrl ? setup_.openUrl(url) : QDesktopServices::openUrl(url);
}

namespace {
// The desktop's reason for opening no program on a file of this type, when it has one: no
// default application for the file's MIME type. Empty when a program is set or nobody can tell.
QString missingProgram(const QString& path) {
  QMimeType type = QMimeDatabase().mimeTypeForFile(path);
  QProcess query;
  query.start(QStringLiteral("xdg-mime"), {QStringLiteral("query"), QStringLiteral("default"), type.name()});
  if (!query.waitForStarted(kDesktopQueryMilliseconds) || !query.waitForFinished(kDesktopQueryMilliseconds) ||
      query.exitStatus() != QProcess::NormalExit || query.exitCode() != 0)
    return {};
  if (!QString::fromLocal8Bit(query.readAllStandardOutput()).trimmed().isEmpty()) return {};
  return QStringLiteral("No program is set to open files of the type %1 (%2).").arg(type.comment(), type.name());
}
}  // namespace

QString ConversionWizard::openFile(const QString& path) const {
  if (::access(QFile::encodeName(path).constData(), R_OK) != 0) return QString::fromLocal8Bit(std::strerror(errno));
  if (!setup_.openUrl) {
    QString missing = missingProgram(path);
    if (!missing.isEmpty()) return missing;
  }
  if (!openUrl(QUrl::fromLocalFile(path))) return QStringLiteral("No program could be started to open it.");
  return {};
}

void ConversionWizard::openHelp(const QString& section) {
  std::string help = findHelpFile(setup_.programFolder);
  if (help.empty()) return;
  QUrl url = QUrl::fromLocalFile(QString::fromStdString(help));
  // The compiled help has no sections to jump to.
  if (!section.isEmpty() && url.path().endsWith(QString::fromUtf8(kHelpPage))) url.setFragment(section);
  openUrl(url);
}

void ConversionWizard::startWorker() {
  waitForWorker();
  workerRunning_ = true;
  OwnerWindow* owner = options_->progressWindow;
  worker_ = std::thread([this, owner] {
    outcome_ = RunConversionJob(owner, options_);
    // Whatever the outcome, the wizard moves on to the result page.
    QMetaObject::invokeMethod(this, [this] { workerFinished(); }, Qt::QueuedConnection);
    workerRunning_ = false;
  });
}

void ConversionWizard::workerFinished() {
  if (auto* progress = dynamic_cast<ProgressPage*>(page(kProgressPage))) progress->sink()->flush();
  if (isVisible() && currentId() == kProgressPage) next();
}

void ConversionWizard::waitForWorker() {
  if (worker_.joinable()) worker_.join();
}

void ConversionWizard::reject() {
  if (currentId() == kProgressPage && workerRunning()) {
    // The worker presses Next when it has stopped; the result page then says where.
    confirmStop();
    return;
  }
  QWizard::reject();
}

ProgressSink* ConversionWizard::progressSink() { return static_cast<ProgressPage*>(page(kProgressPage))->sink(); }

bool ConversionWizard::confirmStop() {
  ProgressSink* sink = progressSink();
  // Held before its next record, the worker stops right after it, as the question says.
  std::string table;
  int64_t stopRecord = 0;
  if (sink->holdWorker(kHoldWaitMilliseconds)) {
    ProgressSink::TableAtWork atWork = sink->tableAtWork();
    if (atWork.total >= 0) {
      table = tableOfProgressLabel(atWork.label, options_->outputPath);
      stopRecord = atWork.done + 1;
    }
  }
  QMessageBox box(QMessageBox::Question, windowTitle(), stopQuestion(table, stopRecord),
                  QMessageBox::Yes | QMessageBox::No, this);
  box.setObjectName(QStringLiteral("stopQuestion"));
  box.setDefaultButton(QMessageBox::No);
  bool stop = box.exec() == QMessageBox::Yes;
  if (stop && workerRunning()) {
    options_->cancelRequested = 1;
    stopRequested_ = true;
  }
  sink->releaseWorker();
  return stop;
}

std::string tableOfProgressLabel(const std::string& label, const std::string& workbook) {
  const std::string suffix = " -> " + workbook;
  if (label.size() >= suffix.size() && label.compare(label.size() - suffix.size(), suffix.size(), suffix) == 0)
    return label.substr(0, label.size() - suffix.size());
  return label;
}

QString stopQuestion(const std::string& table, int64_t stopRecord) {
  QString question = QStringLiteral("Stop the conversion? The tables converted so far are kept");
  if (table.empty()) return question + QStringLiteral(".");
  return question + QStringLiteral("; %1 stops at record %2.").arg(QString::fromStdString(table)).arg(stopRecord);
}

std::string findHelpFile(const std::string& programFolder) {
  const std::filesystem::path folder(programFolder);
  for (const std::filesystem::path& candidate :
       {folder / kCompiledHelp, folder / kHelpPage, folder / kInstalledDocFolder / kHelpPage}) {
    if (isFile(candidate)) return candidate.lexically_normal().string();
  }
  return {};
}

QPushButton* makeHelpButton(ConversionWizard* wizard, QWidget* parent, const char* section) {
  auto* help = new QPushButton(QStringLiteral("?"), parent);
  help->setObjectName(QStringLiteral("control1048"));
  help->setFixedWidth(help->fontMetrics().horizontalAdvance(QStringLiteral("?")) + 16);
  QObject::connect(help, &QPushButton::clicked, wizard,
                   [wizard, section] { wizard->openHelp(QString::fromUtf8(section)); });
  return help;
}
