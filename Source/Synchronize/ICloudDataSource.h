#pragma once

#include "Synchronize/SyncDataSource.h"
#include "Platform/Foundation/Lifetime.h"

#include <functional>
#include <memory>
#include <string>

namespace kesto {

// The transport that keeps the sync payload in the synced folder the user chose (the method
// stored as "icloud"). Every load ends with the document, the empty-library marker (no payload
// yet) or an abort (no folder, folder gone, copy or archive failure).
class ICloudDataSource final : public SyncDataSource {
 public:
  static constexpr const char* kMethod = "icloud";
  static constexpr const char* kLabel = "[Synced folder]";
  // How long to wait for another copy of the application holding the folder's lock.
  static constexpr double kLockTimeout = 10.0;

  ICloudDataSource();
  ~ICloudDataSource() override;
  void load() override;
  void send(const std::string& xml) override;
  void sendShared(std::shared_ptr<const std::string> xml) override;
  // Renames the payload read last to a dated name beside it, unless another machine has
  // replaced it since.
  void setAsideUnreadable(std::function<void(bool kept, std::string where)> completion) override;
  // "kesto_sync unreadable <local date and time>.zip".
  static std::string asideName();

 private:
  void later(std::function<void(Synchronizer&)> call);

  // The working folder holding the copy of the payload read last, kept until it is set aside or
  // the source goes: only that payload, unchanged, is ever renamed.
  std::string readCopyFolder_;
  fnd::Lifetime lifetime_{fnd::Lifetime::Affinity::MainThread};
};

}  // namespace kesto
