// Texts as the user's locale and the system's code page want them. Each system's half is a
// platform file (locale_text-posix.cpp, locale_text-win32.cpp).
#pragma once

#include <ctime>
#include <string>

namespace oa {

// The general date of a local time in the user's locale: the short date, a blank and the long
// time, or the short date alone. POSIX: LC_TIME's %x and %X; Windows: the user locale's
// short date and time formats.
std::string LocaleDateTimeText(const std::tm& local, bool dateOnly);

// UTF-8 text in the system's ANSI code page, as plain text files of Windows programs hold it;
// characters the code page lacks become "?". Unchanged on POSIX systems, which write UTF-8.
std::string AnsiFromUtf8(const std::string& utf8);

}  // namespace oa
