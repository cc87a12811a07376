// Random predicates over random libraries: what a fetch returns (translated to SQL where
// possible, with unsaved changes merged in) must equal what the in-memory evaluator accepts.

#include "StoreTestModel.h"

#include "Harness/Found.h"
#include "Platform/Store/SortDescriptor.h"

#include <gtest/gtest.h>

#include <random>
#include <set>

using namespace kesto;
using namespace kesto::store;
using namespace kesto::store::test;

namespace {

const char* kWords[] = {"Wiki", "wiki", "Crème", "creme", "NEWS", "news", "Straße", "data", "", "a'b\"c"};

struct Generator {
  std::mt19937 rng;
  explicit Generator(unsigned seed) : rng(seed) {}
  int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); }
  bool chance(int percent) { return pick(100) < percent; }
  std::string word() { return kWords[pick(10)]; }

  fnd::Value flag() {
    int r = pick(5);
    return r == 0 ? fnd::Value() : fnd::Value(r % 2);
  }

  // A predicate over the library with its arguments.
  std::string predicate(fnd::Array& args, int depth = 0) {
    if (depth < 2 && chance(40)) {
      std::string a = predicate(args, depth + 1), b = predicate(args, depth + 1);
      switch (pick(3)) {
        case 0: return "(" + a + ") AND (" + b + ")";
        case 1: return "(" + a + ") or " + b;
        default: return "NOT (" + a + ")";
      }
    }
    static const char* ops[] = {"==", "!=", "<", "<=", ">", ">="};
    static const char* strOps[] = {"CONTAINS", "BEGINSWITH", "ENDSWITH", "==", "LIKE", "<"};
    static const char* opts[] = {"", "[c]", "[d]", "[cd]"};
    switch (pick(9)) {
      case 0:
      case 1: {
        const char* keys[] = {"trashed", "blocked", "timesOpened", "rating", "isFavorite"};
        std::string k = keys[pick(5)];
        if (chance(15)) return k + (chance(50) ? " == nil" : " != nil");
        args.push_back(chance(30) ? fnd::Value(pick(3) * 0.5) : fnd::Value(pick(3)));
        return k + " " + ops[pick(6)] + " %@";
      }
      case 2:
      case 3: {
        const char* keys[] = {"title", "notes", "url"};
        std::string k = keys[pick(3)];
        std::string op = strOps[pick(6)];
        args.push_back(op == "LIKE" ? fnd::Value("*" + word() + "*") : fnd::Value(word()));
        return k + " " + op + opts[pick(4)] + " %@";
      }
      case 4: {
        fnd::Array list;
        for (int i = pick(4); i >= 0; --i) list.push_back(word());
        args.push_back(list);
        return std::string("title IN") + (chance(30) ? "[c]" : "") + " %@";
      }
      case 5: {
        args.push_back(fnd::Date(pick(1000)));
        return std::string("addedDate ") + ops[pick(6)] + " %@";
      }
      case 6: {
        args.push_back("T" + std::to_string(pick(5)));
        return "ANY tags.name == %@";
      }
      case 7: {
        args.push_back("F" + std::to_string(pick(4)));
        return chance(50) ? "folder.folderID == %@" : "tags.@count >= 2 OR folder.folderID != %@";
      }
      default: {
        args.push_back(pick(12));
        return "title.length > %@";
      }
    }
  }
};

void fillLibrary(Context& c, Generator& g, int bookmarks) {
  std::vector<ManagedObjectRef> folders, tags;
  for (int i = 0; i < 3; ++i) {
    folders.push_back(c.insertNewObject("Folder"));
    folders.back()->setValueForKey("folderID", "F" + std::to_string(i));
  }
  for (int i = 0; i < 4; ++i) {
    tags.push_back(c.insertNewObject("Tag"));
    tags.back()->setValueForKey("name", "T" + std::to_string(i));
  }
  for (int i = 0; i < bookmarks; ++i) {
    auto b = c.insertNewObject("Bookmark");
    b->setValueForKey("uniqueID", "B" + std::to_string(i));
    if (g.chance(90)) b->setValueForKey("title", g.word() + (g.chance(50) ? " " + g.word() : std::string()));
    if (g.chance(50)) b->setValueForKey("notes", g.word());
    b->setValueForKey("url", "http://" + g.word() + ".example/" + std::to_string(i));
    b->setValueForKey("trashed", g.flag());
    b->setValueForKey("blocked", g.flag());
    if (g.chance(70)) b->setValueForKey("rating", g.pick(6) * 0.5);
    if (g.chance(80)) b->setValueForKey("timesOpened", g.pick(4));
    if (g.chance(80)) b->setValueForKey("addedDate", fnd::Date(g.pick(1000)));
    b->setValueForKey("isFavorite", g.chance(30));
    if (g.chance(80)) b->setToOne("folder", folders[g.pick(3)]);
    for (auto& t : tags)
      if (g.chance(30)) b->addToMany("tags", t);
  }
}

