// Access SQL the shared files' saved queries do not hold, run on Northwind's tables: crosstabs
// with and without IN, TOP with ties, Like patterns, nested outer joins, unions, parameters,
// names of unnamed columns, domain functions and the errors that name what failed. Expected
// values are those of the tables as the independent reader of the shared data sees them.
#include <gtest/gtest.h>

#include "source/dao_types.h"
#include "source/database_file.h"
#include "source/query/run_query.h"
#include "source/query/sql_parser.h"
#include "tests/support/test_support.h"

namespace {

class QueryInline : public ::testing::Test {
 protected:
  void SetUp() override {
    if (testsupport::sharedAccessData().empty()) GTEST_SKIP() << "../shared/testdata is absent";
    path_ = (testsupport::sharedAccessData().parent_path() / "queries" / "queries-northwind-ace12.accdb").string();
    file_ = openDatabaseFile(path_, "");
  }

  SavedQuery query(const std::string& sql, QueryKind kind = QueryKind::Select) { return {"Inline", kind, 0, sql, {}}; }

  // Every value of every row, as text ("null" for Null), and the column names.
  std::vector<std::vector<std::string>> run(const std::string& sql, std::vector<std::string>* names = nullptr,
                                            const QueryParameterValues& values = {}) {
    auto records = openQueryRecords(file_, query(sql, sql.rfind("TRANSFORM", 0) == 0 ? QueryKind::Crosstab : QueryKind::Select), values);
    if (names)
      for (const auto& c : records->columns()) names->push_back(c.name);
    std::vector<std::vector<std::string>> rows;
    std::vector<Variant> v;
    while (records->next(v)) {
      std::vector<std::string> row;
      for (const Variant& x : v) {
        switch (x.vt) {
          case VT_NULL: row.push_back("null"); break;
          case VT_BSTR: row.push_back(x.text); break;
          case VT_R4: case VT_R8: row.push_back(std::to_string(x.real)); break;
          case VT_CY: row.push_back(std::to_string(x.integer / 10000.0)); break;
          default: row.push_back(std::to_string(x.integer)); break;
        }
      }
      rows.push_back(row);
    }
    return rows;
  }

  std::vector<std::string> firstColumn(const std::string& sql) {
    std::vector<std::string> out;
    for (auto& row : run(sql)) out.push_back(row[0]);
    return out;
  }

