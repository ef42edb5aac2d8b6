// The thread base and the unpack workers, driven the way the check run and the self-update window
// drive them: real ".lzma" files, a counting event pump, and a Stop-like wait from inside the pump.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <type_traits>

#include "gui_test_support.h"
#include "launcher/base/errors.h"
#include "launcher/base/events.h"
#include "launcher/base/thread_win.h"
#include "launcher/integrity/entry_rules.h"
#include "launcher/integrity/lzma_alone.h"
#include "launcher/integrity/unpack_workers_win.h"
#include "launcher/platform/long_path.h"
#include "launcher/platform/wide_win.h"
#include "support/test_files.h"

namespace orv {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::Exists;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

// ---- Thread base

class LambdaThread : public TThread {
public:
    LambdaThread(CreationKey key, std::function<void(LambdaThread&)> body, std::atomic<bool>* destroyed = nullptr)
        : TThread(key), body_(std::move(body)), destroyed_(destroyed) {}
    ~LambdaThread() override { if (destroyed_) destroyed_->store(true); }
    using TThread::Terminated;

protected:
    void Execute() override { body_(*this); }

private:
    std::function<void(LambdaThread&)> body_;
    std::atomic<bool>* destroyed_;
};

// Workers come from MakeThread alone: nobody else can make the key their constructors take.
static_assert(!std::is_default_constructible_v<TThread::CreationKey>);

void WaitEnded(TThread& thread) { ASSERT_EQ(::WaitForSingleObject(thread.Handle(), 10000), WAIT_OBJECT_0); }

TEST(ThreadTest, FatalErrorKeepsClassAndMessageAndIsEmptyAfterNormalEnd) {
    const auto osError = MakeThread<LambdaThread>([](LambdaThread&) { throw EOSError(5, "Access is denied."); });
    const auto plainError = MakeThread<LambdaThread>([](LambdaThread&) { throw Error("Error"); });
    const auto stdError = MakeThread<LambdaThread>([](LambdaThread&) { throw std::runtime_error("bad thing"); });
    const auto normal = MakeThread<LambdaThread>([](LambdaThread&) {});
    for (TThread* t : {static_cast<TThread*>(osError.get()), static_cast<TThread*>(plainError.get()),
                       static_cast<TThread*>(stdError.get()), static_cast<TThread*>(normal.get())}) {
        t->Start();
        t->WaitFor();
    }

    ASSERT_TRUE(osError->FatalError());
    EXPECT_EQ(osError->FatalError().ClassName, "EOSError");
    EXPECT_EQ(osError->FatalError().Message, "Access is denied.");
    try {
        std::rethrow_exception(osError->FatalError().Exception);
    } catch (const EOSError& e) {
        EXPECT_EQ(e.Code(), 5u);
    }
    ASSERT_TRUE(plainError->FatalError());
    EXPECT_EQ(plainError->FatalError().ClassName, "Exception");
    EXPECT_EQ(plainError->FatalError().Message, "Error");
    ASSERT_TRUE(stdError->FatalError());
    EXPECT_EQ(stdError->FatalError().ClassName, "std::runtime_error");
    EXPECT_EQ(stdError->FatalError().Message, "bad thing");
    EXPECT_TRUE(normal->Finished());
    EXPECT_FALSE(normal->FatalError());
    EXPECT_TRUE(normal->FatalError().Message.empty());
}

TEST(ThreadTest, FatalErrorIsEmptyWhileRunning) {
    ScopedHandle release(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    const auto thread = MakeThread<LambdaThread>([&](LambdaThread&) {
        ::WaitForSingleObject(release.Get(), 10000);
        throw Error("late");
    });
    thread->Start();
    EXPECT_FALSE(thread->Finished());
    EXPECT_FALSE(thread->FatalError());
    ::SetEvent(release.Get());
    thread->WaitFor();
    EXPECT_EQ(thread->FatalError().Message, "late");
}

TEST(ThreadTest, ExecuteSeesTerminateAndWaitForReturns) {
    std::atomic<bool> sawTerminate{false};
    std::atomic<bool> entered{false};
    const auto thread = MakeThread<LambdaThread>([&](LambdaThread& self) {
        entered = true;
        const auto deadline = Clock::now() + 10s;
        while (!self.Terminated() && Clock::now() < deadline) ::Sleep(1);
        sawTerminate = self.Terminated();
    });
    EXPECT_FALSE(thread->Terminated());
    thread->Start();
    // On a loaded machine the thread may take a while to be scheduled: wait until it runs.
    ASSERT_TRUE(test::PumpUntil([&] { return entered.load(); }, 10s));
    EXPECT_FALSE(thread->Finished());
    thread->Terminate();
    thread->WaitFor();
    EXPECT_TRUE(sawTerminate);
    EXPECT_EQ(::WaitForSingleObject(thread->Handle(), 0), WAIT_OBJECT_0);
    thread->WaitFor();  // again, on an ended thread: returns at once
}

TEST(ThreadTest, DestroyingRunningThreadWaitsForExecute) {
    std::atomic<bool> executeDone{false};
    std::atomic<bool> entered{false};
    auto thread = MakeThread<LambdaThread>([&](LambdaThread& self) {
        entered = true;
        // Still running when the destruction begins (it asks the thread to end first), so the
        // destructor has something to wait for.
        const auto deadline = Clock::now() + 10s;
        while (!self.Terminated() && Clock::now() < deadline) ::Sleep(1);
        executeDone = true;
    });
    thread->Start();
    ASSERT_TRUE(test::PumpUntil([&] { return entered.load(); }, 10s));
    thread.reset();
    EXPECT_TRUE(executeDone);
}

TEST(ThreadTest, NeverStartedThreadEndsWithoutExecute) {
    std::atomic<bool> ran{false};
    {
        const auto thread = MakeThread<LambdaThread>([&](LambdaThread&) { ran = true; });
        const auto start = Clock::now();
        thread->WaitFor();  // nothing to wait for: must not hang
        EXPECT_LT(Clock::now() - start, 1s);
    }
    EXPECT_FALSE(ran);
}

TEST(ThreadTest, StartTwiceAndWaitForOnItselfRaise) {
    const auto thread = MakeThread<LambdaThread>([](LambdaThread& self) { self.WaitFor(); });
    thread->Start();
    EXPECT_THROW(thread->Start(), Error);
    thread->WaitFor();
    ASSERT_TRUE(thread->FatalError());
    EXPECT_EQ(thread->FatalError().ClassName, "Exception");
}

TEST(ThreadTest, FreeOnTerminateDeletesTheObjectAfterExecute) {
    std::atomic<bool> ran{false};
    std::atomic<bool> destroyed{false};
    LambdaThread* thread = MakeThread<LambdaThread>([&](LambdaThread&) { ran = true; }, &destroyed).release();
    thread->SetFreeOnTerminate(true);
    thread->Start();  // the object is no longer ours from here on
    test::PumpUntil([&] { return destroyed.load(); }, 10s);
    EXPECT_TRUE(ran);
    EXPECT_TRUE(destroyed);
}

TEST(ThreadTest, FreeOnTerminateThreadNeverStartedIsFreedOnceByItsOwner) {
    std::atomic<bool> ran{false};
    std::atomic<bool> destroyed{false};
    auto thread = MakeThread<LambdaThread>([&](LambdaThread&) { ran = true; }, &destroyed);
    thread->SetFreeOnTerminate(true);
    thread.reset();  // a double free here would crash or be reported by the heap
    EXPECT_TRUE(destroyed);
    EXPECT_FALSE(ran);
}

// ---- Unpack workers

std::atomic<int> g_pumps{0};
void CountingPump() { ++g_pumps; }

// What the test's Stop handler does inside the pump, and what it saw.
struct StopProbe {
    TThread** current = nullptr;
    int stopAtPump = 0;
    bool stopping = false;
    int stops = 0;
    bool workerRunningAtStop = false;
    bool workerEndedAfterWait = false;
    bool pointerStillSetAfterWait = false;
    int pumpsDuringStop = 0;
};
StopProbe g_stop;

void StopPump() {
    ++g_pumps;
    if (g_stop.stopping) {
        ++g_stop.pumpsDuringStop;  // the Stop button is disabled: a nested pump does not stop again
        return;
    }
    if (g_pumps != g_stop.stopAtPump || !*g_stop.current) return;
    g_stop.stopping = true;
    ++g_stop.stops;
    g_stop.workerRunningAtStop = !(*g_stop.current)->Finished();
    WaitForRunningWorker(g_stop.current);
    g_stop.pointerStillSetAfterWait = *g_stop.current != nullptr;
    g_stop.workerEndedAfterWait = *g_stop.current && (*g_stop.current)->Finished();
    g_stop.stopping = false;
}

class UnpackWorkersTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // One large file for the tests that need an unpack that takes a while: incompressible
        // data decodes slowest per byte, yet "e" still compresses it quickly.
        bigDir_ = new TempDir;
        bigPlain_ = new std::string(test::MakeData(3 << 20, 7, false));
        WriteFile(bigDir_->File("big.bin"), *bigPlain_);
        ASSERT_TRUE(TLZMAAlone().Main(bigDir_->File("big.bin"), bigDir_->File("big.bin.lzma"), "e"));
    }
    static void TearDownTestSuite() {
        delete bigDir_;
        delete bigPlain_;
    }

