#include <windows.h>

#include "base/locale_text.h"

namespace oa {

namespace {

std::wstring WideFromUtf8(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int n =
      ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0)
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
  return wide;
}

std::string InCodePage(UINT codePage, const std::wstring& wide) {
  if (wide.empty()) return {};
  const int size = static_cast<int>(wide.size());
  const int n = ::WideCharToMultiByte(codePage, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<size_t>(n > 0 ? n : 0), '\0');
  if (n > 0)
    ::WideCharToMultiByte(codePage, 0, wide.data(), size, text.data(), n, nullptr, nullptr);
  return text;
}

}  // namespace

std::string LocaleDateTimeText(const std::tm& local, bool dateOnly) {
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(local.tm_year + 1900);
  st.wMonth = static_cast<WORD>(local.tm_mon + 1);
  st.wDayOfWeek = static_cast<WORD>(local.tm_wday);
  st.wDay = static_cast<WORD>(local.tm_mday);
  st.wHour = static_cast<WORD>(local.tm_hour);
  st.wMinute = static_cast<WORD>(local.tm_min);
  st.wSecond = static_cast<WORD>(local.tm_sec);
  wchar_t date[128];
  const int dn = ::GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &st, nullptr, date, 128);
  std::wstring text = dn > 0 ? std::wstring(date, static_cast<size_t>(dn - 1)) : L"";
  if (!dateOnly) {
    // Without flags: the user's long time format.
    wchar_t time[128];
    const int tn = ::GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &st, nullptr, time, 128);
    if (tn > 0) text += L' ' + std::wstring(time, static_cast<size_t>(tn - 1));
  }
  return InCodePage(CP_UTF8, text);
}

std::string AnsiFromUtf8(const std::string& utf8) {
  return InCodePage(CP_ACP, WideFromUtf8(utf8));
}

}  // namespace oa
