#include "Platform/Store/SortDescriptor.h"

#include "Platform/Store/KeyValueCoding.h"
#include "Platform/Store/ObjectID.h"
#include "Platform/Store/Predicate.h"
#include "Platform/Store/StoreInternal.h"

#include <algorithm>

namespace kesto::store {

namespace {

int rank(const fnd::Value& v) {
  switch (v.type()) {
    case fnd::Value::Type::Null: return 0;
    case fnd::Value::Type::Boolean:
    case fnd::Value::Type::Integer:
    case fnd::Value::Type::Real: return 1;
    case fnd::Value::Type::Date: return 2;
    case fnd::Value::Type::String: return 3;
    case fnd::Value::Type::Data: return 4;
    default: return 5;
  }
}

int sign(int c) { return c < 0 ? -1 : (c > 0 ? 1 : 0); }

}  // namespace

int compareValues(const fnd::Value& a, const fnd::Value& b, bool caseInsensitive) {
  int ra = rank(a), rb = rank(b);
  if (ra != rb) return ra < rb ? -1 : 1;
  switch (ra) {
    case 0: return 0;
    case 1: {
      double x = a.doubleValue(), y = b.doubleValue();
      return x < y ? -1 : (x > y ? 1 : 0);
    }
    case 2: return a.date() < b.date() ? -1 : (a.date() > b.date() ? 1 : 0);
    case 3:
      if (caseInsensitive) {
        int c = sign(foldString(a.string(), kCaseInsensitive).compare(foldString(b.string(), kCaseInsensitive)));
        if (c) return c;
      }
      return sign(a.string().compare(b.string()));
    case 4: {
      const auto& x = a.data();
      const auto& y = b.data();
      return std::lexicographical_compare(x.begin(), x.end(), y.begin(), y.end()) ? -1 : (x == y ? 0 : 1);
    }
    default: {
      auto* x = a.isObject() ? dynamic_cast<const ObjectID*>(a.object().get()) : nullptr;
      auto* y = b.isObject() ? dynamic_cast<const ObjectID*>(b.object().get()) : nullptr;
      if (x && y) return x->primaryKey() < y->primaryKey() ? -1 : (x->primaryKey() > y->primaryKey() ? 1 : 0);
      return 0;
    }
  }
}

int SortDescriptor::compareValues(const fnd::Value& a, const fnd::Value& b) const {
  int c = store::compareValues(a, b, comparison == Comparison::CaseInsensitive);
  return ascending ? c : -c;
}

int SortDescriptor::compareObjects(const fnd::Value& a, const fnd::Value& b) const {
  return compareValues(valueForKeyPath(a, keyPath), valueForKeyPath(b, keyPath));
}

struct SortKeys::Column {
  enum class Kind { Numbers, Texts, Values };
  Kind kind = Kind::Values;
  bool ascending = true, caseInsensitive = false;
  std::vector<std::uint8_t> rank;  // as compareValues ranks them: null, number, date, text
  std::vector<double> number;
  std::vector<std::string> folded;
  std::vector<fnd::Value> value;  // texts (their own order breaks ties of folded ones) and the rest

