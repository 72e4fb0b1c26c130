// Who may read a file on Windows is up to its ACL, which is not inspected here: the rules are
// a regular file and the size limit.
#include <cstdio>
#include <filesystem>

#include "base/platform.h"
#include "base/process_guard.h"
#include "base/secret_file.h"

namespace oa {
namespace {

std::string TooLarge(const std::string& path) {
  return path + ": is larger than " + std::to_string(kMaxSecretFileBytes / 1024) +
         " KiB, the most a password or secret file may hold";
}

bool Checked(const std::string& path, std::string* error) {
  const std::filesystem::path file = PathFromUtf8(path);
  std::error_code ec;
  if (!std::filesystem::is_regular_file(file, ec)) {
    *error = path + (std::filesystem::exists(file, ec) ? ": is no regular file"
                                                       : ": cannot be read: no such file");
    return false;
  }
  if (std::filesystem::file_size(file, ec) > kMaxSecretFileBytes && !ec) {
    *error = TooLarge(path);
    return false;
  }
  return true;
}

}  // namespace

void WipeSecret(std::string& text) {
  volatile char* p = text.data();
  for (size_t i = 0; i < text.size(); ++i) p[i] = 0;
  text.clear();
}

bool CheckSecretFile(const std::string& path, SecretFileRule, std::string* error) {
  return Checked(path, error);
}

std::optional<std::string> ReadSecretFile(const std::string& path, SecretFileRule rule,
                                          std::string* error) {
  if (!Checked(path, error)) return std::nullopt;
  std::FILE* f = OpenFile(path, "rb");
  if (!f) {
    *error = path + ": cannot be read";
    return std::nullopt;
  }
  if (rule == SecretFileRule::OwnerOnly) ProtectSecretsFromDumps();
  std::string text;
  text.reserve(kMaxSecretFileBytes + 1);  // no reallocation leaves a copy behind
  char buf[512];
  std::optional<std::string> result;
  while (true) {
    const size_t n = std::fread(buf, 1, sizeof buf, f);
    if (n == 0) {
      if (std::ferror(f))
        *error = path + ": cannot be read";
      else
        result = std::move(text);
      break;
    }
    if (text.size() + n > kMaxSecretFileBytes) {
      *error = TooLarge(path);
      break;
    }
    text.append(buf, n);
  }
  std::fclose(f);
  WipeSecret(text);
  volatile char* b = buf;
  for (size_t i = 0; i < sizeof buf; ++i) b[i] = 0;
  return result;
}

}  // namespace oa
