// The registry side of the start-up: the URL scheme under HKEY_CLASSES_ROOT and the work-offline
// switch under HKEY_CURRENT_USER, read back with the plain registry calls; and the catalogue's
// conversion in the system code page.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>

#include "launcher/base/errors.h"
#include "launcher/net/offline_switch_win.h"
#include "launcher/platform/registry_win.h"
#include "launcher/platform/system_codepage_win.h"
#include "launcher/platform/wide_win.h"
#include "launcher/url_scheme_win.h"

namespace orv {
namespace {

struct RegValue {
    DWORD type = REG_NONE;
    std::wstring text;
    DWORD number = 0;
};

// The value as stored, or nothing when the key or the value is missing.
std::optional<RegValue> Query(HKEY root, const std::wstring& subkey, const std::wstring& name) {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(root, subkey.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return std::nullopt;
    const RegistryKey owner(key);
    DWORD type = 0, size = 0;
    if (::RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return std::nullopt;
    std::wstring buffer(size / sizeof(wchar_t) + 1, L'\0');
    if (::RegQueryValueExW(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size) !=
        ERROR_SUCCESS)
        return std::nullopt;
    RegValue value;
    value.type = type;
    if (type == REG_SZ) {
        buffer.resize(size / sizeof(wchar_t));
        while (!buffer.empty() && buffer.back() == L'\0') buffer.pop_back();
        value.text = buffer;
    } else if (type == REG_DWORD) {
        std::memcpy(&value.number, buffer.data(), sizeof(DWORD));
    }
    return value;
}

bool KeyExists(HKEY root, const std::wstring& subkey) {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(root, subkey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    ::RegCloseKey(key);
    return true;
}

DWORD ValueCount(HKEY root, const std::wstring& subkey) {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(root, subkey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return DWORD(-1);
    const RegistryKey owner(key);
    DWORD values = 0;
    ::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr, nullptr,
                       nullptr);
    return values;
}

std::optional<std::wstring> Text(HKEY root, const std::wstring& subkey, const std::wstring& name) {
    const std::optional<RegValue> value = Query(root, subkey, name);
    if (!value || value->type != REG_SZ) return std::nullopt;
    return value->text;
}

TEST(RegisterUrlScheme, WritesTheSchemeKeysAndValuesUnderClassesRoot) {
    const std::wstring scheme = Wide(UrlSchemeName());
    EXPECT_EQ(scheme, L"vtlcstrike");
    const std::string exe = "C:\\Games\\Counter Strike\\Orvanta.exe";
    RegisterUrlScheme(exe);

    EXPECT_EQ(Text(HKEY_CLASSES_ROOT, scheme, L""), L"vtlcstrike URI");
    EXPECT_EQ(Text(HKEY_CLASSES_ROOT, scheme, L"URL Protocol"), L"");
    EXPECT_EQ(Text(HKEY_CLASSES_ROOT, scheme, L"Content Type"), L"application/x-command");
    EXPECT_EQ(Text(HKEY_CLASSES_ROOT, scheme + L"\\shell", L""), L"open");
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, scheme + L"\\shell\\open"));
    EXPECT_EQ(ValueCount(HKEY_CLASSES_ROOT, scheme + L"\\shell\\open"), 0u);
    EXPECT_EQ(Text(HKEY_CLASSES_ROOT, scheme + L"\\shell\\open\\command", L""),
              L"\"C:\\Games\\Counter Strike\\Orvanta.exe\" %1");
    EXPECT_EQ(ValueCount(HKEY_CLASSES_ROOT, scheme), 3u);
    EXPECT_EQ(ValueCount(HKEY_CLASSES_ROOT, scheme + L"\\shell\\open\\command"), 1u);

    // Starting from a moved game folder points the scheme at the new path.
    RegisterUrlScheme("D:\\Игры\\CSS\\Orvanta.exe");
    EXPECT_EQ(Text(HKEY_CLASSES_ROOT, scheme + L"\\shell\\open\\command", L""), Wide("\"D:\\Игры\\CSS\\Orvanta.exe\" %1"));

    EXPECT_EQ(::RegDeleteTreeW(HKEY_CLASSES_ROOT, scheme.c_str()), ERROR_SUCCESS);
}

TEST(RegisterUrlScheme, AKeyThePlatformRefusesRaisesFailedToCreateKey) {
    // The platform refuses a lasting key below a volatile one: it stands for a root the launcher
    // may not write.
    const std::wstring parent = L"Software\\OrvantaTestsVolatile";
    ::RegDeleteTreeW(HKEY_CURRENT_USER, parent.c_str());
    HKEY raw = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, parent.c_str(), 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS,
                                nullptr, &raw, nullptr),
              ERROR_SUCCESS);
    const RegistryKey refusing(raw);
    try {
        RegisterUrlSchemeUnder(refusing.Get(), "vtltest", "C:\\x.exe");
        ADD_FAILURE() << "a refused key was not reported";
    } catch (const EOSError& error) {
        EXPECT_STREQ(error.what(), "Failed to create key vtltest");
        EXPECT_EQ(error.Code(), static_cast<uint32_t>(ERROR_CHILD_MUST_BE_VOLATILE));
    }
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, parent + L"\\vtltest"));

    // Under a writable root the same call writes the whole tree.
    const std::optional<RegistryKey> writable =
        CreateRegistryKey(HKEY_CURRENT_USER, L"Software\\OrvantaTests\\Lasting", KEY_ALL_ACCESS);
    ASSERT_TRUE(writable);
    RegisterUrlSchemeUnder(writable->Get(), "vtltest", "C:\\x.exe");
    EXPECT_EQ(Text(HKEY_CURRENT_USER, L"Software\\OrvantaTests\\Lasting\\vtltest\\shell\\open\\command", L""),
              L"\"C:\\x.exe\" %1");
    EXPECT_EQ(::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\OrvantaTests"), ERROR_SUCCESS);
    EXPECT_EQ(::RegDeleteTreeW(HKEY_CURRENT_USER, parent.c_str()), ERROR_SUCCESS);
}

