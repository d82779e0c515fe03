#pragma once

#include <string>
#include <string_view>

// Whole reads and writes of the files a run keeps (its journal, the history), past short writes
// and interrupted calls. Each returns false with errno set when the system refused.
namespace TFileBytes {
bool WriteAll(int fd, std::string_view text);
// Appends the file's bytes from its start to text, whatever the descriptor's offset.
bool ReadAll(int fd, std::string& text);
// Syncs the directory that holds path, so that a file just created or renamed there is still
// there after the machine goes down.
bool SyncDirectoryOf(const std::string& path);
} // namespace TFileBytes
