#include "tools/publish.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "launcher/base/errors.h"
#include "launcher/platform/utf8.h"
#include "launcher/catalogue.h"
#include "launcher/integrity/checklist.h"
#include "launcher/integrity/chunk_index.h"
#include "launcher/integrity/statement.h"
#include "launcher/integrity/crc32.h"
#include "launcher/integrity/keep_list.h"
#include "launcher/integrity/lzma_alone.h"
#include "launcher/net/server_paths.h"
#include "launcher/platform/files.h"
#include "signed_statements.h"
#include "support/test_files.h"
#include "tools/statement_signing.h"
#include "tools/sign_server.h"

namespace orv::publish {
namespace {
namespace fs = std::filesystem;

constexpr const char* kBase = "http://updates.test/base/";

using test::FsPath;

// "a\b" below `dir`, in the platform's form.
std::string Join(const std::string& dir, const std::string& relative) {
#ifdef _WIN32
    return dir + "\\" + relative;
#else
    std::string r = relative;
    for (char& c : r)
        if (c == '\\') c = '/';
    return dir + "/" + r;
#endif
}

std::string Slashed(std::string text) {
    for (char& c : text)
        if (c == '\\') c = '/';
    return text;
}

// Several MB that the encoder gets through quickly: mostly zeros, with random bytes between.
std::string LargeData() {
    std::string data(3 * 1024 * 1024 + 17, '\0');
    const std::string noise = test::MakeData(data.size() / 4099 + 1, 2, false);
    for (size_t i = 0; i < data.size(); i += 4099) data[i] = noise[i / 4099];
    return data;
}

// The build: nested folders, an empty folder, empty files, Cyrillic names, a file of one CRC
// block and one of several MB.
std::map<std::string, std::string> SampleFiles(bool large) {
    std::map<std::string, std::string> files = {
        {"hl2.exe", test::MakeData(65521, 1, false)},
        {"cstrike\\maps\\de_dust2.bsp", LargeData()},
        {"cstrike\\cfg\\autoexec.cfg", "bind w +forward\r\n"},
        {"cstrike\\cfg\\empty.cfg", ""},
        {"cstrike\\Игрок\\ник.txt", "Игрок"},
        {"Ёлка.dat", test::MakeData(1000, 3, false)},
        {"zero", ""},
    };
    if (!large) files["cstrike\\maps\\de_dust2.bsp"] = "small";
    return files;
}

struct Fixture {
    test::TempDir dir;
    std::string build = Join(dir.Path(), "build");
    std::string root = Join(dir.Path(), "www");
    std::map<std::string, std::string> files;

