#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "launcher/config/launcher_settings.h"

namespace orv {

std::string DefaultPlayerName() {
    long hint = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(hint > 0 ? static_cast<size_t>(hint) : 16384);
    struct passwd entry {};
    struct passwd* found = nullptr;
    if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_name &&
        *found->pw_name)
        return found->pw_name;
    if (const char* user = std::getenv("USER"); user && *user) return user;
    return "You Name";
}

}  // namespace orv
