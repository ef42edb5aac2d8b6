// The avatar window in this process: the stored avatar shown by its content, pictures picked by
// their extension in every format (files made by ImageMagick, metafiles drawn here with GDI), the
// file dialog's types, and storing the picture as "platform\avatar.dat".
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "gui_test_support.h"
#include "launcher/base/app_state.h"
#include "launcher/platform/files.h"
#include "launcher/platform/scoped_win.h"
#include "launcher/platform/wide_win.h"
#include "launcher/ui/message_loop_win.h"
#include "launcher/windows/form_change_avatar_win.h"

namespace orv {
namespace {

using test::ReadFile;
using test::WriteFile;

// The pictures tests/rig/make-pictures.sh made (a host path; the host's root is drive Z:).
std::string Pictures(const std::string& name) {
    std::string path = std::string(ORVANTA_TEST_PICTURES) + "/" + name;
    for (char& c : path)
        if (c == '/') c = '\\';
    return "Z:" + path;
}

std::string Bytes(const BYTE* data, size_t size) { return std::string(reinterpret_cast<const char*>(data), size); }

// A red 100 x 50 rectangle as an enhanced metafile.
std::string MakeEmf() {
    const HDC dc = ::CreateEnhMetaFileW(nullptr, nullptr, nullptr, nullptr);
    const HBRUSH red = ::CreateSolidBrush(RGB(255, 0, 0));
    const RECT area{0, 0, 100, 50};
    ::FillRect(dc, &area, red);
    ::DeleteObject(red);
    const HENHMETAFILE metafile = ::CloseEnhMetaFile(dc);
    std::vector<BYTE> bytes(::GetEnhMetaFileBits(metafile, 0, nullptr));
    ::GetEnhMetaFileBits(metafile, static_cast<UINT>(bytes.size()), bytes.data());
    ::DeleteEnhMetaFile(metafile);
    return Bytes(bytes.data(), bytes.size());
}

// The same rectangle as a Windows metafile with the placeable header of a ".wmf" file (96 per inch).
std::string MakeWmf() {
    const HDC dc = ::CreateMetaFileW(nullptr);
    ::SetWindowOrgEx(dc, 0, 0, nullptr);
    ::SetWindowExtEx(dc, 100, 50, nullptr);
    const HBRUSH red = ::CreateSolidBrush(RGB(255, 0, 0));
    const HGDIOBJ old = ::SelectObject(dc, red);
    ::SelectObject(dc, ::GetStockObject(NULL_PEN));
    ::Rectangle(dc, 0, 0, 101, 51);
    ::SelectObject(dc, old);
    ::DeleteObject(red);
    const HMETAFILE metafile = ::CloseMetaFile(dc);
    std::vector<BYTE> records(::GetMetaFileBitsEx(metafile, 0, nullptr));
    ::GetMetaFileBitsEx(metafile, static_cast<UINT>(records.size()), records.data());
    ::DeleteMetaFile(metafile);
    const uint16_t header[10] = {0xCDD7, 0x9AC6, 0, 0, 0, 100, 50, 96, 0, 0};
    uint16_t checksum = 0;
    for (const uint16_t word : header) checksum ^= word;
    std::string bytes = Bytes(reinterpret_cast<const BYTE*>(header), sizeof(header));
    bytes += Bytes(reinterpret_cast<const BYTE*>(&checksum), 2);
    return bytes + Bytes(records.data(), records.size());
}

COLORREF ColourAt(const Picture& picture, int x, int y) {
    const uint32_t pixel = picture.PixelAt(x, y);
    return RGB((pixel >> 16) & 0xFF, (pixel >> 8) & 0xFF, pixel & 0xFF);
}

class AvatarWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::EnsureApplication();
        ResetApplicationTermination();
        UiLanguage = UiRussian;
        WriteFile(Game("red.emf"), MakeEmf());
        WriteFile(Game("red.wmf"), MakeWmf());
    }
    std::string Game(const std::string& name) const { return start_.File(name); }
    // A new window over the current avatar file; the messages its creation showed.
    std::vector<std::string> Open(TForm_ChangeAvatar& window) {
        const size_t before = start_.state.messages.size();
        window.Create(nullptr);
        return {start_.state.messages.begin() + static_cast<ptrdiff_t>(before), start_.state.messages.end()};
    }
    void StoreAvatar(const std::string& bytes) {
        CreateDirectories(Game("platform"));
        WriteFile(AvatarFilePath(), bytes);
    }
    // Clicks the select button as the player would, the dialog answering `chosen`.
    std::vector<std::string> Select(TForm_ChangeAvatar& window, std::optional<std::string> chosen) {
        window.ДиалогОткрытияАватарки.Run = [this, chosen](HWND owner, const std::vector<FileTypeFilter>& types) {
            dialogOwners.push_back(owner);
            dialogTypes = types;
            return chosen;
        };
        const size_t before = start_.state.messages.size();
        ::SendMessageW(window.ВыбратьАватарку.ControlHandle(), BM_CLICK, 0, 0);
        return {start_.state.messages.begin() + static_cast<ptrdiff_t>(before), start_.state.messages.end()};
    }

