#include "Platform/Store/Predicate.h"
#include "Platform/Store/SortDescriptor.h"

#include "Harness/LocaleGuard.h"

#include <gtest/gtest.h>


using namespace kesto;
using namespace kesto::store;

namespace {

fnd::Value row(fnd::Dictionary d) { return fnd::Value(std::move(d)); }

bool eval(const std::string& format, const fnd::Value& object, const fnd::Array& args = {}) {
  fnd::Error e;
  auto p = Predicate::parse(format, args, &e);
  EXPECT_TRUE(p) << format << ": " << e.localizedDescription();
  return p && p->evaluate(object);
}

// Each form (without arguments) parses and holds on `object`, or with `holds` false does not.
void expectHolds(const fnd::Value& object, std::initializer_list<const char*> forms, bool holds = true) {
  for (const char* form : forms) EXPECT_EQ(eval(form, object), holds) << form;
}

}  // namespace

TEST(Predicate, ParsesTheFormsTheLibraryUses) {
  fnd::Value b = row({{"title", "Wikipedia"}, {"url", "https://en.wikipedia.org/"}, {"trashed", 0}, {"blocked", 0},
                      {"rating", 5.0}, {"tags", fnd::Array{row({{"name", "wiki"}}), row({{"name", "ref"}})}},
                      {"folder", row({{"folderID", "F1"}})}});
  expectHolds(b, {"trashed < 1 and blocked < 1", "trashed < 1   AND   blocked<1", "rating >= 5",
                  "title ==[c] 'wikipedia'", "ANY tags.name == 'wiki'", "ANY tags.name =='ref'", "tags.@count == 2",
                  "title.length == 9", "(trashed > 0) or (rating = 5.0)",
                  "url BEGINSWITH \"https\" && url ENDSWITH '/'", "NOT trashed > 0", "title LIKE[c] 'wiki*a'",
                  "title IN {'Wikipedia', 'Other'}", "TRUEPREDICATE"});
  expectHolds(b, {"title == 'wikipedia'", "ANY tags.name == 'none'"}, false);
  EXPECT_TRUE(eval("title contains[cd] %@", b, {"PEDI"}));
  EXPECT_TRUE(eval("folder.folderID IN %@", b, {fnd::Value(fnd::Array{"F0", "F1"})}));
  EXPECT_TRUE(eval("%K == %@", b, {"folder.folderID", "F1"}));
}

// Keywords, modifiers and functions read in any case also where the C library does not pair "i"
// with "I" (Turkish), and key paths that would read as keywords are still written escaped.
TEST(Predicate, KeywordsReadAndWriteTheSameInTurkish) {
  kesto::test::LocaleGuard turkish("tr_TR.UTF-8");
  KESTO_SKIP_WITHOUT_LOCALE(turkish);
  fnd::Value b = row({{"title", "Wikipedia"}, {"list", fnd::Array{1, 2, 3}}, {"in", 1}, {"nil", 2}, {"index", 3},
                      {"tags", fnd::Array{row({{"name", "wiki"}})}}});
  expectHolds(b, {"title contains[cd] 'PEDI'", "title beginswith[c] 'WIKI'", "title Like[C] 'wiki*'",
                  "title matches 'W.*'", "title in {'Wikipedia'}", "notes == nil", "ANY tags.name == 'wiki'",
                  "SOME tags.name contains 'i'", "min(list) == 1 AND Max(list) == 3 AND count(list) == 3",
                  "self.title == 'Wikipedia'", "#in == 1 and #nil == 2 and index == 3", "truepredicate"});
  expectHolds(b, {"title contains[c] 'x'", "notes != nil", "falsepredicate"}, false);
  EXPECT_TRUE(eval("SELF contains[cd] %@", fnd::Value("Apple"), {"APP"}));
  EXPECT_FALSE(eval("SELF contains[cd] %@", fnd::Value("Added since"), {"APP"}));
  for (const char* key : {"in", "nil", "Self.title"}) {
    auto p = Predicate::parse("%K == 1", {key});
    ASSERT_TRUE(p) << key;
    EXPECT_EQ(p->format(), "#" + std::string(key) + " == 1");
  }
  EXPECT_EQ(Predicate::parse("%K == 1", {"index"})->format(), "index == 1");
}

