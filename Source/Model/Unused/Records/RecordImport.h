#pragma once

#include "Model/Unused/Records/RecordTypes.h"
#include "Platform/Foundation/Date.h"
#include "Platform/Foundation/Value.h"
#include "Platform/Store/StoreForward.h"

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// Importing key-value data (as a JSON reader gives it) into records. Existing records are found
// again by a primary attribute, values are converted by attribute type, relationships are
// followed recursively, and the model's user info steers the mapping:
//   "mappedKeyName" (and "mappedKeyName.1" ... ".9"), "relatedByAttribute",
//   "attributeValueClassName", "dateFormat", "useDefaultValueWhenNotPresent".
// Record classes take part through named callbacks (RecordClass.h).
namespace kesto::recordkit {

inline constexpr const char* kMappedKeyName = "mappedKeyName";
inline constexpr const char* kRelatedByAttribute = "relatedByAttribute";
inline constexpr const char* kAttributeValueClassName = "attributeValueClassName";
inline constexpr const char* kDateFormat = "dateFormat";
inline constexpr const char* kUseDefaultValueWhenNotPresent = "useDefaultValueWhenNotPresent";
inline constexpr const char* kDefaultImportDateFormat = "yyyy-MM-dd'T'HH:mm:ss'Z'";

// A relationship of an entity, with the entity it belongs to (for its destination).
struct RelationshipRef {
  const store::EntityDescription* entity = nullptr;
  int index = -1;
  const store::RelationshipDescription* description() const;
  const store::EntityDescription* destination() const;
};

// Called for each related element during an import.
using RelationshipBlock = std::function<void(const RelationshipRef& relationship, const fnd::Value& element)>;

// --- Records ---
// Finds (by the primary attribute) or creates one record of `cls` and imports `data` into it.
ObjectRef RK_importFromObject(const std::string& cls, const fnd::Value& data, const ContextRef& context);
ObjectRef RK_importFromObject(const std::string& cls, const fnd::Value& data);  // default context
// Imports every element in a child of the root saving context, saves to the store, and answers
// the records in `context`.
std::vector<ObjectRef> RK_importFromArray(const std::string& cls, const fnd::Array& list, const ContextRef& context);
std::vector<ObjectRef> RK_importFromArray(const std::string& cls, const fnd::Array& list);
// False when the record's class refused the data ("shouldImport:").
bool RK_importValuesForKeysWithObject(const ObjectRef& object, const fnd::Value& data);
bool RK_performDataImportFromObject(const ObjectRef& object, const fnd::Value& data, const RelationshipBlock& block);
bool RK_preImport(const ObjectRef& object, const fnd::Value& data);
bool RK_postImport(const ObjectRef& object, const fnd::Value& data);
void RK_setAttributes(const ObjectRef& object, const fnd::Value& data);
void RK_setRelationships(const ObjectRef& object, const fnd::Value& data, const RelationshipBlock& block);
ObjectRef RK_findObjectForRelationship(const ObjectRef& object, const RelationshipRef& relationship,
                                       const fnd::Value& data);
void RK_addObject(const ObjectRef& object, const ObjectRef& related, const RelationshipRef& relationship);
// Calls the class's "import<Key>:" callback; true when there was one.
bool RK_importValue(const ObjectRef& object, const fnd::Value& value, const std::string& key);

// --- Descriptions ---
const store::AttributeDescription* RK_primaryAttributeToRelateBy(const store::EntityDescription* entity);
ObjectRef RK_createInstanceInContext(const store::EntityDescription* entity, const ContextRef& context);
fnd::Value RK_valueForKeyPath(const store::AttributeDescription& attribute, const std::string& keyPath,
                              const fnd::Value& data);
std::string RK_primaryKey(const RelationshipRef& relationship);

// --- Reading import data ---
// The key path at which `data` holds the attribute's value; absent when it holds none.
std::optional<std::string> RK_lookupKeyForAttribute(const fnd::Value& data, const store::AttributeDescription& attribute);
fnd::Value RK_valueForAttribute(const fnd::Value& data, const store::AttributeDescription& attribute);
std::optional<std::string> RK_lookupKeyForRelationship(const fnd::Value& data, const RelationshipRef& relationship);
// A dictionary's value at the related key; a number or text stands for itself.
fnd::Value RK_relatedValueForRelationship(const fnd::Value& data, const RelationshipRef& relationship);
// The value at a dotted key path of dictionaries: absent when a key is missing, null for an
// explicit null.
std::optional<fnd::Value> importValueAtKeyPath(const fnd::Value& data, const std::string& keyPath);
std::string RK_capitalizedFirstCharacterString(const std::string& text);

// --- Conversions ---
std::string importKeyWithUppercaseInitial(const std::string& name);
std::string defaultRelatedKeyForEntityName(const std::string& entityName);
// Parsed in the local time zone with the fixed (POSIX, Gregorian) form of the pattern.
std::optional<fnd::Date> importDateFromText(const std::string& text, const std::string& format);
// The text's leading floating-point value, 0 when there is none.
double importNumberFromText(const std::string& text);
// "rgba(r,g,b,a)": red, green and blue on 0...255, alpha as it stands. Absent for other text.
std::optional<std::array<float, 4>> rgbaComponentsFromText(const std::string& text);
// A DeviceRGBColor value, or null.
fnd::Value importColourFromText(const std::string& text);
fnd::Date dateShiftedByDaylightSaving(fnd::Date date);

// The colour conversion used by imports; replaceable (null restores importColourFromText).
using ColourParser = fnd::Value (*)(const std::string& text);
ColourParser importColourParser();
void setImportColourParser(ColourParser parser);

// A colour in device RGB, components 0...1 (alpha as given).
class DeviceRGBColor final : public fnd::Object {
 public:
  DeviceRGBColor(float red, float green, float blue, float alpha) : rgba_{red, green, blue, alpha} {}
  float red() const { return rgba_[0]; }
  float green() const { return rgba_[1]; }
  float blue() const { return rgba_[2]; }
  float alpha() const { return rgba_[3]; }
  std::string description() const override;
  bool isEqual(const fnd::Object& other) const override;

 private:
  std::array<float, 4> rgba_;
};

}  // namespace kesto::recordkit
