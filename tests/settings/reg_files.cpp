#include "tests/settings/reg_files.h"

#include <cstdint>
#include <cstdlib>
#include <fstream>

namespace oa::testing {

namespace {

void AppendUnit(std::string& out, std::uint32_t u) {
  out += static_cast<char>(u & 0xFF);
  out += static_cast<char>(u >> 8);
}

std::optional<std::string> Save(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::optional<std::string>(v) : std::nullopt;
}

void Restore(const char* name, const std::optional<std::string>& v) {
  if (v)
    setenv(name, v->c_str(), 1);
  else
    unsetenv(name);
}

}  // namespace

std::string ToUtf16le(std::string_view utf8) {
  std::string out;
  for (std::size_t i = 0; i < utf8.size();) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    const int n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    std::uint32_t cp = n == 1 ? c : n == 2 ? c & 0x1F : n == 3 ? c & 0x0F : c & 0x07;
    for (int k = 1; k < n; ++k) cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    i += n;
    if (cp >= 0x10000) {
      AppendUnit(out, 0xD800 + ((cp - 0x10000) >> 10));
      AppendUnit(out, 0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      AppendUnit(out, cp);
    }
  }
  return out;
}

std::string RegFileBytes(RegFormat format, std::string_view body) {
  std::string text =
      format == RegFormat::Regedit4 ? "REGEDIT4" : "Windows Registry Editor Version 5.00";
  text += "\r\n\r\n";
  for (char c : body) {
    if (c == '\n') text += '\r';
    text += c;
  }
  return format == RegFormat::Version5Utf16 ? "\xFF\xFE" + ToUtf16le(text) : text;
}

std::string HexText(RegFormat format, std::string_view text) {
  return HexList(format == RegFormat::Regedit4 ? std::string(text) : ToUtf16le(text));
}

std::string HexList(std::string_view bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (char b : bytes) {
    if (!out.empty()) out += ',';
    out += digits[static_cast<unsigned char>(b) >> 4];
    out += digits[static_cast<unsigned char>(b) & 0xF];
  }
  return out;
}

ScopedEnv::ScopedEnv(const char* name, const char* value) : name_(name), saved_(Save(name)) {
  Restore(name, value ? std::optional<std::string>(value) : std::nullopt);
}

ScopedEnv::~ScopedEnv() {
  Restore(name_.c_str(), saved_);
}

void RegistryFilesTest::SetUp() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "oa-registry-XXXXXX").string();
  ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
  dir_ = tmpl;
  user_.emplace("OA_REGISTRY_USER", userPath().string().c_str());
  machine_.emplace("OA_REGISTRY_MACHINE", machinePath().string().c_str());
}

void RegistryFilesTest::TearDown() {
  user_.reset();
  machine_.reset();
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

void RegistryFilesTest::WriteFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  ASSERT_TRUE(out.good()) << path;
}

}  // namespace oa::testing
