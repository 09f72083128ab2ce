// Reading a file with the rights of the user a program runs for.  pigpio needs
// root, so the senders run under sudo or set-user-ID root for users who may not have
// root's rights otherwise: a file such a user names is read with that user's rights,
// and root's are taken back only after it has been closed, so a link to a file the
// user may not read is not read.  beamfile and beam share this one home of it.
//
// Header-only: each program includes it once.
#ifndef BEAM_AS_USER_H
#define BEAM_AS_USER_H

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <unistd.h>

namespace asUser {

// Opens a file for reading as fopen(path, "r") does, except that opening a FIFO
// does not wait for a writer to appear: with none, reading it finds the end at
// once.  Reads then block as fopen's would.  On failure errno says why.
inline std::FILE* openForReading(const char* path)
{
    const int fd = open(path, O_RDONLY | O_NONBLOCK);
    if (fd < 0) {
        return nullptr;
    }
    const int flags = fcntl(fd, F_GETFL);
    std::FILE* file =
        flags >= 0 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0 ? fdopen(fd, "r") : nullptr;
    if (file == nullptr) {
        const int why = errno;
        close(fd);
        errno = why;
    }
    return file;
}

// A user or group id as sudo writes it: decimal digits only, and not -1, which
// names no one.
inline bool parseId(const char* text, uint32_t& id)
{
    if (text == nullptr || *text == '\0') {
        return false;
    }
    uint64_t value = 0;
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9') {
            return false;
        }
        value = value * 10 + static_cast<uint64_t>(*c - '0');
        if (value >= UINT32_MAX) {
            return false;
        }
    }
    id = static_cast<uint32_t>(value);
    return true;
}

// Whose rights the message file is read with.
struct Reader {
    bool asUser = false;    // false: with the process's own, as any plain run
    bool sudo = false;      // the user sudo runs beamfile for, with that user's groups
    const char* refusal{};  // who the user is cannot be told: read nothing, say why
    const char* value = ""; // the variable's value that says so
    uid_t uid = 0;
    gid_t gid = 0;
};

// A set-user-ID (or set-group-ID) run reads as the user who ran it, with that
// user's own groups, which it keeps.  A run as root under sudo (SUDO_UID not 0)
// reads as the user sudo names, with the groups the group database gives that user.
// Any other run, a root's own or a user's own, reads with its own rights: a user
// who sets SUDO_UID cannot take anyone's rights, and gets no others.
inline Reader readerOf()
{
    Reader reader;
    if (getuid() != geteuid() || getgid() != getegid()) {
        reader.asUser = true;
        reader.uid = getuid();
        reader.gid = getgid();
        return reader;
    }
    const char* sudoUid = std::getenv("SUDO_UID");
    if (geteuid() != 0 || sudoUid == nullptr) {
        return reader;
    }
    uint32_t uid = 0;
    uint32_t gid = 0;
    if (!parseId(sudoUid, uid)) {
        reader.refusal = "SUDO_UID";
        reader.value = sudoUid;
        return reader;
    }
    if (uid == 0) {
        return reader; // root ran sudo: root's own rights
    }
    const char* sudoGid = std::getenv("SUDO_GID");
    if (!parseId(sudoGid, gid)) {
        reader.refusal = "SUDO_GID";
        reader.value = sudoGid != nullptr ? sudoGid : "(not set)";
        return reader;
    }
    reader.asUser = true;
    reader.sudo = true;
    reader.uid = uid;
    reader.gid = gid;
    return reader;
}

// The rights to take back after the read: the effective user and group, and the
// supplementary groups when they were changed.
struct Rights {
    uid_t uid = 0;
    gid_t gid = 0;
    int groupCount = -1; // -1: they were not changed
    std::array<gid_t, 256> groups{};
};

// Takes the reader's rights, the groups first, since changing them needs root's
// rights, the user last.  On failure returns the step that failed, errno set.
inline const char* takeRights(const Reader& reader, Rights& saved)
{
    saved.uid = geteuid();
    saved.gid = getegid();
    if (reader.sudo) {
        const int count = getgroups(static_cast<int>(saved.groups.size()), saved.groups.data());
        if (count < 0) {
            return "getgroups";
        }
        const passwd* user = getpwuid(reader.uid);
        // A user the database does not know has no groups but its own.
        if (user != nullptr ? initgroups(user->pw_name, reader.gid) != 0
                            : setgroups(0, nullptr) != 0) {
            return "initgroups";
        }
        saved.groupCount = count;
    }
    if (setegid(reader.gid) != 0) {
        return "setegid";
    }
    if (seteuid(reader.uid) != 0) {
        return "seteuid";
    }
    return nullptr;
}

// Back to the rights from before takeRights, the user first; the step that
// failed, errno set, or nullptr.
inline const char* giveBackRights(const Rights& saved)
{
    if (geteuid() != saved.uid && seteuid(saved.uid) != 0) {
        return "seteuid";
    }
    if (setegid(saved.gid) != 0) {
        return "setegid";
    }
    if (saved.groupCount >= 0 &&
        setgroups(static_cast<size_t>(saved.groupCount), saved.groups.data()) != 0) {
        return "setgroups";
    }
    return nullptr;
}

// What an attempt to read gave: the file was read (whatever it held), it was
// opened but not read to the end, or it could not be opened (errno says why).
enum class Read { done, unread, notOpened };

// Calls read() with the rights of the user the program runs for (readerOf), and
// the process's own rights back afterwards.  It is never read with root's rights in
// that user's place: when a switch fails, nothing is read.  Each failure to switch,
// and a file the user could not open, is one line on standard error naming the
// program and the path.
template <typename ReadFile>
Read readAsItsUser(const char* program, const char* path, ReadFile read)
{
    const Reader reader = readerOf();
    if (reader.refusal != nullptr) {
        (void)std::fprintf(stderr,
                           "%s: %s=%s names no one, so %s is not read: sudo sets it to the "
                           "id of the user it runs %s for\n",
                           program, reader.refusal, reader.value, path, program);
        return Read::notOpened;
    }
    if (!reader.asUser) {
        return read();
    }
    const char* forWhom = reader.sudo ? "for whom sudo runs" : "who ran this set-user-ID";
    Rights saved;
    const char* failed = takeRights(reader, saved);
    Read result = Read::notOpened;
    int why = errno;
    if (failed == nullptr) {
        result = read();
        why = errno;
    } else {
        (void)std::fprintf(stderr,
                           "%s: cannot take the rights of user %u (group %u), %s %s, to read "
                           "%s: %s: %s; it is not read with any other\n",
                           program, static_cast<unsigned>(reader.uid),
                           static_cast<unsigned>(reader.gid), forWhom, program, path, failed,
                           std::strerror(why));
    }
    const char* notBack = giveBackRights(saved);
    if (notBack != nullptr) {
        (void)std::fprintf(stderr,
                           "%s: cannot take back its own rights after reading %s as user "
                           "%u: %s: %s; nothing is sent\n",
                           program, path, static_cast<unsigned>(reader.uid), notBack,
                           std::strerror(errno));
        return Read::notOpened;
    }
    if (failed == nullptr && result == Read::notOpened) {
        (void)std::fprintf(stderr, "%s: %s was opened as user %u (group %u), %s %s: %s\n", program,
                           path, static_cast<unsigned>(reader.uid),
                           static_cast<unsigned>(reader.gid), forWhom, program, std::strerror(why));
    }
    return result;
}

} // namespace asUser

#endif
