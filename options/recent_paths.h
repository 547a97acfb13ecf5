// The last and the ten most recent source and output paths, kept in the registry file.
#pragma once

#include <string>
#include <vector>

struct LastPath {
  std::string text;
  bool found = false;
};

// The value `name` (LastMDBFile, MDBfiles3, ...). A missing value, or one of more than 254 bytes,
// gives an empty text and found false.
LastPath readLastPath(const std::string& name);

// Stores `text` under `name`; failures are ignored.
void writeLastPath(const std::string& name, const std::string& text);

// The non-empty values listName0 .. listName9, in this order.
std::vector<std::string> loadRecentList(const std::string& listName);

// Moves `path` to the head of the list listName0 .. listName9: earlier occurrences of it (letter
// case of a to z ignored) are dropped, the others keep their order, and the list keeps ten places.
void updateRecentList(const std::string& path, const std::string& listName);
