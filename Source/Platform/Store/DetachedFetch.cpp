#include "Platform/Store/DetachedFetch.h"

#include "Platform/Store/Context.h"
#include "Platform/Store/Coordinator.h"
#include "Platform/Store/Model.h"
#include "Platform/Store/StoreInternal.h"

#include <algorithm>
#include <iterator>
#include <limits>
#include <thread>

namespace kesto::store {

struct DetachedFetch::Impl {
  std::weak_ptr<Context> context;
  FetchRequest request;
  // The store and model the rows must come from, and the context's change count when made.
  std::string storeIdentifier;
  std::shared_ptr<const Model> model;
  std::uint64_t stamp = 0;
  std::vector<ManagedObjectRef> rows;
  bool read = false;
  bool sorted = false;
  bool adopted = false;
  std::size_t registered = 0;  // rows before this one went through adoptSome
  // The keys read: (after, upTo].
  std::int64_t after = 0;
  std::int64_t upTo = std::numeric_limits<std::int64_t>::max();
};

namespace {

fnd::Error detachedError(const std::string& reason) {
  return fnd::Error::withDescription(fnd::kCocoaErrorDomain, kPersistentStoreOperationError, reason);
}

// Sorting off the context's queue reads plain values only: a key path through a relationship or
// a value loaded on first use would need the context.
bool sortsByPlainValues(const EntityDescription& entity, const std::vector<SortDescriptor>& sorts) {
  return std::all_of(sorts.begin(), sorts.end(), [&](const SortDescriptor& d) {
    const int a = entity.attributeIndex(d.keyPath);
    if (a < 0) return false;
    const auto type = entity.attributes()[a].type;
    return type != AttributeType::Binary && type != AttributeType::Transformable;
  });
}

}  // namespace

DetachedFetch::DetachedFetch() : impl_(std::make_unique<Impl>()) {}
DetachedFetch::~DetachedFetch() = default;

std::unique_ptr<DetachedFetch> DetachedFetch::make(const std::shared_ptr<Context>& context, FetchRequest request) {
  std::unique_ptr<DetachedFetch> fetch(new DetachedFetch());
  Impl& f = *fetch->impl_;
  f.context = context;
  f.request = std::move(request);
  if (context) {
    Context::Impl& c = ImplAccess::of(*context);
    f.stamp = c.changeStamp;
    if (!c.parent && c.coordinator) {
      f.storeIdentifier = c.coordinator->storeIdentifier();
      f.model = c.coordinator->model();
    }
  }
  return fetch;
}

bool DetachedFetch::read(Coordinator& connection, fnd::Error* error) {
  Impl& f = *impl_;
  f.read = false;
  f.registered = 0;
  f.rows.clear();
  auto fail = [&](const std::string& reason) {
    if (error) *error = detachedError(reason);
    return false;
  };
  if (!f.model || connection.model() != f.model || connection.storeIdentifier() != f.storeIdentifier)
    return fail("The rows can only be read from the store of the context they are for");
  if (f.request.resultType != FetchRequest::ResultType::Objects)
    return fail("Only objects can be read apart from their context");
  const EntityDescription* entity = f.model->entity(f.request.entityName);
  if (!entity) return fail("Unknown entity \"" + f.request.entityName + "\"");
  // Only a predicate SQL decides alone: anything else would be tested against objects here.
  std::string where;
  std::vector<fnd::Value> binds;
  if (f.request.predicate && !compilePredicate(*f.request.predicate, *entity, where, binds, &f.storeIdentifier))
    return fail("The predicate cannot be read apart from its context");
  // The objects are made here too: making them is a good part of a large read. Rows read over
  // `over`, added to `into`.
  auto make = [&](Coordinator& over, std::vector<Snapshot>& snapshots, std::vector<ManagedObjectRef>& into) {
    for (auto& s : snapshots) {
      auto o = ObjectAccess::makeForRow(entity);
      if (s.id) ObjectAccess::setID(*o, s.id);
      else ObjectAccess::setRow(*o, ImplAccess::of(over).storeNumber, s.pk);
      ObjectAccess::state(*o) = ObjectAccess::State::Clean;
      ObjectAccess::apply(*o, std::move(s));
      into.push_back(std::move(o));
    }
  };
  std::vector<Snapshot> slice;
  if (f.request.fetchLimit > 0) {
    // A first screen of a long list: only when SQL orders and cuts it alone, reading those rows
    // and no others.
    std::string order;
    if (f.request.fetchOffset > 0 || !compileSortOrder(f.request.sortDescriptors, *entity, order))
      return fail("A limited read must be ordered and cut by the store");
    order += " LIMIT " + std::to_string(f.request.fetchLimit);
    if (f.after > 0 || f.upTo != std::numeric_limits<std::int64_t>::max()) {
      where = (where.empty() ? "" : "(" + where + ") AND ") + "Z_PK > ? AND Z_PK <= ?";
      binds.emplace_back(f.after);
      binds.emplace_back(f.upTo);
    }
    const AttributeDescription* first =
        f.request.sortDescriptors.empty() ? nullptr : entity->attribute(f.request.sortDescriptors.front().keyPath);
    const std::string* byIndex = first && first->indexed ? &first->name : nullptr;
    if (!ImplAccess::of(connection).loadRows(entity, where, binds, false, slice, error, nullptr, &order, byIndex))
      return false;
    make(connection, slice, f.rows);
    f.sorted = f.read = true;
    return true;
  }
  // In slices of rows by key, each a statement of its own: a store without a write-ahead log
  // lets nobody write while a statement reads, and the context's own saves must not wait for
  // the whole read. What they change meanwhile the context answers itself at the adopt.
  constexpr int kSlice = 4096;
  const std::string sliceWhere = (where.empty() ? "" : "(" + where + ") AND ") + "Z_PK > ? AND Z_PK <= ?";
  const std::string sliceOrder = "ORDER BY Z_PK LIMIT " + std::to_string(kSlice);
  // The rows with keys in (from, to], made into objects, added to `into`.
  auto readKeys = [&](Coordinator& over, std::int64_t from, std::int64_t to, std::vector<ManagedObjectRef>& into,
                      fnd::Error* failure) {
    std::vector<Snapshot> part;
    std::vector<fnd::Value> sliceBinds = binds;
    sliceBinds.emplace_back(from);
    sliceBinds.emplace_back(to);
    for (;;) {
      part.clear();
      if (!ImplAccess::of(over).loadRows(entity, sliceWhere, sliceBinds, false, part, failure, nullptr, &sliceOrder))
        return false;
      const std::size_t got = part.size();
      const std::int64_t last = got ? part.back().pk : 0;
      make(over, part, into);
      if (got < static_cast<std::size_t>(kSlice)) return true;
      sliceBinds[sliceBinds.size() - 2] = fnd::Value(last);
    }
  };
  // A large table read whole is read in two halves by key, the upper one over a connection of its
  // own on another thread: making the objects is most of a read, and the halves are made side by
  // side.
  const std::int64_t lowest = f.after;
  std::int64_t highest = f.upTo;
  if (where.empty() && highest == std::numeric_limits<std::int64_t>::max()) {
    const std::string last = "ORDER BY Z_PK DESC LIMIT 1";
    if (!ImplAccess::of(connection).loadRows(entity, "", {}, false, slice, error, nullptr, &last)) return false;
    if (!slice.empty()) highest = slice.front().pk;
    slice.clear();
  }
  constexpr std::int64_t kKeysForTwoReaders = 20000;
  std::shared_ptr<Coordinator> second;
  if (where.empty() && highest != std::numeric_limits<std::int64_t>::max() && highest - lowest >= kKeysForTwoReaders)
    second = connection.openSecondConnection();
  if (!second) {
    if (!readKeys(connection, lowest, highest, f.rows, error)) {
      f.rows.clear();
      return false;
    }
  } else {
    const std::int64_t middle = lowest + (highest - lowest) / 2;
    std::vector<ManagedObjectRef> upper;
    fnd::Error upperError;
    bool upperRead = false;
    std::thread reader([&] { upperRead = readKeys(*second, middle, highest, upper, &upperError); });
    const bool lowerRead = readKeys(connection, lowest, middle, f.rows, error);
    reader.join();
    if (!lowerRead || !upperRead) {
      if (lowerRead && error) *error = upperError;
      f.rows.clear();
      return false;
    }
    f.rows.reserve(f.rows.size() + upper.size());
    std::move(upper.begin(), upper.end(), std::back_inserter(f.rows));
  }
  f.sorted = sortsByPlainValues(*entity, f.request.sortDescriptors);
  if (f.sorted) sortObjects(f.rows, f.request.sortDescriptors);
  f.read = true;
  return true;
}

void DetachedFetch::restrictToKeys(std::int64_t after, std::int64_t upTo) {
  impl_->after = std::max<std::int64_t>(after, 0);
  impl_->upTo = std::max(upTo, impl_->after);
}

std::size_t DetachedFetch::rowCount() const { return impl_->rows.size(); }

std::vector<ManagedObjectRef> DetachedFetch::rowsSortedBy(const std::vector<SortDescriptor>& descriptors) const {
  const Impl& f = *impl_;
  const EntityDescription* entity = f.read && f.model ? f.model->entity(f.request.entityName) : nullptr;
  if (!entity || !sortsByPlainValues(*entity, descriptors)) return {};
  std::vector<int> attribute;
  for (const auto& d : descriptors) attribute.push_back(entity->attributeIndex(d.keyPath));
  const SortKeys keys(descriptors, f.rows.size(),
                      [&](std::size_t row, std::size_t column) { return f.rows[row]->value(attribute[column]); });
  std::vector<std::uint32_t> order(f.rows.size());
  for (std::uint32_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](std::uint32_t x, std::uint32_t y) { return keys.compare(x, y) < 0; });
  std::vector<ManagedObjectRef> out;
  out.reserve(order.size());
  for (auto i : order) out.push_back(f.rows[i]);
  return out;
}

