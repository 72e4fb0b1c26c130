// Replacing a store file whole: a new file is written beside the old one, made durable, and
// renamed over it, so that a reader sees the old file or the new one and never a mix.
#pragma once

#include <string>

namespace oa::store {

// A name beside `path` that no other import of this process or another one uses.
std::string TempPathBeside(const std::string& path);
// Removes what imports into `path` that were killed left beside it: TempPathBeside's files
// (and their journal, log and index files) whose process no longer runs. Only regular files
// of this user that match the pattern exactly are touched.
void RemoveStaleTempFiles(const std::string& path);
// Removes the file and the journal, log and index files SQLite keeps beside it.
void RemoveStoreFiles(const std::string& path);
// Removes only the log and index files beside `path`.
void RemoveLogFiles(const std::string& path);
// Flushes the file's contents to the disk.
void SyncFile(const std::string& path);
// Renames `from` over `to` and flushes the directory entry. Empty on success, else the reason.
std::string RenameOver(const std::string& from, const std::string& to);

}  // namespace oa::store
