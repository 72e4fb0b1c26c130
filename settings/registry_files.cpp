#include "settings/registry_files.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace oa::settings {

namespace {

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

}  // namespace

std::string RegistryFilePath(regfile::Hive hive) {
  if (hive == regfile::Hive::LocalMachine) {
    const std::string named = Env("OA_REGISTRY_MACHINE");
    return named.empty() ? "/etc/ondavel/registry.reg" : named;
  }
  if (std::string named = Env("OA_REGISTRY_USER"); !named.empty()) return named;
  // A relative XDG_CONFIG_HOME is to be ignored.
  if (std::string config = Env("XDG_CONFIG_HOME"); !config.empty() && config.front() == '/')
    return config + "/ondavel/registry.reg";
  return Env("HOME") + "/.config/ondavel/registry.reg";
}

HiveFile LoadHiveFile(regfile::Hive hive) {
  HiveFile file;
  file.path = RegistryFilePath(hive);
  file.root = std::make_shared<regfile::Key>();
  std::error_code ec;
  const auto status = std::filesystem::status(file.path, ec);
  if (!std::filesystem::exists(status)) return file;
  std::ifstream in(file.path, std::ios::binary);
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
