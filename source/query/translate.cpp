#include "source/query/translate.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <deque>
#include <map>
#include <set>

#include "platform/civil_date.h"
#include "platform/text.h"
#include "source/com_error.h"
#include "source/dao_types.h"
#include "source/query/access_functions.h"
#include "source/query/sql_parser.h"

namespace {

const char* const kCollate = " COLLATE \"ACCESS\"";

bool isTextType(int16_t t) { return t == dbText || t == dbMemo || t == dbChar || t == dbGUID; }

// Access's order of numeric precision for arithmetic results.
int numericRank(int16_t t) {
  switch (t) {
    case dbBoolean:
    case dbByte: return 1;
    case dbInteger: return 2;
    case dbLong: return 3;
    case dbBigInt: return 4;
    case dbSingle: return 5;
    case dbDouble: return 6;
    case dbCurrency: return 7;
    case dbDecimal: return 8;
    default: return 0;
  }
}

int16_t widestNumeric(int16_t a, int16_t b) {
  if (a == 0) return b == 0 ? int16_t{dbDouble} : (b == dbBoolean ? int16_t{dbInteger} : b);
  if (b == 0) return a == dbBoolean ? int16_t{dbInteger} : a;
  int ra = numericRank(a), rb = numericRank(b);
  if (ra == 0 || rb == 0) return dbDouble;  // text or dates taken as numbers
  if ((a == dbSingle && (b == dbLong || b == dbBigInt)) || (b == dbSingle && (a == dbLong || a == dbBigInt)))
    return dbDouble;
  // Currency with a floating type is a Double: the fraction is not rounded to ten-thousandths.
  if ((a == dbCurrency && (b == dbSingle || b == dbDouble)) || (b == dbCurrency && (a == dbSingle || a == dbDouble)))
    return dbDouble;
  int16_t t = ra >= rb ? a : b;
  return t == dbBoolean ? int16_t{dbInteger} : t;
}

std::string quoteText(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'') out += '\'';
    out += c;
  }
  return out + "'";
}

std::string realLiteral(double v) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.17g", v);
  std::string s = buf;
  if (s.find_first_of(".eEn") == std::string::npos) s += ".0";
  return s;
}

std::string lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::string columnSqlName(size_t index) { return "c" + std::to_string(index); }

// A column a relation offers: its Access name and type, and its SQLite name there.
struct OutColumn {
  ColumnInfo info;        // name: as Access names it
  std::string sql;        // "c3"
  std::string qualifier;  // for an unaliased column reference: the relation it came from
  bool fromReference = false;
};

// A table, saved query or subquery of a FROM clause.
struct Relation {
  std::string accessName;  // its alias, else its name
  std::string alias;       // in SQLite: "s4"
  std::vector<OutColumn> columns;
  int materialized = -1;   // index of its copy among the materialized tables
  std::optional<TableSource> table;  // a table's records, not a query's or a subquery's
};

struct Scope {
  std::vector<Relation*> relations;
  Scope* outer = nullptr;
  const Select* select = nullptr;  // whose aliases its clauses may use
  std::set<std::string> aliasesInUse;
};

struct Typed {
  std::string sql;
  int16_t type = 0;  // a DAO type; 0 for Null
  const OutColumn* column = nullptr;  // a plain column reference
  const Relation* relation = nullptr;
};

struct MaterializedTable {
  std::string name;   // "m2"
  std::string table;  // the virtual table it copies
  std::vector<bool> used;
  bool rowIds = false;  // copies the records' numbers too (kRowIdColumn), for DISTINCTROW
};

// The column of a table's copy that holds the number of each record in the table.
constexpr const char* kRowIdColumn = "rid_";

struct SavedResult {
  std::string cte;  // "q1"
  std::vector<OutColumn> columns;
};

struct QueryResult {
  std::string sql;
  std::vector<OutColumn> columns;
  bool compoundMember = true;  // may stand as a member of a UNION as it is
};

std::string pivotHeading(const SqlValue& v, int16_t type);

class Translator {
 public:
  Translator(const std::shared_ptr<DatabaseFile>& file, TranslationBackend& backend) : file_(file), backend_(backend) {}

  Translation run(const Query& query) {
    if (query.kind == Query::Kind::Select) topSelect_ = &query.select;
    pushDeclarations(query);
    QueryResult r = translate(query, nullptr, false);
    Translation t;
    t.sql = withClause() + r.sql;
    for (OutColumn& c : r.columns) t.columns.push_back(c.info);
    t.parameters = parameters_;
    t.columnsKnown = columnsKnown_;
    t.directTable = directTable_;
    t.directColumns = directColumns_;
    return t;
  }

 private:
  // ---- queries

  QueryResult translate(const Query& q, Scope* outer, bool nested) {
    switch (q.kind) {
      case Query::Kind::Select: return translateSelect(q.select, outer, nested, nullptr);
      case Query::Kind::Union: return translateUnion(q, outer);
      case Query::Kind::Crosstab: return translateSelect(q.select, outer, nested, &q);
    }
    return {};
  }

