#include "settings/registry_files.h"

#include <filesystem>
#include <fstream>
#include <iterator>

#include "base/platform.h"

namespace oa::settings {

std::string RegistryFilePath(const RegistryFiles& files, regfile::Hive hive) {
  return hive == regfile::Hive::LocalMachine ? files.machine : files.user;
}

HiveFile LoadHiveFile(const std::string& path, regfile::Hive hive) {
  HiveFile file;
  file.path = path;
  file.root = std::make_shared<regfile::Key>();
  std::error_code ec;
  const auto status = std::filesystem::status(PathFromUtf8(file.path), ec);
  if (!std::filesystem::exists(status)) return file;
  std::ifstream in(PathFromUtf8(file.path), std::ios::binary);
  const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (!in.is_open() || in.bad() || std::filesystem::is_directory(status)) {
    file.status = FileStatus::Unreadable;
    return file;
  }
  file.status = FileStatus::Read;
  file.result = regfile::ReadRegFile(bytes, hive, *file.root);
  return file;
}

}  // namespace oa::settings
