// The parser of Access SQL: a saved query's text, as Access shows it in SQL view, into the tree
// of sql_tree.h. Throws SqlError at the first thing it cannot read.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "source/query/sql_tree.h"

std::shared_ptr<Query> parseAccessSql(std::string_view sql);

// The OLE date of a #...# literal's text (m/d/y with an optional time, y-m-d, or a time alone);
// false when it is not one. Two-digit years 30 to 99 are 19xx, 00 to 29 20xx.
bool parseAccessDate(std::string_view text, double& oleDate);

// The DAO type a PARAMETERS declaration names (Text, Long, DateTime...); 0 for an unknown name.
int16_t daoTypeOfDeclaration(std::string_view typeName);

// The name a reference stands for as a parameter: its one part, or its parts bracketed and joined
// as written ([Forms]![F]![C]).
std::string parameterNameOf(const Expr& reference);