    void SetUp() override {
        previousInstance_ = LzmaAloneInstance;
        LzmaAloneInstance = &lzma_;
        g_pumps = 0;
        previousPump_ = SetEventPump(&CountingPump);
    }
    void TearDown() override {
        SetEventPump(previousPump_);
        LzmaAloneInstance = previousInstance_;
    }

    // Writes `plain` compressed to `lzmaPath`.
    void MakeLzma(const std::string& lzmaPath, const std::string& plain) {
        const std::string plainPath = dir_.File("plain.tmp");
        WriteFile(plainPath, plain);
        ASSERT_TRUE(lzma_.Main(plainPath, lzmaPath, "e"));
        ::DeleteFileW(Wide(plainPath).c_str());
    }
    // A fresh copy of the large compressed file (the driver deletes its input).
    std::string CopyBig(const std::string& name) {
        const std::string path = dir_.File(name);
        EXPECT_TRUE(::CopyFileW(Wide(bigDir_->File("big.bin.lzma")).c_str(), Wide(path).c_str(), FALSE));
        return path;
    }
    static WorkerFactory CheckFiles(const std::string& destFile) {
        return [destFile] { return MakeThread<TCheckFiles>(destFile); };
    }

    static inline TempDir* bigDir_ = nullptr;
    static inline std::string* bigPlain_ = nullptr;
    TLZMAAlone lzma_;
    TempDir dir_;
    TLZMAAlone* previousInstance_ = nullptr;
    EventPump previousPump_ = nullptr;
};

