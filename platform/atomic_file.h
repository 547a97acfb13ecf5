// Replacing a file whole or not at all: the new content goes to a temporary file beside the
// target, is flushed to disk, and is renamed over the target. Until that rename the old file stays
// as it was, so a failed write (a full disk, a file size limit, a crash) never leaves half a file.
#pragma once

#include <functional>
#include <string>

// Writes the new content through `write`, which gets the temporary file's path (already created,
// empty, with the target's permissions) and returns false with a reason when it fails. A target
// that is a symbolic link keeps the link: the file it points to is replaced. On failure `error`
// holds the reason (the system's text where the system said why) and the target is untouched.
bool replaceFileAtomically(const std::string& target,
                           const std::function<bool(const std::string& tempPath, std::string& error)>& write,
                           std::string& error);

// The same for a text held in memory.
bool replaceFileWithText(const std::string& target, const std::string& text, std::string& error);
