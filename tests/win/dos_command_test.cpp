// The console runner under Wine with real children: the fake Steam console client (scripted
// output, exit codes, a child that never ends) and console_spawner (floods without a line break,
// leaves a grandchild holding the pipe). Every wait pumps the GUI thread until what is expected
// has happened.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "fake_records.h"
#include "gui_test_support.h"
#include "launcher/base/errors.h"
#include "launcher/console/dos_command_win.h"
#include "launcher/console/process_timer_win.h"
#include "launcher/platform/scoped_win.h"
#include "launcher/platform/wide_win.h"
#include "launcher/ui/gui_thread_win.h"
#include "support/test_files.h"

namespace orv {
namespace {

using test::kGuiWait;
using test::PumpUntil;

std::string CopyFake(const std::string& name, const test::TempDir& folder) {
    return test::CopyFakeTo(name, folder.File(name));
}

struct LineEvent {
    std::string text;
    TOutputType type;
};

// A runner with every event recorded, and the fake client in a folder of its own.
class DosCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::EnsureApplication();
        steamcmd_ = CopyFake("steamcmd.exe", folder_);
        dos_.OnNewLine = [this](TDosCommand& sender, const std::string& line, TOutputType type) {
            EXPECT_EQ(&sender, &dos_);
            events_.push_back({line, type});
        };
        dos_.OnTerminated = [this](TDosCommand&) { ++terminated_; };
        dos_.OnTerminateProcess = [this](TDosCommand&, bool& canTerminate) {
            EXPECT_TRUE(canTerminate);
            ++terminateAsked_;
            secondsAtKill_ = dos_.Timer()->SinceBeginning();
        };
    }

    // Runs the fake with `script` (through the environment the runner hands to the child).
    void RunScript(const std::string& script) {
        test::WriteFile(folder_.File("run.script"), script);
        dos_.Environment() = {"ORVANTA_FAKE_STEAMCMD_SCRIPT=" + folder_.File("run.script")};
        dos_.CommandLine = steamcmd_ + " +login anonymous +quit";
        dos_.Execute();
    }
    bool WaitForEnd() { return PumpUntil([&] { return terminated_ > 0; }, kGuiWait); }

    test::RecordedMessages boxes_;
    test::TempDir folder_;
    std::string steamcmd_;
    TDosCommand dos_;
    std::vector<LineEvent> events_;
    int terminated_ = 0;
    int terminateAsked_ = 0;
    int secondsAtKill_ = -1;
};

TEST_F(DosCommandTest, LinesEventsAndTheMirroredOutputLines) {
    std::vector<std::string> mirror{"kept from before"};
    dos_.OutputLines = &mirror;
    EXPECT_EQ(dos_.EndStatus(), TEndStatus::esNone);
    RunScript("crlf first\n"
              "err-lf to stderr\n"
              "cr 50%\n"
              "cr@300 60%\n"
              "none ab\n"
              "sleep 300\n"
              "lf c\\0d\n"
              "none tail\n"
              "exit 3\n");
    EXPECT_TRUE(dos_.IsRunning());
    EXPECT_EQ(dos_.EndStatus(), TEndStatus::esStill_Active);
    ASSERT_TRUE(WaitForEnd());

    const std::vector<std::string> lines{"first", "to stderr", "50%", "60%", "abcd", "tail"};
    EXPECT_EQ(dos_.Lines(), lines);
    std::vector<std::string> mirrored{"kept from before"};
    mirrored.insert(mirrored.end(), lines.begin(), lines.end());
    EXPECT_EQ(mirror, mirrored);
    EXPECT_EQ(dos_.EndStatus(), TEndStatus::esProcess);
    EXPECT_EQ(dos_.ExitCode(), 3u);
    EXPECT_EQ(terminated_, 1);
    EXPECT_EQ(terminateAsked_, 0);
    EXPECT_NE(dos_.ProcessInformation().dwProcessId, 0u);
    EXPECT_TRUE(boxes_.Seen().empty());

    std::vector<std::string> entire;
    bool sawBeginningAb = false;
    for (const LineEvent& e : events_) {
        if (e.type == TOutputType::otEntireLine) entire.push_back(e.text);
        if (e.type == TOutputType::otBeginningOfLine && e.text == "ab") sawBeginningAb = true;
    }
    EXPECT_EQ(entire, lines);
    EXPECT_TRUE(sawBeginningAb);
    ASSERT_FALSE(events_.empty());
    EXPECT_EQ(events_.back().text, "tail");
    EXPECT_EQ(events_.back().type, TOutputType::otEntireLine);

    // The run has ended but its worker remains until Stop.
    EXPECT_TRUE(dos_.IsRunning());
    dos_.Stop();
    EXPECT_FALSE(dos_.IsRunning());
    EXPECT_EQ(dos_.EndStatus(), TEndStatus::esProcess);
    EXPECT_EQ(terminated_, 1);
}

