// Named mutex on POSIX: a robust, process-shared, recursive pthread mutex in a
// shared memory object "/talvor-<name>". Robustness gives the "abandoned"
// behaviour: when the holder dies the next waiter gets it.

#include "core/line/named_mutex.h"

#include <atomic>
#include <climits>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// Set once the creator has initialised the mutex; a zero-filled object is not ready.
constexpr uint32_t kReadyMagic = 0x544C5631u;  // "TLV1"
// How long an opener waits for a creator that is still initialising.
constexpr auto kReadyWait = std::chrono::milliseconds(500);
constexpr const char *kNotALock = "the object there is not a finished lock of this tool";

struct Region {
    std::atomic<uint32_t> ready;
    uint32_t reserved;
    pthread_mutex_t mutex;
};
static_assert(std::atomic<uint32_t>::is_always_lock_free, "ready word must work across processes");

std::string ObjectName(const std::string &name)
{
    std::string object = "/talvor-";
    for (char c : name)
        object += (c == '/') ? '_' : c;
    return object;
}

bool InitMutex(pthread_mutex_t *mutex)
{
    pthread_mutexattr_t attr;
    if (pthread_mutexattr_init(&attr) != 0)
        return false;
    bool ok = pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED) == 0 &&
              pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST) == 0 &&
              pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE) == 0 &&
              pthread_mutex_init(mutex, &attr) == 0;
    pthread_mutexattr_destroy(&attr);
    return ok;
}

