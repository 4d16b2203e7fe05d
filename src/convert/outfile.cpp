#include "convert/outfile.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <random>

#include "formats/text.h"

namespace convert {

namespace {

// The temporary files that exist now, for the signal handler to remove. A
// slot is filled and emptied only while the signals are held back, so the
// handler never sees one half written.
struct slot {
    int dir = -1;  // -1: free
    char name[32] = {};
};
slot slots[4];

constexpr int CAUGHT[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

extern "C" void removetemps(int sig)
{
    for (const slot& s : slots)
        if (s.dir >= 0)
            unlinkat(s.dir, s.name, 0);
    // The handler was reset to the default on entry: once it returns, the
    // signal ends the process as it would have without it.
    raise(sig);
}

void catchsignals()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    for (const int sig : CAUGHT) {
        struct sigaction was {};
        if (sigaction(sig, nullptr, &was) == 0 && was.sa_handler == SIG_IGN)
            continue;  // ignored by whoever started us (nohup): left so
        struct sigaction sa {};
        sa.sa_handler = removetemps;
        sigemptyset(&sa.sa_mask);
        for (const int other : CAUGHT)
            sigaddset(&sa.sa_mask, other);
        sa.sa_flags = SA_RESETHAND;
        sigaction(sig, &sa, nullptr);
    }
    // A file over the size limit is a failed write, reported, not a signal.
    std::signal(SIGXFSZ, SIG_IGN);
}

// The caught signals held back for as long as it lives.
struct held {
    sigset_t was{};
    held()
    {
        sigset_t set;
        sigemptyset(&set);
        for (const int sig : CAUGHT)
            sigaddset(&set, sig);
        sigprocmask(SIG_BLOCK, &set, &was);
    }
    held(const held&) = delete;
    held& operator=(const held&) = delete;
    ~held() { sigprocmask(SIG_SETMASK, &was, nullptr); }
};

bool writeall(int fd, std::string_view text)
{
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        text.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// Gives file f the owner and group of old where the process may: root
// may, an owner may give it to a group of its own. Whether both are old's.
bool sameowner(int f, const struct stat& old)
{
    if (fchown(f, old.st_uid, old.st_gid) == 0)
        return true;
    return fchown(f, static_cast<uid_t>(-1), old.st_gid) == 0 && old.st_uid == geteuid();
}

// Whether descriptor fd is open on the file that st describes.
bool openon(int fd, const struct stat& st)
{
    struct stat f {};
    return fstat(fd, &f) == 0 && f.st_dev == st.st_dev && f.st_ino == st.st_ino;
}

std::string readlinkof(const std::string& path, int& err)
{
    std::string target(256, '\0');
    for (;;) {
        const ssize_t n = readlink(path.c_str(), target.data(), target.size());
        if (n < 0) {
            err = errno;
            return {};
        }
        if (static_cast<std::size_t>(n) < target.size()) {
            target.resize(static_cast<std::size_t>(n));
            return target;
        }
        target.resize(target.size() * 2);
    }
}

}  // namespace

outfile::outfile(const std::string& name) : shown(name)
{
    struct stat st {};
    const bool found = ::stat(name.c_str(), &st) == 0;
    if (!found && errno != ENOENT)
        fail(errno);
    if (found && S_ISDIR(st.st_mode))
        fail(EISDIR);
    if (found && (!S_ISREG(st.st_mode) || openon(1, st) || openon(2, st))) {
        direct = true;
        exists = true;
        old = st;
        fd = openon(1, st) ? 1 : openon(2, st) ? 2 : -1;
        if (fd < 0 && faccessat(AT_FDCWD, name.c_str(), W_OK, AT_EACCESS) != 0)
            fail(errno);
        return;
    }

    // Links are followed to the file they lead to, existing or not.
    std::string path = name;
    for (int hops = 0;; ++hops) {
        struct stat ls {};
        if (lstat(path.c_str(), &ls) != 0) {
            if (errno != ENOENT)
                fail(errno);
            break;
        }
        if (!S_ISLNK(ls.st_mode))
            break;
        if (hops == 40)
            fail(ELOOP);
        int err = 0;
        std::string target = readlinkof(path, err);
        if (err != 0)
            fail(err);
        const std::size_t slash = path.rfind('/');
        if (!target.starts_with('/') && slash != std::string::npos)
            target = path.substr(0, slash + 1) + target;
        path = std::move(target);
    }
    if (path != name)
        through = path;
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    base = slash == std::string::npos ? path : path.substr(slash + 1);
    if (base.empty() || base == "." || base == "..")
        fail(EISDIR);
    dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0 || fstat(dir, &dirstat) != 0)
        fail(errno);
    // The temporary file needs the folder; the file, to be replaced, must be
    // one that '>' could write.
    if (faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0)
        fail(errno);
    exists = found;
    old = st;
    if (exists && faccessat(dir, base.c_str(), W_OK, AT_EACCESS) != 0)
        fail(errno);
    catchsignals();
}

outfile::~outfile()
{
    discard();
    if (dir >= 0)
        close(dir);
}

bool outfile::same(const outfile& other) const
{
    if (exists && other.exists)
        return old.st_dev == other.old.st_dev && old.st_ino == other.old.st_ino;
    return !exists && !other.exists && dirstat.st_dev == other.dirstat.st_dev &&
           dirstat.st_ino == other.dirstat.st_ino && base == other.base;
}

void outfile::write(std::string text)
{
    if (direct) {
        kept = std::move(text);
        return;
    }
    discard();
    int f = -1;
    {
        const held h;
        slot* s = nullptr;
        for (slot& free : slots)
            if (free.dir < 0 && s == nullptr)
                s = &free;
        if (s == nullptr)
            fail(EMFILE);
        // A short name of its own, so that a name that fits leaves room.
        std::random_device seed;
        std::mt19937 gen(seed());
        for (int attempt = 0; f < 0; ++attempt) {
            std::snprintf(s->name, sizeof s->name, ".vornconvert-%08x", static_cast<unsigned>(gen()));
            f = openat(dir, s->name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
            if (f < 0 && (errno != EEXIST || attempt == 100))
                fail(errno);
        }
        s->dir = dir;
        temp = static_cast<int>(s - slots);
    }
    // Written, owned and permitted as the file it replaces, on disk; the
    // owner and the bits are kept where the file system allows.
    bool ok = writeall(f, text);
    int err = errno;
    if (ok) {
        mode_t mode = old.st_mode & 07777;
        if (exists && !sameowner(f, old))
            mode &= 0777;  // no set-user-ID or set-group-ID bit for another owner
        if (!exists) {
            const mode_t mask = umask(0);
            umask(mask);
            mode = 0666 & ~mask;
        }
        fchmod(f, mode);  // where it fails, the file stays its owner's alone
        ok = fsync(f) == 0;
        err = errno;
    }
    if (close(f) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        discard();
        fail(err);
    }
}

void outfile::commit()
{
    if (!direct && temp < 0)
        fail(EBADF);  // nothing written
    if (direct) {
        const int f = fd >= 0 ? fd : open(shown.c_str(), O_WRONLY | O_CLOEXEC);
        if (f < 0)
            fail(errno);
        const bool ok = writeall(f, kept);
        const int err = errno;
        if (f != fd)
            close(f);
        if (!ok)
            fail(err);
        return;
    }
    int err = 0;
    {
        const held h;
        if (renameat(dir, slots[temp].name, dir, base.c_str()) == 0) {
            slots[temp].dir = -1;
            temp = -1;
        } else {
            err = errno;
        }
    }
    if (err != 0) {
        discard();
        fail(err);
    }
    fsync(dir);  // the new name on disk too, where the file system can
}

void outfile::fail(int err) const
{
    std::string what = "cannot write " + formats::quote(shown);
    if (!through.empty())
        what += " (a link to " + formats::quote(through) + ")";
    throw fileerror{what + ": " + std::strerror(err)};
}

void outfile::discard()
{
    if (temp < 0)
        return;
    const held h;
    unlinkat(slots[temp].dir, slots[temp].name, 0);
    slots[temp].dir = -1;
    temp = -1;
}

}  // namespace convert
