// The saved-query catalog: MSysQueries, one row per part of each query's definition (its kind,
// parameters, tables, columns, joins, clauses), keyed by the query's MSysObjects Id.
#pragma once

#include <cstdint>

namespace queryfmt {

// MSysQueries' columns.
constexpr const char* kQueriesTable = "MSysQueries";
constexpr const char* kColObjectId = "ObjectId";
constexpr const char* kColAttribute = "Attribute";
constexpr const char* kColOrder = "Order";  // binary; rows of one attribute sort by it
constexpr const char* kColName1 = "Name1";
constexpr const char* kColName2 = "Name2";
constexpr const char* kColExpression = "Expression";
constexpr const char* kColFlag = "Flag";
constexpr const char* kColExtra = "LvExtra";

// What a row describes (its Attribute).
enum Attribute : int {
  kAttrStart = 0,
  kAttrType = 1,       // Flag: the kind (kRowKind...); Name1: an action's target table,
                       // Name2 and Expression its other database; Expression: a pass-through or
                       // data-definition query's whole text
  kAttrParameter = 2,  // Name1: the name as declared; Flag: its DAO type; LvExtra: a text's size
  kAttrFlags = 3,      // Flag: kSelect... bits; Name1: TOP's count
  kAttrRemoteDb = 4,   // Name1: the path of the database FROM reads; Expression: its kind
  kAttrTable = 5,      // Name1: the table or query, Name2: its alias, Expression: a subquery's text
  kAttrColumn = 6,     // Expression: the value, Name1: its alias, Name2: an action's target column
  kAttrJoin = 7,       // Name1 joined to Name2 on Expression; Flag: kJoin...
  kAttrWhere = 8,
  kAttrGroupBy = 9,
  kAttrHaving = 10,
  kAttrOrderBy = 11,   // Name1 kDescending for a descending key
  kAttrEnd = 255,
};

// The kind of query in MSysObjects.Flags (these bits; the others mark other things) equals DAO's
// QueryDef.Type. Where it is 0 (select), the type row may still name another kind.
constexpr uint32_t kObjectKindMask = 0xF0;

// The type row's Flag.
enum RowKind : int {
  kRowSelect = 1,
  kRowMakeTable = 2,
  kRowAppend = 3,
  kRowUpdate = 4,
  kRowDelete = 5,
  kRowCrosstab = 6,
  kRowDataDefinition = 7,
  kRowPassThrough = 8,
  kRowUnion = 9,
};

// The flags row's bits.
constexpr int kSelectStar = 0x01;         // "*": every column of every table
constexpr int kSelectDistinct = 0x02;
constexpr int kSelectOwnerAccess = 0x04;  // WITH OWNERACCESS OPTION
constexpr int kSelectDistinctRow = 0x08;
constexpr int kSelectTop = 0x10;
constexpr int kSelectTopPercent = 0x20;
// In a union query's flags row, set for UNION, clear for UNION ALL.
constexpr int kUnionDistinct = 0x02;

// A union query's two halves are table rows with these aliases, their text in Expression.
constexpr const char* kUnionFirstPart = "X7YZ_____1";
constexpr const char* kUnionSecondPart = "X7YZ_____2";

// A column row's Flag in a crosstab: the row heading columns and groups, and the column heading
// (PIVOT); a column with neither is the value (TRANSFORM).
constexpr int kCrosstabRowHeading = 0x02;
constexpr int kCrosstabPivot = 0x01;
// A column row's Flag in an append query: the value of a VALUES list.
constexpr int kAppendValue = 0x8000;

// A join row's Flag.
constexpr int kJoinInner = 1;
constexpr int kJoinLeft = 2;
constexpr int kJoinRight = 3;

constexpr const char* kDescending = "D";

// The names a declared parameter's DAO type has in PARAMETERS.
struct ParameterTypeName {
  int16_t daoType;
  const char* name;
};
constexpr ParameterTypeName kParameterTypeNames[] = {
    {0, "Value"},       {1, "Bit"},         {2, "Byte"},      {3, "Short"},     {4, "Long"},
    {5, "Currency"},    {6, "IEEESingle"},  {7, "IEEEDouble"}, {8, "DateTime"}, {9, "Binary"},
    {10, "Text"},       {11, "LongBinary"}, {12, "Memo"},     {15, "Guid"},     {20, "Decimal"},
};
constexpr int16_t kParameterText = 10;  // whose LvExtra, when positive, is its size

}  // namespace queryfmt