TEST(Predicate, MissingValuesFailComparisonsButEqualNil) {
  fnd::Value b = row({{"title", "x"}});
  // "trashed < 1" holding here would let new rows without the flag vanish from the lists.
  expectHolds(b, {"trashed < 1", "trashed >= 0", "title == nil", "notes contains[cd] 'a'"}, false);
  expectHolds(b, {"trashed == nil", "url != nil or title != nil", "trashed != 1"});
}

TEST(Predicate, ContainsEmptyStringIsFalse) {
  fnd::Value s("anything");
  EXPECT_FALSE(eval("SELF contains[cd] %@", s, {""}));
  EXPECT_TRUE(eval("SELF contains[cd] %@", s, {"THING"}));
}

TEST(Predicate, DiacriticAndCaseFolding) {
  fnd::Value s("Crème Brûlée");
  expectHolds(s, {"SELF contains[cd] 'creme brulee'", "SELF contains[d] 'Creme'", "SELF ==[cd] 'CRÈME BRULEE'",
                  "SELF =[cd] 'crème brûlée'", "SELF BEGINSWITH[c] 'CRÈ'", "SELF MATCHES 'Cr.me .*'"});
  // MATCHES takes the whole string only.
  expectHolds(s, {"SELF contains[c] 'creme'", "SELF MATCHES 'Cr'"}, false);
  EXPECT_EQ(foldString("Straße ÉTÉ", kCaseInsensitive | kDiacriticInsensitive), "strasse ete");
}

TEST(Predicate, RunawayPatternIsNoMatchWithinItsBudget) {
  // Catastrophic backtracking: without a budget this takes seconds per title, and doubles with
  // every further character.
  fnd::Value title(std::string(26, 'a'));
  for (int i = 0; i < 5; ++i) EXPECT_FALSE(eval("SELF MATCHES '(a*)*b'", title));
  // The budget is what ends it: past the runaway branch the title matches, but that branch has
  // spent the budget first.
  EXPECT_FALSE(eval("SELF MATCHES '(a*)*b|a+'", title));
  // An ordinary pattern still matches the same title.
  EXPECT_TRUE(eval("SELF MATCHES 'a+'", title));
  EXPECT_TRUE(eval("SELF MATCHES '(a*)*'", title));
}

TEST(Predicate, PrecedenceAndParentheses) {
  fnd::Value v = row({{"a", 1}, {"b", 0}, {"c", 0}});
  // AND binds tighter than OR.
  expectHolds(v, {"a == 1 OR b == 1 AND c == 1", "NOT (b == 1 AND c == 0) and a == 1", "!(b == 1) && a == 1"});
  expectHolds(v, {"(a == 1 OR b == 1) AND c == 1"}, false);
}

TEST(Predicate, ArgumentsAreValuesNeverSyntax) {
  // A quote inside an argument neither breaks the text nor adds a condition.
  fnd::Value v = row({{"name", "it's \" or 1 == 1"}});
  EXPECT_TRUE(eval("name == %@", v, {"it's \" or 1 == 1"}));
  EXPECT_FALSE(eval("name == %@", row({{"name", "x"}}), {"x' or '1' == '1"}));
}

TEST(Predicate, ParseErrorsAreReturned) {
  const char* bad[] = {"title ==", "title == 'open", "(a == 1", "a == 1)", "a ~ 1", "== 1", "a == %@", "a ==[q] 1",
                       "foo(bar) == 1", "a == 1 AND", ""};
  for (const char* f : bad) {
    fnd::Error e;
    EXPECT_EQ(Predicate::parse(f, {}, &e), nullptr) << f;
    EXPECT_EQ(e.code(), 2048) << f;
    EXPECT_FALSE(e.localizedDescription().empty());
  }
}

TEST(Predicate, FormatParsesBack) {
  const char* forms[] = {"trashed < 1 AND blocked < 1", "ANY tags.name ==[cd] \"a\\\"b\"", "NOT (x IN {1, 2.5, \"s\"})",
                         "title CONTAINS[c] \"x\" OR url == nil"};
  fnd::Value v = row({{"trashed", 0}, {"blocked", 0}, {"x", 2}, {"title", "X"}});
  for (const char* f : forms) {
    auto p = Predicate::parse(f);
    ASSERT_TRUE(p) << f;
    auto q = Predicate::parse(p->format());
    ASSERT_TRUE(q) << p->format();
    EXPECT_EQ(p->format(), q->format());
    EXPECT_EQ(p->evaluate(v), q->evaluate(v)) << f;
  }
}

