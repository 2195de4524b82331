// The per-user temporary directory. Files the updater unpacks there are later
// run, so the directory must be one nobody else can plant anything in: owned by
// the user, mode 0700, and not a symlink someone left at the fixed name.

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "desktop/linux/native_path.h"
#include "desktop/platform.h"

namespace zelk::app::platform {
namespace {

std::string EnvironmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : std::string(value);
}

std::string WithoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

bool IsOwnDirectory(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == geteuid();
}

// $XDG_RUNTIME_DIR is private to the user already; a value inherited from
// another user's session (su) is passed over for the shared temp directory.
std::string ChooseDirectory() {
    const std::string runtime = WithoutTrailingSlashes(EnvironmentValue("XDG_RUNTIME_DIR"));
    if (!runtime.empty() && runtime.front() == '/' && IsOwnDirectory(runtime)) {
        return runtime + "/zelkupdate";
    }
    std::string base = WithoutTrailingSlashes(EnvironmentValue("TMPDIR"));
    if (base.empty() || base.front() != '/') {
        base = "/tmp";
    }
    if (base == "/") {
        base.clear();
    }
    return base + "/zelkupdate-" + std::to_string(geteuid());
}

bool IsPrivateDirectory(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == geteuid() &&
           (info.st_mode & (S_IRWXG | S_IRWXO)) == 0;
}

}  // namespace

std::u16string TempDirectory() {
    const std::string path = ChooseDirectory();
    if (mkdir(path.c_str(), S_IRWXU) != 0 && errno != EEXIST) {
        return {};
    }
    // Checked after creating too: whoever won a race to the name decides
    // what is there.
    if (!IsPrivateDirectory(path)) {
        return {};
    }
    return Utf8ToUtf16(path + "/");
}

}  // namespace zelk::app::platform
