#include "Model/Unused/Records/RecordImport.h"

#include "Model/Unused/Records/RecordClass.h"
#include "Model/Unused/Records/RecordContext.h"
#include "Model/Unused/Records/RecordFinders.h"
#include "Model/Unused/Records/RecordKit.h"
#include "Platform/Foundation/DateFormatter.h"
#include "Platform/Foundation/NumberText.h"
#include "Platform/Foundation/Strings.h"
#include "Platform/Foundation/TimeZone.h"
#include "Platform/Store/Context.h"
#include "Platform/Store/ManagedObject.h"
#include "Platform/Store/Predicate.h"

#include <atomic>
#include <cctype>
#include <charconv>
#include <cstdio>

namespace kesto::recordkit {

namespace {

std::atomic<ColourParser> colourParser{&importColourFromText};

std::string userInfoString(const fnd::Dictionary& info, const std::string& key) {
  auto it = info.find(key);
  return it != info.end() && it->second.isString() ? it->second.string() : std::string();
}

// User-info flags come from model files as booleans, numbers or text ("YES", "true", "1").
bool userInfoFlag(const fnd::Dictionary& info, const std::string& key) {
  auto it = info.find(key);
  if (it == info.end()) return false;
  const fnd::Value& v = it->second;
  if (v.isNumber()) return v.boolValue();
  if (!v.isString() || v.string().empty()) return false;
  const char c = fnd::asciiLowercase(v.string().front());
  return c == 'y' || c == 't' || (c >= '1' && c <= '9');
}

// The text a value stands for, as the conversions read it.
std::string textOf(const fnd::Value& v) { return v.isString() ? v.string() : v.description(); }

bool endsWith(const std::string& s, std::string_view suffix) {
  return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool isNumericType(store::AttributeType t) {
  switch (t) {
    case store::AttributeType::Integer16:
    case store::AttributeType::Integer32:
    case store::AttributeType::Integer64:
    case store::AttributeType::Double:
    case store::AttributeType::Float:
      return true;
    default:
      return false;
  }
}

fnd::Value objectValue(const store::ObjectIDRef& id) {
  return fnd::Value(fnd::ObjectRef(std::const_pointer_cast<store::ObjectID>(id)));
}

}  // namespace

// --- Relationship references ------------------------------------------------------------------

const store::RelationshipDescription* RelationshipRef::description() const {
  if (!entity || index < 0 || index >= static_cast<int>(entity->relationships().size())) return nullptr;
  return &entity->relationships()[index];
}

const store::EntityDescription* RelationshipRef::destination() const {
  return description() ? entity->destination(index) : nullptr;
}

// --- Reading import data ----------------------------------------------------------------------

std::optional<fnd::Value> importValueAtKeyPath(const fnd::Value& data, const std::string& keyPath) {
  if (keyPath.empty()) return std::nullopt;
  fnd::Value current = data;
  std::size_t start = 0;
  while (true) {
    std::size_t dot = keyPath.find('.', start);
    std::string key = keyPath.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
    if (current.isDictionary()) {
      auto it = current.dictionary().find(key);
      if (it == current.dictionary().end()) return std::nullopt;
      current = it->second;
    } else if (auto kvc = std::dynamic_pointer_cast<store::KeyValueCoding>(current.object())) {
      current = kvc->valueForKey(key);
      if (current.isNull()) return std::nullopt;
    } else {
      return std::nullopt;
    }
    if (dot == std::string::npos) return current;
    start = dot + 1;
  }
}

std::optional<std::string> RK_lookupKeyForAttribute(const fnd::Value& data,
                                                     const store::AttributeDescription& attribute) {
  // Numbers and texts hold no keys.
  if (!data.isDictionary() && !data.isObject()) return std::nullopt;
  std::string key = userInfoString(attribute.userInfo, kMappedKeyName);
  if (key.empty()) key = attribute.name;
  if (importValueAtKeyPath(data, key)) return key;
  for (unsigned long i = 1; i <= 9; ++i) {
    char name[64];
    std::snprintf(name, sizeof name, "%s.%lu", kMappedKeyName, i);
    std::string alternative = userInfoString(attribute.userInfo, name);
    if (alternative.empty()) return std::nullopt;
    if (importValueAtKeyPath(data, alternative)) return alternative;
  }
  return std::nullopt;
}

fnd::Value RK_valueForAttribute(const fnd::Value& data, const store::AttributeDescription& attribute) {
  auto key = RK_lookupKeyForAttribute(data, attribute);
  if (!key) return {};
  return importValueAtKeyPath(data, *key).value_or(fnd::Value());
}

std::string RK_primaryKey(const RelationshipRef& relationship) {
  const store::RelationshipDescription* r = relationship.description();
  if (!r) return {};
  std::string key = userInfoString(r->userInfo, kRelatedByAttribute);
  if (!key.empty()) return key;
  const store::EntityDescription* destination = relationship.destination();
  return defaultRelatedKeyForEntityName(destination ? destination->name() : r->destinationEntityName);
}

std::optional<std::string> RK_lookupKeyForRelationship(const fnd::Value&, const RelationshipRef& relationship) {
  const store::EntityDescription* destination = relationship.destination();
  if (!destination) return std::nullopt;
  std::string primary = RK_primaryKey(relationship);
  const store::AttributeDescription* attribute = destination->attribute(primary);
  if (!attribute) return primary;
  std::string mapped = userInfoString(attribute->userInfo, kMappedKeyName);
  return mapped.empty() ? attribute->name : mapped;
}

fnd::Value RK_relatedValueForRelationship(const fnd::Value& data, const RelationshipRef& relationship) {
  if (data.isNumber() || data.isString()) return data;
  if (!data.isDictionary() && !data.isObject()) return {};
  auto key = RK_lookupKeyForRelationship(data, relationship);
  if (!key) return {};
  return importValueAtKeyPath(data, *key).value_or(fnd::Value());
}

std::string RK_capitalizedFirstCharacterString(const std::string& text) {
  return text.empty() ? text : fnd::uppercaseFirst(text);
}

// --- Descriptions -----------------------------------------------------------------------------

const store::AttributeDescription* RK_primaryAttributeToRelateBy(const store::EntityDescription* entity) {
  if (!entity || entity->attributes().empty()) return nullptr;
  std::string name = userInfoString(entity->userInfo(), kRelatedByAttribute);
  if (name.empty()) name = defaultRelatedKeyForEntityName(entity->name());
  return entity->attribute(name);
}

ObjectRef RK_createInstanceInContext(const store::EntityDescription* entity, const ContextRef& context) {
  if (!entity || !context) return nullptr;
  if (auto hooks = recordClassHooks(entity->className()); hooks && hooks->insertInManagedObjectContext)
    return hooks->insertInManagedObjectContext(context);
  return context->insertNewObject(entity->name());
}

fnd::Value RK_valueForKeyPath(const store::AttributeDescription& attribute, const std::string& keyPath,
                              const fnd::Value& data) {
  fnd::Value raw = importValueAtKeyPath(data, keyPath).value_or(fnd::Value());
  auto className = attribute.userInfo.find(kAttributeValueClassName);
  if (className != attribute.userInfo.end()) {
    if (raw.isNull()) return raw;
    if (className->second.isString() && endsWith(className->second.string(), "Color"))
      return importColourParser()(textOf(raw));
    return raw;
  }
  if (raw.isNull()) return raw;
  if (isNumericType(attribute.type)) {
    if (!raw.isNumber()) return fnd::Value(importNumberFromText(textOf(raw)));
  } else if (attribute.type == store::AttributeType::Date) {
    if (!raw.isDate()) {
      std::string format = userInfoString(attribute.userInfo, kDateFormat);
      auto date = importDateFromText(textOf(raw), format.empty() ? kDefaultImportDateFormat : format);
      return date ? fnd::Value(*date) : fnd::Value();
    }
  }
  return raw;
}

// --- Importing --------------------------------------------------------------------------------

bool RK_importValue(const ObjectRef& object, const fnd::Value& value, const std::string& key) {
  return performRecordCallback(object, "import" + RK_capitalizedFirstCharacterString(key) + ":", value);
}

void RK_setAttributes(const ObjectRef& object, const fnd::Value& data) {
  if (!object || !object->entity()) return;
  for (const auto& attribute : object->entity()->attributes()) {
    fnd::Value value;
    if (auto key = RK_lookupKeyForAttribute(data, attribute)) {
      value = RK_valueForKeyPath(attribute, *key, data);
    } else if (userInfoFlag(attribute.userInfo, kUseDefaultValueWhenNotPresent)) {
      value = attribute.defaultValue;
    } else {
      continue;
    }
    if (!RK_importValue(object, value, attribute.name)) object->setValueForKey(attribute.name, value);
  }
}

void RK_setRelationships(const ObjectRef& object, const fnd::Value& data, const RelationshipBlock& block) {
  if (!object || !object->entity()) return;
  const store::EntityDescription* entity = object->entity();
  for (int i = 0; i < static_cast<int>(entity->relationships().size()); ++i) {
    RelationshipRef relationship{entity, i};
    const auto& description = entity->relationships()[i];
    if (RK_importValue(object, data, description.name)) continue;
    std::string key = userInfoString(description.userInfo, kMappedKeyName);
    if (key.empty()) key = description.name;
    auto related = importValueAtKeyPath(data, key);
    if (!related || related->isNull()) continue;
    std::string should = "shouldImport" + RK_capitalizedFirstCharacterString(description.name) + ":";
    bool asks = respondsToRecordCallback(*object, should);
    auto link = [&](const fnd::Value& element) {
      if (asks) {
        bool answer = true;
        performRecordCallback(object, should, *related, &answer);
        if (!answer) return;
      }
      if (block) block(relationship, element);
    };
    if (description.toMany && related->isArray()) {
      for (const auto& element : related->array()) link(element);
    } else {
      link(*related);
    }
  }
}

bool RK_preImport(const ObjectRef& object, const fnd::Value& data) {
  bool answer = true;
  if (performRecordCallback(object, "shouldImport:", data, &answer) && !answer) return false;
  performRecordCallback(object, "willImport:", data);
  return true;
}

bool RK_postImport(const ObjectRef& object, const fnd::Value& data) {
  performRecordCallback(object, "didImport:", data);
  return true;
}

bool RK_performDataImportFromObject(const ObjectRef& object, const fnd::Value& data, const RelationshipBlock& block) {
  if (!object) return false;
  if (!RK_preImport(object, data)) return false;
  RK_setAttributes(object, data);
  RK_setRelationships(object, data, block);
  return RK_postImport(object, data);
}

bool RK_importValuesForKeysWithObject(const ObjectRef& object, const fnd::Value& data) {
  std::weak_ptr<store::ManagedObject> weak = object;
  return RK_performDataImportFromObject(object, data, [weak](const RelationshipRef& relationship,
                                                             const fnd::Value& element) {
    ObjectRef owner = weak.lock();
    if (!owner) return;
    ObjectRef related = RK_findObjectForRelationship(owner, relationship, element);
    if (!related) related = RK_createInstanceInContext(relationship.destination(), owner->context());
    if (!related) return;
    RK_importValuesForKeysWithObject(related, element);
    RK_addObject(owner, related, relationship);
  });
}

ObjectRef RK_findObjectForRelationship(const ObjectRef& object, const RelationshipRef& relationship,
                                       const fnd::Value& data) {
  if (!object) return nullptr;
  const store::EntityDescription* destination = relationship.destination();
  if (!destination) return nullptr;
  fnd::Value related = RK_relatedValueForRelationship(data, relationship);
  if (related.isNull()) return nullptr;
  return RK_findFirstByAttribute(destination->name(), RK_primaryKey(relationship), related, object->context());
}

void RK_addObject(const ObjectRef& object, const ObjectRef& related, const RelationshipRef& relationship) {
  const store::RelationshipDescription* description = relationship.description();
  if (!object || !related || !description) return;
  // An object of another entity or context cannot be linked; it stays unlinked.
  if (related->entity() != relationship.destination() || related->context() != object->context()) return;
  std::string key = RK_capitalizedFirstCharacterString(description->name);
  if (!description->toMany) {
    if (!performRecordCallback(object, "set" + key + ":", fnd::Value(related)))
      object->setToOne(relationship.index, related);
  } else if (description->ordered) {
    object->addToMany(relationship.index, related);
  } else if (!performRecordCallback(object, "add" + key + "Object:", fnd::Value(related))) {
    object->addToMany(relationship.index, related);
  }
}

ObjectRef RK_importFromObject(const std::string& cls, const fnd::Value& data, const ContextRef& context) {
  const store::EntityDescription* entity = RK_entityDescription(cls, context);
  if (!entity) return nullptr;
  ObjectRef object;
  if (const store::AttributeDescription* primary = RK_primaryAttributeToRelateBy(entity)) {
    store::FetchRequest request = RK_requestFirstByAttribute(cls, primary->name, RK_valueForAttribute(data, *primary),
                                                             context);
    auto found = RK_executeFetchRequest(request, context);
    // A failed lookup is not "none found": creating now would duplicate the record.
    if (!found) return nullptr;
    if (!found->empty()) object = found->front();
  }
  if (!object) object = RK_createInContext(cls, context);
  if (!object) return nullptr;
  RK_importValuesForKeysWithObject(object, data);
  return object;
}

ObjectRef RK_importFromObject(const std::string& cls, const fnd::Value& data) {
  return RK_importFromObject(cls, data, RK_defaultContext());
}

std::vector<ObjectRef> RK_importFromArray(const std::string& cls, const fnd::Array& list, const ContextRef& context) {
  if (!RK_rootSavingContext()) {
    // Without a stack there is no store to save to: import into the caller's context.
    std::vector<ObjectRef> imported;
    for (const auto& element : list)
      if (ObjectRef o = RK_importFromObject(cls, element, context)) imported.push_back(o);
    return imported;
  }
  fnd::Array ids;
  RecordKit::saveWithBlockAndWait([&](const ContextRef& local) {
    for (const auto& element : list) {
      ObjectRef o = RK_importFromObject(cls, element, local);
      if (!o) continue;
      fnd::Error error;
      if (local->obtainPermanentIDs({o}, &error))
        ids.push_back(objectValue(o->objectID()));
      else
        RecordKit::handleErrors(&error);
    }
  });
  fnd::Error error;
  auto predicate = store::Predicate::parse("self IN %@", fnd::Array{fnd::Value(ids)}, &error);
  if (!predicate) {
    RecordKit::handleErrors(&error);
    return {};
  }
  return RK_findAllWithPredicate(cls, predicate, context);
}

std::vector<ObjectRef> RK_importFromArray(const std::string& cls, const fnd::Array& list) {
  return RK_importFromArray(cls, list, RK_defaultContext());
}

// --- Conversions ------------------------------------------------------------------------------

std::string importKeyWithUppercaseInitial(const std::string& name) { return RK_capitalizedFirstCharacterString(name); }

std::string defaultRelatedKeyForEntityName(const std::string& entityName) {
  std::string key = entityName;
  if (!key.empty()) key[0] = fnd::asciiLowercase(key[0]);
  return key + "ID";
}

std::optional<fnd::Date> importDateFromText(const std::string& text, const std::string& format) {
  return fnd::DateFormatter::threadFormatter(format, fnd::TimeZone::local()).dateFromString(text);
}

double importNumberFromText(const std::string& text) { return fnd::leadingDouble(text); }

std::optional<std::array<float, 4>> rgbaComponentsFromText(const std::string& text) {
  std::size_t paren = text.find('(');
  if (text.compare(0, 4, "rgba") != 0 || paren == std::string::npos || paren < 4) return std::nullopt;
  std::array<float, 4> rgba{};
  std::size_t count = 0, i = paren, n = text.size();
  while (true) {
    while (i < n && (text[i] == '(' || text[i] == ',' || text[i] == ')' || std::isspace(static_cast<unsigned char>(text[i]))))
      ++i;
    if (i >= n) break;
    long value = 0;
    std::size_t start = i;
    if (text[i] == '+' || text[i] == '-') ++i;
    auto result = std::from_chars(text.data() + (text[start] == '+' ? start + 1 : start), text.data() + n, value);
    // Anything that is neither a separator nor an integer, or a fifth integer, is not a colour.
    if (result.ec != std::errc() || count == 4) return std::nullopt;
    i = static_cast<std::size_t>(result.ptr - text.data());
    rgba[count] = count < 3 ? static_cast<float>(value) / 255.0f : static_cast<float>(value);
    ++count;
  }
  if (count != 4) return std::nullopt;
  return rgba;
}

fnd::Value importColourFromText(const std::string& text) {
  auto rgba = rgbaComponentsFromText(text);
  if (!rgba) return {};
  return fnd::Value(std::make_shared<DeviceRGBColor>((*rgba)[0], (*rgba)[1], (*rgba)[2], (*rgba)[3]));
}

ColourParser importColourParser() { return colourParser.load(); }

void setImportColourParser(ColourParser parser) { colourParser.store(parser ? parser : &importColourFromText); }

fnd::Date dateShiftedByDaylightSaving(fnd::Date date) {
  fnd::TimeZone zone = fnd::TimeZone::local();
  if (!zone.isDaylightSavingTime(date)) return date;
  // The standard offset is the one in force half a year away, outside daylight saving.
  int standard = zone.secondsFromGMT(date) - 3600;
  for (double days : {-182.0, 182.0}) {
    fnd::Date other = date.dateByAddingTimeInterval(days * 86400);
    if (!zone.isDaylightSavingTime(other)) {
      standard = zone.secondsFromGMT(other);
      break;
    }
  }
  return date.dateByAddingTimeInterval(zone.secondsFromGMT(date) - standard);
}

std::string DeviceRGBColor::description() const {
  std::string text = "DeviceRGB";
  for (float c : rgba_) text += " " + fnd::numberText(c, 6);
  return text;
}

bool DeviceRGBColor::isEqual(const fnd::Object& other) const {
  auto* o = dynamic_cast<const DeviceRGBColor*>(&other);
  return o && o->rgba_ == rgba_;
}

}  // namespace kesto::recordkit
