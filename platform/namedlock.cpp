#include "namedlock.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace platform {

namespace {

// flock() excludes other processes but not other threads of this one, and
// knows no owner; this keeps, per lock file, which thread of this process
// holds it and how often it took it.
struct TOwner {
    // The gate is held by the owning thread while Count > 0. It is a flag
    // under a mutex rather than a timed mutex, since it is released by a
    // different call than the one that took it and thread checkers follow
    // a condition variable better than a timed lock.
    std::mutex GateLock;
    std::condition_variable GateFreed;
    bool GateHeld = false;
    std::atomic<std::thread::id> Thread{};
    int Count = 0;
    int LockFd = -1; // the descriptor that carries the flock
};

// The hooks of one wait: Stop asked, Waiting called once in time.
class TWaitWatch {
public:
    TWaitWatch(const TLockWaitHooks& Hooks, std::chrono::steady_clock::time_point Start)
        : FHooks(Hooks), FWaitingAt(Start + std::chrono::milliseconds(Hooks.WaitingAfterMs))
    {
    }
    bool Active() const { return FHooks.Stop || FHooks.Waiting; }
    // True when the wait is to end; calls Waiting once its time has come.
    bool Stopped()
    {
        if (FHooks.Waiting && !FToldWaiting && std::chrono::steady_clock::now() >= FWaitingAt) {
            FToldWaiting = true;
            FHooks.Waiting();
        }
        return FHooks.Stop && FHooks.Stop->Asked();
    }

private:
    const TLockWaitHooks& FHooks;
    std::chrono::steady_clock::time_point FWaitingAt;
    bool FToldWaiting = false;
};

// How often a wait with hooks looks at them.
constexpr std::chrono::milliseconds HookInterval(5);

// The hooks are called with the gate's mutex free: they may take a while.
TLockWait TakeGate(TOwner& Owner, std::chrono::steady_clock::time_point Deadline, TWaitWatch& Watch)
{
    for (;;) {
        const auto now = std::chrono::steady_clock::now();
        const auto until = Watch.Active() ? std::min(Deadline, now + HookInterval) : Deadline;
        {
            std::unique_lock<std::mutex> guard(Owner.GateLock);
            if (Owner.GateFreed.wait_until(guard, until, [&] { return !Owner.GateHeld; })) {
                Owner.GateHeld = true;
                return TLockWait::Acquired;
            }
        }
        if (std::chrono::steady_clock::now() >= Deadline)
            return TLockWait::TimedOut;
        if (Watch.Stopped())
            return TLockWait::Stopped;
    }
}

void GiveGate(TOwner& Owner)
{
    {
        std::lock_guard<std::mutex> guard(Owner.GateLock);
        Owner.GateHeld = false;
    }
    Owner.GateFreed.notify_one();
}

std::mutex RegistryLock;
std::map<std::string, std::unique_ptr<TOwner>>* Registry = nullptr;

// A forked child is a new process: it holds none of its parent's locks.
// Its copies of the parent's descriptors must not count as holding.
void ForkPrepare() { RegistryLock.lock(); }
void ForkParent() { RegistryLock.unlock(); }
void ForkChild()
{
    // Every entry, not only held ones: a thread that was inside a wait
    // left the gate taken (and its mutex perhaps locked) and does not
    // exist here. The old entries are left behind rather than touched.
    if (Registry)
        for (auto& entry : *Registry) {
            if (entry.second->LockFd >= 0)
                close(entry.second->LockFd);
            (void)entry.second.release();
            entry.second = std::make_unique<TOwner>();
        }
    RegistryLock.unlock();
}

TOwner& OwnerOf(const std::string& Path)
{
    static std::once_flag atfork;
    std::call_once(atfork, [] { pthread_atfork(ForkPrepare, ForkParent, ForkChild); });
    std::lock_guard<std::mutex> guard(RegistryLock);
    if (!Registry)
        Registry = new std::map<std::string, std::unique_ptr<TOwner>>;
    auto& slot = (*Registry)[Path];
    if (!slot)
        slot = std::make_unique<TOwner>();
    return *slot;
}

std::string FileNameFor(const std::string& Name)
{
    std::string file;
    for (char c : Name)
        file += (c == '/' || c == '\0') ? '_' : c;
    return file + ".lock";
}

int OpenLockFile(const std::string& Path)
{
    // An existing file is opened without O_CREAT: a sticky folder may
    // refuse O_CREAT on a file that another user made. The second round
    // covers another process creating it in between.
    for (int round = 0; round < 2; ++round) {
        int fd = open(Path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0 || errno != ENOENT)
            return fd;
        fd = open(Path.c_str(), O_RDONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            fchmod(fd, 0666); // whatever the umask: other users open it too
            return fd;
        }
        if (errno != EEXIST)
            return -1;
    }
    return -1;
}

} // namespace

