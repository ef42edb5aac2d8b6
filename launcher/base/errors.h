// Error classes raised across the launcher. Expected failures are results, not errors; these carry
// platform failures (with the platform's own message) and the few errors the behaviour defines.
#pragma once

#include <cstdint>
#include <exception>
#include <stdexcept>
#include <string>

namespace orv {

// Base of every error the launcher raises; the message is UTF-8.
class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
    // Shown by the console runner's error box next to the message.
    virtual const char* ClassName() const noexcept { return "Exception"; }
};

// A refusal by the operating system; the message is the platform's text for `code`.
class EOSError : public Error {
public:
    EOSError(uint32_t code, const std::string& message) : Error(message), code_(code) {}
    uint32_t Code() const noexcept { return code_; }
    const char* ClassName() const noexcept override { return "EOSError"; }

private:
    uint32_t code_;
};

// What a caught error says about itself, for error boxes and diagnostics.
struct ErrorDescription {
    std::string ClassName;  // Error::ClassName, the C++ type of another std::exception, else "Exception"
    std::string Message;    // what() in UTF-8, "Unknown error" for anything not a std::exception
};

// Describes `error` the same way wherever it was caught: a worker's end, a failed unpack run, the
// error box. Raises only when the texts cannot be copied (out of memory).
ErrorDescription DescribeException(const std::exception_ptr& error);

// The platform's message for an error code (FormatMessage on Windows, strerror elsewhere),
// without trailing line breaks. On Windows `messageModule`, an HMODULE, is asked before the system
// when given: WinInet keeps the texts of its own codes in wininet.dll. Elsewhere it is unused.
std::string PlatformErrorMessage(uint32_t code, void* messageModule = nullptr);

// The last platform error of the calling thread (GetLastError / errno) as an EOSError.
[[noreturn]] void RaiseLastPlatformError();

}  // namespace orv