Region *MapRegion(int fd)
{
    void *p = mmap(nullptr, sizeof(Region), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    return p == MAP_FAILED ? nullptr : static_cast<Region *>(p);
}

// shm_open reports a directory in the object's place and an overlong name
// both as EINVAL; the user is told the real cause.
std::string OpenFailureText(int error, const std::string &object)
{
    if (error == EINVAL) {
        struct stat st {};
        if (object.size() >= NAME_MAX)
            error = ENAMETOOLONG;
        else if (stat(("/dev/shm" + object).c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            error = EISDIR;
    }
    return std::strerror(error);
}

// Creates the object if nobody has yet, else opens it and waits for its
// creator. On failure reason says why.
Region *CreateOrOpen(const std::string &object, std::string &reason)
{
    const auto deadline = std::chrono::steady_clock::now() + kReadyWait;
    const auto fail = [&reason](const std::string &why) -> Region * {
        reason = why;
        return nullptr;
    };
    for (;;) {
        int fd = shm_open(object.c_str(), O_RDWR | O_CREAT | O_EXCL, 0666);
        if (fd >= 0) {
            // umask may have narrowed the mode; root and user copies must share it.
            fchmod(fd, 0666);
            Region *region = nullptr;
            int error = 0;
            if (ftruncate(fd, sizeof(Region)) == 0)
                region = MapRegion(fd);
            if (region == nullptr)
                error = errno;
            close(fd);
            if (region == nullptr)
                return fail(std::strerror(error));
            if (!InitMutex(&region->mutex)) {
                munmap(region, sizeof(Region));
                return fail("the mutex in it could not be set up");
            }
            region->ready.store(kReadyMagic, std::memory_order_release);
            return region;
        }
        if (errno != EEXIST)
            return fail(OpenFailureText(errno, object));

        fd = shm_open(object.c_str(), O_RDWR, 0);
        if (fd < 0) {
            // Removed between the two opens (by hand): try to create it again.
            if (errno == ENOENT && std::chrono::steady_clock::now() < deadline)
                continue;
            return fail(OpenFailureText(errno, object));
        }
        // Until the creator has sized it, mapping and touching it would fault.
        struct stat st {};
        while (fstat(fd, &st) == 0 && st.st_size < static_cast<off_t>(sizeof(Region)) &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        Region *region = nullptr;
        int error = 0;
        if (st.st_size >= static_cast<off_t>(sizeof(Region))) {
            region = MapRegion(fd);
            error = errno;
        }
        close(fd);
        if (st.st_size < static_cast<off_t>(sizeof(Region)))
            return fail(kNotALock);
        if (region == nullptr)
            return fail(std::strerror(error));
        while (region->ready.load(std::memory_order_acquire) != kReadyMagic) {
            if (std::chrono::steady_clock::now() >= deadline) {
                munmap(region, sizeof(Region));
                return fail(kNotALock);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return region;
    }
}

// A lock attempt with a limit, polled on the monotonic clock: setting the
// wall clock neither stretches nor cuts it.
int TimedLock(pthread_mutex_t *mutex, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const int rc = pthread_mutex_trylock(mutex);
        if (rc != EBUSY)
            return rc;
        if (std::chrono::steady_clock::now() >= deadline)
            return ETIMEDOUT;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// One mapping per name per process: a thread's robust list records the address
// it locked through, so every object of the name must use the same address.
struct Mapping {
    std::string object;
    Region *region = nullptr;
    int users = 0;
    // Lock levels taken and not yet given back by threads of this process.
    std::atomic<long> held{0};
};

// Lock levels the calling thread holds, per mapped mutex: a release by a
// thread that holds none must not reach pthread_mutex_unlock at all (unlocking
// a mutex one does not own is undefined for the sanitizers, EPERM or not).
std::map<const void *, long> &ThreadLevels()
{
    thread_local std::map<const void *, long> levels;
    return levels;
}

std::mutex &RegistryLock()
{
    static std::mutex lock;
    return lock;
}

std::map<std::string, Mapping *> &Registry()
{
    static auto *registry = new std::map<std::string, Mapping *>;
    return *registry;
}

}  // namespace

struct NamedMutex::Shared : Mapping {};

NamedMutex::NamedMutex(const std::string &name)
{
    open(name);
}

NamedMutex::~NamedMutex()
{
    close();
}

bool NamedMutex::open(const std::string &name)
{
    close();
    name_ = name;
    failure_.clear();
    const std::string object = ObjectName(name);
    std::lock_guard<std::mutex> guard(RegistryLock());
    auto &registry = Registry();
    auto it = registry.find(object);
    if (it != registry.end()) {
        shared_ = static_cast<Shared *>(it->second);
        ++shared_->users;
        return true;
    }
    std::string reason;
    Region *region = CreateOrOpen(object, reason);
    if (region == nullptr) {
        failure_ = "The lock \"" + name + "\" (" + location() + ") cannot be created: " + reason;
        return false;
    }
    shared_ = new Shared;
    shared_->object = object;
    shared_->region = region;
    shared_->users = 1;
    registry[object] = shared_;
    return true;
}

void NamedMutex::close()
{
    if (shared_ == nullptr)
        return;
    std::lock_guard<std::mutex> guard(RegistryLock());
    if (--shared_->users == 0) {
        Registry().erase(shared_->object);
        // While a thread here still holds it, the kernel's robust list points into
        // the mapping; unmapping would stop the dead-owner hand-over, so keep it.
        if (shared_->held.load() <= 0)
            munmap(shared_->region, sizeof(Region));
        delete shared_;
    }
    shared_ = nullptr;
}

std::string NamedMutex::location() const
{
    return "/dev/shm" + ObjectName(name_);
}

bool NamedMutex::wait(int timeoutMs)
{
    if (shared_ == nullptr)
        return false;
    pthread_mutex_t *mutex = &shared_->region->mutex;
    int rc = timeoutMs < 0 ? pthread_mutex_lock(mutex) : TimedLock(mutex, timeoutMs);
    if (rc == EOWNERDEAD) {
        // The holder died: the mutex is ours, as an abandoned mutex would be.
        pthread_mutex_consistent(mutex);
        rc = 0;
    }
    if (rc != 0)
        return false;
    ++shared_->held;
    ++ThreadLevels()[shared_->region];
    return true;
}

void NamedMutex::release()
{
    if (shared_ == nullptr)
        return;
    // A thread that does not own it changes nothing.
    auto &levels = ThreadLevels();
    const auto it = levels.find(shared_->region);
    if (it == levels.end() || it->second <= 0)
        return;
    if (pthread_mutex_unlock(&shared_->region->mutex) != 0)
        return;
    --shared_->held;
    if (--it->second == 0)
        levels.erase(it);
}

std::string PortLockName(const std::string &prefix, const std::string &portName)
{
    std::string name = prefix + "-";
    for (char c : portName) {
        const bool kept = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                          c == '.' || c == '_' || c == '-';
        name += kept ? c : '_';
    }
    return name;
}

}  // namespace platform
