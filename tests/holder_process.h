#pragma once
// Another program holding a device open, as cat or ModemManager would: a
// child process under a name of its own with a plain descriptor on the device
// (no lock), kept until the test lets it go.

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

// In a forked child: closes every descriptor from 3 up but the ones kept, so
// the child holds nothing of the test's, as another program would not (an
// inherited pseudo-terminal master would make it that line's far end).
inline void CloseInheritedDescriptors(int keepA, int keepB)
{
    for (int fd = 3; fd < 1024; ++fd) {
        if (fd != keepA && fd != keepB)
            ::close(fd);
    }
}

class HolderProcess {
public:
    static constexpr const char *kName = "port-holder";

    explicit HolderProcess(const std::string &path)
    {
        int ready[2], go[2];
        if (::pipe(ready) != 0 || ::pipe(go) != 0)
            return;
        pid_ = ::fork();
        if (pid_ == 0) {
            CloseInheritedDescriptors(ready[1], go[0]);
            ::prctl(PR_SET_NAME, kName);
            const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
            const char report = fd >= 0 ? 'y' : 'n';
            (void)!::write(ready[1], &report, 1);
            char c;
            (void)!::read(go[0], &c, 1);
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(go[0]);
        go_ = go[1];
        char report = 0;
        holding_ = ::read(ready[0], &report, 1) == 1 && report == 'y';
        ::close(ready[0]);
    }
    ~HolderProcess() { LetGo(); }
    HolderProcess(const HolderProcess &) = delete;
    HolderProcess &operator=(const HolderProcess &) = delete;

    // True once the child has the device open (a handshake, not a guess).
    bool Holding() const { return holding_; }
    pid_t Pid() const { return pid_; }
    void LetGo()
    {
        if (go_ >= 0) {
            ::close(go_);
            go_ = -1;
        }
        if (pid_ > 0) {
            int status = 0;
            ::waitpid(pid_, &status, 0);
            pid_ = -1;
        }
        holding_ = false;
    }

private:
    pid_t pid_ = -1;
    int go_ = -1;
    bool holding_ = false;
};