  QueryResult translateUnion(const Query& q, Scope* outer) {
    QueryResult result;
    std::string sql;
    for (size_t i = 0; i < q.parts.size(); ++i) {
      QueryResult part = translate(*q.parts[i], outer, false);
      if (i == 0) {
        result.columns = part.columns;
      } else {
        if (part.columns.size() != result.columns.size())
          throw SqlError{"the selects of a union have different numbers of columns", q.parts[i]->span, 3307};
        for (size_t c = 0; c < part.columns.size(); ++c) {
          int16_t& a = result.columns[c].info.daoType;
          int16_t b = part.columns[c].info.daoType;
          if (a == b || b == 0) continue;
          if (a == 0) a = b;
          else if (isTextType(a) || isTextType(b)) a = (a == dbMemo || b == dbMemo) ? dbMemo : dbText;
          else if (numericRank(a) && numericRank(b)) a = widestNumeric(a, b);
          else a = dbDouble;
        }
        sql += q.unionAll[i] ? " UNION ALL " : " UNION ";
      }
      sql += part.compoundMember ? part.sql : "SELECT * FROM (" + part.sql + ")";
    }
    if (!q.orderBy.empty()) {
      sql += " ORDER BY ";
      for (size_t i = 0; i < q.orderBy.size(); ++i) {
        const Expr& e = *q.orderBy[i].expr;
        size_t index = result.columns.size();
        if (e.kind == ExprKind::Name) {
          const std::string& name = e.parts.back();
          for (size_t c = 0; c < result.columns.size() && index == result.columns.size(); ++c)
            if (asciiEqualsIgnoreCase(result.columns[c].info.name, name)) index = c;
        } else if (e.kind == ExprKind::Number && e.integral && e.number >= 1 && e.number <= result.columns.size()) {
          index = static_cast<size_t>(e.number) - 1;
        }
        if (index == result.columns.size())
          throw SqlError{"the ORDER BY of a union names a column of its first select", e.span, 3309};
        if (i) sql += ", ";
        sql += std::to_string(index + 1);
        if (q.orderBy[i].descending) sql += " DESC";
      }
    }
    for (size_t c = 0; c < result.columns.size(); ++c) result.columns[c].sql = columnSqlName(c);
    result.sql = sql;
    result.compoundMember = q.orderBy.empty();
    return result;
  }

