// A saved query as the catalog defines it (MSysObjects type 5 and its rows in MSysQueries).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The kinds of query Access saves, with DAO's QueryDef.Type values.
enum class QueryKind : int16_t {
  Select = 0,
  Crosstab = 16,
  Delete = 32,
  Update = 48,
  Append = 64,
  MakeTable = 80,
  DataDefinition = 96,
  PassThrough = 112,
  Union = 128,
};

// A parameter the query declares (PARAMETERS) or uses without declaring it; `daoType` is the
// declared type (dbText when undeclared).
struct QueryParameter {
  std::string name;
  int16_t daoType = 0;
};

struct SavedQuery {
  std::string name;
  QueryKind kind = QueryKind::Select;
  uint32_t flags = 0;  // the catalog row's flags
  std::string sql;     // as Access shows it in SQL view
  std::vector<QueryParameter> parameters;
};

// Select, union and crosstab queries run; action queries never do.
inline bool isRunnableQuery(QueryKind kind) {
  return kind == QueryKind::Select || kind == QueryKind::Union || kind == QueryKind::Crosstab;
}

// Values of a query's parameters as the user gave them (/PARAMETERS=Name=Value;...); names are
// compared with the letter case of a to z ignored.
struct QueryParameterValue {
  std::string name;
  std::string value;
};
using QueryParameterValues = std::vector<QueryParameterValue>;