    // Only the tests about the files' contents need the large one.
    explicit Fixture(bool large = false) : files(SampleFiles(large)) {
        CreateDirectories(Join(build, "cstrike\\empty folder\\inner"));
        for (const auto& [name, bytes] : files) Put(name, bytes);
    }
    void Put(const std::string& relative, const std::string& bytes) {
        const std::string path = Join(build, relative);
        CreateDirectories(FsPathParent(path));
        test::WriteFile(path, bytes);
    }
    static std::string FsPathParent(const std::string& path) {
        const size_t cut = path.find_last_of("\\/");
        return path.substr(0, cut);
    }
    PublishOptions Options() const {
        PublishOptions o;
        o.buildDir = build;
        o.serverRoot = root;
        o.serverBase = kBase;
        o.gameCode = "cstrike";
        o.gameName = "Контр-Страйк";
        o.buildName = "v34 «стабильная»";
        o.checklistName = "css34";
        o.downloadPath = "cstrike/builds/v34";
        o.jobs = 2;
        return o;
    }
    PublishSummary Run(const PublishOptions& o) const {
        return Publish(o, [](const std::string&) {});
    }
    std::string Server(const std::string& relative) const { return Join(root, relative); }
};

std::string Unpack(const std::string& lzma, const std::string& out) {
    EXPECT_TRUE(TLZMAAlone().Main(lzma, out, "d")) << lzma;
    return out;
}

std::string ErrorOf(const Fixture& f, const PublishOptions& o) {
    try {
        f.Run(o);
    } catch (const Error& e) {
        return e.what();
    }
    return "<no error>";
}

// Everything the launcher would fetch, read back with its own code and compared with the tree.
void ExpectServerMatchesBuild(const Fixture& f, const PublishOptions& o) {
    const Catalogue catalogue = Catalogue::Load(f.Server("cstrike\\inf.ini"));
    ASSERT_EQ(catalogue.GameCount(), 1);
    EXPECT_EQ(catalogue.GameName(1).Decoded(CodePage::Windows1251), o.gameName);
    ASSERT_EQ(catalogue.BuildCount(1), 1);
    EXPECT_EQ(catalogue.BuildName(1, 1).Decoded(CodePage::Windows1251), o.buildName);
    EXPECT_EQ(catalogue.ChecklistName(1, 1).bytes, "css34");
    const std::string address = catalogue.DownloadAddress(1, 1).bytes;
    EXPECT_EQ(address, "http://updates.test/base/cstrike/builds/v34");

    // What the launcher fetches, mapped back into the server root.
    const std::optional<std::string> downloadPath = DownloadPathOf(address, kBase);
    ASSERT_TRUE(downloadPath);
    const std::string checklistUrl = ChecklistUrl("css34", kBase, "cstrike");
    ASSERT_EQ(checklistUrl.substr(0, std::string(kBase).size()), kBase);
    const std::string checklistFile = f.Server(checklistUrl.substr(std::string(kBase).size()));
    ChecklistReader reader =
        ChecklistReader::Open(Unpack(checklistFile, Join(f.dir.Path(), "list.dim")), CodePage::Windows1251);

    const auto& files = f.files;
    std::set<std::string> seenFiles, seenFolders;
    size_t fileEntries = 0;
    while (!reader.AtEnd()) {
        const ChecklistEntry entry = reader.Next();
        ASSERT_TRUE(entry.complete);
        ASSERT_TRUE(IsSafeRelativeEntryPath(entry.path)) << entry.path;
        if (entry.IsFolder()) {
            std::string folder = entry.FolderPath().substr(1);
            folder.pop_back();
            EXPECT_TRUE(fs::is_directory(FsPath(Join(f.build, folder)))) << folder;
            const size_t parent = folder.find_last_of('\\');
            if (parent != std::string::npos) {
                EXPECT_TRUE(seenFolders.count(folder.substr(0, parent))) << "parent first: " << folder;
            }
            seenFolders.insert(folder);
            continue;
        }
        ++fileEntries;
        const std::string relative = entry.path.substr(1);
        ASSERT_TRUE(files.count(relative)) << relative;
        const size_t parent = relative.find_last_of('\\');
        if (parent != std::string::npos) {
            EXPECT_TRUE(seenFolders.count(relative.substr(0, parent))) << relative;
        }
        seenFiles.insert(relative);
        const std::string& bytes = files.at(relative);
        const std::string source = Join(f.build, relative);
        ASSERT_TRUE(entry.size);
        EXPECT_EQ(static_cast<size_t>(*entry.size), bytes.size()) << relative;
        if (entry.IsEmptyFile()) {
            EXPECT_TRUE(bytes.empty());
            EXPECT_FALSE(test::Exists(f.Server(Slashed(GameFileUrl(*downloadPath, entry.path)))))
                << "the launcher never fetches empty files";
            continue;
        }
        EXPECT_EQ(entry.crcText, Crc32Text(FileCrc32(source))) << relative;
        const std::string lzma = f.Server(GameFileUrl(*downloadPath, entry.path));
        const std::string unpacked = Unpack(lzma, Join(f.dir.Path(), "unpacked"));
        EXPECT_EQ(Crc32Text(FileCrc32(unpacked)), entry.crcText) << relative;
        EXPECT_EQ(test::ReadFile(unpacked).size(), bytes.size()) << relative;
    }
    EXPECT_EQ(seenFiles.size(), files.size());
    EXPECT_EQ(seenFolders, (std::set<std::string>{"cstrike", "cstrike\\cfg", "cstrike\\empty folder",
                                                  "cstrike\\empty folder\\inner", "cstrike\\maps", "cstrike\\Игрок"}));
    EXPECT_EQ(catalogue.FileCountText(1, 1).bytes, std::to_string(fileEntries));

    const KeepList keep = ReadKeepList(test::ReadFile(f.Server(KeepListPath("cstrike"))), CodePage::Windows1252);
    EXPECT_EQ(std::set<std::string>(keep.Files.begin(), keep.Files.end()), seenFiles);
    EXPECT_EQ(std::set<std::string>(keep.Dirs.begin(), keep.Dirs.end()), seenFolders);
}

TEST(Publish, ABuildReadsBackWithTheLaunchersOwnCode) {
    Fixture f(true);
    const PublishOptions o = f.Options();
    const PublishSummary s = f.Run(o);
    EXPECT_EQ(s.files, f.files.size());
    EXPECT_EQ(s.folders, 6u);
    EXPECT_EQ(s.compressed, 5u) << "every file but the empty ones";
    EXPECT_EQ(s.unchanged, 0u);
    EXPECT_TRUE(s.checklistWritten);
    EXPECT_TRUE(s.catalogueWritten);
    EXPECT_TRUE(s.keepListWritten);
    EXPECT_TRUE(s.place.newGame);
    EXPECT_EQ(s.downloadUrl, "http://updates.test/base/cstrike/builds/v34");
    ExpectServerMatchesBuild(f, o);
    EXPECT_EQ(SummaryLines(s, o).size(), 11u);
}

TEST(Publish, RepublishingCompressesOnlyWhatChangedAndRemovesWhatWent) {
    Fixture f(true);
    const PublishOptions o = f.Options();
    f.Run(o);
    const std::string big = f.Server("cstrike\\builds\\v34\\cstrike\\maps\\de_dust2.bsp.lzma");
    const auto stamp = fs::last_write_time(FsPath(big));
    const std::string catalogue = test::ReadFile(f.Server("cstrike\\inf.ini"));

    PublishSummary again = f.Run(o);
    EXPECT_EQ(again.compressed, 0u);
    EXPECT_EQ(again.unchanged, 5u);
    EXPECT_FALSE(again.checklistWritten);
    EXPECT_FALSE(again.catalogueWritten);
    EXPECT_FALSE(again.keepListWritten);
    EXPECT_EQ(fs::last_write_time(FsPath(big)), stamp);
    EXPECT_EQ(test::ReadFile(f.Server("cstrike\\inf.ini")), catalogue);

    f.Put("cstrike\\cfg\\autoexec.cfg", "bind s +forward\r\n");  // same size: only the checksum tells
    RemoveFile(Join(f.build, "Ёлка.dat"));
    again = f.Run(o);
    EXPECT_EQ(again.compressed, 1u);
    EXPECT_EQ(again.unchanged, 3u);
    EXPECT_EQ(again.removed, 1u);
    EXPECT_TRUE(again.checklistWritten);
    EXPECT_FALSE(test::Exists(f.Server("cstrike\\builds\\v34\\Ёлка.dat.lzma")));
    EXPECT_EQ(fs::last_write_time(FsPath(big)), stamp);

    // A ".lzma" that went missing on the server is made again even though the manifest knows it.
    const std::string exe = f.Server("cstrike\\builds\\v34\\hl2.exe.lzma");
    RemoveFile(exe);
    again = f.Run(o);
    EXPECT_EQ(again.compressed, 1u);
    EXPECT_TRUE(test::Exists(exe));
}

TEST(Publish, AManifestNeverMakesItDeleteOutsideTheDownloadFolder) {
    Fixture f;
    const PublishOptions o = f.Options();
    f.Run(o);
    const std::string victim = Join(f.dir.Path(), "victim.lzma");
    test::WriteFile(victim, "keep me");
    test::WriteFile(f.Server("cstrike\\builds\\v34\\.orvanta-publish.json"),
                    "{\"version\":1,\"files\":{\"../../../victim\":{\"size\":1,\"crc\":1,\"packed\":1},"
                    "\"hl2.exe\":{\"size\":1,\"crc\":1,\"packed\":1}}}");
    const PublishSummary s = f.Run(o);
    EXPECT_TRUE(test::Exists(victim));
    EXPECT_EQ(s.removed, 0u);
    EXPECT_EQ(s.compressed, 5u) << "entries that do not match are made again";
}

TEST(Publish, AnExistingCatalogueKeepsEveryOtherLine) {
    Fixture f;
    const std::string before =
        "; the operator's notes\r\n[osn]\r\nver=1.1\r\nkolnaz=1\r\n\r\n[selfupdate]\r\ntypeofselfupdate=1\r\n\r\n"
        "[naz1]\r\nnaz=Old game\r\nadr = http://news.test/ \r\nkolver=0\r\nrun=\\revLoader.exe\n";
    CreateDirectories(f.Server("cstrike"));
    test::WriteFile(f.Server("cstrike\\inf.ini"), before);
    PublishOptions o = f.Options();
    o.appName = "css";
    o.baseVersion = "7";
    o.buildVersion = "9321";
    const PublishSummary s = f.Run(o);
    EXPECT_EQ(s.place.game, 2);
    const std::string after = test::ReadFile(f.Server("cstrike\\inf.ini"));
    std::string expected = before;
    expected.replace(expected.find("kolnaz=1"), 8, "kolnaz=2");
    expected +=
        "[naz2]\r\nnaz=\xCA\xEE\xED\xF2\xF0-\xD1\xF2\xF0\xE0\xE9\xEA\r\nkolver=1\r\n"
        "ver1=v34 \xAB\xF1\xF2\xE0\xE1\xE8\xEB\xFC\xED\xE0\xFF\xBB\r\nnazcek1=css34\r\nkolf1=7\r\n"
        "adrskach1=http://updates.test/base/cstrike/builds/v34\r\nappname=css\r\n"
        "[cssserverversion]\r\nbaseversion=7\r\nbuilserverdversion=9321\r\n";
    EXPECT_EQ(after, expected);
}

TEST(Publish, NamesOutsideTheCodePageAreRefusedBeforeAnythingIsWritten) {
    Fixture f;
    f.Put("cstrike\\日本.txt", "x");
    EXPECT_EQ(ErrorOf(f, f.Options()),
              "The file name \"cstrike/日本.txt\" cannot be written in code page 1251: it has no character \"日\"");
    EXPECT_FALSE(test::Exists(f.root));

    Fixture g;
    PublishOptions o = g.Options();
    o.codePage = CodePage::Windows1252;
    EXPECT_NE(ErrorOf(g, o).find("code page 1252"), std::string::npos) << "Cyrillic names in 1252";
    o = g.Options();
    o.gameName = "Game ☢";
    EXPECT_EQ(ErrorOf(g, o), "The game name \"Game ☢\" cannot be written in code page 1251: it has no character \"☢\"");
    EXPECT_FALSE(test::Exists(g.root));
}

TEST(Publish, InconsistentOrUnsafePlacesAreRefused) {
    Fixture f;
    PublishOptions o = f.Options();
    o.downloadPath = "";
    o.downloadUrl = "http://updates.test/base/cstrike/v91/";
    PublishSummary s = f.Run(o);
    EXPECT_EQ(s.downloadUrl, "http://updates.test/base/cstrike/v91") << "the path comes from the address";
    EXPECT_TRUE(test::Exists(f.Server("cstrike\\v91\\hl2.exe.lzma")));

    auto refused = [&](PublishOptions bad, const char* fragment) {
        const std::string error = ErrorOf(f, bad);
        EXPECT_NE(error.find(fragment), std::string::npos) << error;
    };
    o = f.Options();
    o.downloadUrl = "http://updates.test/base/cstrike/other";
    refused(o, "lies at cstrike/other below the server base, not at cstrike/builds/v34");
    o.downloadPath = "";
    o.downloadUrl = "http://cdn.test/v34";
    refused(o, "is not below the server base");
    o.downloadPath = "mirror/v34";
    EXPECT_EQ(ErrorOf(f, o), "<no error>") << "a mirror elsewhere, with the folder it serves";
    o = f.Options();
    for (const char* path : {"../outside", "cstrike/./x", "a b", "/abs", "c:/x", "a//b", "x%20y"}) {
        o.downloadPath = path;
        refused(o, "The download path");
    }
    o = f.Options();
    o.checklistName = "../css";
    refused(o, "The checklist name");
    o = f.Options();
    o.gameCode = "a/b";
    refused(o, "The game code");
    o = f.Options();
    o.serverBase = "http://updates.test/base";
    refused(o, "must end with \"/\"");
    o = f.Options();
    o.serverRoot = Join(f.build, "www");
    refused(o, "must lie apart");
    o = f.Options();
    o.downloadPath = "Chunks/ab";
    refused(o, "lies inside the chunk store chunks/");
    o = f.Options();
    o.downloadPath = "cstrike";
    f.Put("css34.dim", "a build file that would overwrite the checklist");
    refused(o, "which the server uses for something else");
}

#ifndef _WIN32
TEST(Publish, LinksAndNamesWindowsCannotHoldAreRefused) {
    auto refusedWith = [](const char* fragment, auto prepare) {
        Fixture f;
        prepare(f);
        const std::string error = ErrorOf(f, f.Options());
        EXPECT_NE(error.find(fragment), std::string::npos) << error;
        EXPECT_FALSE(test::Exists(f.root));
    };
    refusedWith("is a symbolic link",
                [](Fixture& f) { fs::create_directory_symlink("/etc", FsPath(Join(f.build, "etc"))); });
    refusedWith("differ only in letter case", [](Fixture& f) { f.Put("HL2.EXE", "x"); });
    refusedWith("differ only in letter case", [](Fixture& f) { f.Put("cstrike\\ИГРОК\\x", "x"); });
    refusedWith("holds a backslash", [](Fixture& f) {
        std::ofstream(fs::path(f.build) / "a\\b") << "x";  // not through the helpers: they read "\\" as "/"
    });
    refusedWith("would not keep that name", [](Fixture& f) { f.Put("aux.cfg", "x"); });
    refusedWith("would not keep that name", [](Fixture& f) { f.Put("stream:x", "x"); });
    refusedWith("would not keep that name", [](Fixture& f) { f.Put("trailing.", "x"); });
}
#endif

// ---- Chunks

// Pseudo-random bytes: chunk boundaries fall where the content puts them, and the encoder, finding
// no matches, gets through them fastest.
std::string VaryingData(size_t size, unsigned seed) { return test::MakeData(size, seed, false); }

// The build's index as the launcher reads it.
ChunkIndex ReadIndex(const Fixture& f) {
    const ChunkIndexRead read = ReadChunkIndex(f.Server(ChunkIndexPath("css34", "cstrike")));
    EXPECT_TRUE(read.index) << read.error;
    return read.index.value_or(ChunkIndex{});
}

// Each chunk the index names, unpacked from the store as the launcher unpacks it, joined again.
std::string AssembleFromStore(const Fixture& f, const ChunkIndex& index, const IndexedFile& file) {
    std::string assembled;
    for (const IndexedChunk& chunk : index.ChunksOf(file)) {
        const std::string place = f.Server(ChunkPath(DigestHex(chunk.sha256)));
        EXPECT_EQ(fs::file_size(FsPath(place)), chunk.packedSize) << place;
        std::string bytes;
        EXPECT_TRUE(DecodeLzmaFile(place, [&](const void* data, size_t size) {
            bytes.append(static_cast<const char*>(data), size);
        })) << place;
        EXPECT_EQ(bytes.size(), chunk.size);
        EXPECT_EQ(Sha256Of(bytes), chunk.sha256);
        assembled += bytes;
    }
    return assembled;
}

std::set<std::string> StoreFiles(const Fixture& f) {
    std::set<std::string> names;
    if (!test::Exists(f.Server("chunks"))) return names;
    for (const auto& entry : fs::recursive_directory_iterator(FsPath(f.Server("chunks"))))
        if (entry.is_regular_file()) names.insert(entry.path().filename().string());
    return names;
}

TEST(PublishChunks, LargeFilesGetAnIndexWhoseChunksAllDecodeAndHash) {
    Fixture f;
    // At the threshold a file is chunked, a byte below it not.
    const std::map<std::string, bool> chunked = {{"cstrike\\maps\\exact.bsp", true},
                                                 {"cstrike\\maps\\below.bsp", false}};
    f.files["cstrike\\maps\\exact.bsp"] = VaryingData(kChunkedFileMinSize, 8);
    f.files["cstrike\\maps\\below.bsp"] = VaryingData(kChunkedFileMinSize - 1, 9);
    for (const auto& [name, isChunked] : chunked) f.Put(name, f.files[name]);
    const PublishSummary s = f.Run(f.Options());

    const ChunkIndex index = ReadIndex(f);
    ChecklistReader reader = ChecklistReader::Open(
        Unpack(f.Server(ChecklistPath("css34", "cstrike")), Join(f.dir.Path(), "list.dim")), CodePage::Windows1251);
    size_t listed = 0;
    for (uint64_t entry = 0; !reader.AtEnd(); ++entry) {
        const std::string path = reader.Next().path.substr(1);
        const IndexedFile* file = index.FileAt(entry);
        const auto rule = chunked.find(path);
        EXPECT_EQ(file != nullptr, rule != chunked.end() && rule->second) << path;
        if (!file) continue;
        ++listed;
        EXPECT_EQ(file->size, f.files[path].size());
        EXPECT_EQ(file->sha256, Sha256Of(f.files[path]));
        EXPECT_GT(file->chunkCount, f.files[path].size() / kChunkMaxSize) << path;
        EXPECT_TRUE(AssembleFromStore(f, index, *file) == f.files[path]) << path;
    }
    EXPECT_EQ(listed, 1u);
    EXPECT_EQ(s.chunkedFiles, 1u);
    EXPECT_EQ(s.chunks, index.Chunks().size());
    EXPECT_EQ(s.chunksPresent, 0u);
    EXPECT_EQ(s.chunksWritten, StoreFiles(f).size());
    uint64_t stored = 0;
    for (const auto& entry : fs::recursive_directory_iterator(FsPath(f.Server("chunks"))))
        stored += entry.is_regular_file() ? entry.file_size() : 0;
    EXPECT_EQ(s.chunkStoreGrewBy, stored);
    EXPECT_TRUE(s.chunkIndexWritten);
}

TEST(PublishChunks, ASmallChangeInTheMiddleAddsOnlyTheChunksAroundIt) {
    Fixture f;
    std::string data = VaryingData(5 << 20, 11);
    f.Put("cstrike\\maps\\big.vpk", data);
    const PublishSummary first = f.Run(f.Options());
    const std::set<std::string> before = StoreFiles(f);
    ASSERT_GT(before.size(), 40u);

    data.insert(data.size() / 2, "a few bytes inserted in the middle move everything after them");
    f.Put("cstrike\\maps\\big.vpk", data);
    const PublishSummary again = f.Run(f.Options());
    EXPECT_GE(again.chunksWritten, 1u);
    EXPECT_LE(again.chunksWritten, 3u);
    EXPECT_LE(again.chunkStoreGrewBy, 3 * uint64_t{kChunkPackedMaxSize});
    EXPECT_GE(again.chunksPresent, first.chunksWritten - 3);
    EXPECT_TRUE(again.chunkIndexWritten);
    const std::set<std::string> after = StoreFiles(f);
    EXPECT_TRUE(std::includes(after.begin(), after.end(), before.begin(), before.end()))
        << "the store is shared: publish removes no chunk";
    const ChunkIndex index = ReadIndex(f);
    ASSERT_EQ(index.Files().size(), 1u);
    EXPECT_TRUE(AssembleFromStore(f, index, index.Files()[0]) == data);

    // Nothing changed: the file is cut again, and finds every chunk in place.
    const PublishSummary unchanged = f.Run(f.Options());
    EXPECT_EQ(unchanged.chunksWritten, 0u);
    EXPECT_EQ(unchanged.chunkStoreGrewBy, 0u);
    EXPECT_FALSE(unchanged.chunkIndexWritten);
    EXPECT_EQ(StoreFiles(f), after);
}

TEST(PublishChunks, WithoutChunksNothingGoesToTheStoreAndAnOldIndexGoes) {
    Fixture f;
    f.Put("cstrike\\maps\\big.vpk", VaryingData(kChunkedFileMinSize + 1000, 5));
    PublishOptions o = f.Options();
    o.chunks = false;
    PublishSummary s = f.Run(o);
    EXPECT_FALSE(test::Exists(f.Server("chunks")));
    EXPECT_FALSE(test::Exists(f.Server(ChunkIndexPath("css34", "cstrike"))));
    EXPECT_EQ(s.chunkedFiles, 0u);
    EXPECT_TRUE(test::Exists(f.Server("cstrike\\builds\\v34\\cstrike\\maps\\big.vpk.lzma")));

    o.chunks = true;
    f.Run(o);
    const std::set<std::string> store = StoreFiles(f);
    ASSERT_FALSE(store.empty());
    o.chunks = false;
    s = f.Run(o);
    EXPECT_TRUE(s.chunkIndexRemoved);
    EXPECT_FALSE(test::Exists(f.Server(ChunkIndexPath("css34", "cstrike"))));
    EXPECT_EQ(StoreFiles(f), store);

    // Nor does a build whose files are all small keep an index.
    o.chunks = true;
    f.Run(o);
    RemoveFile(Join(f.build, "cstrike\\maps\\big.vpk"));
    s = f.Run(o);
    EXPECT_TRUE(s.chunkIndexRemoved);
    EXPECT_FALSE(test::Exists(f.Server(ChunkIndexPath("css34", "cstrike"))));
}

TEST(PublishChunks, ASignedChecklistNamesItsIndex) {
    SKIP_WITHOUT_SIGNING();
    Fixture f;
    f.Put("cstrike\\maps\\big.vpk", VaryingData(kChunkedFileMinSize + 1, 3));
    PublishOptions o = f.Options();
    o.signing.keys = {test::SigningFile("key.pem")};
    f.Run(o);
    const std::string statementFile = f.Server(ChecklistStatementPath("css34", "cstrike"));
    std::optional<Statement> statement = ParseStatement(test::ReadFile(statementFile));
    ASSERT_TRUE(statement);
    const std::string index = test::ReadFile(f.Server(ChunkIndexPath("css34", "cstrike")));
    ASSERT_TRUE(statement->chunksSha256);
    EXPECT_EQ(*statement->chunksSha256, Sha256Of(index));
    EXPECT_EQ(statement->chunksSize, index.size());

    o.chunks = false;
    f.Run(o);
    statement = ParseStatement(test::ReadFile(statementFile));
    ASSERT_TRUE(statement);
    EXPECT_FALSE(statement->chunksSha256) << "no index, none named";
}

TEST(PublishArguments, OptionsFillTheSettingsAndProblemsAreNamed) {
    PublishOptions o;
    // clang-format off
    const auto problem = ParsePublishArguments(
        {"--build-dir", "b", "--server-root=r", "--checklist", "c", "--game-name", "G", "--build-name", "B",
         "--download-url", "http://x/y", "--codepage", "1252", "--game-number", "2", "--keep-list", "merge",
         "--appname", "css", "--jobs", "3"},
        o);
    // clang-format on
    EXPECT_FALSE(problem) << *problem;
    EXPECT_EQ(o.buildDir, "b");
    EXPECT_EQ(o.serverRoot, "r");
    EXPECT_EQ(o.codePage, CodePage::Windows1252);
    EXPECT_EQ(o.gameNumber, 2);
    EXPECT_EQ(o.jobs, 3u);
    EXPECT_EQ(o.keepList, KeepListMode::Merge);
    EXPECT_EQ(o.appName, "css");
    EXPECT_FALSE(o.baseVersion);
    EXPECT_EQ(o.serverBase, UpdateServerBase);

    const std::vector<std::string> base = {"--build-dir", "b", "--server-root", "r", "--checklist",     "c",
                                           "--game-name", "G", "--build-name",  "B", "--download-path", "p"};
    auto problemWith = [&](std::vector<std::string> extra) {
        std::vector<std::string> args = base;
        args.insert(args.end(), extra.begin(), extra.end());
        PublishOptions options;
        return ParsePublishArguments(args, options).value_or("<none>");
    };
    EXPECT_EQ(problemWith({}), "<none>");
    EXPECT_EQ(problemWith({"--codepage", "65001"}), "--codepage takes 1251, 1252 or 866, not \"65001\"");
    EXPECT_EQ(problemWith({"--game-number", "0"}), "--game-number takes a number from 1 up, not \"0\"");
    EXPECT_EQ(problemWith({"--colour", "red"}), "unknown option --colour");
    EXPECT_EQ(problemWith({"--checklist", "d"}), "--checklist is given twice");
    EXPECT_EQ(problemWith({"--jobs"}), "--jobs needs a value");
    EXPECT_EQ(problemWith({"stray"}), "unexpected argument \"stray\"");
    EXPECT_EQ(problemWith({"--no-chunks", "--no-chunks"}), "--no-chunks is given twice");
    EXPECT_EQ(problemWith({"--no-chunks=yes"}), "--no-chunks takes no value");
    PublishOptions chunkless;
    std::vector<std::string> words = base;
    words.insert(words.begin(), "--no-chunks");
    words.insert(words.end(), {"--appname", "--no-chunks"});
    EXPECT_FALSE(ParsePublishArguments(words, chunkless));
    EXPECT_FALSE(chunkless.chunks);
    EXPECT_EQ(chunkless.appName, "--no-chunks") << "an option's value is not taken for the switch";
    EXPECT_TRUE(o.chunks);
    PublishOptions options;
    EXPECT_EQ(ParsePublishArguments({"--build-dir", "b", "--server-root", "r", "--checklist", "c", "--build-name", "B",
                                     "--download-path", "p"},
                                    options),
              "missing --game-name (or --game-number)");
    EXPECT_EQ(ParsePublishArguments({"--server-root", "r"}, options), "missing --build-dir");
}

TEST(PublishArguments, SigningKeysMayRepeatAndTheirExpiryIsBounded) {
    const std::vector<std::string> base = {"--build-dir", "b", "--server-root", "r", "--checklist",     "c",
                                           "--game-name", "G", "--build-name",  "B", "--download-path", "p"};
    PublishOptions o;
    std::vector<std::string> args = base;
    args.insert(args.end(), {"--signing-key", "old.pem", "--signing-key=new.pem", "--expires-days", "7"});
    EXPECT_EQ(ParsePublishArguments(args, o), std::nullopt);
    EXPECT_EQ(o.signing.keys, (std::vector<std::string>{"old.pem", "new.pem"}));
    EXPECT_EQ(o.signing.expiresDays, 7);
    EXPECT_EQ(o.checklistName, "c");

    const struct {
        std::vector<std::string> extra;
        const char* problem;
    } cases[] = {
        {{"--expires-days", "7"}, "--expires-days needs --signing-key"},
        {{"--signing-key", "k", "--expires-days", "0"}, "--expires-days takes a number from 1 up, not \"0\""},
        {{"--signing-key", "k", "--expires-days", "3651"}, "--expires-days takes a number from 1 to 3650, not \"3651\""},
        {{"--signing-key", "k", "--expires-days", "1", "--expires-days", "2"}, "--expires-days is given twice"},
        {{"--signing-key", "a", "--signing-key", "b", "--signing-key", "c", "--signing-key", "d", "--signing-key", "e"},
         "at most 4 --signing-key"},
        {{"--signing-key"}, "--signing-key needs a value"},
    };
    for (const auto& c : cases) {
        PublishOptions options;
        args = base;
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        EXPECT_EQ(ParsePublishArguments(args, options), std::optional<std::string>(c.problem)) << c.problem;
    }

    SignServerOptions sign;
    EXPECT_EQ(ParseSignServerArguments({"--server-root", "r", "--signing-key", "k", "--server-base", "http://h/x"}, sign),
              std::nullopt);
    EXPECT_EQ(sign.serverBase, "http://h/x/");
    SignServerOptions rootless, unkeyed;
    EXPECT_EQ(ParseSignServerArguments({"--signing-key", "k"}, rootless), "missing --server-root");
    EXPECT_EQ(ParseSignServerArguments({"--server-root", "r"}, unkeyed), "missing --signing-key");
}

}  // namespace
}  // namespace orv::publish