    test::SimulatedStart start_{test::SimulatedStart::Options::LayoutOnly()};
    std::vector<HWND> dialogOwners;
    std::vector<FileTypeFilter> dialogTypes;
};

TEST_F(AvatarWindowTest, TheWindowHasItsLayoutAndMakesThePlatformFolder) {
    ASSERT_FALSE(DirectoryExists(Game("platform")));
    TForm_ChangeAvatar window;
    EXPECT_TRUE(Open(window).empty());
    EXPECT_TRUE(DirectoryExists(Game("platform")));
    EXPECT_EQ(window.ClientSize().cx, 269);
    EXPECT_EQ(window.ClientSize().cy, 160);
    EXPECT_TRUE(::GetWindowLongPtrW(window.Handle(), GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
    EXPECT_EQ(window.Caption(), "Выбор Аватара");
    const struct {
        const Control& control;
        RECT bounds;
        bool shown;
    } rows[] = {
        {window.Аватарка, {32, 32, 96, 96}, true},
        {window.ВыбратьАватарку, {110, 32, 239, 57}, true},
        {window.ЗаписатьАватарку, {110, 71, 239, 96}, false},
    };
    for (const auto& row : rows) {
        const RECT b = row.control.Bounds();
        EXPECT_TRUE(::EqualRect(&b, &row.bounds)) << row.control.Name();
        EXPECT_EQ(row.control.Shown(), row.shown) << row.control.Name();
    }
    EXPECT_EQ(window.Аватарка.Name(), "Аватарка");
    EXPECT_TRUE(window.Аватарка.GetPicture().Empty());
}

TEST_F(AvatarWindowTest, TheStoredAvatarIsShownByItsContentScaledToFit) {
    const struct {
        std::string file;
        SIZE shown;
    } cases[] = {
        {Pictures("wide.png"), {64, 32}},  {Pictures("wide.jpg"), {64, 32}},
        {Pictures("wide.gif"), {64, 32}},  {Pictures("wide.bmp"), {64, 32}},
        {Pictures("wide.tif"), {64, 32}},  {Pictures("wide-big-endian.tif"), {64, 32}},
        {Pictures("square.ico"), {64, 64}}, {Game("red.emf"), {64, 32}},
        {Game("red.wmf"), {64, 32}},       {Pictures("huge.jpg"), {64, 64}},
    };
    for (const auto& c : cases) {
        StoreAvatar(ReadFile(c.file));
        TForm_ChangeAvatar window;
        const auto started = std::chrono::steady_clock::now();
        EXPECT_TRUE(Open(window).empty()) << c.file;
        const Picture& picture = window.Аватарка.GetPicture();
        ASSERT_FALSE(picture.Empty()) << c.file;
        EXPECT_EQ(picture.Width(), c.shown.cx) << c.file;
        EXPECT_EQ(picture.Height(), c.shown.cy) << c.file;
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20)) << c.file;
        // Red on the left in every picture but the green one.
        const COLORREF left = ColourAt(picture, 1, picture.Height() / 2);
        if (c.file.find("huge") == std::string::npos)
            EXPECT_GT(GetRValue(left), 200) << c.file << " " << std::hex << left;
        else
            EXPECT_GT(GetGValue(left), 100) << c.file;
    }
}

TEST_F(AvatarWindowTest, AStoredAvatarOfNoKnownFormatIsReportedAndShowsNothing) {
    const std::string png = ReadFile(Pictures("wide.png"));
    const struct {
        const char* what;
        std::string bytes;
        std::vector<std::string> messages;
    } cases[] = {
        {"0 bytes", "", {}},
        {"43 bytes", png.substr(0, 43), {"Invalid image."}},
        {"II without the TIFF marker", std::string("II\x2B\0", 4) + std::string(60, '\0'), {"Invalid image."}},
        {"text", std::string(100, 'x'), {"Invalid image."}},
    };
    for (const auto& c : cases) {
        StoreAvatar(c.bytes);
        TForm_ChangeAvatar window;
        EXPECT_EQ(Open(window), c.messages) << c.what;
        EXPECT_TRUE(window.Аватарка.GetPicture().Empty()) << c.what;
        EXPECT_TRUE(window.HandleAllocated()) << c.what;
    }
}

