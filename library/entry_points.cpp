#include "library/quarlex.h"

#include <cstdio>
#include <exception>
#include <vector>

#include "job/batch_runner.h"
#include "options/command_line.h"
#include "options/conversion_options.h"
#include "platform/owner_window.h"

namespace {

constexpr int kMostArguments = 2048;
constexpr int kNoSource = 1;
constexpr int kNoOutput = 2;
constexpr int kJobFailed = 4;

// The messages of this thread's last call, for QUARLEX_LastMessages.
thread_local std::string lastMessages;

int convert(int count, const char* const* arguments) {
  if (count > kMostArguments) {
    writeMessageLine("Error: more than 2048 arguments; nothing was converted.");
    return kNoSource;
  }
  ConversionOptions options;
  parseCommandLine(&options, count, arguments);
  // The libraries keep no status file and open no workbook: those switches are accepted only.
  options.statusFile.clear();
  if (options.sourcePath.empty()) return kNoSource;
  if (std::string refusal = severalSourcesRefusal(options); !refusal.empty()) {
    writeMessageLine("Error: " + refusal);
    return kNoSource;
  }
  if (options.outputPath.empty()) return kNoOutput;
  BatchResult result = RunBatch(&options, BatchCaller::Library);
  if (result.code() != 0) return result.code();
  return result.allConverted() ? 0 : kJobFailed;
}

}  // namespace

extern "C" int QUARLEX_Converter(unsigned int, int count, const char* const* arguments) {
  lastMessages.clear();
  // No vector holds no source path, whatever the count says.
  if (!arguments) return kNoSource;
  // Nothing may unwind into a caller that may not even be written in C++.
  try {
    MessagesKept kept(lastMessages);
    try {
      return convert(count < 0 ? 0 : count, arguments);
    } catch (const std::exception& error) {
      writeMessageLine(std::string("Error: ") + error.what());
    } catch (...) {
      writeMessageLine("Error: the conversion failed.");
    }
  } catch (...) {
    // Even the message could not be made (no memory left): the result says enough.
  }
  return kJobFailed;
}

extern "C" const char* QUARLEX_LastMessages(void) { return lastMessages.c_str(); }

extern "C" int QUARLEX_ConverterStr(unsigned int reserved, char* text) {
  std::vector<const char*> tokens;
  try {
    for (char* p = text; p && *p;) {
      while (*p == '#') ++p;
      if (!*p) break;
      tokens.push_back(p);
      while (*p && *p != '#') ++p;
      if (*p == '#') *p++ = '\0';
    }
  } catch (...) {
    lastMessages.clear();
    std::fputs("Error: the conversion failed.\n", stderr);
    lastMessages = "Error: the conversion failed.\n";
    return kJobFailed;
  }
  return QUARLEX_Converter(reserved, static_cast<int>(tokens.size()), tokens.data());
}
