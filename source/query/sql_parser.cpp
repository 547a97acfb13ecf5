#include "source/query/sql_parser.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/civil_date.h"
#include "platform/text.h"
#include "source/dao_types.h"

namespace {

enum class Tok { End, Word, Bracketed, Number, Text, Date, Symbol };

struct Token {
  Tok kind = Tok::End;
  std::string text;  // a word or a bracketed name without its brackets, a literal's content, a symbol
  SqlSpan span;
};

bool isWordByte(unsigned char c) { return std::isalnum(c) || c == '_' || c == '@' || c == '$' || c >= 0x80; }

std::vector<Token> tokenize(std::string_view sql) {
  std::vector<Token> out;
  size_t i = 0, n = sql.size();
  auto fail = [&](const std::string& what, size_t at) { throw SqlError{what, {at, std::min(n, at + 1)}}; };
  while (i < n) {
    unsigned char c = static_cast<unsigned char>(sql[i]);
    if (std::isspace(c)) { ++i; continue; }
    Token t;
    size_t start = i;
    if (c == '[') {
      // A name, or a subquery written [SELECT ...]. whose text holds brackets of its own.
      int depth = 1;
      ++i;
      while (i < n && depth > 0) {
        if (sql[i] == '[') ++depth;
        else if (sql[i] == ']') --depth;
        ++i;
      }
      if (depth > 0) fail("a [ without its ]", start);
      t.kind = Tok::Bracketed;
      t.text = std::string(sql.substr(start + 1, i - start - 2));
    } else if (c == '`') {
      size_t close = sql.find('`', i + 1);
      if (close == std::string_view::npos) fail("a ` without its closing `", start);
      t.kind = Tok::Bracketed;
      t.text = std::string(sql.substr(i + 1, close - i - 1));
      i = close + 1;
    } else if (c == '"' || c == '\'') {
      char quote = static_cast<char>(c);
      ++i;
      for (;;) {
        if (i >= n) fail("a text without its closing quote", start);
        if (sql[i] == quote) {
          if (i + 1 < n && sql[i + 1] == quote) { t.text += quote; i += 2; continue; }
          ++i;
          break;
        }
        t.text += sql[i++];
      }
      t.kind = Tok::Text;
    } else if (c == '#') {
      size_t close = sql.find('#', i + 1);
      if (close == std::string_view::npos) fail("a date without its closing #", start);
      t.kind = Tok::Date;
      t.text = std::string(sql.substr(i + 1, close - i - 1));
      i = close + 1;
    } else if (std::isdigit(c) || (c == '.' && i + 1 < n && std::isdigit(static_cast<unsigned char>(sql[i + 1])))) {
      while (i < n && std::isdigit(static_cast<unsigned char>(sql[i]))) ++i;
      if (i < n && sql[i] == '.') {
        ++i;
        while (i < n && std::isdigit(static_cast<unsigned char>(sql[i]))) ++i;
      }
      if (i < n && (sql[i] == 'e' || sql[i] == 'E')) {
        size_t j = i + 1;
        if (j < n && (sql[j] == '+' || sql[j] == '-')) ++j;
        if (j < n && std::isdigit(static_cast<unsigned char>(sql[j]))) {
          i = j;
          while (i < n && std::isdigit(static_cast<unsigned char>(sql[i]))) ++i;
        }
      }
      t.kind = Tok::Number;
      t.text = std::string(sql.substr(start, i - start));
    } else if (c == '&' && i + 1 < n && (sql[i + 1] == 'H' || sql[i + 1] == 'h') && i + 2 < n &&
               std::isxdigit(static_cast<unsigned char>(sql[i + 2]))) {
      i += 2;
      while (i < n && std::isxdigit(static_cast<unsigned char>(sql[i]))) ++i;
      t.kind = Tok::Number;
      t.text = "&H" + std::string(sql.substr(start + 2, i - start - 2));
    } else if (isWordByte(c)) {
      while (i < n && isWordByte(static_cast<unsigned char>(sql[i]))) ++i;
      t.kind = Tok::Word;
      t.text = std::string(sql.substr(start, i - start));
    } else {
      static const char* const kTwo[] = {"<>", "<=", ">=", "=<", "=>"};
      t.kind = Tok::Symbol;
      for (const char* two : kTwo)
        if (sql.substr(i, 2) == two) t.text = two;
      if (t.text.empty()) {
        if (std::string_view("=<>+-*/\\^&(),.;!").find(static_cast<char>(c)) == std::string_view::npos)
          fail(std::string("an unexpected character '") + static_cast<char>(c) + "'", start);
        t.text = std::string(1, static_cast<char>(c));
      }
      if (t.text == "=<") t.text = "<=";
      if (t.text == "=>") t.text = ">=";
      i += t.text.size();
    }
    t.span = {start, i};
    out.push_back(std::move(t));
  }
  Token end;
  end.span = {n, n};
  out.push_back(end);
  return out;
}


// The numbers of a date or time text and the separators between them.
struct DateParts {
  std::vector<int> numbers;
  std::vector<size_t> digits;
  std::vector<char> separators;  // before each number but the first
  int pm = -1;                   // 1 PM, 0 AM, -1 neither
};

}  // namespace

