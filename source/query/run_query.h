// Running a saved select, union or crosstab query: its Access SQL translated to SQLite's, the
// tables it reads exposed to SQLite from our reader, its rows handed back as a RecordStream
// whose columns are named and typed as Access gives them. Nothing outside source/query knows
// SQLite is there.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "source/com_error.h"
#include "source/database_file.h"
#include "source/record_stream.h"
#include "source/saved_query.h"

namespace daoerror {
inline constexpr int32_t kTooFewParameters = fromCode(3061);  // values of parameters are missing
inline constexpr int32_t kQueryCannotRun = fromCode(3075);    // the SQL cannot be read or run
}  // namespace daoerror

// The records of `query` with `values` for its parameters. Throws ComError naming the query, the
// file and the part of its SQL that failed (an unknown function, a missing table), or, with
// kTooFewParameters, the parameters that have no value; action queries never run. With `bounds`,
// the SQL engine gives up (ComError from next()) past either of them, counted over the whole
// query from its opening.
struct QueryBounds {
  uint64_t mostSteps = 0;         // steps of SQLite's virtual machine, about; 0 no bound
  uint32_t mostMilliseconds = 0;  // time taken; 0 no bound
};
std::unique_ptr<RecordStream> openQueryRecords(const std::shared_ptr<DatabaseFile>& file, const SavedQuery& query,
                                               const QueryParameterValues& values, const QueryBounds& bounds = {});

// The parameters Access asks for when the query runs: those it declares (PARAMETERS), then the
// names it uses that no table, field or query has ([Forms]![F]![C] references among them), with
// those of the queries it is built on; undeclared ones are dbText. Throws ComError as above when
// the SQL cannot be read.
std::vector<QueryParameter> queryParameters(const std::shared_ptr<DatabaseFile>& file, const SavedQuery& query);

// The names of the parameters that `values` does not give.
std::vector<std::string> missingParameters(const std::shared_ptr<DatabaseFile>& file, const SavedQuery& query,
                                           const QueryParameterValues& values);

// The result's columns (names and DAO types) without reading its records; a crosstab without
// PIVOT ... IN reads its pivot values, for which the parameters need values.
std::vector<ColumnInfo> queryColumns(const std::shared_ptr<DatabaseFile>& file, const SavedQuery& query,
                                     const QueryParameterValues& values);