std::set<std::string> uniqueIDs(const std::vector<ManagedObjectRef>& v) {
  std::set<std::string> s;
  for (auto& o : v) s.insert(o->valueForKey("uniqueID").string());
  return s;
}

std::set<std::string> inMemory(Context& c, const Predicate& p) {
  std::set<std::string> s;
  auto all = c.fetch(FetchRequest("Bookmark"));
  for (auto& o : *all)
    if (p.evaluate(fnd::Value(std::static_pointer_cast<fnd::Object>(o)))) s.insert(o->valueForKey("uniqueID").string());
  return s;
}

}  // namespace

TEST(Differential, StoreFetchesEqualTheEvaluator) {
  for (unsigned seed = 1; seed <= 3; ++seed) {
    Generator g(seed);
    auto coordinator = openStore(makeLibraryModel(), storePath("lib" + std::to_string(seed) + ".sqlite"));
    auto main = makeMainContext(coordinator);
    fillLibrary(*main, g, 120);
    ASSERT_TRUE(main->save());
    // Unsaved edits in a second context, and a child on top of it with edits of its own.
    auto editing = makeMainContext(coordinator);
    auto all = *editing->fetch(FetchRequest("Bookmark"));
    for (int i = 0; i < 15; ++i) {
      auto& b = all[g.pick(static_cast<int>(all.size()))];
      b->setValueForKey("trashed", g.flag());
      b->setValueForKey("title", g.word());
    }
    editing->deleteObject(all[0]);
    auto child = makeChildContext(editing);
    child->performAndWait([&] {
      auto mine = *child->fetch(FetchRequest("Bookmark"));
      for (int i = 0; i < 10; ++i) mine[g.pick(static_cast<int>(mine.size()))]->setValueForKey("notes", g.word());
      auto extra = child->insertNewObject("Bookmark");
      extra->setValueForKey("uniqueID", "NEW");
      extra->setValueForKey("title", "wiki news");
      extra->setValueForKey("trashed", 0);
    });
    for (int n = 0; n < 150; ++n) {
      fnd::Array args;
      std::string format = g.predicate(args);
      fnd::Error e;
      auto p = Predicate::parse(format, args, &e);
      ASSERT_TRUE(p) << format << ": " << e.localizedDescription();
      FetchRequest r("Bookmark");
      r.predicate = p;
      auto fresh = makeMainContext(coordinator);
      EXPECT_EQ(uniqueIDs(*fresh->fetch(r)), inMemory(*fresh, *p)) << format;
      EXPECT_EQ(static_cast<std::size_t>(*fresh->count(r)), inMemory(*fresh, *p).size()) << format;
      EXPECT_EQ(uniqueIDs(*editing->fetch(r)), inMemory(*editing, *p)) << "with unsaved changes: " << format;
      child->performAndWait([&] {
        EXPECT_EQ(uniqueIDs(*child->fetch(r)), inMemory(*child, *p)) << "in a child: " << format;
        EXPECT_EQ(static_cast<std::size_t>(*child->count(r)), inMemory(*child, *p).size()) << format;
      });
    }
  }
}