  QueryResult translateSelect(const Select& s, Scope* outer, bool nested, const Query* crosstab) {
    Scope scope;
    scope.outer = outer;
    scope.select = &s;
    std::string from = translateFrom(s, scope, nested);
    std::string where = s.where ? condition(*s.where, scope) : std::string();

    // The select list, stars expanded.
    struct Item {
      Typed value;
      std::string alias;
    };
    std::vector<Item> items;
    for (const SelectItem& item : s.items) {
      if (item.expr->kind == ExprKind::Star) {
        bool any = false;
        for (Relation* r : scope.relations) {
          if (!item.expr->parts.empty() && !asciiEqualsIgnoreCase(r->accessName, item.expr->parts.back())) continue;
          any = true;
          for (const OutColumn& c : r->columns) items.push_back({columnValue(*r, c), {}});
        }
        if (!any)
          throw SqlError{item.expr->parts.empty() ? "SELECT * without a table" : "no table '" + item.expr->parts.back() + "' in FROM",
                         item.expr->span, 3078};
        continue;
      }
      items.push_back({value(*item.expr, scope), item.alias});
    }
    if (items.empty()) throw SqlError{"a select without columns", {}, 3075};

    std::vector<OutColumn> columns = nameColumns(items.size(), [&](size_t i) -> std::pair<const Typed&, const std::string&> {
      return {items[i].value, items[i].alias};
    });

    std::string groupBy;
    for (const ExprPtr& g : s.groupBy) {
      Typed t = value(*g, scope);
      groupBy += (groupBy.empty() ? "" : ", ") + t.sql + (isTextType(t.type) ? kCollate : "");
    }
    std::string having = s.having ? condition(*s.having, scope) : std::string();
    if (s.distinctRow && !s.distinct && !crosstab && groupBy.empty() && having.empty()) {
      std::vector<const Typed*> values;
      for (const Item& item : items) values.push_back(&item.value);
      groupBy = distinctRowKeys(values, scope);
    }

    // A crosstab: one column per pivot value, each the TRANSFORM value of its records.
    std::vector<std::string> pivotColumns;
    if (crosstab) {
      Typed pivot = value(*crosstab->pivot, scope);
      std::string pivotSql = pivot.sql + (isTextType(pivot.type) ? kCollate : "");
      std::vector<std::pair<std::string, std::string>> headings;  // (name, filter)
      auto filterFor = [&](const std::string& literal) {
        return literal == "NULL" ? "(" + pivot.sql + ") IS NULL" : pivotSql + " = " + literal;
      };
      if (!crosstab->pivotIn.empty()) {
        for (const ExprPtr& v : crosstab->pivotIn) {
          std::string name;
          if (v->kind == ExprKind::Text) name = v->text;
          else if (v->kind == ExprKind::Number || v->kind == ExprKind::Date) name = v->text;
          else if (v->kind == ExprKind::Null) name = "<>";
          else throw SqlError{"the values of PIVOT ... IN must be constants", v->span, 3075};
          Scope none;
          headings.push_back({name, filterFor(value(*v, none).sql)});
        }
      } else {
        std::string discover = withClause(true) + "SELECT DISTINCT " + pivotSql + " FROM " + from +
                               (where.empty() ? "" : " WHERE " + where) + " ORDER BY 1";
        std::vector<SqlValue> values;
        if (backend_.firstColumn(discover, parameterNames(), values)) {
          for (const SqlValue& v : values) headings.push_back({pivotHeading(v, pivot.type), filterFor(sqlLiteral(v))});
        } else {
          columnsKnown_ = false;
        }
      }
      for (auto& [name, filter] : headings) {
        pivotFilter_ = filter;
        Typed t = value(*crosstab->transform, scope);
        pivotFilter_.clear();
        OutColumn c;
        c.info = columnInfoOf(t);
        c.info.name = name;
        columns.push_back(c);
        pivotColumns.push_back(t.sql);
      }
    }

    // ORDER BY, and TOP with its ties: ranks over the order keys, kept up to the n-th one.
    std::vector<std::string> orderKeys;
    for (const OrderItem& o : s.orderBy) {
      Typed t = value(*o.expr, scope);
      orderKeys.push_back(t.sql + (isTextType(t.type) ? kCollate : "") + (o.descending ? " DESC" : ""));
    }

    std::string list;
    for (size_t i = 0; i < columns.size(); ++i) {
      std::string expr = i < items.size() ? items[i].value.sql : pivotColumns[i - items.size()];
      if (isTextType(columns[i].info.daoType) && !(i < items.size() && items[i].value.column)) expr = "(" + expr + ")" + kCollate;
      columns[i].sql = columnSqlName(i);
      list += (i ? ", " : "") + expr + " AS " + columns[i].sql;
    }
    std::string body = " FROM " + from;
    if (from.empty()) body.clear();
    if (!where.empty()) body += " WHERE " + where;
    if (!groupBy.empty()) body += " GROUP BY " + groupBy;
    if (!having.empty()) body += " HAVING " + having;

    if (&s == topSelect_ && scope.relations.size() == 1 && scope.relations[0]->table &&
        !s.where && s.groupBy.empty() && !s.having && s.orderBy.empty() && !s.distinct && !s.hasTop) {
      const Relation& r = *scope.relations[0];
      std::vector<size_t> picked;
      for (const Item& item : items)
        if (item.value.column && item.value.relation == &r) picked.push_back(static_cast<size_t>(item.value.column - r.columns.data()));
      if (picked.size() == items.size()) {
        directTable_ = r.table;
        directColumns_ = picked;
      }
    }

    QueryResult result;
    result.columns = columns;
    std::string distinct = s.distinct ? "DISTINCT " : "";
    if (!s.hasTop) {
      result.sql = "SELECT " + distinct + list + body;
      if (!orderKeys.empty()) {
        result.sql += " ORDER BY ";
        for (size_t i = 0; i < orderKeys.size(); ++i) result.sql += (i ? ", " : "") + orderKeys[i];
        result.compoundMember = false;
      }
      return result;
    }
    result.compoundMember = false;
    std::string keys, outerOrder;
    for (size_t i = 0; i < orderKeys.size(); ++i) {
      const OrderItem& o = s.orderBy[i];
      std::string k = "k" + std::to_string(i);
      list += ", " + orderKeys[i].substr(0, orderKeys[i].size() - (o.descending ? 5 : 0)) + " AS " + k;
      std::string key = k + (o.descending ? " DESC" : "");
      keys += (i ? ", " : "") + key;
    }
    std::string inner = "SELECT " + distinct + list + body;
    std::string rank = orderKeys.empty() ? "ROW_NUMBER() OVER ()" : "RANK() OVER (ORDER BY " + keys + ")";
    std::string limit = s.topPercent ? "(r_ - 1) * 100.0 < " + realLiteral(s.top) + " * n_"
                                     : "r_ <= " + std::to_string(static_cast<int64_t>(s.top));
    std::string names;
    for (size_t i = 0; i < columns.size(); ++i) names += (i ? ", " : "") + columns[i].sql;
    result.sql = "SELECT " + names + " FROM (SELECT *, " + rank + " AS r_, COUNT(*) OVER () AS n_ FROM (" + inner +
                 ")) WHERE " + limit + (keys.empty() ? "" : " ORDER BY " + keys);
    return result;
  }

  // DISTINCTROW: one row for each combination of records of the tables the columns come from,
  // which the other tables of a join would repeat; the keys are those records' numbers. With a
  // column of every table, or one that is no plain field, it changes nothing (empty).
  std::string distinctRowKeys(const std::vector<const Typed*>& values, const Scope& scope) {
    std::vector<const Relation*> shown;
    for (const Typed* v : values) {
      if (!v->column || !v->relation) return {};
      if (std::find(shown.begin(), shown.end(), v->relation) == shown.end()) shown.push_back(v->relation);
    }
    if (shown.size() >= scope.relations.size()) return {};
    std::string keys;
    for (const Relation* r : shown) {
      if (!r->table) return {};  // a query's rows have no record numbers
      if (r->materialized >= 0) materialized_[static_cast<size_t>(r->materialized)].rowIds = true;
      keys += (keys.empty() ? "" : ", ") + r->alias + "." + (r->materialized >= 0 ? kRowIdColumn : "rowid");
    }
    return keys;
  }

