// Work measured in a child process of its own, so that the memory figure is that work's alone and
// a crash or an exhausted address space ends the child, not the test program.
#pragma once

#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstddef>
#include <fstream>
#include <string>
#include <type_traits>

#if defined(__SANITIZE_ADDRESS__)
#define ORVANTA_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ORVANTA_UNDER_ASAN 1
#endif
#endif

namespace orv::test {

// A value of /proc/self/status in bytes ("VmRSS", "VmHWM", "VmSize").
inline size_t StatusBytes(const std::string& key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(key + ":", 0) == 0) return std::stoull(line.substr(key.size() + 1)) * 1024;
    return 0;
}

template <class Result>
struct ChildRun {
    bool ended = false;         // the child returned its result (no crash, no signal)
    int status = 0;             // as waitpid gave it
    Result result{};
    size_t peakGrowth = 0;      // resident bytes above the child's start, at their highest
};

// Runs `work` (returning a trivially copyable Result) in a forked child. The child hands back the
// free memory it inherited and resets its peak resident size before the work; `addressLimit`, when not 0, caps the address space the work may add,
// so that an allocation the size of a hostile header's claim fails there instead of succeeding on
// untouched pages.
template <class Result, class Work>
ChildRun<Result> RunInChild(Work work, size_t addressLimit = 0) {
    static_assert(std::is_trivially_copyable_v<Result>);
    struct Message {
        Result result;
        size_t peakGrowth;
    };
    ChildRun<Result> run;
    int pipe[2];
    if (::pipe(pipe) != 0) return run;
    const pid_t child = ::fork();
    if (child < 0) return run;
    if (child == 0) {
        ::close(pipe[0]);
        // Free memory the parent's heap kept would be reused without new pages and hide the work's
        // growth: hand it back first.
        ::malloc_trim(0);
        const size_t before = StatusBytes("VmRSS");
        // "5" resets the peak to the present size (the fork copied the parent's peak).
        { std::ofstream("/proc/self/clear_refs") << "5"; }
        if (addressLimit != 0) {
            rlimit limit{};
            ::getrlimit(RLIMIT_AS, &limit);
            limit.rlim_cur = StatusBytes("VmSize") + addressLimit;
            ::setrlimit(RLIMIT_AS, &limit);
        }
        Message message{work(), 0};
        const size_t peak = StatusBytes("VmHWM");
        message.peakGrowth = peak > before ? peak - before : 0;
        [[maybe_unused]] const ssize_t written = ::write(pipe[1], &message, sizeof message);
        ::_exit(0);
    }
    ::close(pipe[1]);
    Message message{};
    const bool got = ::read(pipe[0], &message, sizeof message) == static_cast<ssize_t>(sizeof message);
    ::close(pipe[0]);
    ::waitpid(child, &run.status, 0);
    run.ended = got && WIFEXITED(run.status) && WEXITSTATUS(run.status) == 0;
    if (got) {
        run.result = message.result;
        run.peakGrowth = message.peakGrowth;
    }
    return run;
}

}  // namespace orv::test