TEST_F(UnpackWorkersTest, CheckFilesUnpacksNextToItsInputAndTheInputIsDeleted) {
    const std::string plain = test::MakeData(200000, 1, true);
    const std::string input = dir_.File("hl2.dll.lzma");
    MakeLzma(input, plain);

    TThread* current = nullptr;
    const UnpackResult result = RunWorker(CheckFiles(input), input, &current);

    EXPECT_FALSE(result.Failed) << result.ErrorText;
    EXPECT_TRUE(result.ErrorText.empty());
    ASSERT_TRUE(Exists(dir_.File("hl2.dll")));
    EXPECT_EQ(ReadFile(dir_.File("hl2.dll")), plain);
    EXPECT_FALSE(Exists(input));
    EXPECT_EQ(current, nullptr);
    EXPECT_GE(g_pumps, 1);
}

TEST_F(UnpackWorkersTest, UnpackFileWritesTheChosenPath) {
    const std::string plain = test::MakeData(50000, 2, false);
    const std::string input = dir_.File("Orvanta.exe.lzma");
    const std::string output = dir_.File("Orvanta.exe.new");
    MakeLzma(input, plain);

    const UnpackResult result =
        RunWorker([&] { return MakeThread<TUnpackFile>(input, output); }, input);

    EXPECT_FALSE(result.Failed) << result.ErrorText;
    EXPECT_EQ(ReadFile(output), plain);
    EXPECT_FALSE(Exists(dir_.File("Orvanta.exe")));
    EXPECT_FALSE(Exists(input));
}

