#include "app/platform/append_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace zelk::app::platform {
namespace {

class LinuxAppendFile final : public AppendFile {
  public:
    explicit LinuxAppendFile(int fd) : fd_(fd) {}
    ~LinuxAppendFile() override { close(fd_); }
    LinuxAppendFile(const LinuxAppendFile&) = delete;
    LinuxAppendFile& operator=(const LinuxAppendFile&) = delete;

    bool Append(std::string_view bytes) override {
        ssize_t written;
        do {
            // O_APPEND: the kernel puts the whole write at the end at once.
            written = write(fd_, bytes.data(), bytes.size());
        } while (written < 0 && errno == EINTR);
        if (written < 0) {
            return false;
        }
        if (static_cast<std::size_t>(written) != bytes.size()) {
            // Cut short (the disk or the file-size limit is full): end the
            // piece so that a reader's next line is whole again.
            if (written > 0 && bytes[static_cast<std::size_t>(written) - 1] != '\n') {
                [[maybe_unused]] const ssize_t ignored = write(fd_, "\n", 1);
            }
            return false;
        }
        int synced;
        do {
            synced = fdatasync(fd_);
        } while (synced != 0 && errno == EINTR);
        return synced == 0;
    }

  private:
    int fd_;
};

std::string Reason(int error) {
    return std::strerror(error);
}

std::string NotRegular(const std::string& path, const char* kind) {
    return "the log file " + path + " is not a regular file (it is " + kind + ")";
}

const char* KindOf(mode_t mode) {
    if (S_ISDIR(mode)) {
        return "a directory";
    }
    if (S_ISFIFO(mode)) {
        return "a FIFO";
    }
    if (S_ISCHR(mode) || S_ISBLK(mode)) {
        return "a device node";
    }
    if (S_ISSOCK(mode)) {
        return "a socket";
    }
    return "not a plain file";
}

}  // namespace

std::unique_ptr<AppendFile> OpenAppendFile(const std::string& path, std::string& error) {
    if (path.empty() || path.find('\0') != std::string::npos) {
        error = "the log file \"" + path + "\" is not a usable file name";
        return nullptr;
    }
    // O_NONBLOCK: opening a FIFO for writing must not wait for a reader (it
    // fails with ENXIO without one; with one it is refused just below).
    const int fd =
        open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0644);
    if (fd < 0) {
        const int code = errno;
        if (code == ENXIO) {
            error = NotRegular(path, "a FIFO without a reader, or a device that is not there");
        } else if (code == EISDIR) {
            error = NotRegular(path, "a directory");
        } else {
            error = "the log file " + path + " cannot be opened for appending: " + Reason(code);
        }
        return nullptr;
    }
    struct stat info {};
    if (fstat(fd, &info) != 0) {
        const int code = errno;
        close(fd);
        error = "the log file " + path + " cannot be opened for appending: " + Reason(code);
        return nullptr;
    }
    if (!S_ISREG(info.st_mode)) {
        close(fd);
        error = NotRegular(path, KindOf(info.st_mode));
        return nullptr;
    }
    // Writes to a regular file never wait anyway; plain blocking from here.
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        const int code = errno;
        close(fd);
        error = "the log file " + path + " cannot be opened for appending: " + Reason(code);
        return nullptr;
    }
    return std::make_unique<LinuxAppendFile>(fd);
}

}  // namespace zelk::app::platform
