#pragma once

#include "Platform/Foundation/Error.h"
#include "Platform/Store/FetchRequest.h"
#include "Platform/Store/ManagedObject.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace kesto::store {

class Context;
class Coordinator;

// A fetch for a context whose rows are read away from that context's queue: over a connection
// of their own (Coordinator::openSecondConnection), on any thread, into objects no context holds
// yet, sorted there too. The context then takes them in one short step, so reading a large
// library never holds the main loop up.
//
//   auto fetch = DetachedFetch::make(main, request);  // on the context's queue
//   fetch->read(*connection, &error);                  // on a worker thread
//   auto objects = fetch->adopt(&error);               // on the context's queue again
//
// One thread at a time: the worker hands the fetch back through a queue, never sharing it.
class DetachedFetch {
 public:
  // Notes the state of `context` (a root context; call on its queue) the rows will join.
  static std::unique_ptr<DetachedFetch> make(const std::shared_ptr<Context>& context, FetchRequest request);
  ~DetachedFetch();
  DetachedFetch(const DetachedFetch&) = delete;
  DetachedFetch& operator=(const DetachedFetch&) = delete;

  // Before read: only rows whose keys lie in (after, upTo] are read, for rows known to have been
  // written under those keys (an import's, read back a part at a time), so the read passes over
  // those keys alone instead of searching the table. The caller answers for it: a row outside the
  // range that the request matches is not in the answer.
  void restrictToKeys(std::int64_t after, std::int64_t upTo);
  // Reads the rows through `connection`, a connection to the context's store; any thread. A
  // limited request (a first screen) is read only when SQL orders and cuts it alone (number and
  // date sort keys, no offset). False (with `error`) when the read fails or is refused; adopt
  // then fetches in the context itself.
  bool read(Coordinator& connection, fnd::Error* error = nullptr);
  // Rows read (0 before a read).
  std::size_t rowCount() const;
  // On the reading thread, after read: the rows read in the order of `descriptors` (stable: ties
  // keep the read order), compared as SortKeys compares, so the context's queue can take a list
  // in that order without sorting it. Empty when a key is not a plain attribute.
  std::vector<ManagedObjectRef> rowsSortedBy(const std::vector<SortDescriptor>& descriptors) const;

  // On the context's queue: the answer `context->fetch(request)` would give now. The objects
  // read join the context; an object it holds already is kept as it is (with its changes), its
  // unsaved inserts count as in any fetch, and rows its saves (or the saves of others it took
  // in) changed since make() are answered from the context. When the read failed or could not
  // be made, or the context was reset or changed too much since, the context fetches itself.
  // Absent (with `error`) when that fetch fails or the context is gone.
  std::optional<std::vector<ManagedObjectRef>> adopt(fnd::Error* error = nullptr);
  // On the context's queue, before adopt: takes up to `most` more of the rows read into the
  // context, so a large read is taken in over several turns of its queue and adopt has little
  // left to do. True when none is left.
  bool adoptSome(std::size_t most);
  // Whether the last adopt took the rows read (false: it fetched in the context).
  bool adoptedRows() const;

  struct Impl;

 private:
  DetachedFetch();
  std::unique_ptr<Impl> impl_;
};

}  // namespace kesto::store
