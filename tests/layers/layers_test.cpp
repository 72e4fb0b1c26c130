// The include directions of the source tree: console above handhelds above mailbox above the
// backends (store, ews, graph, http) above the object model above base; settings beside, on
// base only. A file may include its own layer and the layers it is allowed to reach, nothing
// else. The console (its window and its program too) reaches no backend, by include or by link:
// it sees the mailbox only through mailbox/.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// The layer of a path relative to the source root; "" for files outside the layered tree.
std::string LayerOf(const std::string& path) {
  static const std::vector<std::pair<std::string, std::string>> kPrefixes = {
      {"base/", "base"},
      {"mailbox/model/", "model"},
      {"mailbox/http/", "http"},
      {"mailbox/store/", "store"},
      {"mailbox/ews/", "ews"},
      {"mailbox/graph/", "graph"},
      {"mailbox/remote/", "remote"},
      {"mailbox/", "mailbox"},
      {"handhelds/", "handhelds"},
      {"settings/", "settings"},
      {"console/qt/", "window"},
      {"console/win32/", "window"},
      {"console/", "console"},
  };
  for (const auto& [prefix, layer] : kPrefixes) {
    if (path.rfind(prefix, 0) == 0) return layer;
  }
  return "";
}

// What each layer may include besides itself. A program's main file sits on top of all.
const std::set<std::string>& Reach(const std::string& layer) {
  static const std::map<std::string, std::set<std::string>> kReach = {
      {"base", {}},
      {"model", {"base"}},
      {"http", {"base"}},
      {"remote", {"http", "model", "base"}},
      {"store", {"model", "base"}},
      {"ews", {"remote", "http", "model", "base"}},
      {"graph", {"remote", "http", "model", "base"}},
      {"mailbox", {"store", "ews", "graph", "remote", "http", "model", "base"}},
      {"handhelds", {"mailbox", "model", "base"}},
      {"settings", {"base"}},
      {"console", {"handhelds", "mailbox", "model", "base", "settings"}},
      {"window", {"console", "handhelds", "mailbox", "model", "base", "settings"}},
      {"console program",
       {"window", "console", "handhelds", "mailbox", "model", "base", "settings"}},
      {"program",
       {"window", "console", "handhelds", "mailbox", "store", "ews", "graph", "remote", "http",
        "model", "base", "settings"}},
  };
  return kReach.at(layer);
}

// A program's main file: "main.cpp" or "<name>_main.cpp".
bool IsProgram(const std::string& path) {
  const std::string name = fs::path(path).filename().string();
  return name == "main.cpp" ||
         (name.size() > 9 && name.compare(name.size() - 9, 9, "_main.cpp") == 0);
}

// The backends' libraries, which the console must not link.
const std::set<std::string> kBackendLibraries = {"oa_store", "oa_ews", "oa_graph", "oa_http"};

// The layer of a file: a program's main file sits on top of its layers; the console's program
// stays on the console's side of the backends.
std::string FileLayer(const std::string& rel) {
  if (!IsProgram(rel)) return LayerOf(rel);
  return rel.rfind("console/", 0) == 0 ? "console program" : "program";
}

