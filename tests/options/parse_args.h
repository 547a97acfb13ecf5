// Parsing a test's arguments as a program would, with a program path in front that is never parsed.
#pragma once

#include <string>
#include <vector>

#include "options/command_line.h"
#include "options/conversion_options.h"

inline void parse(ConversionOptions* o, std::vector<std::string> args) {
  args.insert(args.begin(), "/usr/bin/quarlex2007");
  std::vector<const char*> argv;
  for (const auto& a : args) argv.push_back(a.c_str());
  parseCommandLine(o, static_cast<int>(argv.size()), argv.data());
}
