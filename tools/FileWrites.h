// Writing a file so that no failure passes unnoticed: the bytes are written
// to their end with every write checked, flushed to the disk (fsync) and the
// file closed with its status checked, since some filesystems (network
// drives, a disk that fills) report a failed write only at fsync or close.
// A folder is synced too, so that the names of the files in it survive a
// power cut.
//
// The system calls go through FileCalls, so tests can put in a filesystem
// that fails where they want it to.
#pragma once

#include <cstddef>
#include <string>

#include <sys/types.h>

namespace corvane::tools {

// The system calls a file is written through; each returns what the system
// call returns and sets errno as it does.
class FileCalls {
public:
    virtual ~FileCalls() = default;
    virtual int Open(const char* path, int flags, mode_t mode);
    virtual ssize_t Write(int fd, const void* data, std::size_t size);
    virtual int Sync(int fd);
    virtual int Close(int fd);
    virtual int Rename(const char* from, const char* to);
};

// The system's own calls.
FileCalls& SystemFileCalls();

// Writes `size` bytes to `path` (created, or emptied when it exists), syncs
// and closes it. On any failure the file is removed and `error` names the
// file and the reason ("cannot write \"out/000007.png\": No space left on
// device").
bool WriteFileChecked(const std::string& path, const void* data, std::size_t size,
                      std::string* error, FileCalls& calls = SystemFileCalls());
bool WriteFileChecked(const std::string& path, const std::string& text, std::string* error,
                      FileCalls& calls = SystemFileCalls());

// Puts a file with `text` in place of `path` in one step: written in full to
// a sibling first, then renamed over `path`, so `path` holds either what it
// held before or the whole new text, never a part of it.
bool ReplaceFileChecked(const std::string& path, const std::string& text, std::string* error,
                        FileCalls& calls = SystemFileCalls());

// Syncs the folder `path` itself (the names in it).
bool SyncFolder(const std::string& path, std::string* error, FileCalls& calls = SystemFileCalls());

}  // namespace corvane::tools
