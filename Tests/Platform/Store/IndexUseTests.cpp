// Comparisons on an indexed column are answered from the index (a look-up by address in a large
// library must not read every row), and keep their meaning for missing values under NOT.
#include "StoreTestModel.h"

#include "Harness/TestSupport.h"
#include "Platform/Store/Predicate.h"
#include "Platform/Store/TestAccess_p.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

using namespace kesto;
using namespace kesto::store;
using namespace kesto::store::test;

namespace {

std::string queryPlan(Coordinator& coordinator, const std::string& predicate, const fnd::Array& arguments) {
  auto p = Predicate::parse(predicate, arguments);
  const EntityDescription* e = coordinator.model()->entity("Bookmark");
  std::string where;
  std::vector<fnd::Value> binds;
  if (!p || !e || !compilePredicate(*p, *e, where, binds)) return "not compiled";
  auto connection = TestAccess::connection(coordinator);
  sqlite3* db = connection.db;
  sqlite3_stmt* st = nullptr;
  std::string plan;
  const std::string sql = "EXPLAIN QUERY PLAN SELECT Z_PK FROM " + e->tableName() + " WHERE " + where;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) return sqlite3_errmsg(db);
  while (sqlite3_step(st) == SQLITE_ROW) plan += reinterpret_cast<const char*>(sqlite3_column_text(st, 3));
  sqlite3_finalize(st);
  return plan;
}

}  // namespace

TEST(IndexUse, EqualityInAndOrderingOnAnIndexedColumnUseItsIndex) {
  auto coordinator = openStore(makeLibraryModel(), storePath());
  ASSERT_TRUE(coordinator);
  EXPECT_NE(queryPlan(*coordinator, "url == %@", {fnd::Value("https://a.example/")}).find("SEARCH"), std::string::npos);
  EXPECT_NE(queryPlan(*coordinator, "uniqueID IN %@", {fnd::Value(fnd::Array{fnd::Value("a"), fnd::Value("b")})})
                .find("SEARCH"),
            std::string::npos);
  EXPECT_NE(queryPlan(*coordinator, "url > %@", {fnd::Value("m")}).find("SEARCH"), std::string::npos);
}

TEST(IndexUse, MissingValuesKeepTheirMeaningUnderNot) {
  auto context = makeMainContext(openStore(makeLibraryModel(), storePath()));
  ASSERT_TRUE(context);
  context->insertNewObject("Bookmark")->setValueForKey("url", std::string("https://a.example/"));
  context->insertNewObject("Bookmark")->setValueForKey("uniqueID", std::string("no address"));
  ASSERT_TRUE(context->save(nullptr));
  auto count = [&](const std::string& text, const fnd::Array& arguments) {
    FetchRequest r("Bookmark");
    r.predicate = Predicate::parse(text, arguments);
    auto found = context->fetch(r, nullptr);
    return found ? static_cast<int>(found->size()) : -1;
  };
  const fnd::Value a("https://a.example/");
  EXPECT_EQ(count("url == %@", {a}), 1);
  EXPECT_EQ(count("NOT (url == %@)", {a}), 1);
  EXPECT_EQ(count("url != %@", {a}), 1);
  EXPECT_EQ(count("NOT (url != %@)", {a}), 1);
  EXPECT_EQ(count("NOT (url IN %@)", {fnd::Value(fnd::Array{a})}), 1);
  EXPECT_EQ(count("NOT (url < %@)", {fnd::Value("z")}), 1);
}
