#include "platform/private_profile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string_view>
#include <vector>

#include "platform/atomic_file.h"
#include "platform/text.h"

namespace {

// An INI file larger than this is not a settings file; it reads as empty.
constexpr off_t kLargestProfileFile = 16 * 1024 * 1024;

std::optional<std::string> readWholeFile(const std::string& file) {
  // Without blocking: a named pipe at the path must not stop the run.
  int fd = open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kLargestProfileFile) {
    close(fd);
    return std::nullopt;
  }
  std::string content;
  char buf[65536];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0) {
      close(fd);
      return std::nullopt;
    }
    if (n == 0) break;
    content.append(buf, static_cast<size_t>(n));
    if (static_cast<off_t>(content.size()) > kLargestProfileFile) {
      close(fd);
      return std::nullopt;
    }
  }
  close(fd);
  return content;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

enum class LineKind { Other, Section, Key };

struct ProfileLine {
  size_t begin = 0;  // offset of the line in the file
  size_t end = 0;    // offset just past the line's text, before its terminator
  size_t next = 0;   // offset of the next line
  LineKind kind = LineKind::Other;
  std::string_view name;   // section or key name
  std::string_view value;  // key value, quotes removed
};

std::vector<ProfileLine> splitLines(std::string_view content) {
  std::vector<ProfileLine> lines;
  size_t pos = 0;
  // A UTF-8 byte order mark is not part of the first line's text.
  if (content.substr(0, 3) == "\xEF\xBB\xBF") pos = 3;
  while (pos < content.size()) {
    ProfileLine line;
    line.begin = pos;
    size_t nl = content.find('\n', pos);
    line.end = nl == std::string_view::npos ? content.size() : nl;
    line.next = nl == std::string_view::npos ? content.size() : nl + 1;
    std::string_view text = trim(content.substr(line.begin, line.end - line.begin));
    if (!text.empty() && text.front() == '[') {
      size_t close = text.find(']');
      line.kind = LineKind::Section;
      line.name = trim(text.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
    } else if (!text.empty() && text.front() != ';') {
      size_t eq = text.find('=');
      if (eq != std::string_view::npos) {
        line.kind = LineKind::Key;
        line.name = trim(text.substr(0, eq));
        std::string_view value = trim(text.substr(eq + 1));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
          value = value.substr(1, value.size() - 2);
        line.value = value;
      }
    }
    lines.push_back(line);
    pos = line.next;
  }
  return lines;
}

struct Location {
  std::optional<size_t> section;  // index of the section's header line
  std::optional<size_t> key;      // index of the key's line
  size_t sectionEnd = 0;          // index of the first line after the section
};

Location locate(const std::vector<ProfileLine>& lines, std::string_view section, std::string_view key) {
  Location loc;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].kind != LineKind::Section || !asciiEqualsIgnoreCase(lines[i].name, section)) continue;
    loc.section = i;
    size_t j = i + 1;
    for (; j < lines.size() && lines[j].kind != LineKind::Section; ++j)
      if (!loc.key && lines[j].kind == LineKind::Key && asciiEqualsIgnoreCase(lines[j].name, key)) loc.key = j;
    loc.sectionEnd = j;
    break;
  }
  return loc;
}

// Serialises writers of files in one folder, across processes, so that two read-modify-write
// cycles cannot lose each other's key. Readers need no lock: the rename makes each write whole.
class FolderWriteLock {
 public:
  explicit FolderWriteLock(const std::string& file) {
    auto slash = file.rfind('/');
    std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : file.substr(0, slash));
    fd_ = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ >= 0) flock(fd_, LOCK_EX);
  }
  ~FolderWriteLock() {
    if (fd_ >= 0) close(fd_);  // closing releases the lock
  }
  FolderWriteLock(const FolderWriteLock&) = delete;
  FolderWriteLock& operator=(const FolderWriteLock&) = delete;

 private:
  int fd_ = -1;
};

}  // namespace

std::optional<std::string> readProfileValue(const std::string& section, const std::string& key,
                                            const std::string& file) {
  auto content = readWholeFile(file);
  if (!content) return std::nullopt;
  auto lines = splitLines(*content);
  auto loc = locate(lines, section, key);
  if (!loc.key) return std::nullopt;
  return std::string(lines[*loc.key].value);
}

std::string readProfileString(const std::string& section, const std::string& key,
                              const std::string& fallback, const std::string& file) {
  auto value = readProfileValue(section, key, file);
  return value && !value->empty() ? *value : fallback;
}

int32_t readProfileInt(const std::string& section, const std::string& key, int32_t fallback,
                       const std::string& file) {
  auto value = readProfileValue(section, key, file);
  return value ? leadingDecimal(*value, fallback) : fallback;
}

namespace {

// The content with `key` of `section` set to `value`, as writeProfileString makes it.
std::string withValue(const std::string& content, const std::string& section, const std::string& key,
                      const std::string& value) {
  const std::string newline = content.find("\r\n") != std::string::npos ? "\r\n" : "\n";
  auto lines = splitLines(content);
  auto loc = locate(lines, section, key);
  if (loc.key) {
    const ProfileLine& line = lines[*loc.key];
    std::string_view raw(content.data() + line.begin, line.end - line.begin);
    bool cr = !raw.empty() && raw.back() == '\r';
    return content.substr(0, line.begin) + std::string(line.name) + "=" + value + (cr ? "\r" : "") +
           content.substr(line.end);
  }
  if (loc.section) {
    // After the section's last line that holds something, so blank separators stay below it.
    size_t after = *loc.section;
    for (size_t i = *loc.section + 1; i < loc.sectionEnd; ++i)
      if (!trim(std::string_view(content).substr(lines[i].begin, lines[i].end - lines[i].begin)).empty()) after = i;
    size_t at = lines[after].next;
    std::string prefix = content.substr(0, at);
    if (at == content.size() && !prefix.empty() && prefix.back() != '\n') prefix += newline;
    return prefix + key + "=" + value + newline + content.substr(at);
  }
  std::string text = content;
  if (!text.empty() && text.back() != '\n') text += newline;
  return text + "[" + section + "]" + newline + key + "=" + value + newline;
}

}  // namespace

bool writeProfileString(const std::string& section, const std::string& key, const std::string& value,
                        const std::string& file, std::string* error) {
  return writeProfileStrings(section, {{key, value}}, file, error);
}

bool writeProfileStrings(const std::string& section, const std::vector<std::pair<std::string, std::string>>& values,
                         const std::string& file, std::string* error) {
  auto fail = [&](const char* reason) {
    if (error) *error = reason;
    return false;
  };
  // Names and values are single lines; a line break would make a second entry.
  auto oneLine = [](const std::string& s) { return s.find_first_of("\r\n") == std::string::npos; };
  if (section.empty() || !oneLine(section) || section.find(']') != std::string::npos)
    return fail("the name or the value cannot be written into a settings file");
  for (const auto& [key, value] : values)
    if (key.empty() || !oneLine(key) || !oneLine(value) || key.find('=') != std::string::npos)
      return fail("the name or the value cannot be written into a settings file");

  FolderWriteLock lock(file);
  std::string content;
  struct stat st {};
  if (stat(file.c_str(), &st) == 0) {
    auto existing = readWholeFile(file);
    if (!existing)  // unreadable or not a settings file: leave it alone
      return fail(S_ISREG(st.st_mode) ? "it cannot be read as a settings file" : "it is not a regular file");
    content = std::move(*existing);
  }
  for (const auto& [key, value] : values) content = withValue(content, section, key, value);
  std::string why;
  if (replaceFileWithText(file, content, why)) return true;
  if (error) *error = why;
  return false;
}
