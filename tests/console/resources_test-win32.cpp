// The resources both Windows programs carry, read back the way Windows reads them: the version
// resource through GetFileVersionInfoW (Explorer's Details tab and the SmartScreen prompt show
// these texts), and the manifest the loader applies (long paths, no elevation).
#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <string>
#include <type_traits>
#include <vector>

namespace {

struct ModuleFree {
  void operator()(HMODULE m) const { ::FreeLibrary(m); }
};

std::wstring Wide(const std::string& s) {
  return std::wstring(s.begin(), s.end());  // the paths and texts here are ASCII
}

std::string Narrow(const wchar_t* s) {
  std::string out;
  for (; s && *s; ++s) out += static_cast<char>(*s);
  return out;
}

struct VersionInfo {
  std::vector<char> block;
  VS_FIXEDFILEINFO fixed{};
  // A value of the US English, Unicode string table; empty when it is not there.
  std::string Text(const char* name) const {
    void* value = nullptr;
    UINT size = 0;
    const std::wstring key = L"\\StringFileInfo\\040904B0\\" + Wide(name);
    if (!::VerQueryValueW(block.data(), key.c_str(), &value, &size) || size == 0) return {};
    return Narrow(static_cast<const wchar_t*>(value));
  }
};

// The file's version resource; ADD_FAILURE and an empty block when it has none.
VersionInfo ReadVersion(const std::string& path) {
  VersionInfo v;
  const std::wstring file = Wide(path);
  DWORD unused = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(file.c_str(), &unused);
  if (size == 0) {
    ADD_FAILURE() << path << ": no version resource (error " << ::GetLastError() << ")";
    return v;
  }
  v.block.resize(size);
  if (!::GetFileVersionInfoW(file.c_str(), 0, size, v.block.data())) {
    ADD_FAILURE() << path << ": version resource not read (error " << ::GetLastError() << ")";
    v.block.clear();
    return v;
  }
  void* fixed = nullptr;
  UINT fixedSize = 0;
  if (::VerQueryValueW(v.block.data(), L"\\", &fixed, &fixedSize) &&
      fixedSize >= sizeof(VS_FIXEDFILEINFO))
    v.fixed = *static_cast<const VS_FIXEDFILEINFO*>(fixed);
  return v;
}

// The manifest the loader applies to a program (resource 1 of type RT_MANIFEST, 24).
std::string ReadManifest(const std::string& path) {
  std::unique_ptr<std::remove_pointer_t<HMODULE>, ModuleFree> module(::LoadLibraryExW(
      Wide(path).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
  if (!module) {
    ADD_FAILURE() << path << ": not loaded as data (error " << ::GetLastError() << ")";
    return {};
  }
  HRSRC found = ::FindResourceW(module.get(), MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
  if (!found) return {};
  HGLOBAL loaded = ::LoadResource(module.get(), found);
  const char* data = loaded ? static_cast<const char*>(::LockResource(loaded)) : nullptr;
  return data ? std::string(data, ::SizeofResource(module.get(), found)) : std::string();
}

// "1.0.0" from the fixed part's file version 1.0.0.0.
std::string FixedVersion(const VS_FIXEDFILEINFO& f) {
  return std::to_string(HIWORD(f.dwFileVersionMS)) + "." +
         std::to_string(LOWORD(f.dwFileVersionMS)) + "." +
         std::to_string(HIWORD(f.dwFileVersionLS));
}

void ExpectDescribed(const std::string& path, const std::string& fileName,
                     const std::string& description) {
  SCOPED_TRACE(path);
  const VersionInfo v = ReadVersion(path);
  ASSERT_FALSE(v.block.empty());
  EXPECT_EQ(v.fixed.dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(FixedVersion(v.fixed), OA_VERSION);
  EXPECT_EQ(LOWORD(v.fixed.dwFileVersionLS), 0);
  EXPECT_EQ(v.fixed.dwProductVersionMS, v.fixed.dwFileVersionMS);
  EXPECT_EQ(v.fixed.dwProductVersionLS, v.fixed.dwFileVersionLS);
  EXPECT_EQ(v.fixed.dwFileType, static_cast<DWORD>(VFT_APP));
  EXPECT_EQ(v.Text("ProductName"), "ondavel Agent Cleanup");
  EXPECT_EQ(v.Text("ProductVersion"), OA_VERSION);
  EXPECT_EQ(v.Text("FileVersion"), OA_VERSION);
  EXPECT_EQ(v.Text("CompanyName"), "ondavel");
  EXPECT_EQ(v.Text("FileDescription"), description);
  EXPECT_EQ(v.Text("OriginalFilename"), fileName);
}

// The manifest declares long paths and no elevation, and carries the build's version.
void ExpectManifest(const std::string& path) {
  SCOPED_TRACE(path);
  const std::string m = ReadManifest(path);
  ASSERT_FALSE(m.empty()) << "no manifest";
  EXPECT_NE(m.find("<longPathAware xmlns=\"http://schemas.microsoft.com/SMI/2016/"
                   "WindowsSettings\">true</longPathAware>"),
            std::string::npos)
      << m;
  EXPECT_NE(m.find("<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>"),
            std::string::npos)
      << m;
  EXPECT_NE(m.find("version=\"" OA_VERSION ".0\""), std::string::npos) << m;
  EXPECT_EQ(m.find('@'), std::string::npos) << "an unconfigured placeholder\n" << m;
}

TEST(ProgramResources, CleanupIsDescribedWithTheBuildsVersion) {
  ExpectDescribed(OA_CLEANUP_EXE, "oa-cleanup.exe",
                  "ondavel Agent Cleanup: replaces the Handhelds folder of a mailbox");
  ExpectManifest(OA_CLEANUP_EXE);
  // The window's own needs stay declared beside them.
  const std::string m = ReadManifest(OA_CLEANUP_EXE);
  EXPECT_NE(m.find("Microsoft.Windows.Common-Controls"), std::string::npos);
  EXPECT_NE(m.find("PerMonitorV2"), std::string::npos);
}

TEST(ProgramResources, StoreToolIsDescribedWithTheBuildsVersion) {
  ExpectDescribed(OA_STORE_EXE, "oa-store.exe",
                  "ondavel Agent Cleanup store tool: creates, shows, imports and exports store "
                  "files");
  ExpectManifest(OA_STORE_EXE);
}

}  // namespace
