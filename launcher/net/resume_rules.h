// The rules of going on with a download where it stopped, shared by the launcher's WinInet client
// and the native tool's libcurl client: how an answer to a range request is read, which validator
// names the body in If-Range, and the record that lets a later run go on with a partial file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace orv {

// What "Content-Range: bytes <first>-<last>/<total>" says; total -1 for "*".
struct ContentRange {
    int64_t first = 0;
    int64_t last = 0;
    int64_t total = -1;
};
// Nothing for any other form (another unit, "bytes */N", last before first, a total not above last,
// signs, blanks inside the numbers, numbers past 64 bits).
std::optional<ContentRange> ParseContentRange(std::string_view text);

// What an answer to a request for the body from `offset` on is.
enum class RangeAnswer {
    Append,   // 206 with a range that starts at the offset: the rest of the body follows
    Restart,  // 200: the whole body, from its first byte (the server ignored the range, or the
              // body changed and If-Range made it send it whole)
    Refuse,   // anything else, a 206 of another range included: the body cannot be trusted to fit
};
RangeAnswer RangeAnswerOf(int64_t offset, int status, std::string_view contentRange);

// The validator a request for the rest names in If-Range: a strong ETag, or else Last-Modified;
// empty when the answer gave neither (a weak ETag "W/..." cannot be used in If-Range).
std::string IfRangeValidator(std::string_view etag, std::string_view lastModified);

// The length of the whole body an answer stands for: the total of a 206's Content-Range, the
// Content-Length of a 200; -1 when not known.
int64_t WholeLength(int status, int64_t contentLength, std::string_view contentRange);

// The value of the Range header ("Range: bytes=<offset>-") that asks for the body from `offset`
// on: "bytes=<offset>-", without the header's name.
std::string RangeHeaderValue(int64_t offset);

// What a partial download needs so that a later run may go on with it: kept in a small text file
// beside it (ResumeRecordPath). Read as hostile: the game folder is anyone's to write.
struct ResumeRecord {
    std::string url;        // what was being fetched
    std::string validator;  // the If-Range validator of the first answer
    int64_t length = 0;     // the whole body's length
};
// The record's file beside a partial download at `partialPath`.
std::string ResumeRecordPath(const std::string& partialPath);
// The record as text ("orvanta-partial 1", then "url ", "validator ", "length " lines).
std::string FormatResumeRecord(const ResumeRecord& record);
// Nothing for a text that is not exactly such a record, is longer than kResumeRecordMaxBytes,
// has an empty url or validator, control characters in them, or a length that is not above 0.
std::optional<ResumeRecord> ParseResumeRecord(std::string_view text);
constexpr size_t kResumeRecordMaxBytes = 4096;

// A partial download is kept for a later run only from this length of the whole body on: a small
// file is fetched again faster than its record is handled.
constexpr int64_t kKeepPartialFromBytes = 8 * 1024 * 1024;

}  // namespace orv
