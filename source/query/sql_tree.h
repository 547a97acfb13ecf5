// Access SQL as the parser reads it: a small tree of a query's statements and expressions,
// each node with the span of the SQL text it came from (for messages).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct SqlSpan {
  size_t begin = 0, end = 0;  // byte offsets into the query's SQL
};

struct Query;

enum class ExprKind {
  Null,
  Number,   // `number`, `integral` when written without a point or exponent
  Text,     // "text" or 'text'
  Date,     // #...#: `number` is the OLE date
  Name,     // a reference: `parts` (a.b or a!b), a field, a parameter or a query's output
  Star,     // * or T.*: `parts` holds the qualifier
  Unary,    // `op`: "-", "+", "Not"
  Binary,   // `op`: an arithmetic, comparison or logical operator as Access spells it
  Call,     // `op` the function's name; Count(*) has one Star argument
  Between,  // args: value, low, high; `negated` for Not Between
  In,       // args[0] in args[1..] or in `subquery`; `negated` for Not In
  IsNull,   // `negated` for Is Not Null
  Like,     // args: value, pattern; `negated` for Not Like
  Subquery, // a scalar subquery
  Exists,
  Quantified,  // args[0] `op` ALL or ANY (SOME) `subquery`: `text` "ALL" or "ANY"
};

struct Expr {
  ExprKind kind = ExprKind::Null;
  std::string op;
  std::vector<std::string> parts;
  bool bang = false;  // a name written with `!` between its parts ([Forms]![F]![C])
  bool atSign = false;  // a name written @name: always a parameter
  std::string text;
  double number = 0;
  bool integral = false;
  bool negated = false;
  std::vector<std::unique_ptr<Expr>> args;
  std::shared_ptr<Query> subquery;
  SqlSpan span;
};
using ExprPtr = std::unique_ptr<Expr>;

enum class JoinKind { Inner, Left, Right };

struct FromItem {
  enum class Kind { Table, Subquery, Join } kind = Kind::Table;
  std::string name;   // Table: the table's or saved query's name
  std::string alias;  // empty when none
  std::shared_ptr<Query> subquery;
  JoinKind join = JoinKind::Inner;
  std::unique_ptr<FromItem> left, right;
  ExprPtr on;
  SqlSpan span;
};

struct SelectItem {
  ExprPtr expr;
  std::string alias;  // empty when none
};

struct OrderItem {
  ExprPtr expr;
  bool descending = false;
};

struct Select {
  bool distinct = false;
  bool distinctRow = false;
  bool hasTop = false;
  double top = 0;
  bool topPercent = false;
  std::vector<SelectItem> items;
  std::vector<std::unique_ptr<FromItem>> from;  // comma-separated: a cross product
  ExprPtr where;
  std::vector<ExprPtr> groupBy;
  ExprPtr having;
  std::vector<OrderItem> orderBy;
};

struct ParameterDeclaration {
  std::string name;
  int16_t daoType = 0;
};

struct Query {
  enum class Kind { Select, Union, Crosstab } kind = Kind::Select;
  Select select;  // Select, and a crosstab's row headings and source
  // Union: the selects (or nested unions), each after the first joined with ALL or not.
  std::vector<std::shared_ptr<Query>> parts;
  std::vector<bool> unionAll;
  std::vector<OrderItem> orderBy;  // a union's
  // Crosstab: TRANSFORM value ... PIVOT pivot [IN (pivotIn)].
  ExprPtr transform;
  ExprPtr pivot;
  std::vector<ExprPtr> pivotIn;
  std::vector<ParameterDeclaration> parameters;
  SqlSpan span;
};

// A query that cannot be read or run: what is wrong, and where in its SQL.
struct SqlError {
  std::string message;
  SqlSpan span;
  int daoCode = 3075;  // the DAO error it raises: a syntax error unless said otherwise
};
