// The functions, operators and text collation of Access SQL, registered on an SQLite connection.
//
// How Access values stand in SQLite (the query bridge writes them so, the functions read them so):
//   Null -> NULL; Yes/No -> INTEGER -1 or 0 (True is -1); Byte, Integer, Long, BigInt -> INTEGER;
//   Single, Double, Currency, Decimal -> REAL; Date/Time -> REAL, the OLE date (days since
//   1899-12-30, the fraction the time of day, as Access stores it); Text, Memo, GUID ("{...}") ->
//   TEXT in UTF-8; Binary, OLE object -> BLOB.
// The SQL the translator writes calls each Access function by its `sqlName`; the static type of a
// call's result (a DAO type, source/dao_types.h) follows its `result` rule, so that a query's
// columns get the types Access gives them.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

struct sqlite3;

// The collation that compares and sorts texts as Access does: letter case ignored, an accented
// letter right after its plain one.
inline constexpr const char* kAccessCollation = "ACCESS";

// Ours, not Access's: the text of a Date/Time value as Access shows it (General Date). Since a
// date stands in SQLite as a plain number, the translator wraps a Date/Time operand in it where
// Access takes the date's text (&, the text functions, CStr, Format without a format).
inline constexpr const char* kDateTextFunction = "access_datetext";

enum class ResultRule : uint8_t {
  Fixed,          // always `daoType`
  FirstArgument,  // the type of the first argument (Min, Max, First, Last, Nz, IIf's branches...)
  Widest,         // the widest numeric type of the arguments (Abs, Int, Fix, Round...)
  SumOf,          // Sum: Currency stays Currency, integers become Long (Double past it), else Double
};

struct AccessFunctionInfo {
  std::string_view accessName;  // as Access spells it: "DateAdd"
  std::string_view sqlName;     // what the translated SQL calls
  int minArgs = 0;
  int maxArgs = 0;
  bool aggregate = false;
  ResultRule result = ResultRule::Fixed;
  int16_t daoType = 0;          // for ResultRule::Fixed
};

// The function Access calls `name` (letter case ignored), or null for one we do not have.
const AccessFunctionInfo* findAccessFunction(std::string_view name);

// The static type of a call's result from the types of its arguments (DAO types; 0 for Null).
int16_t accessResultType(const AccessFunctionInfo& function, std::span<const int16_t> argumentTypes);

// Registers every function of findAccessFunction, the operators the translator calls by name
// (Like's patterns, Access's `&`, `\`, Mod, `^`, and text comparison) and kAccessCollation on
// `db`. Returns an SQLite result code.
int registerAccessFunctions(sqlite3* db);