// Keys that read as numbers or keywords when bare (smart folders from sync files may name any
// key) are written with the "#" escape, and an escaped key is never taken as a keyword.
TEST(Predicate, EscapedKeysStayKeysThroughFormat) {
  fnd::Value v = row({{"2isFavorite", 8}, {"and", 1}, {"self", "s"}, {"nil", 3}, {"0\xc3\xa9", "x"}});
  const char* forms[] = {"8 = #2isFavorite", "#and == 1", "#self == 's'", "#nil == 3", "#0\xc3\xa9 == 'x'",
                         "#and == 1 AND #nil == 3", "'g\x01)ws' < #0\xc3\xa9"};
  for (const char* f : forms) {
    auto p = Predicate::parse(f);
    ASSERT_TRUE(p) << f;
    auto q = Predicate::parse(p->format());
    ASSERT_TRUE(q) << f << " was written as " << p->format();
    EXPECT_EQ(p->format(), q->format());
    EXPECT_EQ(p->evaluate(v), q->evaluate(v)) << f;
  }
  EXPECT_TRUE(Predicate::parse("8 = #2isFavorite")->evaluate(v));
  EXPECT_TRUE(Predicate::parse("#and == 1")->evaluate(v));
  EXPECT_TRUE(Predicate::parse("#nil == 3")->evaluate(v));
}

// Each of these once came back as a different predicate (or none) after format and parse.
TEST(Predicate, WrittenFormReadsBackAsTheSamePredicate) {
  struct Case {
    const char* text;
    fnd::Array args;
  };
  const Case cases[] = {
      {"x == 2.0", {}},                 // an integral real came back as an integer
      {"x == -0.0", {}},
      {"x == 1e999 OR x == -1e999", {}},  // infinities came back as key paths
      {"d == CAST(1e999, 'NSDate')", {}},
      {"#SELF.name == 'a'", {}},        // the escaped prefix was lost, then dropped on reading
      {"#self.self.x == 1", {}},
      {"max(list) == 3 AND count(tags.name) > 1", {}},  // functions were written in a form never read
      {"sum('a b') == 0", {}},
      {"x IN {1.5, {2.0, 'q'}, CAST(0.5, 'NSDate')}", {}},
      {"%K == %@", {"title", 2.0}},
  };
  for (const auto& c : cases) {
    auto p = Predicate::parse(c.text, c.args);
    ASSERT_TRUE(p) << c.text;
    const std::string written = p->format();
    auto q = Predicate::parse(written);
    ASSERT_TRUE(q) << c.text << " was written as " << written;
    EXPECT_EQ(written, q->format()) << c.text;
  }
  auto real = Predicate::parse(Predicate::parse("x == 2.0")->format());
  EXPECT_TRUE(real->right().constant.isReal());
  auto key = Predicate::parse(Predicate::parse("#SELF.name == 'a'")->format());
  EXPECT_EQ(key->left().keyPath, "SELF.name");
  auto fn = Predicate::parse(Predicate::parse("max(list) == 3")->format());
  EXPECT_EQ(fn->left().kind, Expression::Kind::Function);
  EXPECT_EQ(fn->left().keyPath, "list");
  EXPECT_TRUE(fn->evaluate(row({{"list", fnd::Array{1, 3}}})));
}

// A key path argument that could not be written back is refused like bad syntax.
TEST(Predicate, KeyPathArgumentsMustBeKeyPaths) {
  EXPECT_TRUE(Predicate::parse("%K == 1", {"folder.name"}));
  EXPECT_FALSE(Predicate::parse("%K == 1", {"a b"}));
  EXPECT_FALSE(Predicate::parse("%K == 1", {""}));
  EXPECT_FALSE(Predicate::parse("%K == 1", {"x) OR (y"}));
}

