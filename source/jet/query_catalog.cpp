#include "source/jet/query_catalog.h"

#include <algorithm>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>

#include "platform/text.h"
#include "source/com_error.h"
#include "source/jet/query_format.h"
#include "source/jet/table_cursor.h"
#include "source/jet_format.h"

namespace {

using namespace queryfmt;

constexpr uint64_t kMaxQueryRows = 1000000;
constexpr const char* kNewline = "\n";

struct QueryRow {
  int attribute = 0;
  std::vector<uint8_t> order;
  std::optional<std::string> name1, name2, expression;
  std::optional<int> flag, extra;
};
using Rows = std::vector<QueryRow>;

// A definition that cannot be rebuilt; caught per query.
struct BadDefinition : std::runtime_error {
  using std::runtime_error::runtime_error;
};

int columnIndex(const TableCursor& cursor, const char* name) {
  const auto& cols = cursor.columns();
  for (size_t i = 0; i < cols.size(); ++i)
    if (cols[i].name == name) return static_cast<int>(i);
  return -1;
}

// Every query's rows by ObjectId, each attribute's rows in their Order.
std::map<uint32_t, Rows> readQueryRows(const std::shared_ptr<DatabaseFile>& file) {
  std::map<uint32_t, Rows> byObject;
  const CatalogTable* queries = nullptr;
  for (const CatalogTable& t : file->tables)
    if (t.name == kQueriesTable && t.kind == TableKind::Local) queries = &t;
  if (!queries) return byObject;
  TableCursor cursor(file, *queries);
  int id = columnIndex(cursor, kColObjectId), attribute = columnIndex(cursor, kColAttribute),
      order = columnIndex(cursor, kColOrder), name1 = columnIndex(cursor, kColName1),
      name2 = columnIndex(cursor, kColName2), expression = columnIndex(cursor, kColExpression),
      flag = columnIndex(cursor, kColFlag), extra = columnIndex(cursor, kColExtra);
  if (id < 0 || attribute < 0) return byObject;
  std::vector<Variant> row;
  auto text = [&row](int c) -> std::optional<std::string> {
    if (c < 0 || row[c].vt != VT_BSTR) return std::nullopt;
    return row[c].text;
  };
  auto number = [&row](int c) -> std::optional<int> {
    if (c < 0 || row[c].isNull() || row[c].vt == VT_EMPTY) return std::nullopt;
    return static_cast<int>(row[c].integer);
  };
  uint64_t rows = 0;
  while (cursor.next(row) && ++rows <= kMaxQueryRows) {
    if (row[id].isNull() || row[attribute].isNull()) continue;
    QueryRow r;
    r.attribute = static_cast<int>(row[attribute].integer);
    if (order >= 0 && row[order].vt == VT_BYTES) r.order = row[order].bytes;
    r.name1 = text(name1);
    r.name2 = text(name2);
    r.expression = text(expression);
    r.flag = number(flag);
    r.extra = number(extra);
    byObject[static_cast<uint32_t>(row[id].integer) & jetfmt::kCatalogIdMask].push_back(std::move(r));
  }
  for (auto& [object, list] : byObject)
    std::stable_sort(list.begin(), list.end(), [](const QueryRow& a, const QueryRow& b) {
      return a.attribute != b.attribute ? a.attribute < b.attribute : a.order < b.order;
    });
  return byObject;
}

std::string joined(const std::vector<std::string>& parts, const char* separator = ", ") {
  std::string out;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i) out += separator;
    out += parts[i];
  }
  return out;
}

bool isBracketed(const std::string& s) { return s.size() >= 2 && s.front() == '[' && s.back() == ']'; }

std::string bracketed(const std::string& s) { return isBracketed(s) ? s : "[" + s + "]"; }

// Brackets a name that holds anything but letters, digits and "_" (non-ASCII letters are letters).
std::string nameInSql(const std::string& name) {
  bool plain = !name.empty();
  for (unsigned char c : name)
    if (c < 0x80 && !std::isalnum(c) && c != '_') plain = false;
  return plain || isBracketed(name) ? name : "[" + name + "]";
}