bool parseAccessDate(std::string_view text, double& oleDate) {
  // Split into a date part and a time part at the first blank that follows digits of a date.
  std::string t(text);
  while (!t.empty() && std::isspace(static_cast<unsigned char>(t.back()))) t.pop_back();
  size_t first = 0;
  while (first < t.size() && std::isspace(static_cast<unsigned char>(t[first]))) ++first;
  t = t.substr(first);
  int pm = -1;
  if (asciiEndsWithIgnoreCase(t, "AM") || asciiEndsWithIgnoreCase(t, "PM")) {
    pm = asciiEndsWithIgnoreCase(t, "PM") ? 1 : 0;
    t.resize(t.size() - 2);
    while (!t.empty() && std::isspace(static_cast<unsigned char>(t.back()))) t.pop_back();
  }
  std::string datePart, timePart;
  size_t blank = t.find(' ');
  if (t.find(':') != std::string::npos && (blank == std::string::npos || t.find(':') < blank)) {
    timePart = t;
  } else if (blank != std::string::npos) {
    datePart = t.substr(0, blank);
    timePart = t.substr(blank + 1);
  } else {
    datePart = t;
  }
  auto numbersOf = [](const std::string& s, char sepA, char sepB, std::vector<int>& nums, std::vector<size_t>& lens) {
    size_t i = 0;
    while (i < s.size()) {
      size_t start = i;
      while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i;
      if (i == start || i - start > 4) return false;
      nums.push_back(std::atoi(s.substr(start, i - start).c_str()));
      lens.push_back(i - start);
      if (i == s.size()) break;
      if (s[i] != sepA && s[i] != sepB) return false;
      ++i;
      if (i == s.size()) return false;
    }
    return true;
  };
  double days = 0;
  if (!datePart.empty()) {
    std::vector<int> d;
    std::vector<size_t> len;
    if (!numbersOf(datePart, '/', '-', d, len) || d.size() < 2 || d.size() > 3) return false;
    int year, month, day;
    if (len[0] == 4) {  // y-m-d
      if (d.size() != 3) return false;
      year = d[0], month = d[1], day = d[2];
    } else {
      month = d[0], day = d[1];
      year = d.size() == 3 ? d[2] : 2000;  // no year: Access takes the current one; a fixed one here
      if (d.size() == 3 && len[2] <= 2) year += year >= 30 ? 1900 : 2000;
    }
    if (month < 1 || month > 12 || day < 1 || day > 31 || year < 100 || year > 9999) return false;
    static const int kMonthDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (day > kMonthDays[month - 1] || (month == 2 && day == 29 && !leap)) return false;
    days = static_cast<double>(daysFromCivil(year, month, day) - daysFromCivil(1899, 12, 30));
  }
  double fraction = 0;
  if (!timePart.empty()) {
    std::vector<int> tm;
    std::vector<size_t> len;
    if (!numbersOf(timePart, ':', ':', tm, len) || tm.empty() || tm.size() > 3) return false;
    int hour = tm[0], minute = tm.size() > 1 ? tm[1] : 0, second = tm.size() > 2 ? tm[2] : 0;
    if (pm >= 0) {
      if (hour < 1 || hour > 12) return false;
      hour = hour % 12 + (pm == 1 ? 12 : 0);
    }
    if (hour > 23 || minute > 59 || second > 59) return false;
    fraction = (hour * 3600 + minute * 60 + second) / 86400.0;
  } else if (pm >= 0) {
    return false;
  }
  // Before 1899-12-30 the fraction counts away from zero, as OLE dates do.
  oleDate = days < 0 ? days - fraction : days + fraction;
  return true;
}

