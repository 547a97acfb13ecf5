// The files a batch pattern matches. Wildcards * and ? may stand in the last component and match
// without regard to letter case; a pattern without them matches the one file it names.
#pragma once

#include <string>
#include <vector>

bool hasWildcards(const std::string& pattern);

// Names (not paths) of the entries of the pattern's folder that match, sorted bytewise so a batch
// is repeatable. Entries whose names begin with "." are included: the caller decides about them.
std::vector<std::string> findMatchingFiles(const std::string& pattern);
