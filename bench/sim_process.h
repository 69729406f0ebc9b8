#pragma once
// The simulated reader as a child process (talvor-sim), so that the CPU time
// of the benchmark's own process is the tool's side alone.

#include <string>
#include <sys/types.h>
#include <vector>

namespace bench {

class SimProcess {
public:
    SimProcess() = default;
    ~SimProcess() { Stop(); }
    SimProcess(const SimProcess &) = delete;
    SimProcess &operator=(const SimProcess &) = delete;

    // Starts program with arguments and waits for its readiness line (the
    // port name) on its standard output. False with ErrorText() otherwise.
    bool Start(const std::string &program, const std::vector<std::string> &arguments);
    // Asks it to end (SIGTERM, which removes its link) and reaps it.
    void Stop();
    const std::string &ErrorText() const { return error_; }

private:
    pid_t pid_ = -1;
    int output_ = -1;
    std::string error_;
};

// A private folder for links and files, removed with everything in it.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder &) = delete;
    TempFolder &operator=(const TempFolder &) = delete;
    bool Valid() const { return !path_.empty(); }
    const std::string &Path() const { return path_; }

private:
    std::string path_;
};

// CPU seconds (user and system) of the whole process, and of the calling thread.
double ProcessCpuSeconds();
double ThreadCpuSeconds();

// The simulator program built beside the benchmark, or the --sim option.
std::string SimProgram(int argc, char **argv);

}  // namespace bench