  // Names the columns as Access does: the alias, else a field's own name (with its table's in
  // front where two would share one), else Expr1000, Expr1001, ...
  template <typename Get>
  std::vector<OutColumn> nameColumns(size_t count, Get get) {
    std::vector<OutColumn> columns(count);
    int expressions = 0;
    for (size_t i = 0; i < count; ++i) {
      auto [value, alias] = get(i);
      OutColumn& c = columns[i];
      c.info = columnInfoOf(value);
      if (!alias.empty()) {
        c.info.name = alias;
      } else if (value.column) {
        c.info.name = value.column->info.name;
        c.qualifier = value.relation->accessName;
        c.fromReference = true;
      } else {
        c.info.name = "Expr" + std::to_string(1000 + expressions++);
      }
    }
    std::vector<bool> shared(count);
    for (size_t i = 0; i < count; ++i)
      for (size_t j = 0; j < count; ++j)
        if (i != j && asciiEqualsIgnoreCase(columns[i].info.name, columns[j].info.name)) shared[i] = true;
    for (size_t i = 0; i < count; ++i)
      if (shared[i] && columns[i].fromReference) columns[i].info.name = columns[i].qualifier + "." + columns[i].info.name;
    return columns;
  }

  static ColumnInfo columnInfoOf(const Typed& t) {
    if (t.column) return t.column->info;
    ColumnInfo info;
    info.daoType = t.type ? t.type : int16_t{dbText};
    if (info.daoType == dbText) info.size = 255;
    return info;
  }

  // ---- FROM

  std::string translateFrom(const Select& s, Scope& scope, bool nested) {
    // Every table but the largest of a join is read into a temporary table first, where SQLite
    // can index it: the largest one is read once, straight from its cursor.
    std::vector<const FromItem*> leaves;
    for (const auto& item : s.from) collectLeaves(*item, leaves);
    struct Leaf {
      TableSource source;
      TranslationBackend::Table table;
      bool isTable = false;
    };
    std::vector<Leaf> resolved(leaves.size());
    size_t largest = leaves.size();
    for (size_t i = 0; i < leaves.size(); ++i) {
      if (leaves[i]->kind != FromItem::Kind::Table) continue;
      const CatalogTable* table = findTable(leaves[i]->name);
      if (!table) continue;
      resolved[i].isTable = true;
      try {
        resolved[i].source = resolveTable(file_, *table);
      } catch (const ComError& e) {
        throw SqlError{"table '" + table->name + "' cannot be read: " + e.description(), leaves[i]->span, 3078};
      }
      resolved[i].table = backend_.table(resolved[i].source);
      if (largest == leaves.size() || resolved[i].table.rowCount > resolved[largest].table.rowCount) largest = i;
    }
    bool copyAll = nested && !s.from.empty();
    std::map<const FromItem*, Relation*> relations;
    for (size_t i = 0; i < leaves.size(); ++i) {
      const FromItem& leaf = *leaves[i];
      Relation& r = relations_.emplace_back();
      r.alias = "s" + std::to_string(relations_.size());
      r.accessName = leaf.alias.empty() ? leaf.name : leaf.alias;
      if (resolved[i].isTable) {
        const auto& t = resolved[i].table;
        for (size_t c = 0; c < t.columns.size(); ++c) r.columns.push_back({t.columns[c], columnSqlName(c), {}, false});
        if (copyAll || (leaves.size() > 1 && i != largest)) {
          r.materialized = static_cast<int>(materialized_.size());
          materialized_.push_back({"m" + std::to_string(materialized_.size()), t.sqlName, std::vector<bool>(t.columns.size())});
        }
        leafSql_[&leaf] = (r.materialized >= 0 ? materialized_[r.materialized].name : t.sqlName) + " AS " + r.alias;
        r.table = resolved[i].source;
      } else if (leaf.kind == FromItem::Kind::Table) {
        const SavedResult& q = savedQuery(leaf.name, leaf.span);
        r.columns = q.columns;
        leafSql_[&leaf] = q.cte + " AS " + r.alias;
      } else {
        if (leaf.alias.empty()) throw SqlError{"a subquery in FROM needs a name (AS ...)", leaf.span, 3131};
        QueryResult sub = translate(*leaf.subquery, nullptr, false);
        r.columns = sub.columns;
        for (OutColumn& c : r.columns) c.fromReference = false;
        leafSql_[&leaf] = "(" + sub.sql + ") AS " + r.alias;
      }
      scope.relations.push_back(&r);
    }
    std::string sql;
    for (size_t i = 0; i < s.from.size(); ++i) sql += (i ? ", " : "") + fromSql(*s.from[i], scope);
    return sql;
  }

  void collectLeaves(const FromItem& item, std::vector<const FromItem*>& leaves) {
    if (item.kind == FromItem::Kind::Join) {
      collectLeaves(*item.left, leaves);
      collectLeaves(*item.right, leaves);
    } else {
      leaves.push_back(&item);
    }
  }

  std::string fromSql(const FromItem& item, Scope& scope) {
    if (item.kind != FromItem::Kind::Join) return leafSql_.at(&item);
    static const char* const kJoins[] = {" JOIN ", " LEFT JOIN ", " RIGHT JOIN "};
    std::string right = fromSql(*item.right, scope);
    if (item.right->kind == FromItem::Kind::Join) right = "(" + right + ")";
    return fromSql(*item.left, scope) + kJoins[static_cast<int>(item.join)] + right + " ON " + condition(*item.on, scope);
  }

