#include "settings/basRegistry.h"

#include <array>
#include <cstdio>

namespace oa::settings {

namespace {

// Closes an opened key when the lookup ends, however it ends.
class KeyCloser {
 public:
  explicit KeyCloser(const HKEY& key) : key_(key) {}
  ~KeyCloser() {
    if (key_ != 0) RegCloseKey(key_);
  }
  KeyCloser(const KeyCloser&) = delete;
  KeyCloser& operator=(const KeyCloser&) = delete;

 private:
  const HKEY& key_;
};

}  // namespace

oa::Variant GetRegValue(const HKEY& RootKey, const std::string& KeyPath,
                        const std::string& ValueName) {
  try {
    HKEY key = 0;
    // A missing key leaves the handle 0, and the read below gives no value.
    RegOpenKeyA(RootKey, KeyPath.c_str(), &key);
    const KeyCloser closer(key);
    oa::Variant value;
    QueryRegValue(key, ValueName, value);
    const std::string text = value.ToText();
    if (!text.empty() && text.back() == '\0')
      value = oa::Variant::String(text.substr(0, text.size() - 1));
    return value;
  } catch (...) {
    return oa::Variant::String("");
  }
}

LONG QueryRegValue(HKEY Key, std::string ValueName, oa::Variant& Value) {
  LONG status = kErrorSuccess;
  try {
    DWORD type = 0;
    DWORD size = 0;
    status = RegQueryValueExA(Key, ValueName.c_str(), nullptr, &type, nullptr, &size);
    if (status != kErrorSuccess) return status;
    switch (type) {
      case kRegSz:
      case kRegExpandSz: {
        std::string buffer(size, '\0');
        status = RegQueryValueExA(Key, ValueName.c_str(), nullptr, nullptr,
                                  reinterpret_cast<BYTE*>(buffer.data()), &size);
        Value =
            status == kErrorSuccess ? oa::Variant::String(buffer.substr(0, size)) : oa::Variant();
        break;
      }
      case kRegDword: {
        DWORD number = 0;
        DWORD cb = sizeof number;
        status = RegQueryValueExA(Key, ValueName.c_str(), nullptr, nullptr,
                                  reinterpret_cast<BYTE*>(&number), &cb);
        if (status == kErrorSuccess) Value = oa::Variant::Long(static_cast<int32_t>(number));
        break;
      }
      case kRegBinary: {
        std::array<BYTE, 255> buffer{};
        DWORD cb = buffer.size();
        status = RegQueryValueExA(Key, ValueName.c_str(), nullptr, nullptr, buffer.data(), &cb);
        if (status != kErrorSuccess) {
          Value = oa::Variant();
          break;
        }
        std::string text;
        for (DWORD i = 0; i < cb; ++i) {
          char hex[4];
          std::snprintf(hex, sizeof hex, " %02X", buffer[i]);
          text += hex;
        }
        Value = oa::Variant::String(text.empty() ? text : text.substr(1));
        break;
      }
      default:
        status = -1;
        break;
    }
    return status;
  } catch (...) {
    return status;
  }
}

}  // namespace oa::settings