// Sorted and windowed fetches, which SQL may order and cut itself, must return the same rows in
// the same order as sorting every match in memory (missing values lowest, ties in store order).
TEST(Differential, SortedWindowsEqualSortingInMemory) {
  Generator g(7);
  auto coordinator = openStore(makeLibraryModel(), storePath("sorted.sqlite"));
  auto main = makeMainContext(coordinator);
  fillLibrary(*main, g, 150);
  ASSERT_TRUE(main->save());
  const char* keys[] = {"rating", "timesOpened", "addedDate", "isFavorite", "trashed"};
  for (int n = 0; n < 200; ++n) {
    std::vector<SortDescriptor> sorts;
    for (int k = g.pick(3); k >= 0; --k) sorts.emplace_back(keys[g.pick(5)], g.chance(50));
    if (g.chance(15)) sorts.emplace_back("title", true, SortDescriptor::Comparison::CaseInsensitive);
    fnd::Array args;
    std::string format = g.chance(30) ? "TRUEPREDICATE" : g.predicate(args);
    auto p = Predicate::parse(format, args);
    ASSERT_TRUE(p) << format;
    FetchRequest r("Bookmark");
    r.predicate = p;
    r.sortDescriptors = sorts;
    r.fetchLimit = g.chance(70) ? g.pick(40) : 0;
    r.fetchOffset = g.chance(40) ? g.pick(30) : 0;

    auto fresh = makeMainContext(coordinator);
    fnd::Error error;
    auto fetched = fresh->fetch(r, &error);
    ASSERT_TRUE(fetched) << format << ": " << error.description();
    std::vector<std::string> got;
    for (auto& o : *fetched) got.push_back(o->valueForKey("uniqueID").string());

    // Every match in store order, sorted here, then cut.
    auto reference = makeMainContext(coordinator);
    FetchRequest all("Bookmark");
    fnd::Array matches;
    const auto everything = *reference->fetch(all);
    for (auto& o : everything)
      if (p->evaluate(fnd::Value(std::static_pointer_cast<fnd::Object>(o)))) matches.push_back(fnd::Value(std::static_pointer_cast<fnd::Object>(o)));
    sortArray(matches, sorts);
    std::vector<std::string> expected;
    for (std::size_t i = static_cast<std::size_t>(r.fetchOffset); i < matches.size(); ++i) {
      if (r.fetchLimit > 0 && expected.size() == static_cast<std::size_t>(r.fetchLimit)) break;
      expected.push_back(std::static_pointer_cast<ManagedObject>(matches[i].object())->valueForKey("uniqueID").string());
    }
    EXPECT_EQ(got, expected) << format << " limit " << r.fetchLimit << " offset " << r.fetchOffset;
  }
}

// Case-insensitive matching at the edges of the alphabet: "A" and "Z" fold, their neighbours
// ("@", "[", "`", "{") do not; in SQL and in memory alike.
TEST(Differential, CaseFoldingHoldsAtTheEdgesOfTheAlphabet) {
  auto coordinator = openStore(makeLibraryModel(), storePath("fold.sqlite"));
  auto main = makeMainContext(coordinator);
  const char* titles[] = {"Alpha", "mAZe", "ZEBRA", "at@home", "x[y", "b`q", "c{d"};
  for (int i = 0; i < 7; ++i) {
    auto b = main->insertNewObject("Bookmark");
    b->setValueForKey("uniqueID", std::to_string(i));
    b->setValueForKey("title", titles[i]);
  }
  ASSERT_TRUE(main->save());
  const std::pair<const char*, std::set<std::string>> cases[] = {
      {"title CONTAINS[c] 'a'", {"0", "1", "2", "3"}}, {"title CONTAINS[c] 'Z'", {"1", "2"}},
      {"title BEGINSWITH[c] 'z'", {"2"}},              {"title ENDSWITH[c] 'E'", {"1", "3"}},
      {"title ==[c] 'ALPHA'", {"0"}},                  {"title CONTAINS[c] '`'", {"5"}},
      {"title CONTAINS[c] '{'", {"6"}},                {"title CONTAINS[c] '@'", {"3"}},
      {"title CONTAINS[c] '['", {"4"}},
  };
  for (const auto& [format, expected] : cases) {
    auto p = Predicate::parse(format, {});
    ASSERT_TRUE(p) << format;
    FetchRequest r("Bookmark");
    r.predicate = p;
    auto fresh = makeMainContext(coordinator);
    EXPECT_EQ(uniqueIDs(*fresh->fetch(r)), expected) << format;
    EXPECT_EQ(inMemory(*fresh, *p), expected) << "in memory: " << format;
  }
}

