// `--list DATABASE [/PASSWORD=...]`: what a database holds, for scripts and for people deciding
// what to convert.
#pragma once

#include <optional>
#include <string>

#include "app/program.h"

class Database;

// Each user table as "table<TAB>NAME<TAB>N records", then each saved query as
// "query<TAB>NAME<TAB>KIND<TAB>PARAMETERS<TAB>SQL" (parameters joined by ", ", the SQL on one line).
std::string listingText(const Database& database);

// When argv[1] is --list, prints the listing to standard output and gives the exit code (1 when
// the database does not open); otherwise nothing happens and the result is empty.
std::optional<int> answerListRequest(int argc, char** argv, ProgramFlavour flavour);