int16_t daoTypeOfDeclaration(std::string_view typeName) {
  struct Entry {
    const char* name;
    int16_t type;
  };
  static const Entry kTypes[] = {
      {"Text", dbText},         {"Char", dbText},         {"VarChar", dbText},      {"String", dbText},
      {"Alphanumeric", dbText}, {"Value", dbText},        {"Memo", dbMemo},         {"LongText", dbMemo},
      {"LongChar", dbMemo},     {"Note", dbMemo},         {"Bit", dbBoolean},       {"YesNo", dbBoolean},
      {"Logical", dbBoolean},   {"Logical1", dbBoolean},  {"Boolean", dbBoolean},   {"Byte", dbByte},
      {"TinyInt", dbByte},      {"Integer1", dbByte},     {"Short", dbInteger},     {"SmallInt", dbInteger},
      {"Integer2", dbInteger},  {"Long", dbLong},         {"Integer", dbLong},      {"Int", dbLong},
      {"Integer4", dbLong},     {"Counter", dbLong},      {"AutoIncrement", dbLong}, {"Currency", dbCurrency},
      {"Money", dbCurrency},    {"Single", dbSingle},     {"Real", dbSingle},       {"Float4", dbSingle},
      {"IEEESingle", dbSingle}, {"Double", dbDouble},     {"Float", dbDouble},      {"Float8", dbDouble},
      {"IEEEDouble", dbDouble}, {"Number", dbDouble},     {"DateTime", dbDate},     {"Date", dbDate},
      {"Time", dbDate},         {"TimeStamp", dbDate},    {"Binary", dbBinary},     {"VarBinary", dbBinary},
      {"LongBinary", dbLongBinary}, {"OLEObject", dbLongBinary}, {"General", dbLongBinary},
      {"Image", dbLongBinary},  {"Guid", dbGUID},         {"UniqueIdentifier", dbGUID}, {"Decimal", dbDecimal},
      {"Numeric", dbDecimal},   {"Dec", dbDecimal},
  };
  for (const Entry& e : kTypes)
    if (asciiEqualsIgnoreCase(typeName, e.name)) return e.type;
  return 0;
}

namespace {

class Parser {
 public:
  Parser(std::string_view sql) : sql_(sql), tokens_(tokenize(sql)) {}

  std::shared_ptr<Query> parseStatement() {
    std::vector<ParameterDeclaration> parameters;
    if (isWord("PARAMETERS")) {
      advance();
      for (;;) {
        ParameterDeclaration p;
        p.name = referenceName();
        const Token& type = peek();
        if (type.kind != Tok::Word) fail("a parameter's type");
        p.daoType = daoTypeOfDeclaration(type.text);
        if (p.daoType == 0) fail("a parameter type Access knows");
        advance();
        if (isSymbol("(")) {  // Text(50), Decimal(18, 4)
          while (!isSymbol(")") && peek().kind != Tok::End) advance();
          expectSymbol(")");
        }
        parameters.push_back(std::move(p));
        if (!isSymbol(",")) break;
        advance();
      }
      expectSymbol(";");
    }
    auto query = parseQuery();
    query->parameters = std::move(parameters);
    while (isSymbol(";")) advance();
    if (peek().kind != Tok::End) fail("the end of the query");
    return query;
  }

  std::shared_ptr<Query> parseQuery() {
    size_t begin = peek().span.begin;
    if (isWord("TRANSFORM")) return parseCrosstab();
    auto first = parseUnionPart();
    if (!isWord("UNION")) return first;
    auto u = std::make_shared<Query>();
    u->kind = Query::Kind::Union;
    u->parts.push_back(first);
    u->unionAll.push_back(false);
    while (isWord("UNION")) {
      advance();
      bool all = false;
      if (isWord("ALL")) { all = true; advance(); }
      else if (isWord("DISTINCT")) advance();
      u->parts.push_back(parseUnionPart());
      u->unionAll.push_back(all);
    }
    // The last select's ORDER BY sorts the whole union.
    Query& last = *u->parts.back();
    if (last.kind == Query::Kind::Select) u->orderBy = std::move(last.select.orderBy);
    if (isWord("ORDER")) u->orderBy = parseOrderBy();
    u->span = {begin, previousEnd()};
    return u;
  }

 private:
  std::shared_ptr<Query> parseUnionPart() {
    if (isSymbol("(")) {
      advance();
      Nested nested(*this);
      auto inner = parseQuery();
      expectSymbol(")");
      return inner;
    }
    if (isWord("TABLE")) {  // UNION TABLE name: all of a table's records
      size_t begin = peek().span.begin;
      advance();
      auto q = std::make_shared<Query>();
      auto star = std::make_unique<Expr>();
      star->kind = ExprKind::Star;
      SelectItem item;
      item.expr = std::move(star);
      q->select.items.push_back(std::move(item));
      q->select.from.push_back(parseFromPrimary());
      q->span = {begin, previousEnd()};
      return q;
    }
    return parseSelect();
  }