bool DetachedFetch::adoptSome(std::size_t most) {
  Impl& f = *impl_;
  auto context = f.context.lock();
  if (!context || !f.read || f.registered >= f.rows.size()) return true;
  Context::Impl& c = ImplAccess::of(*context);
  // A context that moved on too far fetches at the adopt: nothing more is registered.
  if (f.stamp < c.changeLogFloor || c.parent || !c.coordinator || c.coordinator->storeIdentifier() != f.storeIdentifier) {
    f.registered = f.rows.size();
    return true;
  }
  f.registered = c.registerReadRows(f.rows, f.registered, std::max<std::size_t>(most, 1), f.stamp);
  return f.registered >= f.rows.size();
}

bool DetachedFetch::adoptedRows() const { return impl_->adopted; }

std::optional<std::vector<ManagedObjectRef>> DetachedFetch::adopt(fnd::Error* error) {
  Impl& f = *impl_;
  f.adopted = false;
  auto context = f.context.lock();
  if (!context) {
    if (error) *error = detachedError("The context the rows were read for is gone");
    return std::nullopt;
  }
  Context::Impl& c = ImplAccess::of(*context);
  // What the context changed or took in since make() it answers itself; when its log no longer
  // goes back that far, it fetches.
  const bool current = f.read && f.stamp >= c.changeLogFloor && !c.parent && c.coordinator &&
                       c.coordinator->model() == f.model && c.coordinator->storeIdentifier() == f.storeIdentifier;
  if (!current) {
    f.rows.clear();
    return context->fetch(f.request, error);
  }
  f.adopted = true;
  auto rows = std::move(f.rows);
  f.rows.clear();
  f.read = false;
  f.registered = 0;
  return c.adoptRows(f.request, std::move(rows), f.sorted, f.stamp, error);
}

}  // namespace kesto::store