  const CatalogTable* findTable(const std::string& name) const {
    for (const CatalogTable& t : file_->tables)
      if (asciiEqualsIgnoreCase(t.name, name)) return &t;
    return nullptr;
  }

  const SavedResult& savedQuery(const std::string& name, SqlSpan span) {
    std::string key = lower(name);
    if (auto it = saved_.find(key); it != saved_.end()) return it->second;
    const SavedQuery* found = nullptr;
    for (const SavedQuery& q : file_->queries)
      if (asciiEqualsIgnoreCase(q.name, name)) found = &q;
    if (!found) throw SqlError{"no table or query named '" + name + "'", span, 3078};
    if (!isRunnableQuery(found->kind))
      throw SqlError{"query '" + found->name + "' is not a select, union or crosstab query", span, 3078};
    if (!inProgress_.insert(key).second) throw SqlError{"query '" + found->name + "' is built on itself", span, 3078};
    SavedResult result;
    try {
      std::shared_ptr<Query> parsed = parseAccessSql(found->sql);
      auto declarations = declared_;
      pushDeclarations(*parsed);
      QueryResult r = translate(*parsed, nullptr, false);
      declared_ = declarations;
      result.cte = "q" + std::to_string(saved_.size());
      result.columns = r.columns;
      for (OutColumn& c : result.columns) c.fromReference = false;
      queryCtes_.push_back(result.cte + " AS (" + r.sql + ")");
    } catch (SqlError& e) {
      if (e.message.rfind("in query '", 0) != 0) {
        std::string part = e.span.end > e.span.begin && e.span.end <= found->sql.size()
                               ? " (at \"" + found->sql.substr(e.span.begin, e.span.end - e.span.begin) + "\")"
                               : "";
        e.message = "in query '" + found->name + "': " + e.message + part;
      }
      e.span = span;
      throw;
    }
    inProgress_.erase(key);
    return saved_.emplace(key, std::move(result)).first->second;
  }

  std::string withClause(bool wholeCopies = false) const {
    std::string sql;
    for (const MaterializedTable& m : materialized_) {
      std::string columns;
      for (size_t c = 0; c < m.used.size(); ++c)
        if (m.used[c] || wholeCopies) columns += (columns.empty() ? "" : ", ") + columnSqlName(c);
      if (columns.empty()) columns = "NULL AS c0";
      if (m.rowIds) columns = std::string("rowid AS ") + kRowIdColumn + ", " + columns;
      sql += (sql.empty() ? "WITH " : ", ") + m.name + " AS MATERIALIZED (SELECT " + columns + " FROM " + m.table + ")";
    }
    for (const std::string& q : queryCtes_) sql += (sql.empty() ? "WITH " : ", ") + q;
    return sql.empty() ? sql : sql + " ";
  }

  // ---- parameters

  void pushDeclarations(const Query& q) {
    declared_ = q.parameters;
    for (const ParameterDeclaration& p : q.parameters) parameterIndex(p.name, p.daoType);
  }

  size_t parameterIndex(const std::string& name, int16_t type) {
    for (size_t i = 0; i < parameters_.size(); ++i)
      if (asciiEqualsIgnoreCase(parameters_[i].name, name)) return i;
    parameters_.push_back({name, type});
    return parameters_.size() - 1;
  }

  std::vector<std::string> parameterNames() const {
    std::vector<std::string> names;
    for (const auto& p : parameters_) names.push_back(p.name);
    return names;
  }

  Typed parameter(const std::string& name) {
    int16_t type = dbText;
    for (const ParameterDeclaration& d : declared_)
      if (asciiEqualsIgnoreCase(d.name, name)) type = d.daoType;
    size_t index = parameterIndex(name, type);
    return {"?" + std::to_string(index + 1), parameters_[index].daoType};
  }

  // ---- names

  Typed columnValue(const Relation& r, const OutColumn& c) {
    if (r.materialized >= 0) {
      size_t index = static_cast<size_t>(&c - r.columns.data());
      materialized_[r.materialized].used[index] = true;
    }
    return {r.alias + "." + c.sql, c.info.daoType, &c, &r};
  }

  Typed reference(const Expr& e, Scope& scope) {
    if (e.atSign) {  // @name: the parameter the query declares as name (or as @name)
      std::string bare = e.parts[0].substr(1);
      for (const ParameterDeclaration& d : declared_)
        if (asciiEqualsIgnoreCase(d.name, bare)) return parameter(bare);
      return parameter(e.parts[0]);
    }
    const std::string& field = e.parts.back();
    if (e.parts.size() <= 2) {
      for (Scope* s = &scope; s; s = s->outer) {
        const Relation* match = nullptr;
        const OutColumn* column = nullptr;
        for (const Relation* r : s->relations) {
          if (e.parts.size() == 2 && !asciiEqualsIgnoreCase(r->accessName, e.parts[0])) continue;
          for (const OutColumn& c : r->columns) {
            if (!asciiEqualsIgnoreCase(c.info.name, field)) continue;
            if (column && match != r)
              throw SqlError{"the field '" + field + "' could refer to more than one table in FROM", e.span, 3079};
            if (!column) match = r, column = &c;
          }
        }
        if (column) return columnValue(*match, *column);
        // A column's alias stands for its expression in the other clauses.
        if (e.parts.size() == 1 && s->select) {
          for (const SelectItem& item : s->select->items) {
            if (item.alias.empty() || !asciiEqualsIgnoreCase(item.alias, field)) continue;
            std::string key = lower(field);
            if (s->aliasesInUse.count(key))
              throw SqlError{"circular reference caused by alias '" + field + "'", e.span, 3103};
            s->aliasesInUse.insert(key);
            Typed t = value(*item.expr, *s);
            s->aliasesInUse.erase(key);
            t.column = nullptr;
            t.relation = nullptr;
            return t;
          }
        }
      }
    }
    return parameter(parameterNameOf(e));
  }

