#include "FileWrites.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

namespace corvane::tools {

int FileCalls::Open(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }
ssize_t FileCalls::Write(int fd, const void* data, std::size_t size) {
    return ::write(fd, data, size);
}
int FileCalls::Sync(int fd) { return ::fsync(fd); }
int FileCalls::Close(int fd) { return ::close(fd); }
int FileCalls::Rename(const char* from, const char* to) { return ::rename(from, to); }

FileCalls& SystemFileCalls() {
    static FileCalls calls;
    return calls;
}

namespace {

bool Failed(const std::string& what, const std::string& path, int error, std::string* message) {
    *message = "cannot " + what + " \"" + path + "\": " + std::strerror(error);
    return false;
}

}  // namespace

bool WriteFileChecked(const std::string& path, const void* data, std::size_t size,
                      std::string* error, FileCalls& calls) {
    const int fd = calls.Open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return Failed("create", path, errno, error);
    const char* next = static_cast<const char*>(data);
    std::size_t left = size;
    int problem = 0;
    const char* what = "write";
    while (left > 0) {
        const ssize_t written = calls.Write(fd, next, left);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            problem = written < 0 ? errno : ENOSPC;  // no progress: the disk is full
            break;
        }
        next += written;
        left -= static_cast<std::size_t>(written);
    }
    if (problem == 0 && calls.Sync(fd) != 0) {
        problem = errno;
        what = "write (at fsync)";
    }
    // close is not retried after EINTR: on Linux the descriptor is gone.
    if (calls.Close(fd) != 0 && problem == 0 && errno != EINTR) {
        problem = errno;
        what = "write (at close)";
    }
    if (problem == 0) return true;
    ::unlink(path.c_str());
    return Failed(what, path, problem, error);
}

bool WriteFileChecked(const std::string& path, const std::string& text, std::string* error,
                      FileCalls& calls) {
    return WriteFileChecked(path, text.data(), text.size(), error, calls);
}

bool ReplaceFileChecked(const std::string& path, const std::string& text, std::string* error,
                        FileCalls& calls) {
    const std::string temporary = path + ".partial-" + std::to_string(static_cast<long>(getpid()));
    if (!WriteFileChecked(temporary, text, error, calls)) {
        // The message names the file the user asked for.
        const std::size_t at = error->find(temporary);
        if (at != std::string::npos) error->replace(at, temporary.size(), path);
        return false;
    }
    if (calls.Rename(temporary.c_str(), path.c_str()) != 0) {
        const int problem = errno;
        ::unlink(temporary.c_str());
        return Failed("write", path, problem, error);
    }
    return true;
}

bool SyncFolder(const std::string& path, std::string* error, FileCalls& calls) {
    const int fd = calls.Open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    if (fd < 0) return Failed("open the folder", path, errno, error);
    int problem = calls.Sync(fd) != 0 ? errno : 0;
    // Some filesystems cannot sync a folder at all; that is no failure.
    if (problem == EINVAL || problem == EROFS) problem = 0;
    calls.Close(fd);
    if (problem == 0) return true;
    return Failed("sync the folder", path, problem, error);
}

}  // namespace corvane::tools