  std::shared_ptr<Query> parseSelect() {
    auto q = std::make_shared<Query>();
    q->span.begin = peek().span.begin;
    expectWord("SELECT");
    Select& s = q->select;
    for (;;) {
      if (isWord("DISTINCT")) { s.distinct = true; advance(); continue; }
      if (isWord("DISTINCTROW")) { s.distinctRow = true; advance(); continue; }
      if (isWord("ALL")) { advance(); continue; }
      if (isWord("TOP")) {
        advance();
        if (peek().kind != Tok::Number) fail("the number of TOP");
        s.hasTop = true;
        s.top = std::strtod(peek().text.c_str(), nullptr);
        advance();
        if (isWord("PERCENT")) { s.topPercent = true; advance(); }
        continue;
      }
      break;
    }
    for (;;) {
      SelectItem item;
      item.expr = parseExpr();
      if (isWord("AS")) {
        advance();
        item.alias = plainName("a column name after AS");
      }
      s.items.push_back(std::move(item));
      if (!isSymbol(",")) break;
      advance();
    }
    if (isWord("INTO")) fail("a select query (SELECT ... INTO makes a table)");
    if (isWord("FROM")) {
      advance();
      for (;;) {
        s.from.push_back(parseJoin());
        if (!isSymbol(",")) break;
        advance();
      }
    }
    if (isWord("WHERE")) { advance(); s.where = parseExpr(); }
    if (isWord("GROUP")) {
      advance();
      expectWord("BY");
      for (;;) {
        s.groupBy.push_back(parseExpr());
        if (!isSymbol(",")) break;
        advance();
      }
    }
    if (isWord("HAVING")) { advance(); s.having = parseExpr(); }
    if (isWord("ORDER")) s.orderBy = parseOrderBy();
    if (isWord("WITH")) {  // WITH OWNERACCESS OPTION
      advance();
      expectWord("OWNERACCESS");
      expectWord("OPTION");
    }
    q->span.end = previousEnd();
    return q;
  }

  std::shared_ptr<Query> parseCrosstab() {
    size_t begin = peek().span.begin;
    expectWord("TRANSFORM");
    auto transform = parseExpr();
    if (isWord("AS")) {  // the value's alias names nothing a crosstab shows
      advance();
      plainName("a name after AS");
    }
    auto q = parseSelect();
    q->kind = Query::Kind::Crosstab;
    q->transform = std::move(transform);
    expectWord("PIVOT");
    pivotLevel_ = true;  // PIVOT p IN (...): the IN lists the columns
    q->pivot = parseExpr();
    pivotLevel_ = false;
    if (isWord("AS")) { advance(); plainName("a name after AS"); }
    if (isWord("IN")) {
      advance();
      expectSymbol("(");
      for (;;) {
        q->pivotIn.push_back(parseExpr());
        if (!isSymbol(",")) break;
        advance();
      }
      expectSymbol(")");
    }
    q->span = {begin, previousEnd()};
    return q;
  }

  std::vector<OrderItem> parseOrderBy() {
    expectWord("ORDER");
    expectWord("BY");
    std::vector<OrderItem> items;
    for (;;) {
      OrderItem item;
      item.expr = parseExpr();
      if (isWord("DESC")) { item.descending = true; advance(); }
      else if (isWord("ASC")) advance();
      items.push_back(std::move(item));
      if (!isSymbol(",")) break;
      advance();
    }
    return items;
  }

  std::unique_ptr<FromItem> parseJoin() {
    size_t begin = peek().span.begin;
    auto left = parseFromPrimary();
    for (;;) {
      JoinKind kind;
      if (isWord("INNER")) kind = JoinKind::Inner;
      else if (isWord("LEFT")) kind = JoinKind::Left;
      else if (isWord("RIGHT")) kind = JoinKind::Right;
      else break;
      advance();
      if (isWord("OUTER")) advance();
      expectWord("JOIN");
      auto right = parseFromPrimary();
      expectWord("ON");
      auto join = std::make_unique<FromItem>();
      join->kind = FromItem::Kind::Join;
      join->join = kind;
      join->left = std::move(left);
      join->right = std::move(right);
      join->on = parseExpr();
      join->span = {begin, previousEnd()};
      left = std::move(join);
    }
    return left;
  }

