// The registry calls over registry export files, for systems without a registry. Each open of
// a root reads its file anew, so that a changed file is seen at the next lookup; an opened key
// keeps the tree it was found in. The handle table is this stand-in's part of the system's: it
// holds open keys, no settings.
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "settings/config.h"
#include "settings/registry_api.h"
#include "settings/registry_files.h"

namespace oa::settings {

namespace {

using regfile::Key;

// A root opened by RegConnectRegistryFiles: its hive's file.
struct ConnectedRoot {
  regfile::Hive hive;
  std::string path;
};

struct HandleTable {
  std::mutex mutex;
  std::map<HKEY, std::shared_ptr<const Key>> open;
  std::map<HKEY, ConnectedRoot> roots;
  HKEY next = 0x100;
};

HandleTable& Table() {
  static HandleTable table;
  return table;
}

bool IsRoot(HKEY key) {
  return key == kHKeyCurrentUser || key == kHKeyLocalMachine;
}

regfile::Hive HiveOf(HKEY root) {
  return root == kHKeyLocalMachine ? regfile::Hive::LocalMachine : regfile::Hive::CurrentUser;
}

// A predefined root: the file at the place the environment gives, as the program would take it
// without a configuration file.
std::shared_ptr<const Key> PredefinedRoot(HKEY key) {
  ConfigOptions options;
  options.readSecrets = false;
  const Config config = LoadConfig(options, ProcessEnvironment(), /*readFile=*/false).config;
  return LoadHiveFile(RegistryFilePath(RegistryFilesOf(config), HiveOf(key)), HiveOf(key)).root;
}

// The key behind a handle; null for a handle that is not open. Call with the table locked.
std::shared_ptr<const Key> Resolve(HandleTable& table, HKEY key) {
  if (IsRoot(key)) return PredefinedRoot(key);
  if (auto root = table.roots.find(key); root != table.roots.end())
    return LoadHiveFile(root->second.path, root->second.hive).root;
  auto it = table.open.find(key);
  return it == table.open.end() ? nullptr : it->second;
}

}  // namespace

LONG RegOpenKeyA(HKEY key, const char* subKey, HKEY* result) {
  if (result == nullptr) return kErrorInvalidParameter;
  HandleTable& table = Table();
  std::lock_guard lock(table.mutex);
  const std::shared_ptr<const Key> parent = Resolve(table, key);
  if (!parent) return kErrorInvalidHandle;
  if (subKey == nullptr || *subKey == '\0') {
    *result = key;
    return kErrorSuccess;
  }
  const Key* found = parent->Find(subKey);
  if (found == nullptr) return kErrorFileNotFound;
  const HKEY handle = table.next;
  table.next += 4;
  table.open.emplace(handle, std::shared_ptr<const Key>(parent, found));
  *result = handle;
  return kErrorSuccess;
}

LONG RegQueryValueExA(HKEY key, const char* valueName, DWORD* /*reserved*/, DWORD* type, BYTE* data,
                      DWORD* cbData) {
  if (data != nullptr && cbData == nullptr) return kErrorInvalidParameter;
  HandleTable& table = Table();
  std::lock_guard lock(table.mutex);
  const std::shared_ptr<const Key> k = Resolve(table, key);
  if (!k) return kErrorInvalidHandle;
  auto it = k->values.find(regfile::Fold(valueName ? valueName : ""));
  if (it == k->values.end()) return kErrorFileNotFound;
  const regfile::Value& value = it->second;
  if (type) *type = value.type;
  if (cbData == nullptr) return kErrorSuccess;
  const DWORD size = static_cast<DWORD>(value.data.size());
  const DWORD room = *cbData;
  *cbData = size;
  if (data == nullptr) return kErrorSuccess;
  if (room < size) return kErrorMoreData;
  if (size > 0) std::memcpy(data, value.data.data(), size);
  return kErrorSuccess;
}

LONG RegCloseKey(HKEY key) {
  if (IsRoot(key)) return kErrorSuccess;
  HandleTable& table = Table();
  std::lock_guard lock(table.mutex);
  return table.open.erase(key) || table.roots.erase(key) ? kErrorSuccess : kErrorInvalidHandle;
}

LONG RegConnectRegistryFiles(const RegistryFiles& files, HKEY key, HKEY* result) {
  if (result == nullptr) return kErrorInvalidParameter;
  if (!IsRoot(key)) return kErrorInvalidHandle;
  HandleTable& table = Table();
  std::lock_guard lock(table.mutex);
  const HKEY handle = table.next;
  table.next += 4;
  table.roots.emplace(handle, ConnectedRoot{HiveOf(key), RegistryFilePath(files, HiveOf(key))});
  *result = handle;
  return kErrorSuccess;
}

}  // namespace oa::settings
