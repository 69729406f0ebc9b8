// Named mutex on POSIX: a robust, process-shared, recursive pthread mutex in a
// shared memory object "/talvor-<name>". Robustness gives the "abandoned"
// behaviour: when the holder dies the next waiter gets it.

#include "platform/named_mutex.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <ctime>
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

// Creates the object if nobody has yet, else opens it and waits for its creator.
Region *CreateOrOpen(const std::string &object)
{
    const auto deadline = std::chrono::steady_clock::now() + kReadyWait;
    for (;;) {
        int fd = shm_open(object.c_str(), O_RDWR | O_CREAT | O_EXCL, 0666);
        if (fd >= 0) {
            // umask may have narrowed the mode; root and user copies must share it.
            fchmod(fd, 0666);
            Region *region = nullptr;
            if (ftruncate(fd, sizeof(Region)) == 0)
                region = MapRegion(fd);
            close(fd);
            if (region == nullptr || !InitMutex(&region->mutex)) {
                if (region != nullptr)
                    munmap(region, sizeof(Region));
                return nullptr;
            }
            region->ready.store(kReadyMagic, std::memory_order_release);
            return region;
        }
        if (errno != EEXIST)
            return nullptr;

        fd = shm_open(object.c_str(), O_RDWR, 0);
        if (fd < 0) {
            // Removed between the two opens (by hand): try to create it again.
            if (errno == ENOENT && std::chrono::steady_clock::now() < deadline)
                continue;
            return nullptr;
        }
        // Until the creator has sized it, mapping and touching it would fault.
        struct stat st {};
        while (fstat(fd, &st) == 0 && st.st_size < static_cast<off_t>(sizeof(Region)) &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        Region *region = nullptr;
        if (st.st_size >= static_cast<off_t>(sizeof(Region)))
            region = MapRegion(fd);
        close(fd);
        if (region == nullptr)
            return nullptr;
        while (region->ready.load(std::memory_order_acquire) != kReadyMagic) {
            if (std::chrono::steady_clock::now() >= deadline) {
                munmap(region, sizeof(Region));
                return nullptr;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return region;
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

NamedMutex::NamedMutex(const std::string &name) : name_(name)
{
    const std::string object = ObjectName(name);
    std::lock_guard<std::mutex> guard(RegistryLock());
    auto &registry = Registry();
    auto it = registry.find(object);
    if (it != registry.end()) {
        shared_ = static_cast<Shared *>(it->second);
        ++shared_->users;
        return;
    }
    Region *region = CreateOrOpen(object);
    if (region == nullptr)
        return;
    shared_ = new Shared;
    shared_->object = object;
    shared_->region = region;
    shared_->users = 1;
    registry[object] = shared_;
}

NamedMutex::~NamedMutex()
{
    if (shared_ == nullptr)
        return;
    std::lock_guard<std::mutex> guard(RegistryLock());
    if (--shared_->users > 0)
        return;
    Registry().erase(shared_->object);
    // While a thread here still holds it, the kernel's robust list points into
    // the mapping; unmapping would stop the dead-owner hand-over, so keep it.
    if (shared_->held.load() <= 0)
        munmap(shared_->region, sizeof(Region));
    delete shared_;
}

bool NamedMutex::wait(int timeoutMs)
{
    if (shared_ == nullptr)
        return false;
    pthread_mutex_t *mutex = &shared_->region->mutex;
    int rc;
    if (timeoutMs < 0) {
        rc = pthread_mutex_lock(mutex);
    } else if (timeoutMs == 0) {
        rc = pthread_mutex_trylock(mutex);
    } else {
        timespec until {};
        clock_gettime(CLOCK_REALTIME, &until);
        until.tv_sec += timeoutMs / 1000;
        until.tv_nsec += static_cast<long>(timeoutMs % 1000) * 1000000L;
        if (until.tv_nsec >= 1000000000L) {
            until.tv_sec += 1;
            until.tv_nsec -= 1000000000L;
        }
        rc = pthread_mutex_timedlock(mutex, &until);
    }
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

}  // namespace platform