  std::unique_ptr<FromItem> parseFromPrimary() {
    size_t begin = peek().span.begin;
    std::unique_ptr<FromItem> item;
    if (isSymbol("(")) {
      advance();
      Nested nested(*this);
      if (isWord("SELECT") || isWord("TRANSFORM")) {
        item = std::make_unique<FromItem>();
        item->kind = FromItem::Kind::Subquery;
        item->subquery = parseQuery();
      } else {
        item = parseJoin();
      }
      expectSymbol(")");
    } else if (peek().kind == Tok::Bracketed && isSubqueryText(peek().text)) {
      // [SELECT ...]. AS x: the subquery as Access saves it.
      Token t = peek();
      advance();
      if (isSymbol(".")) advance();
      item = std::make_unique<FromItem>();
      item->kind = FromItem::Kind::Subquery;
      try {
        Parser inner(t.text);
        item->subquery = inner.parseQuery();
        if (inner.peek().kind != Tok::End) inner.fail("the end of the subquery");
      } catch (SqlError& e) {
        e.span = {t.span.begin + 1 + e.span.begin, t.span.begin + 1 + e.span.end};
        throw;
      }
      shiftSpans(*item->subquery, t.span.begin + 1);
    } else {
      item = std::make_unique<FromItem>();
      item->kind = FromItem::Kind::Table;
      item->name = plainName("a table or query name");
      // [other.mdb].[table] and owner.table: the last part is the name.
      while (isSymbol(".") && (peekAt(1).kind == Tok::Word || peekAt(1).kind == Tok::Bracketed)) {
        advance();
        item->name = plainName("a table name");
      }
      if (isWord("IN")) fail("a table of this database (FROM ... IN names another file)");
    }
    if (isWord("AS")) {
      advance();
      item->alias = plainName("a name after AS");
    } else if (peek().kind == Tok::Bracketed || (peek().kind == Tok::Word && !isKeyword(peek().text))) {
      item->alias = plainName("an alias");
    }
    item->span = {begin, previousEnd()};
    return item;
  }

  // ---- expressions, loosest first: Imp, Eqv, Xor, Or, And, Not, comparisons, &, + -, Mod, \, * /, unary, ^

  ExprPtr parseExpr() { return parseBinaryLevel(0); }

  ExprPtr parseBinaryLevel(int level) {
    static const std::vector<std::vector<const char*>> kLogical = {{"Imp"}, {"Eqv"}, {"Xor"}, {"Or"}, {"And"}};
    if (level < static_cast<int>(kLogical.size())) {
      auto left = parseBinaryLevel(level + 1);
      while (isWord(kLogical[level][0])) {
        std::string op = kLogical[level][0];
        advance();
        auto right = parseBinaryLevel(level + 1);
        left = binary(op, std::move(left), std::move(right));
      }
      return left;
    }
    return parseNot();
  }

  ExprPtr parseNot() {
    if (isWord("NOT")) {
      size_t begin = peek().span.begin;
      advance();
      auto e = std::make_unique<Expr>();
      e->kind = ExprKind::Unary;
      e->op = "Not";
      Nested nested(*this);
      e->args.push_back(parseNot());
      e->span = {begin, previousEnd()};
      return e;
    }
    return parseComparison();
  }

  ExprPtr parseComparison() {
    auto left = parseConcat();
    for (;;) {
      size_t begin = left->span.begin;
      const Token& t = peek();
      if (t.kind == Tok::Symbol && (t.text == "=" || t.text == "<>" || t.text == "<" || t.text == ">" ||
                                    t.text == "<=" || t.text == ">=")) {
        std::string op = t.text;
        advance();
        if ((isWord("ALL") || isWord("ANY") || isWord("SOME")) && peekAt(1).kind == Tok::Symbol && peekAt(1).text == "(") {
          auto e = node(ExprKind::Quantified, begin);
          e->op = op;
          e->text = isWord("ALL") ? "ALL" : "ANY";
          advance();
          advance();
          Nested nested(*this);
          if (!isWord("SELECT")) fail("a subquery after " + e->text);
          e->subquery = parseQuery();
          expectSymbol(")");
          e->args.push_back(std::move(left));
          e->span.end = previousEnd();
          left = std::move(e);
          continue;
        }
        left = binary(op, std::move(left), parseConcat());
        continue;
      }
      bool negated = false;
      if (isWord("NOT") && (isWordAt(1, "LIKE") || isWordAt(1, "IN") || isWordAt(1, "BETWEEN"))) {
        negated = true;
        advance();
      }
      if (isWord("IS")) {
        advance();
        auto e = node(ExprKind::IsNull, begin);
        if (isWord("NOT")) { e->negated = true; advance(); }
        expectWord("NULL");
        e->args.push_back(std::move(left));
        e->span.end = previousEnd();
        left = std::move(e);
      } else if (isWord("LIKE")) {
        advance();
        auto e = node(ExprKind::Like, begin);
        e->negated = negated;
        e->args.push_back(std::move(left));
        e->args.push_back(parseConcat());
        e->span.end = previousEnd();
        left = std::move(e);
      } else if (isWord("BETWEEN")) {
        advance();
        auto e = node(ExprKind::Between, begin);
        e->negated = negated;
        e->args.push_back(std::move(left));
        e->args.push_back(parseConcat());
        expectWord("AND");
        e->args.push_back(parseConcat());
        e->span.end = previousEnd();
        left = std::move(e);
      } else if (isWord("IN") && !pivotLevel_) {
        advance();
        auto e = node(ExprKind::In, begin);
        e->negated = negated;
        e->args.push_back(std::move(left));
        expectSymbol("(");
        if (isWord("SELECT")) {
          e->subquery = parseQuery();
        } else {
          for (;;) {
            e->args.push_back(parseExpr());
            if (!isSymbol(",")) break;
            advance();
          }
        }
        expectSymbol(")");
        e->span.end = previousEnd();
        left = std::move(e);
      } else {
        if (negated) fail("LIKE, IN or BETWEEN after NOT");
        return left;
      }
    }
  }

