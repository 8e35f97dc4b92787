// cgi_cfg_auth.cpp - maps the authenticated user name to its access level
// through the user table of the configuration segment, and the refusal page
// for users below a required level.
#include "cgi_cfg_access.h"
#include "cgi_request.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

namespace {

// Kept: only the first 12 bytes of a name count, because the user table
// stores names in 12-byte space- or NUL-padded fields.
constexpr int kNameWidth = 12;
constexpr int kNotFound = -1;

// The given name, NUL-padded to at least the compared width and normalised
// like a stored name, in memory of its own (the caller's text is never
// modified); null when that memory cannot be had.
std::unique_ptr<char[]> normalised_copy(const char* givenUser) noexcept
{
    const std::size_t len = std::strlen(givenUser);
    std::unique_ptr<char[]> copy(
        new (std::nothrow) char[std::max<std::size_t>(len, kNameWidth) + 1]());
    if (copy) {
        std::memcpy(copy.get(), givenUser, len);
        nullPadding(copy.get(), kNameWidth);
    }
    return copy;
}

// Returns the access level of the first enabled record whose normalised name
// equals `name` (already normalised), or kNotFound. One lock hold per record.
int find_level(void* p_shm, int sem_id, const char* name)
{
    for (int i = 0; i < CFG_MAX_USERS; ++i) {
        user_setting user;
        rw_user_setting(0, p_shm, sem_id, &user, i);
        if (user.enable != 1)
            continue;
        nullPadding(user.username, kNameWidth);
        if (std::strncmp(name, user.username, kNameWidth) == 0)
            return user.access_level;
    }
    return kNotFound;
}

}  // namespace

extern "C" int getUserLevel(void* p_shm, int sem_id, char* givenUser) noexcept
{
    const std::unique_ptr<char[]> name = normalised_copy(givenUser);
    return name ? find_level(p_shm, sem_id, name.get()) : kNotFound;
}

extern "C" int checkPrivilige(void* p_shm, int sem_id, char* givenUser, int givenLevel) noexcept
{
    const std::unique_ptr<char[]> name = normalised_copy(givenUser);
    if (!name)  // no memory to compare with: refuse rather than admit
        return blockRequest(givenUser);
    const int level = find_level(p_shm, sem_id, name.get());
    if (level != kNotFound && level <= givenLevel)
        return 0;
    return blockRequest(name.get());
}

extern "C" int blockRequest(char* p_user) noexcept
{
    cgiHeaderContentType("text/html");
    // Kept: the name goes into the script unescaped, as the fixed refusal page
    // has it; the names here are those the web server authenticated.
    std::fprintf(cgiOut,
                 "<html><body><script lang=javascript>alert(\"User %s is not authorized to access "
                 "this page.\"); top.location=\"/index.html\"; </script></body></html>",
                 p_user);
    return -1;
}
