#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

class QSettings;

namespace tarvo::client {

/// Where the per-user values (nickname, account name, enciphered password) live.
class UserValueStore {
 public:
  virtual ~UserValueStore() = default;
  /// The stored text of `name`, or nullopt when it is missing or cannot be read.
  virtual std::optional<std::string> Read(std::string_view name) = 0;
  /// Stores `value` under `name`; false when the store refuses.
  virtual bool Write(std::string_view name, std::string_view value) = 0;
};

/// The per-user values in group "Client" of a QSettings. Texts are 8-bit and kept byte for byte.
class QSettingsUserStore : public UserValueStore {
 public:
  /// Uses `settings`, which must outlive this object.
  explicit QSettingsUserStore(QSettings& settings);

  std::optional<std::string> Read(std::string_view name) override;
  bool Write(std::string_view name, std::string_view value) override;

 private:
  QSettings& settings_;
};

/// The current user's settings of organisation "Tarvo3D" in the platform's usual place.
std::unique_ptr<QSettings> OpenUserSettings();

}  // namespace tarvo::client