  ExprPtr parseConcat() {
    auto left = parseAdditive();
    while (isSymbol("&")) {
      advance();
      left = binary("&", std::move(left), parseAdditive());
    }
    return left;
  }

  ExprPtr parseAdditive() {
    auto left = parseMod();
    while (isSymbol("+") || isSymbol("-")) {
      std::string op = peek().text;
      advance();
      left = binary(op, std::move(left), parseMod());
    }
    return left;
  }

  ExprPtr parseMod() {
    auto left = parseIntDiv();
    while (isWord("MOD")) {
      advance();
      left = binary("Mod", std::move(left), parseIntDiv());
    }
    return left;
  }

  ExprPtr parseIntDiv() {
    auto left = parseMultiplicative();
    while (isSymbol("\\")) {
      advance();
      left = binary("\\", std::move(left), parseMultiplicative());
    }
    return left;
  }

  ExprPtr parseMultiplicative() {
    auto left = parseUnary();
    while (isSymbol("*") || isSymbol("/")) {
      std::string op = peek().text;
      advance();
      left = binary(op, std::move(left), parseUnary());
    }
    return left;
  }

  ExprPtr parseUnary() {
    if (isSymbol("-") || isSymbol("+")) {
      size_t begin = peek().span.begin;
      std::string op = peek().text;
      advance();
      auto e = node(ExprKind::Unary, begin);
      e->op = op;
      Nested nested(*this);
      e->args.push_back(parseUnary());
      e->span.end = previousEnd();
      return e;
    }
    return parsePower();
  }

  ExprPtr parsePower() {
    auto left = parsePrimary();
    while (isSymbol("^")) {
      advance();
      ExprPtr right;
      if (isSymbol("-") || isSymbol("+")) {
        size_t begin = peek().span.begin;
        std::string op = peek().text;
        advance();
        right = node(ExprKind::Unary, begin);
        right->op = op;
        right->args.push_back(parsePrimary());
        right->span.end = previousEnd();
      } else {
        right = parsePrimary();
      }
      left = binary("^", std::move(left), std::move(right));
    }
    return left;
  }

  ExprPtr parsePrimary() {
    const Token t = peek();
    size_t begin = t.span.begin;
    switch (t.kind) {
      case Tok::Number: {
        advance();
        auto e = node(ExprKind::Number, begin);
        e->text = t.text;
        if (t.text.rfind("&H", 0) == 0) {
          e->number = static_cast<double>(std::strtoll(t.text.c_str() + 2, nullptr, 16));
          e->integral = true;
        } else {
          e->number = std::strtod(t.text.c_str(), nullptr);
          e->integral = t.text.find_first_of(".eE") == std::string::npos;
        }
        e->span.end = previousEnd();
        return e;
      }
      case Tok::Text: {
        advance();
        auto e = node(ExprKind::Text, begin);
        e->text = t.text;
        e->span.end = previousEnd();
        return e;
      }
      case Tok::Date: {
        advance();
        auto e = node(ExprKind::Date, begin);
        if (!parseAccessDate(t.text, e->number)) throw SqlError{"a date Access can read", t.span};
        e->text = t.text;
        e->span.end = previousEnd();
        return e;
      }
      case Tok::Symbol:
        if (t.text == "(") {
          advance();
          Nested nested(*this);
          if (isWord("SELECT")) {
            auto e = node(ExprKind::Subquery, begin);
            e->subquery = parseQuery();
            expectSymbol(")");
            e->span.end = previousEnd();
            return e;
          }
          auto inner = parseExpr();
          expectSymbol(")");
          inner->span = {begin, previousEnd()};
          return inner;
        }
        if (t.text == "*") {
          advance();
          auto e = node(ExprKind::Star, begin);
          e->span.end = previousEnd();
          return e;
        }
        fail("a value");
      case Tok::Word:
        if (isWord("NULL")) { advance(); return node(ExprKind::Null, begin, previousEnd()); }
        if (isWord("TRUE") || isWord("YES")) return booleanLiteral(true, begin);
        if (isWord("FALSE") || isWord("NO")) return booleanLiteral(false, begin);
        if (isWord("EXISTS")) {
          advance();
          expectSymbol("(");
          auto e = node(ExprKind::Exists, begin);
          e->subquery = parseQuery();
          expectSymbol(")");
          e->span.end = previousEnd();
          return e;
        }
        // Left, Right and Asc are words of the syntax and functions too: before "(" a call.
        if (peekAt(1).kind == Tok::Symbol && peekAt(1).text == "(" &&
            (!isKeyword(t.text) || isWord("LEFT") || isWord("RIGHT") || isWord("ASC")))
          return parseCall();
        if (isKeyword(t.text)) fail("a value");
        return parseReference();
      case Tok::Bracketed:
        return parseReference();
      default:
        fail("a value");
    }
  }