// A dotted name ("db.table"), each part bracketed as needed.
std::string dottedNameInSql(const std::string& name) {
  if (isBracketed(name)) return name;
  std::string out;
  size_t start = 0;
  for (;;) {
    size_t dot = name.find('.', start);
    out += nameInSql(name.substr(start, dot == std::string::npos ? std::string::npos : dot - start));
    if (dot == std::string::npos) return out;
    out += '.';
    start = dot + 1;
  }
}

std::string unbracketed(const std::string& name) { return isBracketed(name) ? name.substr(1, name.size() - 2) : name; }

std::string trimmedNuls(std::string text) {
  while (!text.empty() && (text.back() == '\0' || text.back() == ' ' || text.back() == '\r' || text.back() == '\n'))
    text.pop_back();
  return text;
}

class Definition {
 public:
  Definition(const Rows& rows) : rows_(rows) {}

  std::vector<const QueryRow*> all(int attribute) const {
    std::vector<const QueryRow*> out;
    for (const QueryRow& r : rows_)
      if (r.attribute == attribute) out.push_back(&r);
    return out;
  }
  const QueryRow* one(int attribute) const {
    auto rows = all(attribute);
    return rows.empty() ? nullptr : rows.front();
  }
  int flags() const {
    const QueryRow* r = one(kAttrFlags);
    return r && r->flag ? *r->flag : 0;
  }
  std::optional<int> rowKind() const {
    const QueryRow* r = one(kAttrType);
    return r ? r->flag : std::nullopt;
  }

 private:
  const Rows& rows_;
};

bool hasFlag(const QueryRow& r, int bits) { return r.flag && (*r.flag & bits); }

QueryKind kindOf(uint32_t objectFlags, const Definition& d) {
  uint32_t kind = objectFlags & kObjectKindMask;
  if (kind == 0 && d.rowKind()) {
    switch (*d.rowKind()) {
      case kRowMakeTable: return QueryKind::MakeTable;
      case kRowAppend: return QueryKind::Append;
      case kRowUpdate: return QueryKind::Update;
      case kRowDelete: return QueryKind::Delete;
      case kRowCrosstab: return QueryKind::Crosstab;
      case kRowDataDefinition: return QueryKind::DataDefinition;
      case kRowPassThrough: return QueryKind::PassThrough;
      case kRowUnion: return QueryKind::Union;
      default: return QueryKind::Select;
    }
  }
  switch (kind) {
    case 0: case 16: case 32: case 48: case 64: case 80: case 96: case 112: case 128:
      return static_cast<QueryKind>(kind);
    default: throw BadDefinition("unknown query kind " + std::to_string(kind));
  }
}

// A FROM clause's item: a table (by its alias or name) or two items joined.
struct TableSource {
  std::string key, sql;  // a table's
  std::shared_ptr<TableSource> left, right;  // a join's
  int joinType = 0;
  std::vector<std::string> on;

  bool contains(const std::string& table) const {
    if (!left) return asciiEqualsIgnoreCase(key, table);
    return left->contains(table) || right->contains(table);
  }
  std::string toSql(bool topLevel) const {
    if (!left) return sql;
    const char* type = joinType == kJoinInner ? " INNER JOIN " : joinType == kJoinLeft ? " LEFT JOIN "
                       : joinType == kJoinRight ? " RIGHT JOIN " : nullptr;
    if (!type) throw BadDefinition("unknown join type " + std::to_string(joinType));
    std::string out = topLevel ? "" : "(";
    out += left->toSql(false) + type + right->toSql(false) + " ON ";
    out += on.size() > 1 ? "(" + joined(on, ") AND (") + ")" : on.front();
    return topLevel ? out : out + ")";
  }
};

std::string remoteDatabase(const std::optional<std::string>& path, const std::optional<std::string>& kind) {
  if (!path && !kind) return {};
  std::string out = " IN '" + path.value_or("") + "'";
  if (kind) out += " [" + *kind + "]";
  return out;
}

