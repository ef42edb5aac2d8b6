// What the tests of "orvanta-tool check" share: a build published into a server folder, a game
// folder to check against it, a fetcher that serves that folder as if over HTTP and a sink that
// records every event.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "launcher/platform/files.h"
#include "support/test_files.h"
#include "tools/check.h"
#include "tools/publish.h"

namespace orv::check::test_support {

constexpr const char* kBase = "http://updates.test/base/";

// "a\b" below `dir`, in the platform's form.
inline std::string Join(const std::string& dir, const std::string& relative) {
#ifdef _WIN32
    return dir + "\\" + relative;
#else
    std::string r = relative;
    for (char& c : r)
        if (c == '\\') c = '/';
    return dir + "/" + r;
#endif
}

class RecordingSink final : public CheckSink {
public:
    void Started(const CheckSummary& s) override { started = s; }
    void Event(const CheckEvent& e, const CheckSummary&) override {
        events[e.path].push_back(EventName(e.kind));
        all.push_back(e);
    }
    void Progress(const CheckSummary&) override { ++progress; }
    void Finished(const CheckSummary&, int) override {}
    // Each path's events joined with " ".
    std::map<std::string, std::string> Joined() const {
        std::map<std::string, std::string> out;
        for (const auto& [path, kinds] : events)
            for (const std::string& k : kinds) out[path] += (out[path].empty() ? "" : " ") + k;
        return out;
    }
    CheckSummary started;
    std::map<std::string, std::vector<std::string>> events;
    std::vector<CheckEvent> all;
    int progress = 0;
};

// Serves the server folder as if over HTTP: percent-encoded paths below kBase, with chosen
// answers for some addresses.
class FolderFetcher final : public Fetcher {
public:
    FolderFetcher(std::string root, std::map<std::string, int> statuses, std::vector<std::string>* asked)
        : root_(std::move(root)), statuses_(std::move(statuses)), asked_(asked) {}
    FetchResult Get(const std::string& url, const std::string& path, const std::atomic<bool>&, const FetchProgress&) override {
        FetchResult r = Head(url);
        if (!r.ok) return r;
        test::WriteFile(path, test::ReadFile(File(url)));
        return r;
    }
    FetchResult Head(const std::string& url) override {
        if (asked_) asked_->push_back(url);
        FetchResult r;
        const auto it = statuses_.find(url);
        r.status = it != statuses_.end() ? it->second : test::Exists(File(url)) ? 200 : 404;
        r.ok = r.status == 200;
        if (r.ok) r.length = static_cast<int64_t>(test::ReadFile(File(url)).size());
        else r.error = "HTTP status " + std::to_string(r.status);
        return r;
    }

private:
    std::string File(const std::string& url) const {
        std::string relative;
        for (size_t i = std::string(kBase).size(); i < url.size(); ++i) {
            if (url[i] == '%') {
                relative += static_cast<char>(std::stoi(url.substr(i + 1, 2), nullptr, 16));
                i += 2;
            } else {
                relative += url[i] == '/' ? '\\' : url[i];
            }
        }
        return Join(root_, relative);
    }
    std::string root_;
    std::map<std::string, int> statuses_;
    std::vector<std::string>* asked_;
};

struct RunFixture {
    test::TempDir dir;
    std::string build = Join(dir.Path(), "build");
    std::string root = Join(dir.Path(), "www");
    std::string game = Join(dir.Path(), "game");
    std::map<std::string, std::string> files = {
        {"hl2.exe", test::MakeData(70000, 1, false)},
        {"cstrike\\cfg\\autoexec.cfg", "bind w +forward\r\n"},
        {"cstrike\\cfg\\empty.cfg", ""},
        {"cstrike\\Игрок\\ник с пробелом.txt", "Игрок"},
        {"cstrike\\maps\\de_dust2.bsp", test::MakeData(300000, 2, true)},
    };

    RunFixture() {
        for (const auto& [name, bytes] : files) {
            const std::string path = Join(build, name);
            CreateDirectories(path.substr(0, path.find_last_of("\\/")));
            test::WriteFile(path, bytes);
        }
        publish::PublishOptions o;
        o.buildDir = build;
        o.serverRoot = root;
        o.serverBase = kBase;
        o.gameName = "Контр-Страйк";
        o.buildName = "v34";
        o.checklistName = "css34";
        o.downloadPath = "cstrike/v34";
        o.jobs = 1;
        publish::Publish(o, [](const std::string&) {});
        CreateDirectories(game);
    }
    CheckOptions Options(bool http = false) const {
        CheckOptions o;
        if (http)
            o.server = kBase;
        else
            o.serverRoot = root;
        o.serverBase = kBase;
        o.gameDir = game;
        o.jobs = 2;
        o.connections = 2;
        return o;
    }
    CheckSummary Run(const CheckOptions& o, RecordingSink& sink, const CheckPlatform& platform = SystemCheckPlatform(),
                     bool interrupted = false) const {
        std::atomic<bool> stop{interrupted};
        return RunCheck(o, platform, sink, stop);
    }
    void ExpectGameIsBuild() const {
        for (const auto& [name, bytes] : files) EXPECT_EQ(test::ReadFile(Join(game, name)), bytes) << name;
    }
    // Every name below the game folder.
    std::set<std::string> Listing() const {
        std::set<std::string> names;
        for (const auto& e : std::filesystem::recursive_directory_iterator(test::FsPath(game)))
            names.insert(publish::FromFsPath(e.path()));
        return names;
    }
};

}  // namespace orv::check::test_support