  int compare(std::size_t x, std::size_t y) const {
    if (kind == Kind::Values) return store::compareValues(value[x], value[y], caseInsensitive);
    if (rank[x] != rank[y]) return rank[x] < rank[y] ? -1 : 1;
    if (rank[x] == 0) return 0;
    if (kind == Kind::Numbers) return number[x] < number[y] ? -1 : (number[x] > number[y] ? 1 : 0);
    if (caseInsensitive)
      if (int c = sign(folded[x].compare(folded[y]))) return c;
    return sign(value[x].string().compare(value[y].string()));
  }
};

SortKeys::SortKeys(const std::vector<SortDescriptor>& descriptors, std::size_t rows,
                   const std::function<fnd::Value(std::size_t, std::size_t)>& key) {
  columns_.resize(descriptors.size());
  for (std::size_t c = 0; c < descriptors.size(); ++c) {
    Column& column = columns_[c];
    column.ascending = descriptors[c].ascending;
    column.caseInsensitive = descriptors[c].comparison == SortDescriptor::Comparison::CaseInsensitive;
    column.value.reserve(rows);
    column.rank.reserve(rows);
    bool numbers = true, texts = true;
    for (std::size_t r = 0; r < rows; ++r) {
      column.value.push_back(key(r, c));
      const int k = rank(column.value.back());
      column.rank.push_back(static_cast<std::uint8_t>(k));
      numbers = numbers && k <= 2;
      texts = texts && (k == 0 || k == 3);
    }
    if (numbers) {
      column.kind = Column::Kind::Numbers;
      column.number.reserve(rows);
      for (const auto& v : column.value) column.number.push_back(v.doubleValue());
      column.value = {};
    } else if (texts) {
      column.kind = Column::Kind::Texts;
      if (column.caseInsensitive) {
        column.folded.reserve(rows);
        for (const auto& v : column.value) column.folded.push_back(v.isNull() ? std::string() : foldString(v.string(), kCaseInsensitive));
      }
    }
  }
}

SortKeys::~SortKeys() = default;

int SortKeys::compare(std::size_t x, std::size_t y) const {
  for (const auto& column : columns_)
    if (int c = column.compare(x, y)) return column.ascending ? c : -c;
  return 0;
}

void RowSortKeys::take(const std::vector<SortDescriptor>& descriptors,
                       const std::function<fnd::Value(std::size_t)>& key) {
  columns_.resize(descriptors.size());
  for (std::size_t c = 0; c < descriptors.size(); ++c) {
    Column& column = columns_[c];
    fnd::Value v = key(c);
    column.rank = static_cast<std::uint8_t>(rank(v));
    if (column.rank == 1 || column.rank == 2) {
      column.number = v.doubleValue();
      column.value = fnd::Value();
      continue;
    }
    if (column.rank == 3 && descriptors[c].comparison == SortDescriptor::Comparison::CaseInsensitive)
      column.folded = foldString(v.string(), kCaseInsensitive);
    column.value = std::move(v);
  }
}

int RowSortKeys::compare(const RowSortKeys& other, const std::vector<SortDescriptor>& descriptors) const {
  for (std::size_t c = 0; c < descriptors.size(); ++c) {
    const Column& x = columns_[c];
    const Column& y = other.columns_[c];
    int r;
    if (x.rank != y.rank) {
      r = x.rank < y.rank ? -1 : 1;
    } else if (x.rank == 0) {
      r = 0;
    } else if (x.rank <= 2) {
      r = x.number < y.number ? -1 : (x.number > y.number ? 1 : 0);
    } else if (x.rank == 3) {
      r = descriptors[c].comparison == SortDescriptor::Comparison::CaseInsensitive ? sign(x.folded.compare(y.folded)) : 0;
      if (!r) r = sign(x.value.string().compare(y.value.string()));
    } else {
      r = store::compareValues(x.value, y.value, false);
    }
    if (r) return descriptors[c].ascending ? r : -r;
  }
  return 0;
}

void sortArray(fnd::Array& objects, const std::vector<SortDescriptor>& descriptors) {
  if (descriptors.empty() || objects.size() < 2) return;
  // Extract keys once; folding strings for every comparison would dominate the sort.
  struct Row {
    std::size_t index;
    std::vector<fnd::Value> keys;
  };
  std::vector<Row> rows(objects.size());
  for (std::size_t i = 0; i < objects.size(); ++i) {
    rows[i].index = i;
    rows[i].keys.reserve(descriptors.size());
    for (const auto& d : descriptors) {
      fnd::Value k = valueForKeyPath(objects[i], d.keyPath);
      if (d.comparison == SortDescriptor::Comparison::CaseInsensitive && k.isString())
        k = fnd::Value(foldString(k.string(), kCaseInsensitive) + std::string(1, '\0') + k.string());
      rows[i].keys.push_back(std::move(k));
    }
  }
  std::stable_sort(rows.begin(), rows.end(), [&](const Row& x, const Row& y) {
    for (std::size_t d = 0; d < descriptors.size(); ++d) {
      int c = store::compareValues(x.keys[d], y.keys[d], false);
      if (c) return descriptors[d].ascending ? c < 0 : c > 0;
    }
    return false;
  });
  fnd::Array sorted;
  sorted.reserve(objects.size());
  for (const auto& r : rows) sorted.push_back(std::move(objects[r.index]));
  objects = std::move(sorted);
}

void sortObjects(std::vector<ManagedObjectRef>& objects, const std::vector<SortDescriptor>& descriptors) {
  if (descriptors.empty() || objects.size() < 2) return;
  const EntityDescription* entity = objects[0]->entity();
  std::vector<int> attribute(descriptors.size(), -1);
  for (std::size_t d = 0; d < descriptors.size(); ++d)
    if (entity) attribute[d] = entity->attributeIndex(descriptors[d].keyPath);
  // Keys of all rows in one block (row-major): one allocation, and rows small to move.
  const std::size_t width = descriptors.size();
  std::vector<fnd::Value> keys(objects.size() * width);
  struct Row {
    std::size_t index;
    // The first key as (rank, number) when it is missing, a number or a date: lists sort by
    // dates and counters, and comparing those needs no look at the values' types.
    int rank0 = 5;
    double number0 = 0;
  };
  std::vector<Row> rows(objects.size());
  for (std::size_t i = 0; i < objects.size(); ++i) {
    rows[i].index = i;
    for (std::size_t d = 0; d < descriptors.size(); ++d) {
      fnd::Value k;
      if (attribute[d] >= 0 && objects[i]->entity() == entity) k = objects[i]->value(attribute[d]);
      else k = valueForKeyPath(fnd::Value(std::static_pointer_cast<fnd::Object>(objects[i])), descriptors[d].keyPath);
      if (descriptors[d].comparison == SortDescriptor::Comparison::CaseInsensitive && k.isString())
        k = fnd::Value(foldString(k.string(), kCaseInsensitive) + std::string(1, '\0') + k.string());
      if (d == 0) {
        rows[i].rank0 = rank(k);
        if (rows[i].rank0 == 1) rows[i].number0 = k.doubleValue();
        else if (rows[i].rank0 == 2) rows[i].number0 = k.date().timeIntervalSinceReferenceDate();
      }
      keys[i * width + d] = std::move(k);
    }
  }
  std::stable_sort(rows.begin(), rows.end(), [&](const Row& x, const Row& y) {
    std::size_t d = 0;
    if (x.rank0 <= 2 && y.rank0 <= 2) {
      // Same order as compareValues: rank first, then the numbers (missing values are equal).
      int c = x.rank0 != y.rank0 ? (x.rank0 < y.rank0 ? -1 : 1)
                                 : (x.number0 < y.number0 ? -1 : (x.number0 > y.number0 ? 1 : 0));
      if (c) return descriptors[0].ascending ? c < 0 : c > 0;
      d = 1;
    }
    for (; d < descriptors.size(); ++d) {
      int c = store::compareValues(keys[x.index * width + d], keys[y.index * width + d], false);
      if (c) return descriptors[d].ascending ? c < 0 : c > 0;
    }
    return false;
  });
  std::vector<ManagedObjectRef> sorted;
  sorted.reserve(objects.size());
  for (const auto& r : rows) sorted.push_back(std::move(objects[r.index]));
  objects = std::move(sorted);
}

}  // namespace kesto::store
