// libmdb prints its diagnostics with fprintf(stderr). While a QuietStderr lives, file
// descriptor 2 points at /dev/null; nested and concurrent guards share one redirection.
#pragma once

class QuietStderr {
 public:
  QuietStderr();
  ~QuietStderr();
  QuietStderr(const QuietStderr&) = delete;
  QuietStderr& operator=(const QuietStderr&) = delete;
};