TEST_F(AvatarWindowTest, SelectAsksForSixtyFourPixelsOffersElevenTypesAndLoadsByExtension) {
    TForm_ChangeAvatar window;
    Open(window);
    // Cancelled: the advice, the dialog, nothing more.
    UiLanguage = UiEnglish;
    EXPECT_EQ(Select(window, std::nullopt), std::vector<std::string>{"Select image size 64 x 64 (Recomended)"});
    const MessageRequest& advice = start_.state.requests.back();
    EXPECT_EQ(advice.caption, "Attention!");
    EXPECT_EQ(advice.flags, mb::Ok) << "no icon";
    EXPECT_EQ(advice.owner, static_cast<void*>(window.Handle()));
    ASSERT_EQ(dialogOwners.size(), 1u);
    EXPECT_EQ(dialogOwners[0], window.Handle());
    std::vector<std::string> labels, patterns;
    for (const FileTypeFilter& type : dialogTypes) {
        labels.push_back(type.label);
        patterns.push_back(type.patterns);
    }
    EXPECT_EQ(labels, (std::vector<std::string>{
                          "All (*.gif;*.jpg;*.jpeg;*.png;*.bmp;*.tif;*.tiff;*.ico;*.emf;*.wmf)", "GIF Image (*.gif)",
                          "JPEG Image File (*.jpg)", "JPEG Image File (*.jpeg)", "Portable Network Graphics (*.png)",
                          "Bitmaps (*.bmp)", "TIFF Images (*.tif)", "TIFF Images (*.tiff)", "Icons (*.ico)",
                          "Enhanced Metafiles (*.emf)", "Metafiles (*.wmf)"}));
    EXPECT_EQ(patterns, (std::vector<std::string>{"*.dat;*.gif;*.jpg;*.jpeg;*.png;*.bmp;*.tif;*.tiff;*.ico;*.emf;*.wmf",
                                                  "*.gif", "*.jpg", "*.jpeg", "*.png", "*.bmp", "*.tif", "*.tiff",
                                                  "*.ico", "*.emf", "*.wmf"}));
    EXPECT_TRUE(window.ChosenFile().empty());
    EXPECT_FALSE(window.ЗаписатьАватарку.Shown());

    UiLanguage = UiRussian;
    for (const char* name : {"wide.gif", "wide.jpg", "wide.jpeg", "wide.png", "wide.bmp", "wide.tif", "wide.tiff",
                             "square.ico"}) {
        EXPECT_EQ(Select(window, Pictures(name)),
                  std::vector<std::string>{"Выберите изображение размером 64 на 64 (рекомендуется)"})
            << name;
        EXPECT_EQ(window.ChosenFile(), Pictures(name));
        EXPECT_FALSE(window.Аватарка.GetPicture().Empty()) << name;
    }
    EXPECT_EQ(start_.state.requests.back().caption, "Внимание!");
    for (const char* name : {"red.emf", "red.wmf"}) {
        EXPECT_EQ(Select(window, Game(name)).size(), 1u) << name;
        EXPECT_EQ(window.Аватарка.GetPicture().Width(), 64) << name;
        EXPECT_EQ(window.Аватарка.GetPicture().Height(), 32) << name;
    }
    EXPECT_TRUE(window.ЗаписатьАватарку.Shown());
}

TEST_F(AvatarWindowTest, APickedFileThatDoesNotDecodeIsReportedAndNotRemembered) {
    StoreAvatar(ReadFile(Pictures("wide.png")));
    TForm_ChangeAvatar window;
    Open(window);
    const std::string dat = AvatarFilePath();
    std::vector<std::string> messages = Select(window, dat);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[1], "Unknown picture file extension (.dat).");
    EXPECT_EQ(start_.state.requests.back().flags, mb::Ok | mb::IconError);
    // A JPEG under a PNG's name goes to the PNG decoder, whose error is shown.
    messages = Select(window, Pictures("jpeg-named.png"));
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_NE(messages[1].find("PNG"), std::string::npos) << messages[1];
    EXPECT_TRUE(window.ChosenFile().empty());
    EXPECT_FALSE(window.ЗаписатьАватарку.Shown());
    EXPECT_FALSE(window.Аватарка.GetPicture().Empty()) << "the stored avatar is still shown";
}

TEST_F(AvatarWindowTest, SaveCopiesTheFileByteForByteAndReportsAFailureWithItsCode) {
    TForm_ChangeAvatar window;
    Open(window);
    UiLanguage = UiEnglish;
    Select(window, Pictures("wide.gif"));
    const size_t before = start_.state.messages.size();
    window.Show();
    ::SendMessageW(window.ЗаписатьАватарку.ControlHandle(), BM_CLICK, 0, 0);
    EXPECT_EQ(ReadFile(AvatarFilePath()), ReadFile(Pictures("wide.gif")));
    EXPECT_FALSE(window.Visible());
    EXPECT_EQ(window.ModalResult(), mr::Ok);
    // The chosen file stays: a later save copies it again, and fails over a target that another
    // program holds open (a read-only one is no obstacle to root, which the tests may run as).
    UiLanguage = UiRussian;
    {
        const ScopedFileHandle held(::CreateFileW(Wide(AvatarFilePath()).c_str(), GENERIC_READ, 0, nullptr,
                                                  OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(held.Valid());
        ::SendMessageW(window.ЗаписатьАватарку.ControlHandle(), BM_CLICK, 0, 0);
    }
    const std::vector<std::string> messages(start_.state.messages.begin() + static_cast<ptrdiff_t>(before),
                                            start_.state.messages.end());
    EXPECT_EQ(messages, (std::vector<std::string>{"Avatar has been successfully copied! \nYou can close the window.",
                                                  "Что-то пошло не так! Код ошибки: 32"}));
}

}  // namespace
}  // namespace orv
