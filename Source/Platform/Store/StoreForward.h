#pragma once

// Declares the object store's classes for headers that only hold pointers or references to
// them, so they need not pull in the full headers.
namespace kesto::store {

struct AttributeDescription;
class Context;
class Coordinator;
class DetachedFetch;
class EntityDescription;
class ManagedObject;
class ObjectID;
class Model;
class Predicate;
struct RelationshipDescription;
struct SaveNotification;
class StoreFileCheck;

}  // namespace kesto::store