std::string NamedLockFolder()
{
    return "/tmp";
}

TNamedLock::TNamedLock(const std::string& Name, const std::string& Folder)
    : Path(Folder + "/" + FileNameFor(Name))
{
    Fd = OpenLockFile(Path);
}

TNamedLock::~TNamedLock()
{
    if (Fd >= 0)
        close(Fd);
}

TLockWait TNamedLock::Wait(uint32_t TimeoutMs, const TLockWaitHooks& Hooks)
{
    if (Fd < 0)
        return TLockWait::Failed;
    TOwner& owner = OwnerOf(Path);
    const auto me = std::this_thread::get_id();
    if (owner.Thread.load() == me) {
        ++owner.Count;
        return TLockWait::Acquired;
    }

    const auto start = std::chrono::steady_clock::now();
    const auto deadline = start + std::chrono::milliseconds(TimeoutMs);
    TWaitWatch watch(Hooks, start);
    if (const TLockWait gate = TakeGate(owner, deadline, watch); gate != TLockWait::Acquired)
        return gate;

    // A descriptor of our own, so that closing this handle while the lock
    // is held does not drop the flock. Opened afresh, not duplicated: the
    // flock belongs to the open file, and a forked child's copy of this
    // handle must not keep it alive once this process has ended.
    int lockFd = open(("/proc/self/fd/" + std::to_string(Fd)).c_str(), O_RDONLY | O_CLOEXEC);
    if (lockFd < 0)
        lockFd = open(Path.c_str(), O_RDONLY | O_CLOEXEC); // no /proc
    if (lockFd < 0) {
        GiveGate(owner);
        return TLockWait::Failed;
    }
    // Known from here on, so that a child forked during the wait closes
    // its copy.
    owner.LockFd = lockFd;
    for (;;) {
        if (flock(lockFd, LOCK_EX | LOCK_NB) == 0)
            break;
        if (errno != EWOULDBLOCK && errno != EINTR) {
            owner.LockFd = -1;
            close(lockFd);
            GiveGate(owner);
            return TLockWait::Failed;
        }
        // flock has no time-out of its own: poll until the deadline.
        const auto now = std::chrono::steady_clock::now();
        const bool stopped = now < deadline && watch.Stopped();
        if (now >= deadline || stopped) {
            owner.LockFd = -1;
            close(lockFd);
            GiveGate(owner);
            return stopped ? TLockWait::Stopped : TLockWait::TimedOut;
        }
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
            std::chrono::milliseconds(2), deadline - now));
    }
    owner.Count = 1;
    owner.Thread.store(me);
    return TLockWait::Acquired;
}

bool TNamedLock::Release()
{
    if (Fd < 0)
        return false;
    TOwner& owner = OwnerOf(Path);
    if (owner.Thread.load() != std::this_thread::get_id())
        return false;
    if (--owner.Count > 0)
        return true;
    owner.Thread.store(std::thread::id());
    flock(owner.LockFd, LOCK_UN);
    close(owner.LockFd);
    owner.LockFd = -1;
    GiveGate(owner);
    return true;
}

} // namespace platform