  // ---- expressions

  std::string condition(const Expr& e, Scope& scope) { return emit(e, scope, true).sql; }
  Typed value(const Expr& e, Scope& scope) { return emit(e, scope, false); }

  static Typed boolean(std::string sql, bool asCondition) {
    return {asCondition ? "(" + sql + ")" : "(-(" + sql + "))", dbBoolean};
  }

  std::string collated(const Typed& left, const Typed& right) {
    return isTextType(left.type) || isTextType(right.type) ? "(" + left.sql + ")" + kCollate : left.sql;
  }

  const AccessFunctionInfo& function(const std::string& name, SqlSpan span) {
    const AccessFunctionInfo* f = findAccessFunction(name);
    if (!f && !name.empty() && name.back() == '$') f = findAccessFunction(name.substr(0, name.size() - 1));
    if (!f) throw SqlError{"unknown function '" + name + "'", span, 3085};
    return *f;
  }

  Typed callOperator(const char* name, const Typed& a, const Typed& b, int16_t type, SqlSpan span) {
    const AccessFunctionInfo& f = function(name, span);
    return {std::string(f.sqlName) + "(" + a.sql + ", " + b.sql + ")", type};
  }

  Typed emit(const Expr& e, Scope& scope, bool asCondition) {
    if (++depth_ > kDeepest) throw SqlError{"an expression nested too deeply", e.span, 3075};
    struct Leave {
      int& d;
      ~Leave() { --d; }
    } leave{depth_};
    switch (e.kind) {
      case ExprKind::Null: return {"NULL", 0};
      case ExprKind::Number:
        if (e.integral && std::fabs(e.number) < 9.2e18) {
          int16_t t = std::fabs(e.number) <= 2147483647.0 ? dbLong : dbDouble;
          return {std::to_string(static_cast<int64_t>(e.number)), t};
        }
        return {realLiteral(e.number), dbDouble};
      case ExprKind::Text: return {quoteText(e.text), dbText};
      case ExprKind::Date: return {realLiteral(e.number), dbDate};
      case ExprKind::Name: return reference(e, scope);
      case ExprKind::Star: throw SqlError{"* stands only in the select list or in Count(*)", e.span, 3075};
      case ExprKind::Unary: {
        if (e.op == "Not") return boolean("NOT " + condition(*e.args[0], scope), asCondition);
        Typed a = value(*e.args[0], scope);
        if (e.op == "+") return a;
        int16_t t = a.type == dbBoolean ? int16_t{dbInteger} : (isTextType(a.type) ? int16_t{dbDouble} : a.type);
        return {"(-" + a.sql + ")", t};
      }
      case ExprKind::Binary: return binary(e, scope, asCondition);
      case ExprKind::Call: return call(e, scope);
      case ExprKind::Between: {
        Typed v = value(*e.args[0], scope), lo = value(*e.args[1], scope), hi = value(*e.args[2], scope);
        Typed both{lo.sql, isTextType(lo.type) ? lo.type : hi.type};
        return boolean(collated(v, both) + (e.negated ? " NOT BETWEEN " : " BETWEEN ") + lo.sql + " AND " + hi.sql, asCondition);
      }
      case ExprKind::In: {
        Typed v = value(*e.args[0], scope);
        std::string list;
        bool text = isTextType(v.type);
        if (e.subquery) {
          QueryResult sub = translateSubquery(*e.subquery, scope, e.span);
          text = text || isTextType(sub.columns[0].info.daoType);
          list = sub.sql;
        } else {
          for (size_t i = 1; i < e.args.size(); ++i) {
            Typed item = value(*e.args[i], scope);
            text = text || isTextType(item.type);
            list += (i > 1 ? ", " : "") + item.sql;
          }
        }
        std::string left = text ? "(" + v.sql + ")" + kCollate : v.sql;
        return boolean(left + (e.negated ? " NOT IN (" : " IN (") + list + ")", asCondition);
      }
      case ExprKind::IsNull: return boolean(value(*e.args[0], scope).sql + (e.negated ? " IS NOT NULL" : " IS NULL"), asCondition);
      case ExprKind::Like: {
        Typed v = value(*e.args[0], scope), pattern = value(*e.args[1], scope);
        Typed like = callOperator("Like", v, pattern, dbBoolean, e.span);
        if (e.negated) return boolean("NOT " + like.sql, asCondition);
        return like;
      }
      case ExprKind::Subquery: {
        QueryResult sub = translateSubquery(*e.subquery, scope, e.span);
        return {"(" + sub.sql + ")", sub.columns[0].info.daoType};
      }
      case ExprKind::Quantified: {
        // ANY: some record of the subquery compares true; ALL: none compares otherwise (false,
        // or unknown for a Null, which keeps the row out as Access's WHERE does).
        Typed v = value(*e.args[0], scope);
        QueryResult sub = translateSubquery(*e.subquery, scope, e.span);
        std::string alias = "qa" + std::to_string(quantified_++);
        Typed each{alias + "." + sub.columns[0].sql, sub.columns[0].info.daoType};
        std::string test = collated(v, each) + " " + e.op + " " + each.sql;
        std::string rows = "SELECT 1 FROM (" + sub.sql + ") AS " + alias + " WHERE ";
        return boolean(e.text == "ALL" ? "NOT EXISTS (" + rows + "(" + test + ") IS NOT 1)" : "EXISTS (" + rows + test + ")",
                       asCondition);
      }
      case ExprKind::Exists: {
        Scope inner;
        inner.outer = &scope;
        QueryResult sub = translate(*e.subquery, &scope, true);
        return boolean("EXISTS (" + sub.sql + ")", asCondition);
      }
    }
    return {"NULL", 0};
  }