TEST_F(UnpackWorkersTest, DamagedInputEndsWithErrorAndLeavesPartialOutput) {
    const std::string plain = test::MakeData(300000, 3, false);
    const std::string input = dir_.File("maps.bsp.lzma");
    MakeLzma(input, plain);
    const std::string whole = ReadFile(input);
    WriteFile(input, whole.substr(0, whole.size() / 2));  // cut short

    TThread* current = nullptr;
    const UnpackResult result = RunWorker(CheckFiles(input), input, &current);

    EXPECT_TRUE(result.Failed);
    EXPECT_EQ(result.ErrorClass, "Exception");
    EXPECT_EQ(result.ErrorText, "Error");
    ASSERT_TRUE(Exists(dir_.File("maps.bsp")));
    EXPECT_LT(ReadFile(dir_.File("maps.bsp")).size(), plain.size());
    EXPECT_FALSE(Exists(input));
    EXPECT_EQ(current, nullptr);

    // Not an ".lzma" file at all: an error page saved in its place.
    const std::string page = dir_.File("page.txt.lzma");
    WriteFile(page, "<html><body>404 Not Found</body></html>");
    const UnpackResult pageResult = RunWorker(CheckFiles(page), page);
    EXPECT_TRUE(pageResult.Failed);
    EXPECT_FALSE(Exists(page));
}