// Deep nesting in a text from a sync file must end in an error, not a stack overflow.
TEST(Predicate, DeepNestingIsRefused) {
  auto nested = [](int depth, const std::string& open, const std::string& inner, const std::string& close) {
    std::string s;
    for (int i = 0; i < depth; ++i) s += open;
    s += inner;
    for (int i = 0; i < depth; ++i) s += close;
    return s;
  };
  for (int depth : {5000, 100000}) {
    fnd::Error e;
    EXPECT_FALSE(Predicate::parse("x IN " + nested(depth, "{", "1", "}"), {}, &e));
    EXPECT_EQ(e.code(), 2048);
    EXPECT_NE(e.localizedDescription().find("nested"), std::string::npos) << e.localizedDescription();
    EXPECT_FALSE(Predicate::parse(nested(depth, "(", "x == 1", ")")));
    EXPECT_FALSE(Predicate::parse(nested(depth, "NOT ", "x == 1", "")));
    EXPECT_FALSE(Predicate::parse(nested(depth, "max(", "x", ")") + " == 1"));
  }
  // What real smart folders nest stays accepted.
  auto p = Predicate::parse(nested(20, "(", "x IN " + nested(20, "{", "1", "}"), ")"));
  ASSERT_TRUE(p);
  EXPECT_TRUE(Predicate::parse(p->format()));
  EXPECT_TRUE(Predicate::parse(nested(40, "NOT ", "x == 1", "")));
  // What is accepted near the bound is written back no deeper than it was read.
  for (const std::string& text :
       {nested(90, "NOT ", "x == 1", "") + " OR " + nested(90, "!", "NONE y == 2", ""),
        nested(45, "(a == 1 OR ", "b == 2", ")"), nested(45, "(a == 1 AND ", "b == 2", ")")}) {
    auto accepted = Predicate::parse(text);
    ASSERT_TRUE(accepted) << text;
    auto again = Predicate::parse(accepted->format());
    ASSERT_TRUE(again) << accepted->format();
    EXPECT_EQ(again->format(), accepted->format());
  }
  fnd::Value deep = fnd::Array{};
  for (int i = 0; i < 200; ++i) deep = fnd::Array{deep};
  EXPECT_FALSE(Predicate::parse("x IN %@", {deep}));
}

TEST(Predicate, DatesFormatAndParseBack) {
  auto p = Predicate::parse("addedDate >= %@ AND addedDate < %@", {fnd::Date(100.25), fnd::Date(200)});
  ASSERT_TRUE(p);
  auto q = Predicate::parse(p->format());
  ASSERT_TRUE(q) << p->format();
  for (double t : {100.0, 100.25, 150.0, 200.0}) {
    fnd::Value v = row({{"addedDate", fnd::Date(t)}});
    EXPECT_EQ(p->evaluate(v), q->evaluate(v)) << t;
  }
  EXPECT_FALSE(Predicate::parse("d == CAST(1, \"NSString\")"));
}

TEST(Predicate, CompoundsBuiltInCode) {
  auto live = Predicate::andPredicate({Predicate::parse("trashed < 1"), Predicate::parse("blocked < 1")});
  EXPECT_TRUE(live->evaluate(row({{"trashed", 0}, {"blocked", 0}})));
  EXPECT_FALSE(live->evaluate(row({{"trashed", 0}, {"blocked", 1}})));
  EXPECT_TRUE(Predicate::andPredicate({})->evaluate(fnd::Value()));
  EXPECT_FALSE(Predicate::orPredicate({})->evaluate(fnd::Value()));
  auto byID = Predicate::comparison("uniqueID", ComparisonOperator::In, fnd::Array{"A", "B"});
  fnd::Array rows{row({{"uniqueID", "A"}}), row({{"uniqueID", "C"}}), row({{"uniqueID", "B"}})};
  EXPECT_EQ(filteredArray(rows, *byID).size(), 2u);
}

TEST(SortDescriptor, MissingValuesSortLowestAndCaseInsensitiveCompares) {
  fnd::Array rows{row({{"t", "banana"}}), row({}), row({{"t", "Apple"}}), row({{"t", "apple"}}), row({{"t", "Cherry"}})};
  sortArray(rows, {SortDescriptor("t", true, SortDescriptor::Comparison::CaseInsensitive)});
  std::vector<std::string> got;
  for (auto& r : rows) got.push_back(r["t"].isNull() ? "<nil>" : r["t"].string());
  EXPECT_EQ(got, (std::vector<std::string>{"<nil>", "Apple", "apple", "banana", "Cherry"}));
  sortArray(rows, {SortDescriptor("t", false)});
  EXPECT_TRUE(rows.back()["t"].isNull());
  EXPECT_EQ(rows.front()["t"].string(), "banana");
}

