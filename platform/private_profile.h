// INI files with the rules of the classic private-profile functions: sections and keys match
// without regard to the case of a to z; the first section and the first key of a name count;
// blanks around keys and values are ignored and one pair of matching quotes around a value is
// removed; a written key is replaced in place with every other line of the file kept; the file
// and the section are created when missing. A file that cannot be read reads as empty.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// The value of `key` in `section`, or nothing when the file, the section or the key is missing.
std::optional<std::string> readProfileValue(const std::string& section, const std::string& key,
                                            const std::string& file);

// The value, or `fallback` when missing or empty (as GetPrivateProfileString gives its default).
std::string readProfileString(const std::string& section, const std::string& key,
                              const std::string& fallback, const std::string& file);

// The value's leading decimal number, or `fallback` when the key is missing or has no number.
int32_t readProfileInt(const std::string& section, const std::string& key, int32_t fallback,
                       const std::string& file);

// Sets `key` in `section` to `value`. The new file replaces the old one by a rename, so a reader
// or a second writer never sees a torn file. Returns false when the file cannot be written, with
// the reason in `error` when one is given.
bool writeProfileString(const std::string& section, const std::string& key, const std::string& value,
                        const std::string& file, std::string* error = nullptr);

// Sets several keys of `section` in one replacement: all of them or, on failure, none.
bool writeProfileStrings(const std::string& section, const std::vector<std::pair<std::string, std::string>>& values,
                         const std::string& file, std::string* error = nullptr);
