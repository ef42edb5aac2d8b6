// The single-instance guard in this process: names are made unique per test run so that a
// launcher running on the same machine does not interfere.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "launcher/platform/scoped_win.h"
#include "launcher/platform/wide_win.h"
#include "launcher/single_instance_win.h"
#include "launcher/start_mode.h"

namespace orv {
namespace {

std::string UniqueGameCode(const char* tag) {
    static std::atomic<int> counter{0};
    return std::string("orvtest") + tag + std::to_string(::GetCurrentProcessId()) + "_" + std::to_string(counter++);
}

// Whether another thread can take the mutex right now.
bool FreeForAnotherThread(HANDLE mutex) {
    DWORD result = 0;
    std::thread other([&] {
        result = ::WaitForSingleObject(mutex, 0);
        if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) ::ReleaseMutex(mutex);
    });
    other.join();
    return result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
}

TEST(SingleInstance, SecondCreateWithTheSameNameFindsTheFirstAndHoldsNothing) {
    const std::string name = SingleInstanceMutexName(UniqueGameCode("a"));
    ScopedHandle first;
    ASSERT_EQ(CreateSingleInstanceMutex(name, first), InstanceLock::Acquired);
    ASSERT_TRUE(first);
    // Created owned: nobody else gets it while the launcher runs.
    EXPECT_FALSE(FreeForAnotherThread(first.Get()));

    ScopedHandle second;
    EXPECT_EQ(CreateSingleInstanceMutex(name, second), InstanceLock::AlreadyRunning);
    EXPECT_FALSE(second);
    EXPECT_FALSE(FreeForAnotherThread(first.Get()));

    // Once the first handle is closed the name is free again.
    first.Reset();
    ScopedHandle third;
    EXPECT_EQ(CreateSingleInstanceMutex(name, third), InstanceLock::Acquired);
}

TEST(SingleInstance, LaunchersOfDifferentGamesDoNotBlockEachOther) {
    ScopedHandle one, other;
    EXPECT_EQ(CreateSingleInstanceMutex(SingleInstanceMutexName(UniqueGameCode("b")), one), InstanceLock::Acquired);
    EXPECT_EQ(CreateSingleInstanceMutex(SingleInstanceMutexName(UniqueGameCode("c")), other), InstanceLock::Acquired);
    EXPECT_TRUE(one);
    EXPECT_TRUE(other);
}

TEST(SingleInstance, AnotherFailureLetsTheLauncherStartUnguarded) {
    // The name taken by an object of another kind: CreateMutexW fails with ERROR_INVALID_HANDLE.
    const std::string name = SingleInstanceMutexName(UniqueGameCode("d"));
    ScopedHandle squatter(::CreateEventW(nullptr, TRUE, FALSE, Wide(name).c_str()));
    ASSERT_TRUE(squatter);
    ScopedHandle mutex;
    DWORD error = 0;
    EXPECT_EQ(CreateSingleInstanceMutex(name, mutex, &error), InstanceLock::Unavailable);
    EXPECT_NE(error, static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_FALSE(mutex);

    EXPECT_TRUE(AcquireSingleInstance(name));
    EXPECT_FALSE(HoldsSingleInstance());
}

TEST(SingleInstance, ProcessWideGuardHoldsUntilReleasedForARestart) {
    const std::string name = SingleInstanceMutexName(UniqueGameCode("e"));
    ASSERT_TRUE(AcquireSingleInstance(name));
    EXPECT_TRUE(HoldsSingleInstance());
    ScopedHandle probe;
    EXPECT_EQ(CreateSingleInstanceMutex(name, probe), InstanceLock::AlreadyRunning);

    ReleaseSingleInstance();
    EXPECT_FALSE(HoldsSingleInstance());
    // The restarted launcher can take the name now.
    EXPECT_EQ(CreateSingleInstanceMutex(name, probe), InstanceLock::Acquired);
}

}  // namespace
}  // namespace orv