// Every include in the layered part of `root` that runs against the directions, as
// "file:line: includes target".
std::vector<std::string> Violations(const fs::path& root) {
  static const std::regex kQuoted(R"re(^\s*#\s*include\s*"([^"]+)")re");
  static const std::regex kAngled(R"re(^\s*#\s*include\s*<([^>]+)>)re");
  std::vector<std::string> found;
  for (const char* top : {"base", "mailbox", "handhelds", "settings", "console", "tools"}) {
    if (!fs::exists(root / top)) continue;
    for (const auto& entry : fs::recursive_directory_iterator(root / top)) {
      const std::string ext = entry.path().extension().string();
      if (!entry.is_regular_file() || (ext != ".h" && ext != ".cpp")) continue;
      const std::string rel = entry.path().lexically_relative(root).generic_string();
      const std::string layer = FileLayer(rel);
      const bool header = ext == ".h";
      std::ifstream in(entry.path());
      std::string text;
      for (int line = 1; std::getline(in, text); ++line) {
        const std::string where = rel + ":" + std::to_string(line) + ": includes ";
        std::smatch m;
        if (std::regex_search(text, m, kQuoted)) {
          const std::string target = LayerOf(m[1].str());
          if (target.empty() || target == layer || Reach(layer).count(target)) continue;
          found.push_back(where + m[1].str());
        } else if (std::regex_search(text, m, kAngled)) {
          const std::string name = m[1].str();
          // The toolkit stays in the window; windows.h stays out of every shared header.
          const bool toolkit = name.size() > 1 && name[0] == 'Q' && std::isupper(name[1]);
          if ((toolkit && layer != "window" && layer != "program" && layer != "console program") ||
              (header && name == "windows.h"))
            found.push_back(where + "<" + name + ">");
        }
      }
    }
  }
  return found;
}

// Every backend library that a target of the console's build files links, as
// "file: target links library".
std::vector<std::string> ConsoleBackendLinks(const fs::path& root) {
  static const std::regex kLink(R"re(target_link_libraries\s*\(\s*([A-Za-z0-9_.-]+)([^)]*)\))re");
  static const std::regex kWord(R"re([A-Za-z0-9_:.-]+)re");
  std::vector<std::string> found;
  if (!fs::exists(root / "console")) return found;
  for (const auto& entry : fs::recursive_directory_iterator(root / "console")) {
    if (!entry.is_regular_file() || entry.path().filename() != "CMakeLists.txt") continue;
    const std::string rel = entry.path().lexically_relative(root).generic_string();
    std::ifstream in(entry.path());
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    for (std::sregex_iterator it(text.begin(), text.end(), kLink), end; it != end; ++it) {
      const std::string target = (*it)[1].str();
      const std::string libraries = (*it)[2].str();
      for (std::sregex_iterator w(libraries.begin(), libraries.end(), kWord); w != end; ++w) {
        const std::string library = w->str();
        if (kBackendLibraries.count(library))
          found.push_back(rel + ": " + target + " links " + library);
      }
    }
  }
  return found;
}

TEST(Layers, TheConsoleLinksNoBackend) {
  const auto found = ConsoleBackendLinks(OA_SOURCE_DIR);
  std::string all;
  for (const auto& v : found) all += v + "\n";
  EXPECT_TRUE(found.empty()) << all;
}

// The console, its window and its program reach the mailbox only through mailbox/: an include
// of a backend is reported wherever in the console it is, and so is a backend linked by a
// console target.
TEST(Layers, TheConsoleReachesNoBackend) {
  const fs::path root = fs::temp_directory_path() / ("oa-console-" + std::to_string(::getpid()));
  fs::remove_all(root);
  const std::map<std::string, std::string> files = {
      {"console/form.cpp", "#include \"mailbox/backends.h\"\n#include \"mailbox/store/tree.h\"\n"},
      {"console/nowindow/run.cpp", "#include \"mailbox/http/transport.h\"\n"},
      {"console/qt/window.cpp", "#include \"mailbox/graph/graph_options.h\"\n"},
      {"console/main.cpp", "#include \"mailbox/backends.h\"\n#include \"mailbox/ews/client.h\"\n"},
      {"tools/oa-store/main.cpp", "#include \"mailbox/store/tree.h\"\n"},
      {"console/CMakeLists.txt",
       "target_link_libraries(oa_console PUBLIC oa_handhelds\n  PRIVATE oa_store)\n"
       "target_link_libraries(oa-cleanup PRIVATE oa_console oa_ews)\n"
       "target_link_libraries(oa-cleanup PRIVATE oa_graph)\n"},
      {"console/qt/CMakeLists.txt",
       "target_link_libraries(oa_window_ews PUBLIC oa_window oa_ews)\n"
       "target_link_libraries(oa_window PUBLIC oa_http)\n"},
  };
  for (const auto& [path, text] : files) {
    fs::create_directories((root / path).parent_path());
    std::ofstream(root / path) << text;
  }
  auto includes = Violations(root);
  auto links = ConsoleBackendLinks(root);
  fs::remove_all(root);
  std::sort(includes.begin(), includes.end());
  std::sort(links.begin(), links.end());
  EXPECT_EQ(includes, (std::vector<std::string>{
                          "console/form.cpp:2: includes mailbox/store/tree.h",
                          "console/main.cpp:2: includes mailbox/ews/client.h",
                          "console/nowindow/run.cpp:1: includes mailbox/http/transport.h",
                          "console/qt/window.cpp:1: includes mailbox/graph/graph_options.h",
                      }));
  EXPECT_EQ(links, (std::vector<std::string>{
                       "console/CMakeLists.txt: oa-cleanup links oa_ews",
                       "console/CMakeLists.txt: oa-cleanup links oa_graph",
                       "console/CMakeLists.txt: oa_console links oa_store",
                       "console/qt/CMakeLists.txt: oa_window links oa_http",
                       "console/qt/CMakeLists.txt: oa_window_ews links oa_ews",
                   }));
}

TEST(Layers, EveryIncludeOfTheSourceTreeRunsDownward) {
  const auto found = Violations(OA_SOURCE_DIR);
  std::string all;
  for (const auto& v : found) all += v + "\n";
  EXPECT_TRUE(found.empty()) << all;
}

// The check itself: a tree with one include in each wrong direction reports each of them and
// none of the allowed ones.
TEST(Layers, IncludesAgainstTheDirectionsAreReported) {
  const fs::path root = fs::temp_directory_path() / ("oa-layers-" + std::to_string(::getpid()));
  fs::remove_all(root);
  const std::map<std::string, std::string> files = {
      {"base/variant.h", "#include <string>\n#include \"mailbox/model/rdo.h\"\n"},
      {"mailbox/model/rdo.h", "#include \"base/variant.h\"\n"},
      {"mailbox/store/session.cpp",
       "#include \"mailbox/model/rdo.h\"\n  #  include \"mailbox/ews/client.h\"\n"},
      {"mailbox/agent.cpp", "#include \"mailbox/store/session.h\"\n#include \"console/form.h\"\n"},
      {"handhelds/cleanup.cpp",
       "#include \"mailbox/agent.h\"\n#include \"mailbox/store/session.h\"\n"},
      {"settings/config.h", "#include \"mailbox/model/rdo.h\"\n#include <windows.h>\n"},
      {"settings/registry-win32.cpp", "#include <windows.h>\n"},
      {"console/form.cpp", "#include \"handhelds/cleanup.h\"\n#include <QWidget>\n"},
      {"console/qt/window.cpp", "#include <QWidget>\n#include \"console/form.h\"\n"},
      {"tools/oa-store/main.cpp", "#include \"settings/config.h\"\n"},
      {"console/main.cpp", "#include <QApplication>\n#include \"console/qt/window.h\"\n"},
      {"console/nowindow/run.cpp",
       "#include \"console/form.h\"\n#include \"console/qt/window.h\"\n"},
  };
  for (const auto& [path, text] : files) {
    fs::create_directories((root / path).parent_path());
    std::ofstream(root / path) << text;
  }
  auto found = Violations(root);
  fs::remove_all(root);
  std::sort(found.begin(), found.end());
  EXPECT_EQ(found, (std::vector<std::string>{
                       "base/variant.h:2: includes mailbox/model/rdo.h",
                       "console/form.cpp:2: includes <QWidget>",
                       "console/nowindow/run.cpp:2: includes console/qt/window.h",
                       "handhelds/cleanup.cpp:2: includes mailbox/store/session.h",
                       "mailbox/agent.cpp:2: includes console/form.h",
                       "mailbox/store/session.cpp:2: includes mailbox/ews/client.h",
                       "settings/config.h:1: includes mailbox/model/rdo.h",
                       "settings/config.h:2: includes <windows.h>",
                   }));
}

}  // namespace
