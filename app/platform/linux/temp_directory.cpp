// The per-user temporary directory. Files the updater unpacks there are later
// run, so the directory must be one nobody else can plant anything in: owned by
// the user, mode 0700, not a symlink someone left at the fixed name, and inside
// directories nobody else can rename entries of (so the checked directory
// cannot be swapped for another under the same name later).
//
// The rest of the program carries paths as UTF-16; a name whose bytes are not
// UTF-8 would be checked under one spelling and written under another, so
// such a name is never chosen.

#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/platform/linux/native_path.h"
#include "app/platform/platform.h"

namespace zelk::app::platform {
namespace {

// Other names tried in the shared directory when another account holds the
// user's usual one; the same every run, so the administrator's DeviceInfo.txt
// edits are found again.
constexpr int kSpareNames = 8;

std::string EnvironmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : std::string(value);
}

bool IsUtf8(const std::string& bytes) {
    return DecodeUtf8Strict(bytes).has_value();
}

// The directory with links resolved, when it and every directory above it
// can only be changed by root or this user: owned by one of them, and, when
// others may write, sticky (others can then not rename what they do not own).
std::string TrustedRealPath(const std::string& path) {
    char resolved[PATH_MAX];
    if (realpath(path.c_str(), resolved) == nullptr || !IsUtf8(resolved)) {
        return {};
    }
    std::string real = resolved;
    const uid_t self = geteuid();
    for (std::string part = real;;) {
        struct stat info {};
        if (lstat(part.empty() ? "/" : part.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) ||
            (info.st_uid != 0 && info.st_uid != self) ||
            ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (info.st_mode & S_ISVTX) == 0)) {
            return {};
        }
        if (part.empty()) {
            break;
        }
        part.resize(part.rfind('/'));
    }
    return real == "/" ? std::string() : real;
}

bool IsPrivateDirectory(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == geteuid() &&
           (info.st_mode & (S_IRWXG | S_IRWXO)) == 0;
}

// The private directory at path, made when missing; errno set when not.
bool MakePrivate(const std::string& path) {
    if (mkdir(path.c_str(), S_IRWXU) != 0 && errno != EEXIST) {
        return false;
    }
    // Checked after creating too: whoever won a race to the name decides
    // what is there.
    if (!IsPrivateDirectory(path)) {
        errno = EEXIST;
        return false;
    }
    return true;
}

void SayOnce(const std::string& text) {
    static bool said = false;
    if (!said) {
        said = true;
        std::fputs(text.c_str(), stderr);
    }
}

}  // namespace

std::u16string TempDirectory() {
    // $XDG_RUNTIME_DIR is private to the user already; a value inherited from
    // another user's session (su) is passed over for the shared temp directory.
    const std::string runtime = EnvironmentValue("XDG_RUNTIME_DIR");
    if (!runtime.empty() && runtime.front() == '/') {
        const std::string base = TrustedRealPath(runtime);
        if (!base.empty() && IsPrivateDirectory(base)) {
            // Only this user can have put anything at the name.
            const std::string path = base + "/zelkupdate";
            if (MakePrivate(path)) {
                return Utf8ToUtf16(path + "/");
            }
            SayOnce("cannot use the temporary directory " + path + ": " +
                    (errno == EEXIST ? std::string("something else is at that name")
                                     : std::strerror(errno)) +
                    "\n");
            return {};
        }
    }
    std::string requested = EnvironmentValue("TMPDIR");
    if (requested.empty() || requested.front() != '/') {
        requested = "/tmp";
    }
    std::string base = TrustedRealPath(requested);
    if (base.empty() && requested != "/tmp") {
        base = TrustedRealPath("/tmp");
    }
    if (base.empty()) {
        SayOnce("cannot use the temporary directory " + requested +
                ": it can be changed by another account, or its name is not UTF-8\n");
        return {};
    }
    const std::string name = base + "/zelkupdate-" + std::to_string(geteuid());
    int error = 0;
    for (int spare = 0; spare <= kSpareNames; ++spare) {
        const std::string path = spare == 0 ? name : name + "-" + std::to_string(spare);
        if (MakePrivate(path)) {
            return Utf8ToUtf16(path + "/");
        }
        error = errno;
        if (error != EEXIST) {
            break;  // full, read-only, refused, name too long: the same for every name
        }
    }
    SayOnce("cannot use the temporary directory " + name + ": " +
            (error == EEXIST ? std::string("another account holds it") : std::strerror(error)) +
            "\n");
    return {};
}

}  // namespace zelk::app::platform