// Counts of "ANY" over a to-many relationship, which SQL answers with a subquery: the same as the
// evaluator, in a context holding unsaved inserts, deletes and changes of the counted rows, of
// their relationships and of the related rows themselves; over a join table (tags) and over the
// inverse of a to-one (a folder's bookmarks). A count never makes objects of the rows.
TEST(Differential, CountsOverToManyEqualTheEvaluatorWithUnsavedChanges) {
  Generator g(11);
  auto coordinator = openStore(makeLibraryModel(), storePath("any.sqlite"));
  auto main = makeMainContext(coordinator);
  fillLibrary(*main, g, 200);
  {
    // Members without the value compared: a folder whose other bookmark is titled "Wiki", a
    // bookmark whose other tag is "T0". "!=" holds for neither.
    auto folder = main->insertNewObject("Folder");
    folder->setValueForKey("folderID", "FN");
    auto named = main->insertNewObject("Bookmark"), untitled = main->insertNewObject("Bookmark");
    named->setValueForKey("uniqueID", "named");
    named->setValueForKey("title", "Wiki");
    untitled->setValueForKey("uniqueID", "untitled");
    for (const auto& b : {named, untitled}) b->setToOne("folder", folder);
    FetchRequest t0("Tag");
    t0.predicate = Predicate::parse("name == 'T0'");
    named->addToMany("tags", main->fetch(t0)->front());
    named->addToMany("tags", main->insertNewObject("Tag"));
  }
  ASSERT_TRUE(main->save());
  auto tagNamed = [](Context& c, const std::string& name) {
    FetchRequest r("Tag");
    r.predicate = Predicate::parse("name == %@", {fnd::Value(name)});
    auto tags = *kesto::test::present(c.fetch(r), "the tags named " + name);
    return kesto::test::present(tags.empty() ? nullptr : tags.front(), "a tag named " + name);
  };
  auto predicates = [&](const std::string& entity) {
    std::vector<PredicateRef> out;
    const std::string key = entity == "Bookmark" ? "tags.name" : "bookmarks.title";
    const char* forms[] = {"ANY {k} == %@",         "ANY {k} != %@",       "ANY {k} BEGINSWITH[c] %@",
                           "ANY {k} IN %@",         "NOT (ANY {k} == %@)", "ANY {k} == %@ AND trashed < 1",
                           "ANY {k} < %@ OR blocked > 0"};
    for (std::string form : forms) {
      if (entity == "Folder") {
        if (form.find("trashed") != std::string::npos || form.find("blocked") != std::string::npos) continue;
      }
      form.replace(form.find("{k}"), 3, key);
      for (int value = 0; value < 5; ++value) {
        const std::string word = entity == "Bookmark" ? "T" + std::to_string(value) : kWords[value * 2];
        fnd::Value arg = form.find(" IN ") != std::string::npos ? fnd::Value(fnd::Array{fnd::Value(word), fnd::Value("T9")})
                                                                 : fnd::Value(word);
        auto p = Predicate::parse(form, {arg});
        EXPECT_TRUE(p) << form;
        if (p) out.push_back(p);
      }
    }
    return out;
  };
  auto expectCountsAgree = [&](Context& c, const std::string& stage) {
    for (const std::string entity : {"Bookmark", "Folder"})
      for (const auto& p : predicates(entity)) {
        std::size_t expected = 0;
        const auto everything = *c.fetch(FetchRequest(entity));
        for (auto& o : everything)
          if (p->evaluate(fnd::Value(std::static_pointer_cast<fnd::Object>(o)))) ++expected;
        FetchRequest r(entity);
        r.predicate = p;
        EXPECT_EQ(*c.count(r), static_cast<std::int64_t>(expected)) << stage << ": " << p->format();
        EXPECT_EQ(c.fetch(r)->size(), expected) << stage << ": " << p->format();
      }
  };
  {
    // Counted from the rows alone: no object is made for them.
    auto fresh = makeMainContext(coordinator);
    FetchRequest r("Bookmark");
    r.predicate = Predicate::parse("ANY tags.name == 'T1' AND trashed < 1", {});
    ASSERT_TRUE(fresh->count(r));
    EXPECT_LT(fresh->registeredObjects().size(), 10u);
  }
  auto editing = makeMainContext(coordinator);
  expectCountsAgree(*editing, "saved");
  auto all = *editing->fetch(FetchRequest("Bookmark"));
  auto t1 = tagNamed(*editing, "T1"), t3 = tagNamed(*editing, "T3");
  // Values of the counted rows alone: the count goes by SQL and the pending rows.
  for (int i = 0; i < 20; ++i) all[static_cast<std::size_t>(i)]->setValueForKey("trashed", g.flag());
  for (int i = 20; i < 30; ++i) all[static_cast<std::size_t>(i)]->setValueForKey("blocked", 1);
  // (A deleted bookmark leaves its tags' sets, which changes the tags: only untagged ones here.)
  int deleted = 0;
  for (std::size_t i = 60; i < all.size() && deleted < 10; ++i)
    if (all[i]->toMany("tags").empty()) editing->deleteObject(all[i]), ++deleted;
  EXPECT_EQ(deleted, 10);
  for (int i = 0; i < 5; ++i) {
    auto b = editing->insertNewObject("Bookmark");
    b->setValueForKey("uniqueID", "new" + std::to_string(i));
    b->setValueForKey("title", kWords[i]);
  }
  expectCountsAgree(*editing, "unsaved values");
  // Their relationships too.
  for (int i = 20; i < 40; ++i) all[static_cast<std::size_t>(i)]->addToMany("tags", t1);
  for (int i = 40; i < 60; ++i) all[static_cast<std::size_t>(i)]->removeFromMany("tags", t3);
  for (int i = 60; i < 70; ++i)
    if (!all[static_cast<std::size_t>(i)]->isDeleted()) editing->deleteObject(all[static_cast<std::size_t>(i)]);
  for (int i = 5; i < 10; ++i) {
    auto b = editing->insertNewObject("Bookmark");
    b->setValueForKey("uniqueID", "new" + std::to_string(i));
    b->addToMany("tags", i % 2 ? t1 : t3);
  }
  expectCountsAgree(*editing, "unsaved relationships");
  // A related row changed but unsaved: its stored name no longer holds.
  t1->setValueForKey("name", "T4");
  expectCountsAgree(*editing, "unsaved tag");
  ASSERT_TRUE(editing->save());
  expectCountsAgree(*editing, "saved again");
  expectCountsAgree(*makeMainContext(coordinator), "fresh");
}

