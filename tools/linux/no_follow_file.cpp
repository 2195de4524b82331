#include "tools/linux/no_follow_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace zelk::tools {

bool WriteNewFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    const std::size_t slash = path.rfind('/');
    const std::string dir =
        slash == std::string::npos ? std::string(".") : (slash == 0 ? "/" : path.substr(0, slash));
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.empty() || name == "." || name == "..") {
        errno = EISDIR;
        return false;
    }
    const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0) {
        return false;
    }
    // Unlinking a planted link removes the link only; O_EXCL then refuses
    // whatever may have been put back at the name in between.
    if (::unlinkat(dirFd, name.c_str(), 0) != 0 && errno != ENOENT) {
        const int saved = errno;
        ::close(dirFd);
        errno = saved;
        return false;
    }
    const int fd =
        ::openat(dirFd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    const int openErrno = errno;
    ::close(dirFd);
    if (fd < 0) {
        errno = openErrno;
        return false;
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            const int saved = n < 0 ? errno : EIO;
            ::close(fd);
            errno = saved;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return ::close(fd) == 0;
}

}  // namespace zelk::tools
