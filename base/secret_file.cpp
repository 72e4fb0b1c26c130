#include "base/secret_file.h"

#include "base/secret_file_read.h"

namespace oa {

void WipeSecret(std::string& text) {
  volatile char* p = text.data();
  for (size_t i = 0; i < text.size(); ++i) p[i] = 0;
  text.clear();
}

std::string SecretFileTooLarge(const std::string& path) {
  return path + ": is larger than " + std::to_string(kMaxSecretFileBytes / 1024) +
         " KiB, the most a password or secret file may hold";
}

std::optional<std::string> ReadWholeSecretFile(const std::string& path, const ReadSecretChunk& read,
                                               std::string* error) {
  std::string text;
  text.reserve(kMaxSecretFileBytes + 1);  // no reallocation leaves a copy behind
  char buf[512];
  std::optional<std::string> result;
  while (true) {
    const std::optional<size_t> n = read(buf, sizeof buf, error);
    if (!n) break;
    if (*n == 0) {
      result = std::move(text);
      break;
    }
    // A file that grows while it is read is held to the same limit.
    if (text.size() + *n > kMaxSecretFileBytes) {
      *error = SecretFileTooLarge(path);
      break;
    }
    text.append(buf, *n);
  }
  WipeSecret(text);
  volatile char* b = buf;
  for (size_t i = 0; i < sizeof buf; ++i) b[i] = 0;
  return result;
}

}  // namespace oa