TEST_F(DosCommandTest, ACrAndItsLfInTwoReadsAreOneBreakAndTheFolderIsTheChilds) {
    dos_.CurrentDir = folder_.Path();
    RunScript("none a\\r\n"
              "sleep 300\n"
              "none \\nb\\n\n");
    ASSERT_TRUE(WaitForEnd());
    EXPECT_EQ(dos_.Lines(), (std::vector<std::string>{"a", "b"}));
    dos_.Stop();
    const auto records = test::ReadFakeRecords(folder_.File("steamcmd.log"));
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].Get("folder"), folder_.Path());
    EXPECT_EQ(records[0].Get("script"), folder_.File("run.script"));
}

TEST_F(DosCommandTest, OnNewCharSeesEveryCharacterIncludingNul) {
    std::u16string chars;
    dos_.OnNewChar = [&](TDosCommand&, char16_t ch) { chars += ch; };
    RunScript("lf a\\0b\n");
    ASSERT_TRUE(WaitForEnd());
    EXPECT_EQ(chars, std::u16string(u"a\0b\n", 4));
    EXPECT_EQ(dos_.Lines(), std::vector<std::string>{"ab"});
    dos_.Stop();
}

TEST_F(DosCommandTest, AnsiOutputIsDecodedInTheSystemCodePage) {
    // "Привет" in code page 1251; under another code page the same bytes as that page reads them.
    const std::string bytes = "\xCF\xF0\xE8\xE2\xE5\xF2";
    RunScript("crlf \\xCF\\xF0\\xE8\\xE2\\xE5\\xF2\n");
    ASSERT_TRUE(WaitForEnd());
    std::wstring expected(16, L'\0');
    expected.resize(static_cast<size_t>(
        ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), expected.data(), 16)));
    ASSERT_EQ(dos_.Lines().size(), 1u);
    EXPECT_EQ(dos_.Lines()[0], Narrow(expected));
    if (::GetACP() == 1251) {
        EXPECT_EQ(dos_.Lines()[0], "Привет");
    }
    dos_.Stop();
}

TEST_F(DosCommandTest, TimeLimitOfOneSecondKillsAtTheSecondTick) {
    dos_.MaxTimeAfterBeginning = 1;
    RunScript("crlf waiting\nhang\n");
    ASSERT_TRUE(WaitForEnd());
    EXPECT_EQ(dos_.EndStatus(), TEndStatus::esTime);
    EXPECT_EQ(terminateAsked_, 1);
    EXPECT_EQ(secondsAtKill_, 2);
    EXPECT_EQ(dos_.ExitCode(), 0u);  // TerminateProcess's code
    EXPECT_EQ(dos_.Lines(), std::vector<std::string>{"waiting"});
    dos_.Stop();
    EXPECT_EQ(dos_.EndStatus(), TEndStatus::esTime);
}

