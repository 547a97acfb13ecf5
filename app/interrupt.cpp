#include "app/interrupt.h"

#include <signal.h>
#include <unistd.h>

#include "platform/interruption.h"

namespace {

constexpr int kHandledSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int kShellSignalBase = 128;

std::atomic<std::atomic<int32_t>*> gCancelFlag{nullptr};
struct sigaction gPrevious[sizeof kHandledSignals / sizeof kHandledSignals[0]];

void onSignal(int signal) {
  if (interruptionSignal() != 0) {
    // Asked twice: no more waiting for the export to notice.
    removeTemporaryFilesNow();
    _exit(kShellSignalBase + signal);
  }
  noteInterruption(signal);
  if (std::atomic<int32_t>* flag = gCancelFlag.load()) flag->store(1);
}

}  // namespace

InterruptHandling::InterruptHandling(std::atomic<int32_t>* cancelFlag) {
  gCancelFlag = cancelFlag;
  struct sigaction action {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  // Interrupted system calls go on: the run stops where it polls for the request, not at a read
  // that would then report a failure of its own.
  action.sa_flags = SA_RESTART;
  for (size_t i = 0; i < sizeof kHandledSignals / sizeof kHandledSignals[0]; ++i)
    sigaction(kHandledSignals[i], &action, &gPrevious[i]);
}

InterruptHandling::~InterruptHandling() {
  for (size_t i = 0; i < sizeof kHandledSignals / sizeof kHandledSignals[0]; ++i)
    sigaction(kHandledSignals[i], &gPrevious[i], nullptr);
  gCancelFlag = nullptr;
}

int exitCodeForSignal(int signal) { return kShellSignalBase + signal; }

std::string signalName(int signal) {
  switch (signal) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    case SIGHUP: return "SIGHUP";
    default: return "signal " + std::to_string(signal);
  }
}
