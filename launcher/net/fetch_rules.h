// How every Fetcher reads an answer and words its failures, so that the WinInet client and the
// native tool's libcurl client fill a FetchResult alike.
#pragma once

#include <cstdint>
#include <string>

namespace orv {

// The value of a Content-Length header as it came: its number when the text is all decimal digits
// and fits a signed 64-bit integer, otherwise -1 (absent, signed, padded with blanks, too large).
int64_t ContentLengthValue(const std::string& text);

// The error of an answer that is not the file: "HTTP status 404".
std::string StatusFailureText(int status);

// The error of a body that ended before its length: "the body ended after 9000 of 20000 bytes".
std::string ShortBodyText(int64_t written, int64_t length);
// Whether a body that a download bounds to `most` bytes has passed them: `written` so far, or a
// Content-Length header (`lengthText`, as it came) that announces more, or a number too large to
// read. What a bounded download's progress asks after each block, to end the transfer early.
bool BodyBeyond(int64_t written, const std::string& lengthText, uint64_t most);

// The error of a transfer that its stop flag ended.
inline constexpr const char* kFetchStoppedText = "interrupted";

}  // namespace orv