TEST(Predicate, LiteralsModifiersAndFunctions) {
  fnd::Value v = row({{"n", -2}, {"x", 1.5e3}, {"s", "abc"}, {"list", fnd::Array{1, 2, 3}},
                      {"tags", fnd::Array{row({{"name", "a"}}), row({{"name", "b"}})}}});
  expectHolds(v, {"n == -2 AND x == 1500 AND x > 1.4e3", "s IN 'xxabcxx'", "s LIKE 'a?c'",
                  "ALL tags.name IN {'a', 'b'}", "NONE tags.name == 'c'", "SOME tags.name BEGINSWITH 'b'",
                  "list CONTAINS 2", "max(list) == 3 AND min(list) == 1 AND sum(list) == 6 AND count(list) == 3",
                  "list.@count == 3", "SELF.s == 'abc'", "s.length == 3 AND n != nil AND missing == NULL"});
  expectHolds(v, {"s LIKE 'a?'", "ALL tags.name == 'a'"}, false);
  EXPECT_TRUE(eval("n < %d", v, {0}));
}

TEST(Predicate, LongInListsMatchLikeShortOnes) {
  fnd::Array many;
  for (int i = 0; i < 100; ++i) many.push_back("id" + std::to_string(i));
  many.push_back(42);
  auto p = Predicate::parse("key IN %@", {fnd::Value(many)});
  ASSERT_TRUE(p);
  EXPECT_TRUE(p->evaluate(row({{"key", "id57"}})));
  EXPECT_FALSE(p->evaluate(row({{"key", "ID57"}})));
  EXPECT_TRUE(p->evaluate(row({{"key", 42.0}})));
  EXPECT_FALSE(p->evaluate(row({})));
  auto folded = Predicate::parse("key IN[c] %@", {fnd::Value(many)});
  EXPECT_TRUE(folded->evaluate(row({{"key", "ID57"}})));
  auto any = Predicate::parse("ANY keys IN %@", {fnd::Value(many)});
  EXPECT_TRUE(any->evaluate(row({{"keys", fnd::Array{"zz", "id3"}}})));
  EXPECT_FALSE(any->evaluate(row({{"keys", fnd::Array{"zz"}}})));
}

// Keys taken once must order rows exactly as comparing the values does, column by column, for
// numbers and dates mixed with missing values, texts with and without case, and mixed columns.
TEST(SortKeys, OrderAsTheDescriptorsCompareTheirValues) {
  const std::vector<fnd::Value> numbers = {fnd::Value(), 3, 2.5, true, fnd::Date(2.5), fnd::Date(-1), -7, 2.5, fnd::Value()};
  const std::vector<fnd::Value> texts = {"b", fnd::Value(), "B", "a", "Ä", "b", "ab", "A", ""};
  const std::vector<fnd::Value> mixed = {"x", 1, fnd::Value(), fnd::Date(3), fnd::Data{1, 2}, "X", 1, fnd::Data{1}, 0};
  const std::size_t n = numbers.size();
  const std::vector<std::vector<SortDescriptor>> orders = {
      {SortDescriptor("n", true), SortDescriptor("t", false)},
      {SortDescriptor("t", true, SortDescriptor::Comparison::CaseInsensitive), SortDescriptor("n", false)},
      {SortDescriptor("t", false), SortDescriptor("m", true, SortDescriptor::Comparison::CaseInsensitive)},
      {SortDescriptor("m", false), SortDescriptor("n", true)},
  };
  for (const auto& sorts : orders) {
    auto column = [&](std::size_t row, std::size_t c) {
      const auto& key = sorts[c].keyPath;
      return key == "n" ? numbers[row] : key == "t" ? texts[row] : mixed[row];
    };
    const SortKeys keys(sorts, n, column);
    for (std::size_t x = 0; x < n; ++x)
      for (std::size_t y = 0; y < n; ++y) {
        int expected = 0;
        for (std::size_t c = 0; c < sorts.size() && !expected; ++c) expected = sorts[c].compareValues(column(x, c), column(y, c));
        EXPECT_EQ(keys.compare(x, y), expected) << sorts[0].keyPath << sorts[1].keyPath << " rows " << x << ", " << y;
      }
  }
}