std::vector<std::string> fromTables(const Definition& d) {
  std::vector<std::shared_ptr<TableSource>> sources;
  for (const QueryRow* t : d.all(kAttrTable)) {
    auto s = std::make_shared<TableSource>();
    if (t->expression) s->sql = bracketed(*t->expression) + ".";
    if (t->name1) s->sql += dottedNameInSql(*t->name1);
    if (t->name2) s->sql += " AS " + nameInSql(*t->name2);
    s->key = t->name2 ? *t->name2 : t->name1.value_or("");
    sources.push_back(s);
  }
  for (const QueryRow* j : d.all(kAttrJoin)) {
    std::string from = j->name1.value_or(""), to = j->name2.value_or("");
    std::shared_ptr<TableSource> fromSource, toSource;
    for (auto it = sources.begin(); it != sources.end() && (!fromSource || !toSource);) {
      if (!fromSource && (*it)->contains(from)) {
        fromSource = *it;
        if (!toSource && (*it)->contains(to)) {
          toSource = *it;
          break;
        }
        it = sources.erase(it);
      } else if (!toSource && (*it)->contains(to)) {
        toSource = *it;
        it = sources.erase(it);
      } else {
        ++it;
      }
    }
    auto plain = [](const std::string& name) {
      auto s = std::make_shared<TableSource>();
      s->key = name;
      s->sql = dottedNameInSql(name);
      return s;
    };
    if (!fromSource) fromSource = plain(from);
    if (!toSource) toSource = plain(to);
    int type = j->flag.value_or(0);
    if (fromSource == toSource) {
      // Another condition of a join already made: Access keeps them in the reverse order.
      if (!fromSource->left || fromSource->joinType != type)
        throw BadDefinition("inconsistent joins of " + from + " and " + to);
      fromSource->on.insert(fromSource->on.begin(), j->expression.value_or(""));
      continue;
    }
    auto join = std::make_shared<TableSource>();
    join->left = fromSource;
    join->right = toSource;
    join->joinType = type;
    join->on.push_back(j->expression.value_or(""));
    sources.push_back(join);
  }
  std::vector<std::string> out;
  for (const auto& s : sources) out.push_back(s->toSql(true));
  return out;
}

std::string selectKeywords(const Definition& d) {
  int flags = d.flags();
  std::string out;
  if (flags & kSelectDistinct) out = "DISTINCT ";
  else if (flags & kSelectDistinctRow) out = "DISTINCTROW ";
  if (flags & kSelectTop) {
    const QueryRow* r = d.one(kAttrFlags);
    out += "TOP " + r->name1.value_or("") + ((flags & kSelectTopPercent) ? " PERCENT " : " ");
  }
  return out;
}

std::string expressionWithAlias(const QueryRow& r) {
  std::string out = r.expression.value_or("");
  if (r.name1) out += " AS " + nameInSql(*r.name1);
  return out;
}

// SELECT's columns, FROM, WHERE, GROUP BY, HAVING and ORDER BY; `columns` and `groups` as the
// kind of query keeps them.
std::string selectBody(const Definition& d, const std::vector<const QueryRow*>& columns,
                       const std::vector<const QueryRow*>& groups, const std::string& into) {
  std::vector<std::string> list;
  for (const QueryRow* c : columns) list.push_back(expressionWithAlias(*c));
  if (d.flags() & kSelectStar) list.push_back("*");
  std::string out = joined(list) + into;
  std::vector<std::string> tables = fromTables(d);
  if (!tables.empty()) {
    const QueryRow* remote = d.one(kAttrRemoteDb);
    out += std::string(kNewline) + "FROM " + joined(tables) +
           (remote ? remoteDatabase(remote->name1, remote->expression) : "");
  }
  if (const QueryRow* w = d.one(kAttrWhere); w && w->expression) out += std::string(kNewline) + "WHERE " + *w->expression;
  std::vector<std::string> groupList;
  for (const QueryRow* g : groups) groupList.push_back(g->expression.value_or(""));
  if (!groupList.empty()) out += std::string(kNewline) + "GROUP BY " + joined(groupList);
  if (const QueryRow* h = d.one(kAttrHaving); h && h->expression) out += std::string(kNewline) + "HAVING " + *h->expression;
  return out;
}

std::string orderBy(const Definition& d) {
  std::vector<std::string> keys;
  for (const QueryRow* o : d.all(kAttrOrderBy))
    keys.push_back(o->expression.value_or("") + (o->name1 && asciiEqualsIgnoreCase(*o->name1, kDescending) ? " DESC" : ""));
  return keys.empty() ? "" : std::string(kNewline) + "ORDER BY " + joined(keys);
}

