// beamfile: sends the code in "expected_message.txt", in the working directory,
// once as an NEC infrared frame on GPIO 24.
//
// The code is the start of the file's first line, at most 32 bytes, its line end
// included when it falls within them.  The exit status is 0 only when the frame
// was sent.
//
// pigpio needs root, so beamfile is run under sudo or installed set-user-ID root,
// for a user who may not have root's rights otherwise.  The message file is then
// read with that user's rights, and root's are taken back for pigpio only after it
// has been closed: a link to a file that user may not read is not read.
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

#include "transmitter.h"

namespace {

// Opens a file for reading as fopen(path, "r") does, except that opening a FIFO
// does not wait for a writer to appear: with none, reading it finds the end at
// once.  Reads then block as fopen's would.  On failure errno says why.
std::FILE* openForReading(const char* path)
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
bool parseId(const char* text, uint32_t& id)
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
Reader readerOf()
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
const char* takeRights(const Reader& reader, Rights& saved)
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
const char* giveBackRights(const Rights& saved)
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

enum class Message { line, none, notOpened };

// Reads at most code.size() - 1 bytes of the file's first line into code.
Message readMessage(const char* path, std::array<char, 33>& code)
{
    std::FILE* file = openForReading(path);
    if (file == nullptr) {
        return Message::notOpened;
    }
    const bool haveLine = std::fgets(code.data(), static_cast<int>(code.size()), file) != nullptr;
    (void)std::fclose(file); // opened for reading: a failed close loses nothing
    // An empty file, a file that cannot be read (a directory) or one that starts
    // with a NUL holds no code to send.
    return haveLine && code[0] != '\0' ? Message::line : Message::none;
}

// readMessage with the rights of the user beamfile runs for (readerOf), and the
// process's own rights back afterwards.  It is never read with root's rights in
// that user's place: when a switch fails, nothing is read.
Message readMessageAsItsUser(const char* path, std::array<char, 33>& code)
{
    const Reader reader = readerOf();
    if (reader.refusal != nullptr) {
        (void)std::fprintf(stderr,
                           "beamfile: %s=%s names no one, so %s is not read: sudo sets it to the "
                           "id of the user it runs beamfile for\n",
                           reader.refusal, reader.value, path);
        return Message::notOpened;
    }
    if (!reader.asUser) {
        return readMessage(path, code);
    }
    const char* forWhom =
        reader.sudo ? "for whom sudo runs beamfile" : "who ran this set-user-ID beamfile";
    Rights saved;
    const char* failed = takeRights(reader, saved);
    Message read = Message::notOpened;
    int why = errno;
    if (failed == nullptr) {
        read = readMessage(path, code);
        why = errno;
    } else {
        (void)std::fprintf(stderr,
                           "beamfile: cannot take the rights of user %u (group %u), %s, to read "
                           "%s: %s: %s; it is not read with any other\n",
                           static_cast<unsigned>(reader.uid), static_cast<unsigned>(reader.gid),
                           forWhom, path, failed, std::strerror(why));
    }
    const char* notBack = giveBackRights(saved);
    if (notBack != nullptr) {
        (void)std::fprintf(stderr,
                           "beamfile: cannot take back its own rights after reading %s as user "
                           "%u: %s: %s; nothing is sent\n",
                           path, static_cast<unsigned>(reader.uid), notBack, std::strerror(errno));
        return Message::notOpened;
    }
    if (failed == nullptr && read == Message::notOpened) {
        (void)std::fprintf(stderr, "beamfile: %s was opened as user %u (group %u), %s: %s\n", path,
                           static_cast<unsigned>(reader.uid), static_cast<unsigned>(reader.gid),
                           forWhom, std::strerror(why));
    }
    return read;
}

} // namespace

int main()
{
    constexpr const char* messageFile = "expected_message.txt";

    // 32 bytes of code and its terminating NUL.
    std::array<char, 33> code{};
    const Message read = readMessageAsItsUser(messageFile, code);
    if (read == Message::notOpened) {
        std::printf("Could not open file %s", messageFile);
        return 1;
    }
    if (read == Message::none) {
        std::printf("No code to send in %s\n", messageFile);
        return 1;
    }

    using namespace necFrame;
    const int32_t status =
        emitCode(gpioPin, carrierHz, dutyCycle, leadBurstUs, leadGapUs, oneBurstUs, zeroBurstUs,
                 oneGapUs, zeroGapUs, trailBurst, code.data());
    std::printf("IR message sent is %s\n\n", code.data());
    return status;
}
