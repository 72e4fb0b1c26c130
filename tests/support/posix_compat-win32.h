// The few POSIX calls the tests use for their fixtures, on Windows. Included into every test
// source of a Windows build by the build itself, so the tests read the same on both systems.
#pragma once

#include <direct.h>
#include <stdlib.h>

#include <cerrno>
#include <cstring>
#include <random>

inline int setenv(const char* name, const char* value, int overwrite) {
  if (!overwrite && std::getenv(name) != nullptr) return 0;
  return _putenv_s(name, value) == 0 ? 0 : -1;
}

inline int unsetenv(const char* name) {
  // An empty value removes the variable.
  return _putenv_s(name, "") == 0 ? 0 : -1;
}

// Replaces the trailing XXXXXX with random letters until a new directory could be made.
inline char* mkdtemp(char* tmpl) {
  const size_t n = std::strlen(tmpl);
  if (n < 6 || std::strcmp(tmpl + n - 6, "XXXXXX") != 0) {
    errno = EINVAL;
    return nullptr;
  }
  static std::mt19937_64 random{std::random_device{}()};
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  for (int attempt = 0; attempt < 100; ++attempt) {
    for (size_t i = n - 6; i < n; ++i) tmpl[i] = kLetters[random() % (sizeof kLetters - 1)];
    if (_mkdir(tmpl) == 0) return tmpl;
    if (errno != EEXIST) return nullptr;
  }
  return nullptr;
}
