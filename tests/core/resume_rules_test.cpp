// How an answer to a request for the rest of a body is read, and the record a partial download
// keeps beside it: every byte of both may come from someone hostile.
#include "launcher/net/resume_rules.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

namespace orv {
namespace {

TEST(ResumeRules, ContentRangeIsReadOnlyInItsOneForm) {
    const struct {
        const char* text;
        bool valid;
        int64_t first, last, total;
    } cases[] = {
        {"bytes 0-9/10", true, 0, 9, 10},
        {"bytes 100-199/200", true, 100, 199, 200},
        {"bytes 5-5/*", true, 5, 5, -1},
        {"Bytes 1-2/3", true, 1, 2, 3},
        {" bytes  7-8/9 ", true, 7, 8, 9},
        {"bytes 0-9223372036854775806/9223372036854775807", true, 0, INT64_MAX - 1, INT64_MAX},
        {"bytes 0-9/9223372036854775808", false, 0, 0, 0},
        {"bytes */10", false, 0, 0, 0},
        {"bytes 9-0/10", false, 0, 0, 0},
        {"bytes 0-9/9", false, 0, 0, 0},   // the total must lie past the last byte
        {"bytes 0-9/5", false, 0, 0, 0},
        {"bytes -1-9/10", false, 0, 0, 0},
        {"bytes +1-9/10", false, 0, 0, 0},
        {"bytes 1 -9/10", false, 0, 0, 0},
        {"bytes 1-9 /10", false, 0, 0, 0},
        {"bytes 1-9/1 0", false, 0, 0, 0},
        {"bytes 1-9", false, 0, 0, 0},
        {"bytes 1/9-10", false, 0, 0, 0},
        {"bytes=1-9/10", false, 0, 0, 0},
        {"bytes1-9/10", false, 0, 0, 0},
        {"items 1-9/10", false, 0, 0, 0},
        {"bytes 0x1-9/10", false, 0, 0, 0},
        {"", false, 0, 0, 0},
        {"bytes", false, 0, 0, 0},
    };
    for (const auto& c : cases) {
        const std::optional<ContentRange> range = ParseContentRange(c.text);
        ASSERT_EQ(range.has_value(), c.valid) << '"' << c.text << '"';
        if (!range) continue;
        EXPECT_EQ(range->first, c.first) << c.text;
        EXPECT_EQ(range->last, c.last) << c.text;
        EXPECT_EQ(range->total, c.total) << c.text;
    }
}

TEST(ResumeRules, OnlyTheRestFromTheOffsetGoesOn) {
    const struct {
        int64_t offset;
        int status;
        const char* contentRange;
        RangeAnswer answer;
    } cases[] = {
        {100, 206, "bytes 100-199/200", RangeAnswer::Append},
        {100, 206, "bytes 100-199/*", RangeAnswer::Append},
        {100, 200, "", RangeAnswer::Restart},
        {100, 200, "bytes 0-199/200", RangeAnswer::Restart},
        {100, 206, "bytes 0-199/200", RangeAnswer::Refuse},    // another range
        {100, 206, "bytes 101-199/200", RangeAnswer::Refuse},
        {100, 206, "bytes 100-150/200", RangeAnswer::Refuse},  // stops short of the end
        {100, 206, "", RangeAnswer::Refuse},
        {100, 206, "bytes */200", RangeAnswer::Refuse},
        {100, 416, "bytes */100", RangeAnswer::Refuse},
        {100, 404, "", RangeAnswer::Refuse},
        {100, 304, "", RangeAnswer::Refuse},
    };
    for (const auto& c : cases)
        EXPECT_EQ(RangeAnswerOf(c.offset, c.status, c.contentRange), c.answer) << c.status << " " << c.contentRange;
}

TEST(ResumeRules, IfRangeNamesAStrongETagOrElseTheDate) {
    const char* date = "Wed, 21 Oct 2026 07:28:00 GMT";
    const struct {
        std::string etag, lastModified, validator;
    } cases[] = {
        {"\"v1\"", date, "\"v1\""},
        {" \"v1\" ", "", "\"v1\""},
        {"W/\"v1\"", date, date},  // a weak tag cannot name the bytes
        {"W/\"v1\"", "", ""},
        {"", date, date},
        {"", "", ""},
        {"v1", date, date},  // not a quoted string
        {"\"a\"b\"", date, date},
        {"\"", date, date},
        {"\"v1\r\nX-Injected: 1\"", "", ""},  // nothing that would end the header line
        {"", std::string(date) + "\r\nX: 1", ""},
        {"\"" + std::string(600, 'e') + "\"", date, date},
        {"", std::string(600, 'd'), ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IfRangeValidator(c.etag, c.lastModified), c.validator) << c.etag << " | " << c.lastModified;
}

TEST(ResumeRules, TheWholeLengthIsTheTotalOfARangeOrTheLengthOfAWholeBody) {
    EXPECT_EQ(WholeLength(206, 100, "bytes 100-199/200"), 200);
    EXPECT_EQ(WholeLength(206, 100, "bytes 100-199/*"), -1);
    EXPECT_EQ(WholeLength(206, 100, "nonsense"), -1);
    EXPECT_EQ(WholeLength(200, 200, ""), 200);
    EXPECT_EQ(WholeLength(200, -1, "bytes 0-9/10"), -1) << "a whole body's range means nothing";
    EXPECT_EQ(WholeLength(404, 200, ""), -1);
    EXPECT_EQ(RangeHeaderValue(0), "bytes=0-");
    EXPECT_EQ(RangeHeaderValue(9437184), "bytes=9437184-");
}

TEST(ResumeRules, ARecordReadsBackAsItWasWritten) {
    const ResumeRecord record{"http://127.0.0.1:8080/game/cstrike/pak01.vpk.lzma", "\"v3\"", 9437184};
    const std::string text = FormatResumeRecord(record);
    EXPECT_EQ(text, "orvanta-partial 1\nurl http://127.0.0.1:8080/game/cstrike/pak01.vpk.lzma\nvalidator \"v3\"\n"
                    "length 9437184\n");
    const std::optional<ResumeRecord> back = ParseResumeRecord(text);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->url, record.url);
    EXPECT_EQ(back->validator, record.validator);
    EXPECT_EQ(back->length, record.length);
    EXPECT_EQ(ResumeRecordPath("C:\\g\\pak01.vpk.lzma"), "C:\\g\\pak01.vpk.lzma.orvanta-partial");
}

TEST(ResumeRules, AHostileRecordIsRefused) {
    const std::string head = "orvanta-partial 1\n";
    const std::string good = head + "url http://h/a\nvalidator \"v\"\nlength 10\n";
    ASSERT_TRUE(ParseResumeRecord(good));
    const std::string cases[] = {
        "",
        "orvanta-partial 2\nurl http://h/a\nvalidator \"v\"\nlength 10\n",
        head + "url http://h/a\nvalidator \"v\"\nlength 10",             // the last line unended
        head + "url http://h/a\nvalidator \"v\"\nlength 10\nextra 1\n",
        head + "validator \"v\"\nurl http://h/a\nlength 10\n",           // another order
        head + "url \nvalidator \"v\"\nlength 10\n",
        head + "url http://h/a\nvalidator \nlength 10\n",
        head + "url http://h/a\r\nvalidator \"v\"\nlength 10\n",
        head + "url http://h/a\nvalidator \"v\"\r\nlength 10\n",
        head + "url http://h/\x01\nvalidator \"v\"\nlength 10\n",
        head + "url http://h/a\nvalidator \"v\"\nlength 0\n",
        head + "url http://h/a\nvalidator \"v\"\nlength -10\n",
        head + "url http://h/a\nvalidator \"v\"\nlength +10\n",
        head + "url http://h/a\nvalidator \"v\"\nlength 010\n",
        head + "url http://h/a\nvalidator \"v\"\nlength 9223372036854775808\n",
        head + "url http://h/a\nvalidator \"v\"\nlength 10 \n",
        head + "url http://h/a\nvalidator \"v\"\nlength ten\n",
        head + "url http://h/a\nvalidator " + std::string(600, 'v') + "\nlength 10\n",
        head + "url http://h/" + std::string(kResumeRecordMaxBytes, 'a') + "\nvalidator \"v\"\nlength 10\n",
        good + std::string(1, '\0'),
    };
    for (const std::string& text : cases) EXPECT_FALSE(ParseResumeRecord(text)) << text;
}

}  // namespace
}  // namespace orv