  std::string path_;
  std::shared_ptr<DatabaseFile> file_;
};

TEST_F(QueryInline, CrosstabsHaveOneColumnPerPivotValueInAccessOrder) {
  std::vector<std::string> names;
  auto rows = run("TRANSFORM Sum(UnitsInStock) SELECT CategoryID FROM Products GROUP BY CategoryID "
                  "PIVOT IIf(UnitPrice > 20, \"dear\", \"cheap\") IN (\"none\", \"dear\", \"cheap\")", &names);
  EXPECT_EQ(names, (std::vector<std::string>{"CategoryID", "none", "dear", "cheap"}));
  ASSERT_EQ(rows.size(), 8u);
  EXPECT_EQ(rows[0], (std::vector<std::string>{"1", "null", "34", "525"}));
  EXPECT_EQ(rows[7], (std::vector<std::string>{"8", "null", "94", "607"}));
  // Without IN: the values found, ascending; the sum of an Integer field is a Long.
  names.clear();
  auto records = openQueryRecords(file_, query("TRANSFORM Sum(UnitsInStock) SELECT CategoryID FROM Products GROUP BY CategoryID "
                                               "PIVOT IIf(UnitPrice > 20, \"dear\", \"cheap\")", QueryKind::Crosstab), {});
  ASSERT_EQ(records->columns().size(), 3u);
  EXPECT_EQ(records->columns()[1].name, "cheap");
  EXPECT_EQ(records->columns()[2].name, "dear");
  EXPECT_EQ(records->columns()[2].daoType, dbLong);
}

TEST_F(QueryInline, TopKeepsTheRowsThatTieWithTheLastOne) {
  // The 11th and 12th dearest products both cost 43.90.
  EXPECT_EQ(run("SELECT TOP 11 ProductName FROM Products ORDER BY UnitPrice DESC").size(), 12u);
  EXPECT_EQ(run("SELECT TOP 10 ProductName FROM Products ORDER BY UnitPrice DESC").size(), 10u);
  // 10 percent of 77 records: 7.7, rounded up.
  auto top = firstColumn("SELECT TOP 10 PERCENT ProductName FROM Products ORDER BY UnitPrice DESC");
  ASSERT_EQ(top.size(), 8u);
  EXPECT_EQ(top[0], "Côte de Blaye");
  EXPECT_EQ(run("SELECT DISTINCT TOP 3 CategoryID FROM Products ORDER BY CategoryID").size(), 3u);
}

// Left, Right and Asc are words of the syntax too; ALL, ANY and SOME compare with every record
// of a subquery; StrConv changes letter case; IsEmpty is never true of a query's value, and
// CurrentUser() is Access's user of a database without user-level security.
TEST_F(QueryInline, KeywordNamedFunctionsAndQuantifiedComparisons) {
  EXPECT_EQ(run("SELECT Left(CompanyName, 3), Right(CompanyName, 2), Asc(CompanyName), StrConv(City, 3), "
                "StrConv(City, 1), IsEmpty(Region), CurrentUser() FROM Customers WHERE CustomerID = \"ALFKI\"")[0],
            (std::vector<std::string>{"Alf", "te", "65", "Berlin", "BERLIN", "0", "Admin"}));
  EXPECT_EQ(firstColumn("SELECT StrConv(\"o'NEIL mcdonald\", 3) FROM Customers WHERE CustomerID = \"ALFKI\""),
            (std::vector<std::string>{"O'neil Mcdonald"}));
  const std::string french = "(SELECT Freight FROM Orders WHERE ShipCountry = \"France\")";
  const std::string dearest = firstColumn("SELECT Max(Freight) FROM Orders WHERE ShipCountry = \"France\"")[0];
  const size_t above = run("SELECT OrderID FROM Orders WHERE Freight > " + dearest).size();
  EXPECT_EQ(run("SELECT OrderID FROM Orders WHERE Freight > ALL " + french).size(), above);
  EXPECT_EQ(run("SELECT OrderID FROM Orders WHERE Freight <= ALL (SELECT Freight FROM Orders WHERE OrderID < 0)").size(), 830u);
  EXPECT_EQ(run("SELECT OrderID FROM Orders WHERE Freight = ANY " + french).size(),
            run("SELECT OrderID FROM Orders WHERE Freight In " + french).size());
  EXPECT_EQ(run("SELECT OrderID FROM Orders AS o WHERE o.Freight < SOME (SELECT Freight FROM Orders WHERE "
                "EmployeeID = o.EmployeeID)").size(),
            830u - 9u);  // all but each employee's dearest
}

// DISTINCTROW keeps one row per record of the tables shown: each customer with orders once,
// two customers of the same name twice; with every table shown, or one table, it drops nothing.
TEST_F(QueryInline, DistinctRowIsOneRowPerRecordOfTheTablesShown) {
  const std::string join = " FROM Customers INNER JOIN Orders ON Customers.CustomerID = Orders.CustomerID";
  const size_t customers = run("SELECT DISTINCT Customers.CustomerID" + join).size();
  EXPECT_EQ(run("SELECT Customers.Country" + join).size(), 830u);
  EXPECT_EQ(run("SELECT DISTINCTROW Customers.Country" + join).size(), customers);
  EXPECT_EQ(run("SELECT DISTINCTROW TOP 5 Customers.Country" + join + " ORDER BY Customers.Country").size(), 5u);
  EXPECT_EQ(run("SELECT DISTINCTROW Customers.*" + join + " WHERE Orders.ShipCountry = \"France\"").size(),
            run("SELECT DISTINCT Customers.CustomerID" + join + " WHERE Orders.ShipCountry = \"France\"").size());
  EXPECT_EQ(run("SELECT DISTINCTROW Customers.Country, Orders.OrderID" + join).size(), 830u);
  EXPECT_EQ(run("SELECT DISTINCTROW Country FROM Customers").size(), 91u);
  // Three tables, two shown: Products taken from the order lines by category.
  EXPECT_EQ(run("SELECT DISTINCTROW Categories.CategoryName, Products.ProductName FROM (Categories INNER JOIN Products ON "
                "Categories.CategoryID = Products.CategoryID) INNER JOIN [Order Details] ON Products.ProductID = "
                "[Order Details].ProductID").size(),
            77u);
}

TEST_F(QueryInline, LikeAndTextComparisonsAsAccessDoesThem) {
  EXPECT_EQ(firstColumn("SELECT ProductName FROM Products WHERE ProductName Like \"c*\" ORDER BY ProductName"),
            (std::vector<std::string>{"Camembert Pierrot", "Carnarvon Tigers", "Chai", "Chang", "Chartreuse verte",
                                      "Chef Anton's Cajun Seasoning", "Chef Anton's Gumbo Mix", "Chocolade", "Côte de Blaye"}));
  EXPECT_EQ(run("SELECT ProductName FROM Products WHERE ProductName Like \"?h*\"").size(), 8u);
  EXPECT_EQ(run("SELECT ProductName FROM Products WHERE ProductName Like \"[!A-M]*\"").size(), 36u);
  EXPECT_EQ(run("SELECT ProductName FROM Products WHERE QuantityPerUnit Like \"#*\"").size(), 77u);
  EXPECT_EQ(firstColumn("SELECT CompanyName FROM Customers WHERE CustomerID = \"alfki\""),
            (std::vector<std::string>{"Alfreds Futterkiste"}));
}

TEST_F(QueryInline, NestedOuterJoinsUnionsDatesAndNulls) {
  auto rows = run("SELECT Categories.CategoryName, Count([Order Details].OrderID) AS N FROM Categories LEFT JOIN "
                  "(Products INNER JOIN [Order Details] ON Products.ProductID = [Order Details].ProductID) "
                  "ON Categories.CategoryID = Products.CategoryID GROUP BY Categories.CategoryName ORDER BY Categories.CategoryName");
  ASSERT_EQ(rows.size(), 8u);
  EXPECT_EQ(rows[0], (std::vector<std::string>{"Beverages", "404"}));
  EXPECT_EQ(rows[7], (std::vector<std::string>{"Seafood", "330"}));
  EXPECT_EQ(run("SELECT Country FROM Customers UNION SELECT Country FROM Suppliers").size(), 25u);
  EXPECT_EQ(run("SELECT Country FROM Customers UNION ALL SELECT Country FROM Suppliers ORDER BY Country").size(), 120u);
  // Two-digit years 30-99 are 19xx.
  EXPECT_EQ(firstColumn("SELECT Count(*) FROM Orders WHERE OrderDate >= #1/1/97#"), (std::vector<std::string>{"678"}));
  EXPECT_EQ(firstColumn("SELECT Count(*) FROM Orders WHERE ShipRegion Is Null"), (std::vector<std::string>{"507"}));
  double date = 0;
  ASSERT_TRUE(parseAccessDate("1/1/29", date));
  EXPECT_EQ(date, 47119);  // 2029-01-01
  ASSERT_TRUE(parseAccessDate("1/1/30", date));
  EXPECT_EQ(date, 10959);  // 1930-01-01
}

TEST_F(QueryInline, UnnamedColumnsDomainFunctionsAndParameters) {
  std::vector<std::string> names;
  auto rows = run("SELECT ProductID * 2, ProductName & \"!\", ProductID FROM Products WHERE ProductID = 1", &names);
  EXPECT_EQ(names, (std::vector<std::string>{"Expr1000", "Expr1001", "ProductID"}));
  EXPECT_EQ(rows, (std::vector<std::vector<std::string>>{{"2", "Chai!", "1"}}));
  EXPECT_EQ(run("SELECT DLookup(\"CategoryName\", \"Categories\", \"CategoryID = 2\") AS C, DCount(\"*\", \"Products\") AS N"),
            (std::vector<std::vector<std::string>>{{"Condiments", "77"}}));

  const SavedQuery* orders = nullptr;
  const SavedQuery* sales = nullptr;
  if (file_->queries.empty()) {  // until the catalog's queries are read
    file_->queries.push_back({"CustOrdersOrders", QueryKind::Select, 0,
                              "PARAMETERS CustomerID Text(5); SELECT OrderID FROM Orders WHERE CustomerID = @CustomerID ORDER BY OrderID", {}});
    file_->queries.push_back({"Employee Sales by Country", QueryKind::Select, 0,
                              "PARAMETERS Beginning_Date DateTime, Ending_Date DateTime; SELECT OrderID FROM Orders "
                              "WHERE ShippedDate Between @Beginning_Date And @Ending_Date", {}});
  }
  for (const SavedQuery& q : file_->queries) {
    if (q.name == "CustOrdersOrders") orders = &q;
    if (q.name == "Employee Sales by Country") sales = &q;
  }
  ASSERT_TRUE(orders && sales);
  auto records = openQueryRecords(file_, *orders, {{"customerid", "ALFKI"}});
  std::vector<int64_t> ids;
  for (std::vector<Variant> v; records->next(v);) ids.push_back(v[0].integer);
  EXPECT_EQ(ids, (std::vector<int64_t>{10643, 10692, 10702, 10835, 10952, 11011}));

  auto parameters = queryParameters(file_, *sales);
  ASSERT_EQ(parameters.size(), 2u);
  EXPECT_EQ(parameters[1].name, "Ending_Date");
  EXPECT_EQ(parameters[1].daoType, dbDate);
  EXPECT_EQ(missingParameters(file_, *sales, {{"Beginning_Date", "1/1/1997"}}), (std::vector<std::string>{"Ending_Date"}));
  try {
    openQueryRecords(file_, *sales, {});
    ADD_FAILURE() << "ran without its parameters";
  } catch (const ComError& e) {
    EXPECT_EQ(e.hresult(), daoerror::kTooFewParameters);
    EXPECT_NE(e.description().find("Beginning_Date, Ending_Date"), std::string::npos) << e.description();
  }
}

TEST_F(QueryInline, FailuresNameTheQueryTheFileAndThePartOfTheSql) {
  for (auto [sql, part] : {std::pair{"SELECT Foo(ProductID) AS X FROM Products", "Foo(ProductID)"},
                           std::pair{"SELECT * FROM Nowhere", "Nowhere"},
                           std::pair{"SELECT ProductID FROM Products WHERE", "end of the text"}}) {
    try {
      run(sql);
      ADD_FAILURE() << sql << " ran";
    } catch (const ComError& e) {
      EXPECT_NE(e.description().find("Query 'Inline'"), std::string::npos) << e.description();
      EXPECT_NE(e.description().find(part), std::string::npos) << e.description();
      EXPECT_NE(e.description().find(path_), std::string::npos) << e.description();
    }
  }
  EXPECT_THROW(openQueryRecords(file_, query("DELETE FROM Products", QueryKind::Delete), {}), ComError);
  // A bound on the engine's steps (or on the time) stops a join of 2 billion rows early, and says
  // so; bounds that suffice leave the query whole.
  auto huge = openQueryRecords(file_, query("SELECT Count(*) FROM Orders, [Order Details], Customers, Products"), {}, {200000, 0});
  std::vector<Variant> row;
  try {
    huge->next(row);
    ADD_FAILURE() << "the bound did not stop the join";
  } catch (const ComError& e) {
    EXPECT_NE(e.description().find("ran past the bound of its steps or time"), std::string::npos) << e.description();
  }
  auto counted = openQueryRecords(file_, query("SELECT Count(*) FROM [Order Details]"), {}, {200000, 60000});
  ASSERT_TRUE(counted->next(row));
  EXPECT_EQ(row[0].integer, 2155);
}

}  // namespace