class OfflineSwitchTest : public ::testing::Test {
protected:
    void SetUp() override {
        HKEY key = nullptr;
        ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        key_.Reset(key);
    }
    void TearDown() override {
        key_.Reset();
        ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\OrvantaTests");
    }
    void SetDword(DWORD value) { SetRegistryDword(key_.Get(), L"GlobalUserOffline", value); }
    std::optional<RegValue> Value() const { return Query(HKEY_CURRENT_USER, kKey, L"GlobalUserOffline"); }

    static constexpr const wchar_t* kKey = L"Software\\OrvantaTests\\Internet Settings";
    RegistryKey key_;
};

TEST_F(OfflineSwitchTest, OnlyTheIntegerOneIsCleared) {
    SetDword(1);
    EXPECT_TRUE(ClearGlobalUserOffline(HKEY_CURRENT_USER, kKey));
    ASSERT_TRUE(Value());
    EXPECT_EQ(Value()->type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(Value()->number, 0u);

    for (const DWORD left : {0u, 2u}) {
        SetDword(left);
        EXPECT_FALSE(ClearGlobalUserOffline(HKEY_CURRENT_USER, kKey));
        EXPECT_EQ(Value()->number, left);
    }

    // A text "1" is not the platform's switch; it is left alone.
    SetRegistryString(key_.Get(), L"GlobalUserOffline", L"1");
    EXPECT_FALSE(ClearGlobalUserOffline(HKEY_CURRENT_USER, kKey));
    EXPECT_EQ(Value()->type, static_cast<DWORD>(REG_SZ));

    // Absent: nothing is written.
    ASSERT_EQ(::RegDeleteValueW(key_.Get(), L"GlobalUserOffline"), ERROR_SUCCESS);
    EXPECT_FALSE(ClearGlobalUserOffline(HKEY_CURRENT_USER, kKey));
    EXPECT_FALSE(Value());
}

TEST_F(OfflineSwitchTest, AMissingKeyIsNotCreated) {
    const std::wstring missing = L"Software\\OrvantaTests\\Missing\\Internet Settings";
    EXPECT_FALSE(ClearGlobalUserOffline(HKEY_CURRENT_USER, missing));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, L"Software\\OrvantaTests\\Missing"));
}

TEST_F(OfflineSwitchTest, TheUsersInternetSettingsAreRepairedAtStart) {
    const std::wstring settings = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
    HKEY raw = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, settings.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &raw,
                                nullptr),
              ERROR_SUCCESS);
    const RegistryKey key(raw);
    const std::optional<DWORD> before = ReadRegistryDword(key.Get(), L"GlobalUserOffline");

    SetRegistryDword(key.Get(), L"GlobalUserOffline", 1);
    CheckGlobalUserOffline();
    EXPECT_EQ(ReadRegistryDword(key.Get(), L"GlobalUserOffline"), DWORD{0});

    if (before)
        SetRegistryDword(key.Get(), L"GlobalUserOffline", *before);
    else
        ::RegDeleteValueW(key.Get(), L"GlobalUserOffline");
}

TEST(SystemAnsiCodec, ConvertsInTheSystemCodePage) {
    const AnsiCodec codec = SystemAnsiCodec();
    ::testing::Test::RecordProperty("ansi_code_page", static_cast<int>(::GetACP()));
    EXPECT_EQ(codec.toUtf8(""), "");
    EXPECT_EQ(codec.fromUtf8(""), "");
    EXPECT_EQ(codec.toUtf8("revLoader.exe"), "revLoader.exe");
    if (::GetACP() == 1251) {
        EXPECT_EQ(codec.toUtf8("\xCD\xE0\xE7\xE2\xE0\xED\xE8\xE5"), "Название");
        EXPECT_EQ(codec.fromUtf8("Название"), "\xCD\xE0\xE7\xE2\xE0\xED\xE8\xE5");
    } else if (::GetACP() == 1252) {
        EXPECT_EQ(codec.toUtf8("caf\xE9"), "café");
        EXPECT_EQ(codec.fromUtf8("café"), "caf\xE9");
        EXPECT_EQ(codec.fromUtf8("Я"), "?");
    } else {
        GTEST_SKIP() << "code page " << ::GetACP() << " is neither 1251 nor 1252";
    }
}

}  // namespace
}  // namespace orv