std::vector<const QueryRow*> filtered(std::vector<const QueryRow*> rows, const std::function<bool(const QueryRow&)>& keep) {
  std::erase_if(rows, [&keep](const QueryRow* r) { return !keep(*r); });
  return rows;
}

std::string parameterClause(const Definition& d) {
  std::vector<std::string> list;
  for (const QueryRow* p : d.all(kAttrParameter)) {
    int16_t type = static_cast<int16_t>(p->flag.value_or(0));
    const char* typeName = nullptr;
    for (const auto& t : kParameterTypeNames)
      if (t.daoType == type) typeName = t.name;
    if (!typeName) throw BadDefinition("unknown parameter type " + std::to_string(type));
    std::string item = p->name1.value_or("") + " " + typeName;
    if (type == kParameterText && p->extra.value_or(0) > 0) item += "(" + std::to_string(*p->extra) + ")";
    list.push_back(item);
  }
  return list.empty() ? "" : "PARAMETERS " + joined(list) + ";" + kNewline;
}

std::string targetTable(const Definition& d) {
  const QueryRow* type = d.one(kAttrType);
  if (!type || !type->name1) throw BadDefinition("the target table is missing");
  return dottedNameInSql(*type->name1) + remoteDatabase(type->name2, type->expression);
}

std::string unionPart(const Definition& d, const char* alias) {
  for (const QueryRow* t : d.all(kAttrTable))
    if (t->name2 == alias && t->expression) {
      std::string text = *t->expression;
      // Blank ends go; runs of line breaks become one.
      size_t b = text.find_first_not_of(" \t\r\n"), e = text.find_last_not_of(" \t\r\n");
      text = b == std::string::npos ? "" : text.substr(b, e - b + 1);
      std::string out;
      for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' || text[i] == '\n') {
          while (i + 1 < text.size() && (text[i + 1] == '\r' || text[i + 1] == '\n')) ++i;
          out += kNewline;
        } else {
          out += text[i];
        }
      }
      return out;
    }
  throw BadDefinition("a part of the union is missing");
}

std::string sqlOf(QueryKind kind, const Definition& d) {
  auto columns = d.all(kAttrColumn);
  auto groups = d.all(kAttrGroupBy);
  std::string body;
  switch (kind) {
    case QueryKind::PassThrough:
    case QueryKind::DataDefinition: {
      const QueryRow* type = d.one(kAttrType);
      return type && type->expression ? trimmedNuls(*type->expression) : "";
    }
    case QueryKind::Select:
      body = "SELECT " + selectKeywords(d) + selectBody(d, columns, groups, "") + orderBy(d);
      break;
    case QueryKind::MakeTable:
      body = "SELECT " + selectKeywords(d) + selectBody(d, columns, groups, " INTO " + targetTable(d)) + orderBy(d);
      break;
    case QueryKind::Append: {
      auto values = filtered(columns, [](const QueryRow& r) { return hasFlag(r, kAppendValue); });
      auto selected = filtered(columns, [](const QueryRow& r) { return !hasFlag(r, kAppendValue); });
      std::vector<std::string> targets, valueList;
      for (const QueryRow* c : columns)
        if (c->name2) targets.push_back(dottedNameInSql(*c->name2));
      body = "INSERT INTO " + targetTable(d) + (targets.empty() ? "" : " (" + joined(targets) + ")") + kNewline;
      if (!values.empty()) {
        for (const QueryRow* v : values) valueList.push_back(v->expression.value_or(""));
        body += "VALUES (" + joined(valueList) + ")";
      } else {
        body += "SELECT " + selectKeywords(d) + selectBody(d, selected, groups, "") + orderBy(d);
      }
      break;
    }
    case QueryKind::Update: {
      std::vector<std::string> sets;
      for (const QueryRow* c : columns) sets.push_back(dottedNameInSql(c->name2.value_or("")) + " = " + c->expression.value_or(""));
      const QueryRow* remote = d.one(kAttrRemoteDb);
      body = "UPDATE " + joined(fromTables(d)) + (remote ? remoteDatabase(remote->name1, remote->expression) : "") +
             kNewline + "SET " + joined(sets);
      if (const QueryRow* w = d.one(kAttrWhere); w && w->expression) body += std::string(kNewline) + "WHERE " + *w->expression;
      break;
    }
    case QueryKind::Delete:
      body = "DELETE " + selectBody(d, columns, groups, "") + orderBy(d);
      break;
    case QueryKind::Crosstab: {
      auto value = filtered(columns, [](const QueryRow& r) { return !hasFlag(r, kCrosstabRowHeading | kCrosstabPivot); });
      auto pivot = filtered(columns, [](const QueryRow& r) { return hasFlag(r, kCrosstabPivot); });
      if (value.size() > 1 || pivot.size() != 1) throw BadDefinition("the crosstab's value or column heading is missing");
      if (!value.empty()) body = "TRANSFORM " + expressionWithAlias(*value.front()) + kNewline;
      body += "SELECT " + selectKeywords(d) +
              selectBody(d, filtered(columns, [](const QueryRow& r) { return hasFlag(r, kCrosstabRowHeading); }),
                         filtered(groups, [](const QueryRow& r) { return hasFlag(r, kCrosstabRowHeading); }), "") +
              orderBy(d) + kNewline + "PIVOT " + pivot.front()->expression.value_or("");
      break;
    }
    case QueryKind::Union:
      body = unionPart(d, kUnionFirstPart) + kNewline + "UNION " + ((d.flags() & kUnionDistinct) ? "" : "ALL ") +
             unionPart(d, kUnionSecondPart) + orderBy(d);
      break;
  }
  if (d.flags() & kSelectOwnerAccess) body += std::string(kNewline) + "WITH OWNERACCESS OPTION";
  return parameterClause(d) + body + ";";
}

