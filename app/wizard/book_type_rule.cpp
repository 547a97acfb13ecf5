#include "app/wizard/book_type_rule.h"

#include <cctype>

namespace {
bool endsWithNoCase(const std::string& name, const char* tail) {
  size_t n = std::char_traits<char>::length(tail);
  if (name.size() < n) return false;
  for (size_t i = 0; i < n; ++i)
    if (std::tolower(static_cast<unsigned char>(name[name.size() - n + i])) != tail[i]) return false;
  return true;
}
}  // namespace

std::string applyBookTypeRule(const std::string& name, int bookType) {
  if (bookType == 1 && endsWithNoCase(name, "xls")) return name + "x";
  if (bookType == 0 && endsWithNoCase(name, "xlsx")) return name.substr(0, name.size() - 1);
  return name;
}

int bookTypeOfName(const std::string& name) {
  if (endsWithNoCase(name, ".xlsx")) return 1;
  if (endsWithNoCase(name, ".xls")) return 0;
  return -1;
}