TEST_F(DosCommandTest, StopDuringARunKillsTheChildAndRunsTheLastEventsInside) {
    RunScript("crlf started\nnone half\nhang\n");
    ASSERT_TRUE(PumpUntil([&] { return !events_.empty() && events_.back().text == "half"; }, kGuiWait));
    const DWORD pid = dos_.ProcessInformation().dwProcessId;
    ASSERT_NE(pid, 0u);
    ScopedHandle child(::OpenProcess(SYNCHRONIZE, FALSE, pid));
    dos_.Stop();
    EXPECT_FALSE(dos_.IsRunning());
    EXPECT_EQ(dos_.EndStatus(), TEndStatus::esStop);
    EXPECT_EQ(terminateAsked_, 1);
    EXPECT_EQ(terminated_, 1);
    EXPECT_EQ(dos_.Lines(), (std::vector<std::string>{"started", "half"}));
    if (child) {
        EXPECT_EQ(::WaitForSingleObject(child.Get(), 5000), WAIT_OBJECT_0);
    }
}

// A window of the test's own that notes when a close reaches it, and runs `onAsk` when another
// thread sends it kAsk.
class NotingWindow {
public:
    static constexpr UINT kAsk = WM_APP + 40;

    NotingWindow() {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = &NotingWindow::Procedure;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.lpszClassName = L"Orvanta.Test.NotingWindow";
        ::RegisterClassExW(&wc);
        hwnd_ = ::CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
        ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    ~NotingWindow() { ::DestroyWindow(hwnd_); }
    NotingWindow(const NotingWindow&) = delete;
    NotingWindow& operator=(const NotingWindow&) = delete;

    HWND Handle() const { return hwnd_; }
    std::function<void()> onClose;
    std::function<void()> onAsk;

private:
    static LRESULT CALLBACK Procedure(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<NotingWindow*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (self && msg == WM_CLOSE) {
            if (self->onClose) self->onClose();
            return 0;
        }
        if (self && msg == kAsk) {
            if (self->onAsk) self->onAsk();
            return 0;
        }
        return ::DefWindowProcW(hwnd, msg, wParam, lParam);
    }
    HWND hwnd_ = nullptr;
};

TEST_F(DosCommandTest, OnlyTheWorkersCallsRunWhileStopWaits) {
    // A close and another worker's post that arrive while Stop waits stay queued until it returns:
    // a close handled inside would tear the window down under the Stop.
    NotingWindow window;
    ASSERT_NE(window.Handle(), nullptr);
    bool stopping = false;
    std::vector<std::string> handled;
    window.onClose = [&] { handled.push_back(stopping ? "close inside Stop" : "close"); };
    dos_.OnTerminateProcess = [&](TDosCommand&, bool&) {
        ++terminateAsked_;
        handled.push_back(stopping ? "kill question inside Stop" : "kill question");
        ::PostMessageW(window.Handle(), WM_CLOSE, 0, 0);
        PostToGuiThread([&] { handled.push_back(stopping ? "post inside Stop" : "post"); });
    };
    RunScript("crlf started\nnone half\nhang\n");
    ASSERT_TRUE(PumpUntil([&] { return !events_.empty() && events_.back().text == "half"; }, kGuiWait));
    stopping = true;
    dos_.Stop();
    stopping = false;
    EXPECT_FALSE(dos_.IsRunning());
    EXPECT_EQ(dos_.EndStatus(), TEndStatus::esStop);
    EXPECT_EQ(terminated_, 1);
    // The run's last line came inside Stop, as the worker's own call.
    ASSERT_FALSE(events_.empty());
    EXPECT_EQ(events_.back().text, "half");
    EXPECT_EQ(events_.back().type, TOutputType::otEntireLine);
    // Both come afterwards, in whichever order the message loop reaches them.
    ASSERT_TRUE(PumpUntil([&] { return handled.size() == 3; }, kGuiWait));
    EXPECT_EQ(handled[0], "kill question inside Stop");
    std::sort(handled.begin() + 1, handled.end());
    EXPECT_EQ(handled, (std::vector<std::string>{"kill question inside Stop", "close", "post"}));
}

TEST_F(DosCommandTest, AStopInsideALineEventThatStopRunsEndsTheRunOnce) {
    // The run's last line is delivered inside Stop; a Stop in its handler waits for the worker and
    // frees it, and the outer Stop finds the run over.
    RunScript("crlf started\nnone half\nhang\n");
    ASSERT_TRUE(PumpUntil([&] { return !events_.empty() && events_.back().text == "half"; }, kGuiWait));
    int nested = 0;
    bool runningAfterNested = true;
    dos_.OnNewLine = [&](TDosCommand& sender, const std::string& line, TOutputType type) {
        events_.push_back({line, type});
        if (type != TOutputType::otEntireLine || line != "half") return;
        ++nested;
        sender.Stop();
        runningAfterNested = sender.IsRunning();
    };
    dos_.Stop();
    EXPECT_EQ(nested, 1);
    EXPECT_FALSE(runningAfterNested);
    EXPECT_FALSE(dos_.IsRunning());
    EXPECT_EQ(dos_.EndStatus(), TEndStatus::esStop);
    EXPECT_EQ(terminateAsked_, 1);
    EXPECT_EQ(terminated_, 1);
    EXPECT_EQ(dos_.Lines(), (std::vector<std::string>{"started", "half"}));

    // The runner is whole afterwards: it runs again.
    RunScript("lf again\n");
    ASSERT_TRUE(PumpUntil([&] { return terminated_ == 2; }, kGuiWait));
    EXPECT_EQ(dos_.Lines(), std::vector<std::string>{"again"});
    dos_.Stop();
}

TEST_F(DosCommandTest, AStopThatAnotherThreadSendsDuringStopIsSafe) {
    // Sent messages are delivered while Stop waits (their sender waits for the GUI thread); one
    // that stops the runner again must not free the worker under the waiting Stop.
    NotingWindow window;
    ASSERT_NE(window.Handle(), nullptr);
    int nested = 0;
    window.onAsk = [&] {
        ++nested;
        dos_.Stop();
    };
    // The kill question makes another thread send its Stop and returns once that message waits in
    // the queue, so it normally arrives while the outer Stop still waits for the worker.
    std::thread sender;
    dos_.OnTerminateProcess = [&](TDosCommand&, bool&) {
        ++terminateAsked_;
        sender = std::thread([&] { ::SendMessageW(window.Handle(), NotingWindow::kAsk, 0, 0); });
        const ULONGLONG giveUp = ::GetTickCount64() + 5000;
        while (!(HIWORD(::GetQueueStatus(QS_SENDMESSAGE)) & QS_SENDMESSAGE) && ::GetTickCount64() < giveUp) ::Sleep(1);
    };
    RunScript("crlf started\nhang\n");
    ASSERT_TRUE(PumpUntil([&] { return !dos_.Lines().empty(); }, kGuiWait));
    EXPECT_NO_THROW(dos_.Stop());
    // Whichever came first, the sent Stop or the worker's end: one run ended once, and the sender
    // got its answer.
    EXPECT_TRUE(PumpUntil([&] { return nested == 1; }, kGuiWait));
    ASSERT_TRUE(sender.joinable());
    sender.join();
    EXPECT_FALSE(dos_.IsRunning());
    EXPECT_EQ(dos_.EndStatus(), TEndStatus::esStop);
    EXPECT_EQ(terminateAsked_, 1);
    EXPECT_EQ(terminated_, 1);
}

TEST_F(DosCommandTest, TheLastOutputOfAChildThatEndsAtOnceArrivesWhole) {
    // The drain takes over what the child wrote just before it ended, its own NULs included, and
    // nothing of its own: a decoding that shows every byte shows exactly the child's.
    std::u16string chars;
    dos_.OnNewChar = [&](TDosCommand&, char16_t ch) { chars += ch; };
    dos_.SetOnCharDecoding([](TDosCommand&, const std::string& bytes) {
        std::u16string text;
        for (const char b : bytes) text += b == '\0' ? u'0' : static_cast<char16_t>(static_cast<unsigned char>(b));
        return text;
    });
    for (int round = 1; round <= 3; ++round) {
        SCOPED_TRACE(round);
        chars.clear();
        RunScript("lf first\nlf a\\0b\nnone tail\\0\nexit 0\n");
        ASSERT_TRUE(PumpUntil([&] { return terminated_ == round; }, kGuiWait));
        EXPECT_EQ(dos_.EndStatus(), TEndStatus::esProcess);
        EXPECT_EQ(dos_.Lines(), (std::vector<std::string>{"first", "a0b", "tail0"}));
        EXPECT_EQ(chars, u"first\na0b\ntail0");
        dos_.Stop();
    }
    // With the system's decoding the child's NULs reach OnNewChar as NULs and no line.
    dos_.SetOnCharDecoding({});
    chars.clear();
    RunScript("lf x\\0\nnone y\\0\n");
    ASSERT_TRUE(PumpUntil([&] { return terminated_ == 4; }, kGuiWait));
    EXPECT_EQ(dos_.Lines(), (std::vector<std::string>{"x", "y"}));
    EXPECT_EQ(chars, std::u16string(u"x\0\ny\0", 5));
    dos_.Stop();
}

TEST_F(DosCommandTest, AHandlerThatRefusesTheKillLeavesTheChildRunning) {
    dos_.OnTerminateProcess = [this](TDosCommand&, bool& canTerminate) {
        ++terminateAsked_;
        canTerminate = false;
    };
    RunScript("crlf started\nhang\n");
    ASSERT_TRUE(PumpUntil([&] { return !dos_.Lines().empty(); }, kGuiWait));
    ScopedHandle child(::OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, dos_.ProcessInformation().dwProcessId));
    ASSERT_TRUE(child);
    dos_.Stop();
    EXPECT_EQ(dos_.EndStatus(), TEndStatus::esStop);
    EXPECT_EQ(terminateAsked_, 1);
    EXPECT_EQ(::WaitForSingleObject(child.Get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    ::TerminateProcess(child.Get(), 1);
}

TEST_F(DosCommandTest, StopFromAHandlerTheWorkerWaitsForDoesNotHang) {
    int stopsInside = 0;
    dos_.OnTerminated = [&](TDosCommand& sender) {
        ++terminated_;
        sender.Stop();  // the worker waits for this very handler
        ++stopsInside;
        EXPECT_TRUE(sender.IsRunning());
    };
    RunScript("lf done\n");
    ASSERT_TRUE(WaitForEnd());
    EXPECT_EQ(stopsInside, 1);
    EXPECT_TRUE(dos_.IsRunning());
    dos_.Stop();
    EXPECT_FALSE(dos_.IsRunning());
    EXPECT_EQ(dos_.EndStatus(), TEndStatus::esProcess);
}

TEST_F(DosCommandTest, RefusalsBeforeAndBetweenRuns) {
    // Stop on a runner that never ran does nothing.
    dos_.Stop();
    EXPECT_EQ(dos_.EndStatus(), TEndStatus::esNone);
    try {
        dos_.Execute();
        ADD_FAILURE() << "an empty command line was run";
    } catch (const EDosCommand& e) {
        EXPECT_STREQ(e.what(), "No Commandline to execute");
    }
    EXPECT_FALSE(dos_.IsRunning());
    EXPECT_EQ(dos_.EndStatus(), TEndStatus::esNone);

    RunScript("lf one\n");
    EXPECT_THROW(dos_.SetOnCharDecoding({}), EDosCommand);
    ASSERT_TRUE(WaitForEnd());
    // Ended but not stopped: a second Execute is refused and starts nothing.
    try {
        dos_.Execute();
        ADD_FAILURE() << "a second run started";
    } catch (const EDosCommand& e) {
        EXPECT_STREQ(e.what(), "DosCommand still running");
    }
    EXPECT_EQ(terminated_, 1);
    dos_.Stop();

    // After Stop it runs again, with its own decoding this time; Lines starts empty.
    dos_.SetOnCharDecoding([](TDosCommand&, const std::string& bytes) {
        std::u16string text;
        for (const char b : bytes) text += b == '\n' ? u'\n' : u'#';
        return text;
    });
    RunScript("lf two\n");
    ASSERT_TRUE(PumpUntil([&] { return terminated_ == 2; }, kGuiWait));
    EXPECT_EQ(dos_.Lines(), std::vector<std::string>{"###"});
    dos_.Stop();
}

TEST_F(DosCommandTest, AMissingProgramEndsWithTheRunnerErrorBox) {
    const std::string command = folder_.File("missing.exe") + " +quit";
    dos_.CommandLine = command;
    dos_.Execute();
    ASSERT_TRUE(WaitForEnd());
    EXPECT_EQ(dos_.EndStatus(), TEndStatus::esError);
    ASSERT_EQ(boxes_.Seen().size(), 1u);
    const MessageRequest& box = boxes_.Seen()[0];
    const std::string prefix = "ECreateProcessError\r\nError creating Process: " + command + " - (";
    EXPECT_EQ(box.text.substr(0, prefix.size()), prefix);
    EXPECT_EQ(box.text.back(), ')');
    EXPECT_EQ(box.flags, 0x2010u);
    EXPECT_EQ(box.caption, "win_tests.exe");
    EXPECT_EQ(box.owner, nullptr);
    dos_.Stop();

    // A handler that handles the error keeps the box away; one that does not lets it show.
    std::string seenClass;
    bool handle = true;
    dos_.OnExecuteError = [&](TDosCommand&, const std::exception_ptr& error, bool& handled) {
        EXPECT_FALSE(handled);
        seenClass = DescribeException(error).ClassName;
        handled = handle;
    };
    dos_.Execute();
    ASSERT_TRUE(PumpUntil([&] { return terminated_ == 2; }, kGuiWait));
    EXPECT_EQ(seenClass, "ECreateProcessError");
    EXPECT_EQ(boxes_.Seen().size(), 1u);
    dos_.Stop();
    handle = false;
    dos_.Execute();
    ASSERT_TRUE(PumpUntil([&] { return terminated_ == 3; }, kGuiWait));
    EXPECT_EQ(boxes_.Seen().size(), 2u);
    dos_.Stop();
}

TEST_F(DosCommandTest, AGrandchildHoldingThePipeDoesNotHangTheEnd) {
    const std::string spawner = CopyFake("console_spawner.exe", folder_);
    test::WriteFile(folder_.File("run.script"), "hang\n");
    dos_.Environment() = {"ORVANTA_FAKE_STEAMCMD_SCRIPT=" + folder_.File("run.script")};
    dos_.CommandLine = spawner + " spawn " + steamcmd_;
    dos_.Execute();
    ASSERT_TRUE(WaitForEnd());
    EXPECT_EQ(dos_.EndStatus(), TEndStatus::esProcess);
    ASSERT_EQ(dos_.Lines().size(), 1u);
    const std::string& line = dos_.Lines()[0];
    ASSERT_EQ(line.substr(0, 6), "child ");
    dos_.Stop();
    EXPECT_FALSE(dos_.IsRunning());
    ScopedHandle grandchild(::OpenProcess(PROCESS_TERMINATE, FALSE, static_cast<DWORD>(std::stoul(line.substr(6)))));
    if (grandchild) ::TerminateProcess(grandchild.Get(), 0);
}

TEST_F(DosCommandTest, MegabytesWithoutALineBreakComeInBoundedPieces) {
    const std::string spawner = CopyFake("console_spawner.exe", folder_);
    std::vector<std::string> mirror;
    dos_.OutputLines = &mirror;
    size_t longest = 0;
    size_t events = 0;
    dos_.OnNewLine = [&](TDosCommand&, const std::string& line, TOutputType) {
        longest = std::max(longest, line.size());
        ++events;
    };
    const size_t total = 2 * 1024 * 1024;
    dos_.CommandLine = spawner + " flood " + std::to_string(total);
    dos_.Execute();
    ASSERT_TRUE(WaitForEnd());
    EXPECT_EQ(dos_.EndStatus(), TEndStatus::esProcess);
    size_t received = 0;
    for (const std::string& l : dos_.Lines()) received += l.size();
    EXPECT_EQ(received, total);
    EXPECT_LE(longest, LineAssembler::kMaxPendingLine);
    EXPECT_EQ(mirror, dos_.Lines());
    EXPECT_GT(events, 0u);
    dos_.Stop();
}

}  // namespace
}  // namespace orv