// A to-one relationship against nil or a stored object, which SQL answers from the row's own key
// column: the same rows and counts as the evaluator, with bookmarks moved, emptied and added
// unsaved, an unsaved folder (never stored, so never in SQL) and a folder of another store.
TEST(Differential, ToOneComparisonsEqualTheEvaluator) {
  Generator g(5);
  auto model = makeLibraryModel();
  auto coordinator = openStore(model, storePath("toone.sqlite"));
  auto main = makeMainContext(coordinator);
  fillLibrary(*main, g, 150);
  ASSERT_TRUE(main->save());
  auto other = openStore(model, storePath("other.sqlite"));
  auto elsewhere = makeMainContext(other);
  fillLibrary(*elsewhere, g, 5);
  ASSERT_TRUE(elsewhere->save());
  auto editing = makeMainContext(coordinator);
  auto folders = *editing->fetch(FetchRequest("Folder"));
  auto check = [&](const std::string& stage) {
    std::vector<std::pair<std::string, fnd::Array>> cases = {{"folder == nil", {}}, {"folder != nil", {}}};
    for (const auto& f : folders) {
      cases.push_back({"folder == %@", {fnd::Value(fnd::ObjectRef(f))}});
      cases.push_back({"folder == %@ AND trashed < 1", {fnd::Value(fnd::ObjectRef(f))}});
      cases.push_back({"NOT (folder == %@)", {fnd::Value(fnd::ObjectRef(f))}});
    }
    cases.push_back({"folder == %@", {fnd::Value(fnd::ObjectRef(elsewhere->fetch(FetchRequest("Folder"))->front()))}});
    for (const auto& [format, args] : cases) {
      auto p = Predicate::parse(format, args);
      ASSERT_TRUE(p) << format;
      FetchRequest r("Bookmark");
      r.predicate = p;
      const auto expected = inMemory(*editing, *p);
      EXPECT_EQ(uniqueIDs(*editing->fetch(r)), expected) << stage << ": " << format;
      EXPECT_EQ(static_cast<std::size_t>(*editing->count(r)), expected.size()) << stage << ": " << format;
    }
  };
  check("saved");
  auto all = *editing->fetch(FetchRequest("Bookmark"));
  for (int i = 0; i < 10; ++i) all[static_cast<std::size_t>(i)]->setToOne("folder", folders[static_cast<std::size_t>(i % 3)]);
  for (int i = 10; i < 15; ++i) all[static_cast<std::size_t>(i)]->setToOne("folder", nullptr);
  auto fresh = editing->insertNewObject("Folder");
  fresh->setValueForKey("folderID", "F9");
  for (int i = 15; i < 20; ++i) all[static_cast<std::size_t>(i)]->setToOne("folder", fresh);
  folders.push_back(fresh);
  check("unsaved");
  ASSERT_TRUE(editing->save());
  check("saved again");
}
