// --check-registry where there is no registry: the two export files read instead.
#include "settings/check_registry.h"
#include "settings/registry_files.h"

namespace oa::settings {

namespace {

// Prints one file's findings; false when something in it could not be read.
bool CheckFile(std::ostream& out, const char* title, const RegistryFiles& files,
               regfile::Hive hive) {
  const HiveFile file = LoadHiveFile(RegistryFilePath(files, hive), hive);
  out << title << " registry file " << file.path << ": ";
  switch (file.status) {
    case FileStatus::Missing:
      out << "missing (no settings)\n";
      return true;
    case FileStatus::Unreadable:
      out << "found but cannot be read (no settings)\n";
      return false;
    case FileStatus::Read:
      break;
  }
  const regfile::ReadResult& r = file.result;
  if (!r.registryFile) {
    out << "found, " << regfile::EncodingName(r.encoding)
        << ", not a registry export file: the first line is neither \"Windows Registry Editor "
           "Version 5.00\" nor \"REGEDIT4\" (no settings)\n";
    return false;
  }
  out << "found, " << regfile::EncodingName(r.encoding) << ", " << r.header << ", " << r.keyLines
      << " key lines, " << r.valueLines << " value lines read\n";
  for (const regfile::SkippedLine& s : r.skipped)
    out << "  line " << s.line << " skipped: " << s.reason << "\n";
  return r.skipped.empty();
}

}  // namespace

int CheckRegistry(std::ostream& out, const RegistryFiles& files) {
  const bool user = CheckFile(out, "User (HKEY_CURRENT_USER)", files, regfile::Hive::CurrentUser);
  const bool machine =
      CheckFile(out, "Machine (HKEY_LOCAL_MACHINE)", files, regfile::Hive::LocalMachine);
  return user && machine ? 0 : 1;
}

}  // namespace oa::settings
