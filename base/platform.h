// What differs between Windows and POSIX systems, behind plain functions: UTF-8 file names,
// calendar conversions and the program's own directory. Each system's half is a platform file
// the build picks (platform-posix.cpp, platform-win32.cpp); no system header leaks from here.
#pragma once

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

namespace oa {

// File names are UTF-8 everywhere in the program. On Windows a path made from a std::string
// would read the ANSI code page instead, so every path built from text goes through here.
std::filesystem::path PathFromUtf8(const std::string& utf8);
std::string Utf8FromPath(const std::filesystem::path& path);

// The program's arguments in UTF-8 (on Windows argv holds them in the ANSI code page), the
// program name first.
std::vector<std::string> CommandLineArguments(int argc, char** argv);

// `rest` (a relative path with "/") below the directory `dir`, with the system's separator
// between the two.
std::string JoinPath(const std::string& dir, const std::string& rest);

// std::fopen with a UTF-8 file name; "x" in the mode (never over an existing file) works on
// every system.
std::FILE* OpenFile(const std::string& utf8Path, const char* mode);

// OpenFile for writing ("wb", "ab", "wbx"), but a file it creates is the owner's only (mode 0600
// on POSIX systems whatever the umask; on Windows it inherits its directory's access rules).
// An existing file keeps the mode it has.
std::FILE* OpenOwnerOnlyFile(const std::string& utf8Path, const char* mode);

// Whether this process may read (write) the file. Root passes every access check; the
// permission bits still say what the owner meant, so they decide for root too (as does a
// read-only file system).
bool MayAccessFile(const std::string& utf8Path, bool write);

// Makes one directory that only its owner may enter (on Windows: inheriting its parent's
// access rules); false when it cannot be made, also when it exists.
bool MakePrivateDirectory(const std::string& utf8Path);

// The system's own access check for reading (access(R_OK)); errno tells why not.
bool CanOpenForReading(const std::string& utf8Path);

// The text of the system's last error (errno, or GetLastError on Windows).
std::string LastSystemErrorText();

// The broken-down local time and UTC time of an instant; false when it has none.
bool LocalTime(std::time_t t, std::tm* out);
bool UtcTime(std::time_t t, std::tm* out);
// The instant of a broken-down UTC time (the inverse of UtcTime; fields may be out of range).
std::time_t TimeFromUtc(std::tm* utc);

// The directory holding the running program's file (UTF-8); empty when it cannot be told.
std::string ProgramDirectory();

// The home directory of the account the program runs as (UTF-8); empty when unknown.
std::string AccountHomeDirectory();

// Whether the standard stream (0 input, 1 output, 2 error) is an interactive terminal.
bool IsTerminal(int standardStream);

}  // namespace oa