std::vector<QueryParameter> declaredParameters(const Definition& d) {
  std::vector<QueryParameter> out;
  for (const QueryRow* p : d.all(kAttrParameter)) {
    if (!p->name1) continue;
    out.push_back({unbracketed(*p->name1), static_cast<int16_t>(p->flag.value_or(kParameterText))});
  }
  return out;
}

// The query's own parameters, then those of the queries it reads from that it lacks.
void addParameters(const std::string& name, const std::map<std::string, const Rows*>& rowsByName,
                   std::set<std::string>& visiting, std::vector<QueryParameter>& out) {
  auto it = rowsByName.find(asciiUpper(name));
  if (it == rowsByName.end() || !visiting.insert(it->first).second) return;
  Definition d(*it->second);
  for (QueryParameter& p : declaredParameters(d)) {
    bool known = std::any_of(out.begin(), out.end(), [&p](const QueryParameter& q) { return asciiEqualsIgnoreCase(q.name, p.name); });
    if (!known) out.push_back(std::move(p));
  }
  for (const QueryRow* t : d.all(kAttrTable))
    if (t->name1 && !t->expression) addParameters(*t->name1, rowsByName, visiting, out);
}

}  // namespace

void readQueryCatalog(const std::shared_ptr<DatabaseFile>& file, const std::vector<QueryObject>& objects) {
  std::map<uint32_t, Rows> rows;
  try {
    rows = readQueryRows(file);
  } catch (const ComError&) {
    // A damaged MSysQueries: the queries are listed without their definitions.
  }
  const Rows none;
  std::map<std::string, const Rows*> rowsByName;
  for (const QueryObject& object : objects) {
    auto it = rows.find(object.id);
    rowsByName[asciiUpper(object.name)] = it == rows.end() ? &none : &it->second;
  }
  for (const QueryObject& object : objects) {
    if (object.name.rfind('~', 0) == 0) continue;
    const Rows& own = *rowsByName[asciiUpper(object.name)];
    Definition d(own);
    SavedQuery query;
    query.name = object.name;
    query.flags = object.flags;
    try {
      query.kind = kindOf(object.flags, d);
      if (!own.empty()) query.sql = sqlOf(query.kind, d);
      std::set<std::string> visiting;
      addParameters(object.name, rowsByName, visiting, query.parameters);
    } catch (const BadDefinition&) {
      query.sql.clear();
    }
    file->queries.push_back(std::move(query));
  }
}
