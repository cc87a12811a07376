#pragma once

#include "Platform/Store/StoreForward.h"

#include <memory>
#include <vector>

// The short names every part of the record stack speaks in.
namespace kesto::recordkit {

using ContextRef = std::shared_ptr<store::Context>;
using CoordinatorRef = std::shared_ptr<store::Coordinator>;
using ModelRef = std::shared_ptr<const store::Model>;
using ObjectRef = std::shared_ptr<store::ManagedObject>;
using Objects = std::vector<ObjectRef>;

}  // namespace kesto::recordkit