  ExprPtr booleanLiteral(bool value, size_t begin) {
    advance();
    auto e = node(ExprKind::Number, begin, previousEnd());
    e->number = value ? -1 : 0;
    e->integral = true;
    e->text = value ? "-1" : "0";
    return e;
  }

  ExprPtr parseCall() {
    size_t begin = peek().span.begin;
    auto e = node(ExprKind::Call, begin);
    e->op = peek().text;
    advance();
    expectSymbol("(");
    Nested nested(*this);
    if (!isSymbol(")")) {
      for (;;) {
        if (isWord("DISTINCT")) fail("an aggregate without DISTINCT (Access has no Count(DISTINCT ...))");
        e->args.push_back(parseExpr());
        if (!isSymbol(",")) break;
        advance();
      }
    }
    expectSymbol(")");
    e->span.end = previousEnd();
    return e;
  }

  ExprPtr parseReference() {
    size_t begin = peek().span.begin;
    auto e = node(ExprKind::Name, begin);
    if (peek().kind == Tok::Word && peek().text.size() > 1 && peek().text[0] == '@') e->atSign = true;
    e->parts.push_back(namePart());
    for (;;) {
      if (isSymbol(".") || isSymbol("!")) {
        bool bang = peek().text == "!";
        if (peekAt(1).kind == Tok::Symbol && peekAt(1).text == "*" && !bang) {
          advance();
          advance();
          e->kind = ExprKind::Star;
          break;
        }
        if (peekAt(1).kind != Tok::Word && peekAt(1).kind != Tok::Bracketed) break;
        advance();
        if (bang) e->bang = true;
        e->parts.push_back(namePart());
        continue;
      }
      break;
    }
    e->span.end = previousEnd();
    return e;
  }

  std::string namePart() {
    const Token& t = peek();
    if (t.kind != Tok::Word && t.kind != Tok::Bracketed) fail("a name");
    std::string name = t.text;
    advance();
    return name;
  }

  // The name of a PARAMETERS declaration: one part, or a [Forms]![F]![C] reference.
  std::string referenceName() {
    auto e = parseReference();
    return referenceText(*e);
  }

  std::string plainName(const char* what) {
    const Token& t = peek();
    if (t.kind == Tok::Bracketed || (t.kind == Tok::Word && !isKeyword(t.text))) {
      std::string name = t.text;
      advance();
      return name;
    }
    fail(what);
  }

 public:
  // How a reference of several parts is named as a parameter: [Forms]![F]![C].
  static std::string referenceText(const Expr& e) {
    if (e.parts.size() == 1) return e.parts[0];
    std::string out;
    for (size_t i = 0; i < e.parts.size(); ++i) {
      if (i) out += e.bang ? "!" : ".";
      out += "[" + e.parts[i] + "]";
    }
    return out;
  }

 private:
  static bool isSubqueryText(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && (std::isspace(static_cast<unsigned char>(text[i])) || text[i] == '(')) ++i;
    std::string_view rest = std::string_view(text).substr(i);
    return (asciiStartsWithIgnoreCase(rest, "SELECT") || asciiStartsWithIgnoreCase(rest, "TRANSFORM")) &&
           (rest.size() == 6 || !isWordByte(static_cast<unsigned char>(rest[asciiStartsWithIgnoreCase(rest, "SELECT") ? 6 : 9])));
  }

