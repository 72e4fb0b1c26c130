// Where the registry export files live on systems without a registry, and reading one.
// HKEY_CURRENT_USER: [registry] user, $OA_REGISTRY_USER, else
// $XDG_CONFIG_HOME/ondavel/registry.reg (default ~/.config/ondavel/registry.reg).
// HKEY_LOCAL_MACHINE: [registry] machine, $OA_REGISTRY_MACHINE, else /etc/ondavel/registry.reg.
#pragma once

#include <memory>
#include <string>

#include "settings/reg_file.h"
#include "settings/settings.h"

namespace oa::settings {

enum class FileStatus { Read, Missing, Unreadable };

struct HiveFile {
  std::string path;
  FileStatus status = FileStatus::Missing;
  regfile::ReadResult result;
  std::shared_ptr<regfile::Key> root;  // an empty hive when the file gave nothing
};

// The file `files` names for the hive.
std::string RegistryFilePath(const RegistryFiles& files, regfile::Hive hive);

// Reads the hive's file at `path` as it is now; a missing or unreadable file is an empty hive.
HiveFile LoadHiveFile(const std::string& path, regfile::Hive hive);

}  // namespace oa::settings
