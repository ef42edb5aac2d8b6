#include "tools/check.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <map>
#include <set>

#include "launcher/base/errors.h"
#include "launcher/config/ini_file.h"
#include "launcher/integrity/checklist.h"
#include "launcher/integrity/entry_rules.h"
#include "launcher/integrity/statement.h"
#include "launcher/platform/files.h"
#include "support/test_files.h"
#include "tool_check_fixture.h"
#include "tools/publish.h"

namespace orv::check {
namespace {

using namespace test_support;

// ---- The command line.

TEST(CheckArguments, ProblemsAreNamedAndGoodLinesFillTheOptions) {
    const std::vector<std::string> server = {"--server", "http://mirror.club/upd", "--game-dir", "g"};
    struct Case {
        std::vector<std::string> extra;
        bool withServer;
        const char* problem;  // nullptr: accepted
    };
    // clang-format off
    const Case cases[] = {
        {{}, true, nullptr},
        {{"--repair", "--json", "--jobs", "3", "--connections=2"}, true, nullptr},
        {{"--dry-run", "--game-name", "Контр-Страйк", "--build-number", "2"}, true, nullptr},
        {{"--server-root", "www", "--verify-server"}, false, nullptr},
        {{"--server-root", "www", "--game-dir", "g", "--server-base", "http://a/"}, false, nullptr},
        {{}, false, "give one of --server URL and --server-root ROOT"},
        {{"--server-root", "www"}, true, "give one of --server URL and --server-root ROOT"},
        {{"--server", "ftp://x/", "--game-dir", "g"}, false, "--server takes an http:// or https:// address, not \"ftp://x/\""},
        {{"--server", "/var/www", "--game-dir", "g"}, false, "--server takes an http:// or https:// address, not \"/var/www\""},
        {{"--server-root", "www"}, false, "missing --game-dir"},
        {{"--jobs", "0"}, true, "--jobs takes a number from 1 up, not \"0\""},
        {{"--connections", "many"}, true, "--connections takes a number from 1 up, not \"many\""},
        {{"--jobs", "64", "--connections", "64"}, true, nullptr},
        {{"--jobs", "65"}, true, "--jobs takes a number from 1 to 64, not \"65\""},
        {{"--jobs", "2147483647"}, true, "--jobs takes a number from 1 to 64, not \"2147483647\""},
        {{"--connections=2147483647"}, true, "--connections takes a number from 1 to 64, not \"2147483647\""},
        {{"--jobs", "2147483648"}, true, "--jobs takes a number from 1 up, not \"2147483648\""},
        {{"--game-number", "100000"}, true, nullptr},  // a position, not a count of threads
        {{"--game-number", "-1"}, true, "--game-number takes a number from 1 up, not \"-1\""},
        {{"--codepage", "65001"}, true, "--codepage takes 1251, 1252 or 866, not \"65001\""},
        {{"--repair", "--repair"}, true, "--repair is given twice"},
        {{"--repair=yes"}, true, "--repair takes no value"},
        {{"--game-dir", "h"}, true, "--game-dir is given twice"},
        {{"--jobs"}, true, "--jobs needs a value"},
        {{"--colour", "red"}, true, "unknown option --colour"},
        {{"stray"}, true, "unexpected argument \"stray\""},
        {{"--game-name", "A", "--game-number", "1"}, true, "give --game-name or --game-number, not both"},
        {{"--build-name", "A", "--build-number", "1"}, true, "give --build-name or --build-number, not both"},
        {{"--game-code", "a/b"}, true, "--game-code takes a folder name"},
        {{"--server-base", "file:///x"}, true, "--server-base takes an http:// or https:// address"},
        {{"--verify-server"}, true, "--verify-server checks a server folder: give --server-root"},
        {{"--server-root", "www", "--verify-server", "--repair"}, false,
         "--verify-server does not repair: leave out --repair and --dry-run"},
        {{"--server-root", "www", "--verify-server", "--game-dir", "g"}, false,
         "--verify-server checks no game folder: leave out --game-dir"},
        {{"--limit-rate", "500K", "--receive-timeout", "3600"}, true, nullptr},
        {{"--limit-rate", "2 M"}, true,
         "--limit-rate takes bytes a second with an optional K, M or G, as 500K or 2M, not \"2 M\""},
        {{"--limit-rate", "0"}, true,
         "--limit-rate takes bytes a second with an optional K, M or G, as 500K or 2M, not \"0\""},
        {{"--limit-rate", "2MB"}, true,
         "--limit-rate takes bytes a second with an optional K, M or G, as 500K or 2M, not \"2MB\""},
        {{"--receive-timeout", "0"}, true, "--receive-timeout takes a number from 1 up, not \"0\""},
        {{"--receive-timeout", "3601"}, true, "--receive-timeout takes a number from 1 to 3600, not \"3601\""},
        {{"--receive-timeout", "2s"}, true, "--receive-timeout takes a number from 1 up, not \"2s\""},
        {{"--repair", "--source-dir", "share"}, true, nullptr},
        {{"--dry-run", "--source-dir=share"}, true, nullptr},
        {{"--source-dir", "share"}, true, "--source-dir is for a repair: give --repair or --dry-run"},
        {{"--repair", "--source-dir", ""}, true, "--source-dir is empty"},
        {{"--server-root", "www", "--verify-server", "--source-dir", "share"}, false,
         "--verify-server takes no --source-dir"},
    };
    // clang-format on
    for (const Case& c : cases) {
        std::vector<std::string> args = c.withServer ? server : std::vector<std::string>{};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        CheckOptions o;
        const std::optional<std::string> problem = ParseCheckArguments(args, o);
        std::string line;
        for (const std::string& a : args) line += a + " ";
        if (c.problem)
            EXPECT_EQ(problem.value_or("<accepted>"), c.problem) << line;
        else
            EXPECT_FALSE(problem) << line << ": " << *problem;
    }
}

TEST(CheckArguments, ValuesLandInTheirFields) {
    CheckOptions o;
    ASSERT_FALSE(ParseCheckArguments({"--server", "http://mirror.club/upd", "--game-dir", "games/css//", "--repair",
                                      "--json", "--jobs", "3", "--connections=2", "--game-name", "Контр-Страйк",
                                      "--build-number", "2", "--codepage", "866"},
                                     o));
    EXPECT_EQ(o.server, "http://mirror.club/upd/");  // the final slash the addresses need
    EXPECT_EQ(o.gameDir, "games/css");                // entry paths bring their own separator
    EXPECT_TRUE(o.repair && o.json && !o.dryRun && !o.verifyServer);
    EXPECT_EQ(o.jobs, 3u);
    EXPECT_EQ(o.connections, 2u);
    EXPECT_EQ(o.gameName, "Контр-Страйк");
    EXPECT_EQ(o.buildNumber, 2);
    EXPECT_EQ(o.codePage, CodePage::Dos866);
    EXPECT_EQ(o.serverBase, UpdateServerBase);
    EXPECT_EQ(o.gameCode, GameCode);
    EXPECT_EQ(o.rateLimit, 0u);
    EXPECT_EQ(o.receiveTimeLimitMs, kReceiveTimeLimitMs);

    CheckOptions limited;
    ASSERT_FALSE(ParseCheckArguments({"--server", "http://a/", "--game-dir", "g", "--limit-rate=2M", "--receive-timeout", "2"},
                                     limited));
    EXPECT_EQ(limited.rateLimit, 2u * 1024 * 1024);
    EXPECT_EQ(limited.receiveTimeLimitMs, 2000u);

    CheckOptions copying;
    ASSERT_FALSE(ParseCheckArguments({"--server", "http://a/", "--game-dir", "g", "--repair", "--source-dir", "share//"},
                                     copying));
    EXPECT_EQ(copying.sourceDir, "share");  // joined with entry paths like the game folder
}

TEST(CheckArguments, APublisherKeyMakesTheCheckKeyed) {
    const std::string hex = "afed880f48f51e30d3bd02fac746df2de58ad97b734e0f7db8b83996e4220088"
                            "ed8771dcad2e2e51202905a6ff1b3a8b4eb761d5bf40d656e2feeb204acff97f";
    test::TempDir dir;
    const std::string keyFile = dir.File("public.hex"), junkFile = dir.File("junk.hex");
    test::WriteFile(keyFile, "  " + hex + "\r\n");
    test::WriteFile(junkFile, hex.substr(1) + "\n");
    struct Case {
        std::vector<std::string> extra;
        const char* problem;  // nullptr: accepted
        bool keyed;
        uint64_t minVersion;
    };
    // clang-format off
    const Case cases[] = {
        {{}, nullptr, false, 0},  // this build has no key: unkeyed, as before
        {{"--public-key", hex}, nullptr, true, 0},
        {{"--public-key", keyFile}, nullptr, true, 0},
        {{"--public-key", keyFile, "--min-catalogue-version", "18446744073709551615"}, nullptr, true, UINT64_MAX},
        {{"--public-key", hex.substr(0, 127)}, "--public-key takes 128 hex digits or a file holding them, not \"", false, 0},
        {{"--public-key", junkFile}, "--public-key takes 128 hex digits or a file holding them, not \"", false, 0},
        {{"--public-key", dir.File("none")}, "--public-key takes 128 hex digits or a file holding them, not \"", false, 0},
        {{"--min-catalogue-version", "3"}, "--min-catalogue-version needs a publisher key: give --public-key", false, 0},
        {{"--public-key", hex, "--min-catalogue-version", "0"}, "--min-catalogue-version takes a version from 1 up", false, 0},
        {{"--public-key", hex, "--min-catalogue-version", "18446744073709551616"},
         "--min-catalogue-version takes a version from 1 up", false, 0},
        {{"--public-key", hex, "--min-catalogue-version", "2x"}, "--min-catalogue-version takes a version from 1 up", false, 0},
    };
    // clang-format on
    for (const Case& c : cases) {
        std::vector<std::string> args = {"--server", "http://mirror.club/upd", "--game-dir", "g"};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        CheckOptions o;
        const std::optional<std::string> problem = ParseCheckArguments(args, o);
        const std::string line = c.extra.empty() ? "(no key)" : c.extra.back();
        if (c.problem) {
            EXPECT_TRUE(problem && problem->starts_with(c.problem)) << line << ": " << problem.value_or("<accepted>");
            continue;
        }
        ASSERT_FALSE(problem) << line << ": " << *problem;
        EXPECT_EQ(o.publicKey.has_value(), c.keyed) << line;
        if (o.publicKey) {
            EXPECT_EQ(o.publicKey, PublisherKeyFromHex(hex)) << line;
        }
        EXPECT_EQ(o.minCatalogueVersion, c.minVersion) << line;
    }
}

TEST(CheckDownloadPath, OnlyPathsThatStayBelowTheBaseAreFollowed) {
    struct Case {
        const char* path;
        bool below;
    };
    // clang-format off
    const Case cases[] = {
        {"cstrike/v34", true}, {"cstrike", true}, {"a/b/c", true}, {"v34.1", true}, {"..v34", true}, {"v34..", true},
        {"%D0%98%D0%B3%D1%80%D0%B0", true}, {"a%2", true}, {"%zz", true},
        {"..", false}, {"../outside", false}, {"cstrike/../../outside", false}, {"cstrike/..", false},
        {".", false}, {"./cstrike", false}, {"cstrike/./v34", false}, {"...", false}, {".. ", false},
        {"..\\outside", false}, {"cstrike\\..\\..", false},
        {"%2e%2e/outside", false}, {"%2E%2E", false}, {".%2e/x", false}, {"cstrike%2f..%2f..", false},
        {"cstrike%5c..", false}, {"", false}, {"/outside", false}, {"cstrike//v34", false},
    };
    // clang-format on
    for (const Case& c : cases) EXPECT_EQ(IsDownloadPathBelowBase(c.path), c.below) << c.path;
}

TEST(CheckExitStatus, WhatRemainsDecides) {
    struct Case {
        uint64_t bad, repaired, refused;
        bool interrupted;
        int status;
    };
    const Case cases[] = {
        {0, 0, 0, false, ExitMatches},     {3, 3, 0, false, ExitMatches},
        {3, 2, 0, false, ExitDifferences}, {3, 0, 0, false, ExitDifferences},  // also a dry run
        {0, 0, 1, false, ExitDifferences}, {2, 2, 1, false, ExitDifferences},
        {0, 0, 0, true, ExitInterrupted},  {3, 3, 0, true, ExitInterrupted},
    };
    for (const Case& c : cases) {
        CheckSummary s;
        s.bad = c.bad;
        s.repaired = c.repaired;
        s.refused = c.refused;
        s.interrupted = c.interrupted;
        EXPECT_EQ(ExitStatus(s), c.status) << c.bad << " bad, " << c.repaired << " repaired, " << c.refused
                                           << " refused, interrupted " << c.interrupted;
    }
}

// ---- The shared entry rules and the streamed checklist.

TEST(EntryRules, AFailedUnpackOrReplaceLeavesThePlaceAndNoTemporaryFile) {
    struct Case {
        const char* name;
        bool unpackOk, unpackThrows, replaceOk, done;
    };
    const Case cases[] = {
        {"both succeed", true, false, true, true},
        {"unpack fails", false, false, true, false},
        {"unpack raises", false, true, true, false},
        {"replace refused", true, false, false, false},
    };
    for (const Case& c : cases) {
        test::TempDir dir;
        const std::string place = dir.File("file.bin");
        test::WriteFile(place, "old");
        const auto unpack = [&](const std::string&, const std::string& out) {
            test::WriteFile(out, "new");
            if (c.unpackThrows) throw Error("disk full");
            return c.unpackOk;
        };
        const auto replace = [&](const std::string& from, const std::string& to) {
            if (!c.replaceOk) return false;
            std::filesystem::rename(test::FsPath(from), test::FsPath(to));
            return true;
        };
        EXPECT_EQ(UnpackIntoPlace(DownloadTargetPath(place), place, unpack, replace, &RemoveFile), c.done) << c.name;
        EXPECT_EQ(test::ReadFile(place), c.done ? "new" : "old") << c.name;
        EXPECT_FALSE(test::Exists(UnpackTemporaryPath(place))) << c.name;
    }
    EXPECT_EQ(DownloadTargetPath("g\\a.txt"), "g\\a.txt.lzma");
    EXPECT_TRUE(IsUnpackTemporaryPath(UnpackTemporaryPath("g\\a.txt")));
    EXPECT_FALSE(IsUnpackTemporaryPath("g\\a.txt"));
}

TEST(ChecklistStream, ReadsWhatTheWholeFileReaderReads) {
    const std::string longPath = "\\" + std::string(70000, 'a');  // longer than a block
    std::string many;
    for (int i = 0; i < 5000; ++i) many += std::to_string(i) + "\r\n\\f" + std::to_string(i) + "\r\n" + "7\r\n";
    // clang-format off
    const std::string inputs[] = {
        "",
        "5\r\n\\a.txt\r\n123\r\n",
        "5\n\\a.txt\n123",                             // LF only, no final line end
        "0\r\n\\cstrike\\.\r\n0\r\n\r\n",               // an empty line after the last entry
        "12\r\n" + longPath + "\r\n1\r\n0\r\n\\b\r\n0\r\n",
        many,
        std::string(65535, 'x') + "\r\n\\p\r\n1\r\n",  // the CR LF across the block's end
        "\xC8\xE3\xF0\xEE\xEA\r\n\\\xED\xE8\xEA\r\n9",  // code page 1251
    };
    // clang-format on
    for (const std::string& input : inputs) {
        test::TempDir dir;
        test::WriteFile(dir.File("c.dim"), input);
        ChecklistReader whole(input, CodePage::Windows1251);
        ChecklistReader stream = ChecklistReader::Stream(dir.File("c.dim"), CodePage::Windows1251);
        size_t entries = 0;
        while (!whole.AtEnd()) {
            ASSERT_FALSE(stream.AtEnd()) << "entry " << entries << " of input of " << input.size() << " bytes";
            const ChecklistEntry a = whole.Next(), b = stream.Next();
            EXPECT_EQ(a.sizeText, b.sizeText);
            EXPECT_EQ(a.path, b.path);
            EXPECT_EQ(a.crcText, b.crcText);
            EXPECT_EQ(a.complete, b.complete);
            ++entries;
        }
        EXPECT_TRUE(stream.AtEnd()) << input.size();
    }
    EXPECT_THROW(ChecklistReader::Stream("no such file.dim", CodePage::Windows1251), EOSError);
}

// ---- The JSON lines.

TEST(CheckJson, EveryEventIsOneObjectAScriptCanRead) {
    const CheckEvent events[] = {
        {EventKind::Checked, "\\hl2.exe", "", "", 65521, -1},
        {EventKind::Bad, "\\cstrike\\Игрок\\ник.txt", "crc", "", 10, -1},
        {EventKind::Repaired, "\\a \"quoted\"\\b", "", "http://x/a%20b.lzma", 5, 36},
        {EventKind::RepairFailed, "\\x", "HTTP status 404", "http://x/x.lzma", 5, -1},
        {EventKind::Refused, "\\..\\evil\x01", "outside the game folder", "", -1, -1},
        {EventKind::WouldFetch, "\\y", "", "http://x/y.lzma", 7, 1234},
        {EventKind::Bad, "\\bad\xFF utf8", "missing", "", 1, -1},
        {EventKind::Repaired, "\\z", "", "/srv/share\\z", 5, 5, true},
        {EventKind::WouldCopy, "\\w", "", "/srv/share\\w", 8, 8, true},
        {EventKind::Repaired, "\\pak01.vpk", "", "http://x/pak01.vpk.lzma", 5 << 20, 9000, false, true, true, "", 5000000, 9000, 2},
        {EventKind::Repaired, "\\pak02.vpk", "", "http://x/pak02.vpk.lzma", 5 << 20, 4000000, false, true, false,
         "the build has no chunk index"},
    };
    std::set<std::string> names;
    for (const CheckEvent& e : events) {
        const std::string line = EventJson(e);
        EXPECT_EQ(line.find('\n'), std::string::npos) << line;
        const nlohmann::json j = nlohmann::json::parse(line);
        names.insert(j.at("event").get<std::string>());
        EXPECT_EQ(j.at("event"), EventName(e.kind));
        if (e.path.find('\xFF') == std::string::npos) {
            EXPECT_EQ(j.at("path"), e.path);
        }
        EXPECT_EQ(j.contains("bytes"), e.bytes >= 0) << line;
        EXPECT_EQ(j.contains("reason"), !e.reason.empty()) << line;
        EXPECT_EQ(j.contains("copied"), e.copied) << line;
        if (e.copied) {
            EXPECT_EQ(j.at("source"), e.url) << line;
        }
        EXPECT_EQ(j.contains("chunks"), e.fromChunks) << line;
        EXPECT_EQ(j.contains("chunks_fallback"), e.chunkTried && !e.fromChunks) << line;
        if (e.fromChunks) {
            EXPECT_EQ(j.at("chunks").at("reused"), e.chunkBytesReused);
            EXPECT_EQ(j.at("chunks").at("fetched"), e.chunkBytesFetched);
            EXPECT_EQ(j.at("chunks").at("chunks_fetched"), e.chunksFetched);
        }
    }
    EXPECT_EQ(names.size(), 7u);
    CheckSummary s;
    s.game = "Контр-Страйк";
    s.bad = 2;
    s.repaired = 2;
    const nlohmann::json j = nlohmann::json::parse(SummaryJson(s, ExitStatus(s)));
    EXPECT_EQ(j.at("event"), "summary");
    EXPECT_EQ(j.at("differing"), 2);
    EXPECT_EQ(j.at("exit"), 0);
    EXPECT_EQ(j.at("chunk_bytes_fetched"), 0);
    EXPECT_EQ(nlohmann::json::parse(JsonString("a\"b\\c")), "a\"b\\c");
}

// ---- The run, over a build published into a server folder.

TEST(ToolCheckRun, RepairsFromTheServerFolderUntilTheGameFolderMatches) {
    RunFixture f;
    RecordingSink first;
    CheckOptions o = f.Options();
    o.repair = true;
    const CheckSummary repaired = f.Run(o, first);
    EXPECT_EQ(first.started.game, "Контр-Страйк");
    EXPECT_EQ(first.started.listed, 5);
    EXPECT_EQ(repaired.files, 5u);
    EXPECT_EQ(repaired.filesDone, 5u);  // folders are not files: the bar ends at its total
    EXPECT_EQ(repaired.bad, repaired.repaired);
    EXPECT_EQ(ExitStatus(repaired), ExitMatches);
    EXPECT_EQ(first.Joined().at("\\hl2.exe"), "bad repaired");
    EXPECT_EQ(first.Joined().at("\\cstrike\\cfg\\."), "bad repaired");
    f.ExpectGameIsBuild();

    RecordingSink second;
    const CheckSummary intact = f.Run(f.Options(), second);
    EXPECT_EQ(intact.checked, 5u);
    EXPECT_EQ(intact.bad, 0u);
    EXPECT_EQ(ExitStatus(intact), ExitMatches);
    EXPECT_EQ(second.progress, 5);
}

TEST(ToolCheckRun, EachKindOfDamageIsReportedAndNothingWrittenWithoutRepair) {
    RunFixture f;
    CheckOptions o = f.Options();
    o.repair = true;
    RecordingSink setup;
    f.Run(o, setup);
    test::WriteFile(Join(f.game, "cstrike\\cfg\\autoexec.cfg"), "bind w +back\r\n");  // another size
    test::WriteFile(Join(f.game, "cstrike\\cfg\\empty.cfg"), "x");
    RemoveFile(Join(f.game, "hl2.exe"));
    test::WriteFile(Join(f.game, "cstrike\\maps\\de_dust2.bsp"), "short");
    const std::set<std::string> before = f.Listing();

    for (const bool dryRun : {false, true}) {
        RecordingSink sink;
        CheckOptions check = f.Options();
        check.dryRun = dryRun;
        const CheckSummary s = f.Run(check, sink);
        const std::map<std::string, std::string> events = sink.Joined();
        const std::string then = dryRun ? " would-fetch" : "";
        EXPECT_EQ(events.at("\\hl2.exe"), "bad" + then);
        EXPECT_EQ(events.at("\\cstrike\\maps\\de_dust2.bsp"), "bad" + then);
        EXPECT_EQ(events.at("\\cstrike\\cfg\\empty.cfg"), "bad");  // nothing to fetch for it
        EXPECT_EQ(events.at("\\cstrike\\Игрок\\ник с пробелом.txt"), "checked");
        EXPECT_EQ(s.bad, 4u);
        EXPECT_EQ(ExitStatus(s), ExitDifferences);
        if (dryRun) {
            const uint64_t packed = test::ReadFile(Join(f.root, "cstrike\\v34\\hl2.exe.lzma")).size() +
                                    test::ReadFile(Join(f.root, "cstrike\\v34\\cstrike\\maps\\de_dust2.bsp.lzma")).size() +
                                    test::ReadFile(Join(f.root, "cstrike\\v34\\cstrike\\cfg\\autoexec.cfg.lzma")).size();
            EXPECT_EQ(s.bytesToFetch, packed);
        }
        EXPECT_EQ(f.Listing(), before) << "dry run " << dryRun;
    }
}

TEST(ToolCheckRun, OverHttpNamesAreEncodedAndAFileTheServerRefusesStaysADifference) {
    RunFixture f;
    std::vector<std::string> asked;
    const std::string refused = std::string(kBase) + "cstrike/v34/cstrike/maps/de_dust2.bsp.lzma";
    CheckPlatform platform = SystemCheckPlatform();
    std::mutex mutex;
    platform.newFetcher = [&] {
        std::lock_guard lock(mutex);
        return std::unique_ptr<Fetcher>(new FolderFetcher(f.root, {{refused, 404}}, nullptr));
    };
    CheckOptions o = f.Options(true);
    o.repair = true;
    o.connections = 1;
    RecordingSink sink;
    const CheckSummary s = f.Run(o, sink, platform);
    EXPECT_EQ(sink.Joined().at("\\cstrike\\maps\\de_dust2.bsp"), "bad repair-failed");
    EXPECT_EQ(sink.Joined().at("\\cstrike\\Игрок\\ник с пробелом.txt"), "bad repaired");
    EXPECT_EQ(s.failed, 1u);
    EXPECT_EQ(ExitStatus(s), ExitDifferences);
    EXPECT_FALSE(test::Exists(Join(f.game, "cstrike\\maps\\de_dust2.bsp")));
    for (const std::string& name : f.Listing()) {
        EXPECT_FALSE(name.ends_with(".lzma")) << name;
        EXPECT_FALSE(IsUnpackTemporaryPath(name)) << name;
    }

    // The address as sent: UTF-8, percent-encoded, blanks too.
    platform.newFetcher = [&] {
        std::lock_guard lock(mutex);
        return std::unique_ptr<Fetcher>(new FolderFetcher(f.root, {}, &asked));
    };
    RemoveFile(Join(f.game, "cstrike\\Игрок\\ник с пробелом.txt"));
    RecordingSink again;
    f.Run(o, again, platform);
    EXPECT_NE(std::find(asked.begin(), asked.end(),
                        std::string(kBase) + "cstrike/v34/cstrike/%D0%98%D0%B3%D1%80%D0%BE%D0%BA/"
                                             "%D0%BD%D0%B8%D0%BA%20%D1%81%20%D0%BF%D1%80%D0%BE%D0%B1%D0%B5%D0%BB%D0%BE%D0%BC.txt.lzma"),
              asked.end());
    f.ExpectGameIsBuild();
}

TEST(ToolCheckRun, ProblemsThatEndTheRunRaise) {
    RunFixture f;
    struct Case {
        const char* name;
        std::function<void(CheckOptions&)> change;
    };
    const Case cases[] = {
        {"no game folder", [&](CheckOptions& o) { o.gameDir = Join(f.dir.Path(), "nowhere"); }},
        {"no such game", [](CheckOptions& o) { o.gameName = "Half-Life"; }},
        {"no such build", [](CheckOptions& o) { o.buildNumber = 2; }},
        {"another server's catalogue", [](CheckOptions& o) { o.serverBase = "http://elsewhere.test/"; }},
        {"no catalogue", [](CheckOptions& o) { o.gameCode = "hl2mp"; }},
        {"no source folder", [&](CheckOptions& o) {
             o.repair = true;
             o.sourceDir = Join(f.dir.Path(), "nowhere");
         }},
    };
    for (const Case& c : cases) {
        CheckOptions o = f.Options();
        c.change(o);
        RecordingSink sink;
        EXPECT_THROW(f.Run(o, sink), Error) << c.name;
    }
    // A download address that climbs out of the base, read from the server folder and over HTTP: the
    // files beside the root (a copy of the build's) are never read, nor anything fetched.
    const std::string catalogue = Join(f.root, "cstrike\\inf.ini");
    const std::string published = test::ReadFile(catalogue);
    std::filesystem::copy(test::FsPath(Join(f.root, "cstrike\\v34")), test::FsPath(Join(f.dir.Path(), "outside")),
                          std::filesystem::copy_options::recursive);
    for (const std::string& address : {std::string(kBase) + "../outside", std::string(kBase) + "cstrike/%2e%2e/../outside"}) {
        IniDocument climbing(published);
        climbing.Set("naz1", "adrskach1", address);
        test::WriteFile(catalogue, climbing.Bytes());
        for (const bool http : {false, true}) {
            std::vector<std::string> asked;
            CheckPlatform platform = SystemCheckPlatform();
            platform.newFetcher = [&] { return std::unique_ptr<Fetcher>(new FolderFetcher(f.root, {}, &asked)); };
            CheckOptions o = f.Options(http);
            o.repair = true;
            RecordingSink sink;
            EXPECT_THROW(f.Run(o, sink, platform), Error) << address << (http ? " over HTTP" : "");
            EXPECT_TRUE(f.Listing().empty()) << address;
            for (const std::string& url : asked) EXPECT_EQ(url.find(".lzma"), std::string::npos) << url;
        }
    }
    test::WriteFile(catalogue, published);

    test::WriteFile(Join(f.root, "cstrike\\css34.dim.lzma"), "<html>404</html>");
    RecordingSink sink;
    EXPECT_THROW(f.Run(f.Options(), sink), Error) << "a checklist that does not unpack";
}

TEST(ToolCheckRun, AnInterruptedRunWritesNothing) {
    RunFixture f;
    CheckOptions o = f.Options();
    o.repair = true;
    RecordingSink sink;
    const CheckSummary s = f.Run(o, sink, SystemCheckPlatform(), true);
    EXPECT_TRUE(s.interrupted);
    EXPECT_EQ(ExitStatus(s), ExitInterrupted);
    EXPECT_TRUE(f.Listing().empty());
}

}  // namespace
}  // namespace orv::check