  static void shiftSpans(Expr& e, size_t by) {
    e.span.begin += by;
    e.span.end += by;
    for (auto& a : e.args) if (a) shiftSpans(*a, by);
    if (e.subquery) shiftSpans(*e.subquery, by);
  }
  static void shiftSpans(FromItem& f, size_t by) {
    f.span.begin += by;
    f.span.end += by;
    if (f.left) shiftSpans(*f.left, by);
    if (f.right) shiftSpans(*f.right, by);
    if (f.on) shiftSpans(*f.on, by);
    if (f.subquery) shiftSpans(*f.subquery, by);
  }
  static void shiftSpans(Query& q, size_t by) {
    q.span.begin += by;
    q.span.end += by;
    for (auto& item : q.select.items) shiftSpans(*item.expr, by);
    for (auto& f : q.select.from) shiftSpans(*f, by);
    for (ExprPtr* e : {&q.select.where, &q.select.having, &q.transform, &q.pivot})
      if (*e) shiftSpans(**e, by);
    for (auto& g : q.select.groupBy) shiftSpans(*g, by);
    for (auto& o : q.select.orderBy) shiftSpans(*o.expr, by);
    for (auto& o : q.orderBy) shiftSpans(*o.expr, by);
    for (auto& p : q.pivotIn) shiftSpans(*p, by);
    for (auto& p : q.parts) shiftSpans(*p, by);
  }

  static bool isKeyword(const std::string& word) {
    static const char* const kWords[] = {"SELECT", "FROM", "WHERE", "GROUP", "HAVING", "ORDER", "BY", "UNION",
                                         "INNER", "LEFT", "RIGHT", "OUTER", "JOIN", "ON", "AS", "AND", "OR",
                                         "NOT", "XOR", "EQV", "IMP", "MOD", "LIKE", "BETWEEN", "IN", "IS",
                                         "PIVOT", "TRANSFORM", "WITH", "INTO", "ASC", "DESC", "DISTINCT",
                                         "DISTINCTROW", "TOP", "PERCENT", "ALL", "PARAMETERS", "EXISTS"};
    for (const char* k : kWords)
      if (asciiEqualsIgnoreCase(word, k)) return true;
    return false;
  }

  ExprPtr node(ExprKind kind, size_t begin, size_t end = 0) {
    auto e = std::make_unique<Expr>();
    e->kind = kind;
    e->span = {begin, end};
    return e;
  }

  ExprPtr binary(const std::string& op, ExprPtr left, ExprPtr right) {
    auto e = std::make_unique<Expr>();
    e->kind = ExprKind::Binary;
    e->op = op;
    e->span = {left->span.begin, right->span.end};
    e->args.push_back(std::move(left));
    e->args.push_back(std::move(right));
    return e;
  }

  const Token& peek() const { return tokens_[pos_]; }
  const Token& peekAt(size_t ahead) const { return tokens_[std::min(pos_ + ahead, tokens_.size() - 1)]; }
  void advance() {
    if (pos_ + 1 < tokens_.size()) ++pos_;
  }
  size_t previousEnd() const { return pos_ ? tokens_[pos_ - 1].span.end : 0; }
  bool isWord(const char* word) const { return peek().kind == Tok::Word && asciiEqualsIgnoreCase(peek().text, word); }
  bool isWordAt(size_t ahead, const char* word) const {
    return peekAt(ahead).kind == Tok::Word && asciiEqualsIgnoreCase(peekAt(ahead).text, word);
  }
  bool isSymbol(const char* symbol) const { return peek().kind == Tok::Symbol && peek().text == symbol; }
  void expectWord(const char* word) {
    if (!isWord(word)) fail(word);
    advance();
  }
  void expectSymbol(const char* symbol) {
    if (!isSymbol(symbol)) fail((std::string("'") + symbol + "'").c_str());
    advance();
  }
  [[noreturn]] void fail(const std::string& expected) const {
    const Token& t = peek();
    std::string found = t.kind == Tok::End ? "the end of the text" : "'" + std::string(sql_.substr(t.span.begin, t.span.end - t.span.begin)) + "'";
    throw SqlError{"expected " + expected + ", found " + found, t.span};
  }

  // Inside parentheses a pivot's IN is an operator again.
  struct Nested {
    Parser& p;
    bool saved;
    explicit Nested(Parser& parser) : p(parser), saved(parser.pivotLevel_) {
      p.pivotLevel_ = false;
      if (++p.depth_ > kDeepest) p.fail("a query nested less deeply");
    }
    ~Nested() {
      p.pivotLevel_ = saved;
      --p.depth_;
    }
  };
  static constexpr int kDeepest = 200;

  std::string_view sql_;
  std::vector<Token> tokens_;
  size_t pos_ = 0;
  bool pivotLevel_ = false;
  int depth_ = 0;
};

}  // namespace

std::shared_ptr<Query> parseAccessSql(std::string_view sql) {
  Parser parser(sql);
  return parser.parseStatement();
}

std::string parameterNameOf(const Expr& reference) { return Parser::referenceText(reference); }
