// oa-store: creates, shows and dumps the store files of the embedded message store.
#include <CLI/CLI.hpp>
#include <cerrno>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "base/platform.h"
#include "mailbox/store/demo.h"
#include "mailbox/store/dump.h"
#include "mailbox/store/store_location.h"
#include "mailbox/store/tree.h"
#include "settings/config.h"

namespace {

using namespace oa::store;

// A STORE argument is a path, or a NAME kept as NAME.oastore in the store directory (as a
// logon's server text names it).
std::string StorePath(const std::string& arg, const std::string& storeDirectory, bool creating) {
  const StoreLocation loc = LocateStore(arg, storeDirectory);
  if (creating && !loc.isStore) {
    // Make the store directory on first use, private to its owner.
    std::string dir = storeDirectory;
    for (size_t pos = 1; pos != std::string::npos;) {
      pos = dir.find('/', pos + 1);
      oa::MakePrivateDirectory(dir.substr(0, pos));
    }
  }
  return loc.path;
}

int Failed(const std::string& what) {
  std::cerr << "oa-store: " << what << "\n";
  return 1;
}

int Import(const std::string& dumpFile, const std::string& store,
           const std::string& storeDirectory) {
  std::stringstream text;
  if (dumpFile == "-") {
    text << std::cin.rdbuf();
  } else {
    std::ifstream in(oa::PathFromUtf8(dumpFile), std::ios::binary);
    if (!in) return Failed(dumpFile + ": cannot be read");
    text << in.rdbuf();
  }
  std::string error;
  const std::string path = StorePath(store, storeDirectory, true);
  if (!ImportDump(text.str(), path, &error)) return Failed(dumpFile + ": " + error);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"oa-store: store files of the embedded message store"};
  app.require_subcommand(1);
  // "/tmp/x.oastore" is a path, never a Windows-style option.
  app.allow_windows_style_options(false);

  std::string dumpFile, store, mailbox;
  int maxMessages = kDefaultMaxMessages;

  CLI::App* imp = app.add_subcommand("import", "Create or replace STORE from a dump (atomically)");
  imp->add_option("DUMP", dumpFile, "Dump file (JSON), or - for standard input")->required();
  imp->add_option("STORE", store,
                  "Store file path, or NAME for NAME.oastore in the store "
                  "directory")
      ->required();

  CLI::App* exp = app.add_subcommand("export", "Write the dump of STORE to standard output");
  exp->add_option("STORE", store, "Store file path or NAME")->required();
  exp->add_option("--max-messages", maxMessages,
                  "Messages listed per folder (count is always the full number); -1 for all")
      ->capture_default_str();

  CLI::App* demo = app.add_subcommand("demo", "Create STORE as a ready demonstration server");
  demo->add_option("STORE", store, "Store file path or NAME")->required();

  CLI::App* tree =
      app.add_subcommand("tree", "Show the folder tree of STORE with item counts and entry IDs");
  tree->add_option("STORE", store, "Store file path or NAME")->required();
  tree->add_option("MAILBOX", mailbox, "Only this mailbox (alias or address)");

  const std::vector<std::string> args = oa::CommandLineArguments(argc, argv);
  std::vector<const char*> arg;
  for (const std::string& a : args) arg.push_back(a.c_str());
  try {
    app.parse(static_cast<int>(arg.size()), arg.data());
  } catch (const CLI::ParseError& e) {
    // Usage errors end with status 2, as oa-cleanup's do; --help with 0.
    return app.exit(e) == 0 ? 0 : 2;
  }

  // The store directory as oa-cleanup sees it: [store] directory, OA_STORE_DIR, the default.
  oa::settings::ConfigOptions options;
  options.readSecrets = false;
  const auto config = oa::settings::LoadConfig(options, oa::settings::ProcessEnvironment());
  if (!config.ok()) {
    for (const std::string& e : config.errors) std::cerr << "oa-store: " << e << "\n";
    return 2;
  }
  const std::string& storeDirectory = config.config.storeDirectory.value;

  std::string error;
  if (imp->parsed()) return Import(dumpFile, store, storeDirectory);
  if (exp->parsed()) {
    if (!ExportDump(StorePath(store, storeDirectory, false), std::cout, maxMessages, &error))
      return Failed(error);
    return 0;
  }
  if (demo->parsed()) {
    const std::string path = StorePath(store, storeDirectory, true);
    if (!ImportDump(DemoDump().dump(), path, &error)) return Failed(error);
    std::cout << "Demonstration server written to " << path << "\n";
    return 0;
  }
  if (!PrintTree(StorePath(store, storeDirectory, false), mailbox, std::cout, &error))
    return Failed(error);
  return 0;
}
