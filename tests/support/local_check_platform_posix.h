// The check run's platform over this machine's files, with the update server a local folder: a
// download is a copy of the file that the address names below the server base. What these tests
// look at is the walk, the unpack and the replace; the transfer itself is the download client's
// (tested against real servers elsewhere). Header only: the helper that runs the check in a
// process of its own links no test support.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <utility>

#include "launcher/base/app_state.h"
#include "launcher/integrity/check_run.h"
#include "launcher/integrity/lzma_alone.h"
#include "launcher/platform/files.h"

namespace orv::test {

inline std::string SlashPath(std::string path) {
    for (char& c : path)
        if (c == '\\') c = '/';
    return path;
}

// Copies the server folder's file for `url` to `path`; false for another server or a missing file.
inline bool CopyFromLocalServer(const std::string& serverBase, const std::string& serverFolder,
                                const std::string& url, const std::string& path) {
    if (url.rfind(serverBase, 0) != 0) return false;
    const std::string source = serverFolder + "/" + url.substr(serverBase.size());
    if (!FileExists(source)) return false;
    WriteNewFile(path, ReadFileBytes(source));
    return true;
}

// A download thread's connection to the folder: each Get is a copy.
class LocalFolderFetcher final : public Fetcher {
public:
    LocalFolderFetcher(std::string serverBase, std::string serverFolder)
        : base_(std::move(serverBase)), folder_(std::move(serverFolder)) {}
    FetchResult Get(const std::string& url, const std::string& path, const std::atomic<bool>& stop,
                    const FetchProgress&) override {
        FetchResult result;
        if (stop) {
            result.stopped = true;
            return result;
        }
        result.ok = CopyFromLocalServer(base_, folder_, url, path);
        if (!result.ok) result.failed = FetchStep::Request;
        return result;
    }
    FetchResult Head(const std::string&) override { return FetchResult{}; }

private:
    std::string base_, folder_;
};

inline CheckRunPlatform LocalCheckRunPlatform(const std::string& serverBase, const std::string& serverFolder) {
    CheckRunPlatform platform = PortableCheckRunPlatform();
    platform.serverBase = serverBase;
    platform.catalogueCodec = CodePageCodec(CodePage::Windows1251);
    platform.checklistPage = CodePage::Windows1251;
    // The run's paths are absolute; the working folder matters to nothing here.
    platform.setCurrentFolder = [](const std::string&) {};
    platform.downloadFile = [=](const std::string& url, const std::string& path) {
        return CopyFromLocalServer(serverBase, serverFolder, url, path);
    };
    platform.engine.newFetcher = [=] { return std::make_unique<LocalFolderFetcher>(serverBase, serverFolder); };
    platform.unpackChecklist = [](const std::string& input, const std::string& output) {
        return TLZMAAlone().Main(input, output, "d");
    };
    // rename(2) puts the new file in place in one step, as MoveFileEx does on Windows.
    platform.replaceFile = [](const std::string& from, const std::string& to) {
        return std::rename(SlashPath(from).c_str(), SlashPath(to).c_str()) == 0;
    };
    platform.makeNormal = [](const std::string& path) {
        struct stat st;
        if (::stat(SlashPath(path).c_str(), &st) == 0 && !(st.st_mode & S_IWUSR))
            ::chmod(SlashPath(path).c_str(), st.st_mode | S_IWUSR);
    };
    platform.createFolder = [](const std::string& path) { ::mkdir(SlashPath(path).c_str(), 0777); };
    return platform;
}

// A view that keeps counts and the last texts only, so that a long run's memory is the run's own.
class CountingView final : public CheckRunView {
public:
    void SetStatus(const std::string& text) override {
        ++statuses;
        lastStatus = text.substr(0, 200);
    }
    void SetCounters(const std::string& text) override {
        ++counterLines;
        lastCounters = text.substr(0, 200);
    }
    void ResetOverall(int max) override {
        overallMax = max;
        overallPosition = 0;
    }
    int OverallPosition() const override { return overallPosition; }
    void SetOverallPosition(int position) override { overallPosition = position; }
    void SetOverallWidth(int) override { ++widths; }
    void SetFileMax(int) override {}
    void FillFileProgress() override { ++fills; }
    void BringToFront() override {}
    void RequestClose() override { ++closeRequests; }
    void Stop() override {
        StopFlag = 1;
        ++stops;
    }

    long long statuses = 0, counterLines = 0, widths = 0, fills = 0;
    int overallMax = -1, overallPosition = 0, closeRequests = 0, stops = 0;
    std::string lastStatus, lastCounters;
};

}  // namespace orv::test