  QueryResult translateSubquery(const Query& q, Scope& scope, SqlSpan span) {
    QueryResult sub = translate(q, &scope, true);
    if (sub.columns.size() != 1)
      throw SqlError{"a subquery here returns one column, not " + std::to_string(sub.columns.size()), span, 3306};
    return sub;
  }

  Typed binary(const Expr& e, Scope& scope, bool asCondition) {
    const std::string& op = e.op;
    if (op == "And" || op == "Or") {
      std::string sql = condition(*e.args[0], scope) + (op == "And" ? " AND " : " OR ") + condition(*e.args[1], scope);
      return boolean(sql, asCondition);
    }
    if (op == "Xor" || op == "Eqv" || op == "Imp") {
      std::string a = condition(*e.args[0], scope), b = condition(*e.args[1], scope);
      std::string sql = op == "Xor" ? "(" + a + " <> 0) <> (" + b + " <> 0)"
                        : op == "Eqv" ? "(" + a + " <> 0) = (" + b + " <> 0)"
                                      : "NOT " + a + " OR " + b;
      return boolean(sql, asCondition);
    }
    Typed a = value(*e.args[0], scope), b = value(*e.args[1], scope);
    if (op == "=" || op == "<>" || op == "<" || op == ">" || op == "<=" || op == ">=")
      return boolean(collated(a, b) + " " + op + " " + b.sql, asCondition);
    if (op == "&") {
      int16_t t = a.type == dbMemo || b.type == dbMemo ? dbMemo : dbText;
      return callOperator("&", a, b, t, e.span);
    }
    if (op == "\\" || op == "Mod") {
      int16_t t = numericRank(a.type) <= 2 && numericRank(b.type) <= 2 && a.type && b.type ? dbInteger : dbLong;
      return callOperator(op == "Mod" ? "Mod" : "\\", a, b, t, e.span);
    }
    if (op == "^") return callOperator("^", a, b, dbDouble, e.span);
    bool textA = isTextType(a.type) || a.type == 0, textB = isTextType(b.type) || b.type == 0;
    if (op == "+" && textA && textB && (a.type || b.type))  // + of two texts joins them, Null stays Null
      return {"(" + a.sql + " || " + b.sql + ")", a.type == dbMemo || b.type == dbMemo ? dbMemo : dbText};
    if (op == "+" || op == "-") {
      int16_t t;
      if (a.type == dbDate && b.type == dbDate) t = op == "-" ? dbDouble : dbDate;
      else if (a.type == dbDate || b.type == dbDate) t = dbDate;
      else t = widestNumeric(a.type, b.type);
      return currency({"(" + a.sql + " " + op + " " + b.sql + ")", t});
    }
    if (op == "*") return currency({"(" + a.sql + " * " + b.sql + ")", widestNumeric(a.type, b.type)});
    if (op == "/") {
      int16_t t = a.type == dbDecimal || b.type == dbDecimal ? dbDecimal : dbDouble;
      return {"(CAST(" + a.sql + " AS REAL) / " + b.sql + ")", t};
    }
    throw SqlError{"an operator Access does not have: " + op, e.span, 3075};
  }

  // Access computes Currency exactly, in ten-thousandths: so does the result here, rounded to
  // them, before a following operation sees it.
  static Typed currency(Typed t) {
    if (t.type == dbCurrency) t.sql = "round(" + t.sql + ", 4)";
    return t;
  }

  Typed call(const Expr& e, Scope& scope) {
    if (e.op.size() > 1 && (e.op[0] == 'D' || e.op[0] == 'd')) {
      std::string rest = e.op.substr(1);
      const AccessFunctionInfo* aggregate = findAccessFunction(rest);
      if (asciiEqualsIgnoreCase(rest, "Lookup") || (aggregate && aggregate->aggregate && !findAccessFunction(e.op)))
        return domainFunction(e, rest, scope);
    }
    const AccessFunctionInfo& f = function(e.op, e.span);
    if (static_cast<int>(e.args.size()) < f.minArgs || static_cast<int>(e.args.size()) > f.maxArgs)
      throw SqlError{std::string(f.accessName) + " takes " +
                         (f.minArgs == f.maxArgs ? std::to_string(f.minArgs) : std::to_string(f.minArgs) + " to " + std::to_string(f.maxArgs)) +
                         " arguments, not " + std::to_string(e.args.size()),
                     e.span, 3075};
    std::string filter = f.aggregate && !pivotFilter_.empty() ? " FILTER (WHERE " + pivotFilter_ + ")" : "";
    if (f.aggregate && e.args.size() == 1 && e.args[0]->kind == ExprKind::Star && e.args[0]->parts.empty()) {
      if (!asciiEqualsIgnoreCase(f.accessName, "Count")) throw SqlError{"* stands only in Count(*)", e.args[0]->span, 3075};
      return {"count(*)" + filter, dbLong};
    }
    std::string saved = pivotFilter_;
    if (f.aggregate) pivotFilter_.clear();  // an aggregate's own arguments are per record
    std::vector<int16_t> types;
    std::string args;
    for (size_t i = 0; i < e.args.size(); ++i) {
      Typed a = value(*e.args[i], scope);
      types.push_back(a.type);
      args += (i ? ", " : "") + a.sql;
    }
    pivotFilter_ = saved;
    return {std::string(f.sqlName) + "(" + args + ")" + filter, accessResultType(f, types)};
  }

