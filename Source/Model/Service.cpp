#include "Model/Service.h"

#include "Model/DataModel.h"

namespace kesto {

std::string Service::name() const { return value(service_attr::name).string(); }
void Service::setName(const std::string& v) { setValue(service_attr::name, v); }
std::string Service::login() const { return value(service_attr::login).string(); }
void Service::setLogin(const std::string& v) { setValue(service_attr::login, v); }
std::string Service::password() const { return value(service_attr::password).string(); }
void Service::setPassword(const std::string& v) { setValue(service_attr::password, v); }
std::int64_t Service::defaultsToPublic() const { return value(service_attr::defaultsToPublic).intValue(); }
void Service::setDefaultsToPublic(std::int64_t v) { setValue(service_attr::defaultsToPublic, v); }

Service::Ref Service::serviceNamed(const std::string& name, const ContextRef& context) {
  return fetchEntityWhereProperty("name", name, context);
}

}  // namespace kesto