TEST_F(UnpackWorkersTest, FileErrorsOfTheUnpackAreThePlatformsMessages) {
    const std::string missing = dir_.File("missing.vpk.lzma");
    const UnpackResult openResult = RunWorker(CheckFiles(missing), missing);
    EXPECT_TRUE(openResult.Failed);
    EXPECT_EQ(openResult.ErrorClass, "EOSError");
    EXPECT_EQ(openResult.ErrorText, PlatformErrorMessage(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(Exists(dir_.File("missing.vpk")));

    const std::string input = dir_.File("model.mdl.lzma");
    MakeLzma(input, "model");
    const std::string output = dir_.File("no-such-folder\\model.mdl");
    const UnpackResult createResult =
        RunWorker([&] { return MakeThread<TUnpackFile>(input, output); }, input);
    EXPECT_TRUE(createResult.Failed);
    EXPECT_EQ(createResult.ErrorClass, "EOSError");
    EXPECT_EQ(createResult.ErrorText, PlatformErrorMessage(ERROR_PATH_NOT_FOUND));
    EXPECT_FALSE(Exists(input));
}

TEST_F(UnpackWorkersTest, OutputLosesTheLastFiveCharactersWhateverTheyAre) {
    EXPECT_EQ(MakeThread<TCheckFiles>("")->OutputPath(), "");
    EXPECT_EQ(MakeThread<TCheckFiles>("a.lzm")->OutputPath(), "");
    EXPECT_EQ(MakeThread<TCheckFiles>("ab.lzma")->OutputPath(), "ab");
    EXPECT_EQ(MakeThread<TCheckFiles>("abcdefgh")->OutputPath(), "abc");
    // Characters, not bytes: cutting five bytes would split the last Cyrillic letter.
    EXPECT_EQ(MakeThread<TCheckFiles>("\xD0\xBA\xD0\xB0\xD1\x80\xD1\x82\xD0\xB0.bsp")->OutputPath(),
              "\xD0\xBA\xD0\xB0\xD1\x80\xD1\x82");

    const std::string plain = test::MakeData(1000, 4, true);
    const std::string input = dir_.File("abcdefgh");
    MakeLzma(input, plain);
    const UnpackResult result = RunWorker(CheckFiles(input), input);
    EXPECT_FALSE(result.Failed) << result.ErrorText;
    EXPECT_EQ(ReadFile(dir_.File("abc")), plain);
    EXPECT_FALSE(Exists(input));
}

TEST_F(UnpackWorkersTest, ShortDestFileGivesAnEmptyOutputAndAFileError) {
    // A five-character name that exists in the current folder, so that the open succeeds and the
    // empty output path is what fails.
    wchar_t previous[MAX_PATH];
    ASSERT_GT(::GetCurrentDirectoryW(MAX_PATH, previous), 0u);
    ASSERT_TRUE(::SetCurrentDirectoryW(Wide(dir_.Path()).c_str()));
    MakeLzma(dir_.File("x.lzm"), "data");

    const UnpackResult result = RunWorker(CheckFiles("x.lzm"), "x.lzm");
    ::SetCurrentDirectoryW(previous);

    EXPECT_TRUE(result.Failed);
    EXPECT_EQ(result.ErrorClass, "EOSError");
    EXPECT_NE(result.ErrorText, "Error");
    EXPECT_FALSE(result.ErrorText.empty());
    EXPECT_FALSE(Exists(dir_.File("x.lzm")));
}

TEST_F(UnpackWorkersTest, WorkerThatEndsAtOnceIsNoticedAfterOneWaitAndOnePump) {
    // Thread start-up can be slow on a loaded machine; one of a few runs must show the minimum.
    int best = 1 << 30;
    for (int attempt = 0; attempt < 5 && best != 1; ++attempt) {
        g_pumps = 0;
        const UnpackResult result = RunWorker([] { return MakeThread<LambdaThread>([](LambdaThread&) {}); }, "");
        EXPECT_FALSE(result.Failed);
        EXPECT_GE(g_pumps, 1);
        best = std::min(best, g_pumps.load());
    }
    EXPECT_EQ(best, 1);
}

TEST_F(UnpackWorkersTest, PumpRunsWhileALongUnpackIsInProgress) {
    const std::string input = CopyBig("pak01.vpk.lzma");
    TThread* current = nullptr;
    const UnpackResult result = RunWorker(CheckFiles(input), input, &current);
    EXPECT_FALSE(result.Failed) << result.ErrorText;
    EXPECT_GT(g_pumps, 1);
    EXPECT_TRUE(ReadFile(dir_.File("pak01.vpk")) == *bigPlain_);
    EXPECT_FALSE(Exists(input));
    EXPECT_EQ(current, nullptr);
}

TEST_F(UnpackWorkersTest, FreeingAnEndedWorkerReturnsAtOnce) {
    auto worker = MakeThread<TCheckFiles>(dir_.File("absent.lzma"));
    worker->Start();
    WaitEnded(*worker);
    EXPECT_TRUE(worker->FatalError());
    const auto start = Clock::now();
    worker->Terminate();
    worker->WaitFor();
    worker.reset();
    EXPECT_LT(Clock::now() - start, 100ms);
}

TEST_F(UnpackWorkersTest, StopWaitingInsideThePumpSeesTheWorkerEnd) {
    const std::string input = CopyBig("pak02.vpk.lzma");
    TThread* current = nullptr;
    g_stop = StopProbe{};
    g_stop.current = &current;
    g_stop.stopAtPump = 2;
    SetEventPump(&StopPump);

    const UnpackResult result = RunWorker(CheckFiles(input), input, &current);

    EXPECT_EQ(g_stop.stops, 1);
    EXPECT_TRUE(g_stop.workerRunningAtStop) << "the unpack ended before Stop; use a larger file";
    EXPECT_TRUE(g_stop.pointerStillSetAfterWait);
    EXPECT_TRUE(g_stop.workerEndedAfterWait);
    EXPECT_GE(g_stop.pumpsDuringStop, 1);
    EXPECT_FALSE(result.Failed) << result.ErrorText;
    EXPECT_EQ(current, nullptr);
    EXPECT_TRUE(ReadFile(dir_.File("pak02.vpk")) == *bigPlain_);
    EXPECT_FALSE(Exists(input));

    // Stop after the run: nothing is running, so the wait returns without pumping.
    const int pumps = g_pumps;
    WaitForRunningWorker(&current);
    EXPECT_EQ(g_pumps, pumps);
}

// What a pump saw of a reused worker: its thread, and whether a stop waiting inside the pump
// came back only after the job in hand had ended while the thread lived on.
struct ReusedProbe {
    TThread** current = nullptr;
    DWORD threadId = 0;
    bool stopAfterFirstPump = false;
    bool stopped = false;
    bool jobRunningAtStop = false;
    bool jobEndedAfterWait = false;
    bool threadAliveAfterWait = false;
};
ReusedProbe g_reused;

bool Signalled(HANDLE handle) { return ::WaitForSingleObject(handle, 0) == WAIT_OBJECT_0; }

void ReusedPump() {
    ++g_pumps;
    TThread* worker = *g_reused.current;
    if (!worker) return;
    g_reused.threadId = worker->ThreadID();
    if (!g_reused.stopAfterFirstPump || g_reused.stopped) return;
    g_reused.stopped = true;
    g_reused.jobRunningAtStop = !Signalled(worker->WorkEndedHandle());
    WaitForRunningWorker(g_reused.current);
    g_reused.jobEndedAfterWait = Signalled(worker->WorkEndedHandle());
    g_reused.threadAliveAfterWait = !worker->Finished();
}

TEST_F(UnpackWorkersTest, ReusedWorkerUnpacksAndReplacesOnOneThreadAndAStopWaitsForTheJobOnly) {
    TThread* current = nullptr;
    g_reused = ReusedProbe{};
    g_reused.current = &current;
    SetEventPump(&ReusedPump);
    ReusedUnpackWorker worker;

    g_reused.stopAfterFirstPump = true;
    const std::string big = CopyBig("pak03.vpk.lzma");
    const UnpackResult first = worker.Run(big, dir_.File("pak03.vpk"), &current);
    EXPECT_FALSE(first.Failed) << first.ErrorText;
    EXPECT_TRUE(g_reused.stopped);
    EXPECT_TRUE(g_reused.jobRunningAtStop) << "the unpack ended before Stop; use a larger file";
    EXPECT_TRUE(g_reused.jobEndedAfterWait);
    EXPECT_TRUE(g_reused.threadAliveAfterWait);
    EXPECT_TRUE(ReadFile(dir_.File("pak03.vpk")) == *bigPlain_);
    EXPECT_FALSE(Exists(big));
    EXPECT_EQ(current, nullptr);
    const DWORD thread = g_reused.threadId;
    ASSERT_NE(thread, 0u);

    // A damaged file fails with the decoder's error; the worker takes the next file all the same,
    // on the same thread.
    g_reused.stopAfterFirstPump = false;
    const std::string damaged = dir_.File("maps.bsp.lzma");
    WriteFile(damaged, "<html><body>404 Not Found</body></html>");
    const UnpackResult failed = worker.Run(damaged, dir_.File("maps.bsp"), &current);
    EXPECT_TRUE(failed.Failed);
    EXPECT_EQ(failed.ErrorText, "Error");
    EXPECT_FALSE(Exists(damaged));
    const std::string missing = dir_.File("missing.vpk.lzma");
    const UnpackResult openFailed = worker.Run(missing, dir_.File("missing.vpk"), &current);
    EXPECT_EQ(openFailed.ErrorClass, "EOSError");
    EXPECT_EQ(openFailed.ErrorText, PlatformErrorMessage(ERROR_FILE_NOT_FOUND));

    const std::string plain = test::MakeData(300000, 4, true);
    const std::string small = dir_.File("hl2.dll.lzma");
    MakeLzma(small, plain);
    g_reused.threadId = 0;
    const UnpackResult last = worker.Run(small, dir_.File("hl2.dll"), &current);
    EXPECT_FALSE(last.Failed) << last.ErrorText;
    EXPECT_EQ(ReadFile(dir_.File("hl2.dll")), plain);
    EXPECT_EQ(g_reused.threadId, thread);

    // Putting the unpacked file in place goes to the same thread; a refusal is the platform's.
    g_reused.threadId = 0;
    const UnpackResult replaced = worker.Replace(dir_.File("hl2.dll"), dir_.File("pak03.vpk"), &current);
    EXPECT_FALSE(replaced.Failed) << replaced.ErrorText;
    EXPECT_EQ(ReadFile(dir_.File("pak03.vpk")), plain);
    EXPECT_FALSE(Exists(dir_.File("hl2.dll")));
    EXPECT_EQ(g_reused.threadId, thread);
    const UnpackResult refused = worker.Replace(dir_.File("hl2.dll"), dir_.File("pak03.vpk"), &current);
    EXPECT_EQ(refused.ErrorClass, "EOSError");
    EXPECT_EQ(refused.ErrorText, PlatformErrorMessage(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(ReadFile(dir_.File("pak03.vpk")), plain);

    // Stop after the run: nothing is running, so the wait returns without pumping.
    const int pumps = g_pumps;
    WaitForRunningWorker(&current);
    EXPECT_EQ(g_pumps, pumps);
}

// A place of 250 characters: its temporary name beside it is past MAX_PATH. Unpacked and put in
// place in the extended-length form, as the check run hands its paths on.
TEST_F(UnpackWorkersTest, ReusedWorkerUnpacksAndReplacesPastThePlainPathLimit) {
    const std::string folder = dir_.File("deep");
    ASSERT_TRUE(::CreateDirectoryW(Wide(folder).c_str(), nullptr));
    ASSERT_LT(folder.size() + 20, size_t{250}) << "the temporary folder is too long for the case";
    const std::string place = folder + "\\" + std::string(250 - folder.size() - 1, 'p');
    const std::string download = DownloadTargetPath(place), temporary = UnpackTemporaryPath(place);
    ASSERT_GE(temporary.size(), size_t{MAX_PATH});
    const std::string plain = test::MakeData(50000, 5, true);
    MakeLzma(ExtendedLengthPath(download), plain);
    WriteFile(ExtendedLengthPath(place), "old");

    TThread* current = nullptr;
    ReusedUnpackWorker worker;
    const UnpackResult unpacked = worker.Run(ExtendedLengthPath(download), ExtendedLengthPath(temporary), &current);
    EXPECT_FALSE(unpacked.Failed) << unpacked.ErrorText;
    const UnpackResult replaced = worker.Replace(ExtendedLengthPath(temporary), ExtendedLengthPath(place), &current);
    EXPECT_FALSE(replaced.Failed) << replaced.ErrorText;
    EXPECT_EQ(ReadFile(ExtendedLengthPath(place)), plain);
    const auto present = [](const std::string& path) {
        return ::GetFileAttributesW(Wide(ExtendedLengthPath(path)).c_str()) != INVALID_FILE_ATTRIBUTES;
    };
    EXPECT_FALSE(present(temporary));
    EXPECT_FALSE(present(download)) << "the input is deleted after its unpack";
    EXPECT_TRUE(::DeleteFileW(Wide(ExtendedLengthPath(place)).c_str()));
}

TEST_F(UnpackWorkersTest, MissingUnpackerEndsTheWorkerInsteadOfCrashingIt) {
    const std::string input = dir_.File("sound.wav.lzma");
    MakeLzma(input, "sound");
    LzmaAloneInstance = nullptr;
    const UnpackResult result = RunWorker(CheckFiles(input), input);
    EXPECT_TRUE(result.Failed);
    EXPECT_FALSE(Exists(input));
}

TEST_F(UnpackWorkersTest, WorkerThatCannotBeCreatedIsAFailureAndTheInputIsStillDeleted) {
    const std::string input = dir_.File("materials.vtf.lzma");
    WriteFile(input, "x");
    TThread* current = nullptr;
    const UnpackResult result = RunWorker(
        []() -> std::unique_ptr<TThread> { throw EOSError(ERROR_NOT_ENOUGH_MEMORY, "Not enough memory."); }, input,
        &current);
    EXPECT_TRUE(result.Failed);
    EXPECT_EQ(result.ErrorClass, "EOSError");
    EXPECT_EQ(result.ErrorText, "Not enough memory.");
    EXPECT_FALSE(Exists(input));
    EXPECT_EQ(current, nullptr);
}

}  // namespace
}  // namespace orv