  // DLookup("expr", "domain", "criteria") and its kin, with literal texts: a scalar subquery.
  Typed domainFunction(const Expr& e, const std::string& aggregate, Scope&) {
    if (e.args.size() < 2 || e.args.size() > 3)
      throw SqlError{e.op + " takes 2 or 3 arguments", e.span, 3075};
    for (const ExprPtr& a : e.args)
      if (a->kind != ExprKind::Text)
        throw SqlError{e.op + " runs here only with texts written out as its arguments", a->span, 3075};
    bool lookup = asciiEqualsIgnoreCase(aggregate, "Lookup");
    std::string what = lookup ? e.args[0]->text : aggregate + "(" + e.args[0]->text + ")";
    std::string domain = e.args[1]->text;
    if (domain.empty() || domain.front() != '[') domain = "[" + domain + "]";
    std::string sql = "SELECT " + what + " FROM " + domain + (e.args.size() == 3 ? " WHERE " + e.args[2]->text : "");
    try {
      std::shared_ptr<Query> q = parseAccessSql(sql);
      Scope none;
      QueryResult sub = translateSubquery(*q, none, e.span);
      return {"(" + sub.sql + ")", sub.columns[0].info.daoType};
    } catch (SqlError& error) {
      error.message = "in " + e.op + ": " + error.message;
      error.span = e.span;
      throw;
    }
  }

  static constexpr int kDeepest = 400;
  std::shared_ptr<DatabaseFile> file_;
  TranslationBackend& backend_;
  std::deque<Relation> relations_;
  std::map<const FromItem*, std::string> leafSql_;
  std::vector<MaterializedTable> materialized_;
  std::vector<std::string> queryCtes_;
  std::map<std::string, SavedResult> saved_;
  std::set<std::string> inProgress_;
  std::vector<ParameterDeclaration> declared_;
  std::vector<TranslatedParameter> parameters_;
  std::string pivotFilter_;
  bool columnsKnown_ = true;
  int depth_ = 0;
  int quantified_ = 0;  // names the subqueries of ALL and ANY apart
  const Select* topSelect_ = nullptr;  // the statement's own select, when it is a plain one
  std::optional<TableSource> directTable_;
  std::vector<size_t> directColumns_;
};

// A crosstab column's heading for a pivot value: the value as Access shows it.
std::string pivotHeading(const SqlValue& v, int16_t type) {
  char buf[64];
  switch (v.kind) {
    case SqlValue::Kind::Null: return "<>";
    case SqlValue::Kind::Text: return v.text;
    case SqlValue::Kind::Blob: return v.text;
    case SqlValue::Kind::Integer: return std::to_string(v.integer);
    case SqlValue::Kind::Real: {
      if (type == dbDate) {
        double days = std::floor(v.real);
        // 1899-12-30 is 25569 days before 1970-01-01.
        CivilDate date = civilFromDays(static_cast<int64_t>(days) - 25569);
        std::string out = std::to_string(date.month) + "/" + std::to_string(date.day) + "/" + std::to_string(date.year);
        double seconds = std::round((v.real - days) * 86400.0);
        if (seconds > 0) {
          int s = static_cast<int>(seconds);
          int h = s / 3600 % 24;
          std::snprintf(buf, sizeof buf, " %d:%02d:%02d %s", h % 12 == 0 ? 12 : h % 12, s / 60 % 60, s % 60, h < 12 ? "AM" : "PM");
          out += buf;
        }
        return out;
      }
      std::snprintf(buf, sizeof buf, "%.15g", v.real);
      return buf;
    }
  }
  return {};
}

}  // namespace

std::string sqlLiteral(const SqlValue& v) {
  switch (v.kind) {
    case SqlValue::Kind::Null: return "NULL";
    case SqlValue::Kind::Integer: return std::to_string(v.integer);
    case SqlValue::Kind::Real: return realLiteral(v.real);
    case SqlValue::Kind::Text: return quoteText(v.text);
    case SqlValue::Kind::Blob: {
      static const char* const kHex = "0123456789ABCDEF";
      std::string out = "X'";
      for (unsigned char c : v.text) out += kHex[c >> 4], out += kHex[c & 15];
      return out + "'";
    }
  }
  return "NULL";
}

Translation translateQuery(const std::shared_ptr<DatabaseFile>& file, const std::string&, const Query& query,
                           TranslationBackend& backend) {
  Translator translator(file, backend);
  return translator.run(query);
}
