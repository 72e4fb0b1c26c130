// Text between the program's UTF-8 and the window system's UTF-16.
#pragma once

#include <string>

struct HWND__;

namespace oa::win32 {

std::wstring Wide(const std::string& utf8);
std::string Utf8(const std::wstring& wide);
// A window's text (a box's contents, a control's caption) in UTF-8.
std::string WindowText(HWND__* hwnd);
// Line feeds not already after a carriage return get one: an edit box breaks lines only at
// CR LF.
std::string WithCrLf(const std::string& text);

}  // namespace oa::win32
