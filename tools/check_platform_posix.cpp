// The headless check's platform on POSIX: libcurl for HTTP (one easy handle per thread keeps its
// connection alive; each request is one try, which the run resumes and repeats), rename for the
// one-step replace, signals for the interrupt.
#include <curl/curl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "launcher/base/errors.h"
#include "launcher/net/fetch_rules.h"
#include "launcher/net/resume_rules.h"
#include "launcher/platform/files.h"
#include "launcher/platform/native_path_posix.h"
#include "tools/check.h"

namespace orv::check {
namespace {

const std::string& UserAgent() {
    static const std::string agent = std::string("orvanta-tool ") + LauncherVersion;
    return agent;
}

// One Fetch or Head: what the callbacks learn, for the result.
struct Transfer {
    CURL* curl = nullptr;
    const FetchRequest* request = nullptr;  // none for a Head
    const std::atomic<bool>* stop = nullptr;
    const FetchProgress* progress = nullptr;
    RateLimiter* rate = nullptr;
    // The headers of the last answer: a redirect's go with it.
    std::optional<std::string> lengthText;
    std::string etag, lastModified, contentRange;
    bool location = false;
    // The final answer, once its headers are in, and what it means for the file.
    bool answered = false;
    int status = 0;
    bool accepted = false;     // its body is the file's
    int64_t end = -1;          // where the file must end once the body is in; -1 when not known
    std::string refusal;       // why it is not the file, when not accepted
    std::optional<File> file;  // open while the body may be written
    int64_t written = 0;       // bytes of the file, from its first
    int64_t received = 0;
    std::optional<EOSError> fileError;
    std::exception_ptr thrown;  // by a callback of the caller, raised again once libcurl is done
};

// Optional white space around a header's value is not part of it (RFC 9110, 5.5).
std::string_view Trimmed(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

bool HasControl(std::string_view text) {
    return std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

// The value of the header `name` (lower case, with its colon) when `line` is that header.
std::optional<std::string_view> HeaderValue(std::string_view line, std::string_view name) {
    if (line.size() < name.size() ||
        !std::equal(name.begin(), name.end(), line.begin(),
                    [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); }))
        return std::nullopt;
    return Trimmed(line.substr(name.size()));
}

FetchResult AnswerOf(const Transfer& t) {
    FetchResult answer;
    answer.status = t.status;
    if (t.lengthText) {
        answer.lengthText = *t.lengthText;
        answer.length = ContentLengthValue(answer.lengthText);
    }
    answer.etag = t.etag;
    answer.lastModified = t.lastModified;
    answer.contentRange = t.contentRange;
    return answer;
}

// The final answer's headers are in: whether its body is the file's, and the file opened for it.
// False aborts the transfer.
bool Answer(Transfer& t) {
    long status = 0;
    curl_easy_getinfo(t.curl, CURLINFO_RESPONSE_CODE, &status);
    t.answered = true;
    t.status = static_cast<int>(status);
    const FetchRequest& request = *t.request;
    const int64_t length = t.lengthText ? ContentLengthValue(*t.lengthText) : -1;
    try {
        if (request.offset == 0) {
            // Created before the request, as Get has it.
            t.accepted = t.status == 200;
            t.end = length;
            if (!t.accepted) t.refusal = StatusFailureText(t.status);
        } else {
            switch (RangeAnswerOf(request.offset, t.status, t.contentRange)) {
            case RangeAnswer::Append: {
                const ContentRange range = *ParseContentRange(t.contentRange);
                if (length >= 0 && length != range.last - range.first + 1) {
                    t.refusal = "the answer's length " + *t.lengthText + " does not fit its range " + t.contentRange;
                    break;
                }
                t.file.emplace(File::OpenForAppend(request.path, static_cast<uint64_t>(request.offset)));
                t.accepted = true;
                // A range that stops short of the whole body leaves the file short, to go on from.
                t.end = range.total >= 0 ? range.total : range.last + 1;
                break;
            }
            case RangeAnswer::Restart:
                t.file.emplace(File::Create(request.path));
                t.written = 0;
                t.accepted = true;
                t.end = length;
                break;
            case RangeAnswer::Refuse:
                t.refusal = t.status == 206 ? "the answer's range " + t.contentRange + " does not start at byte " +
                                                  std::to_string(request.offset)
                                            : StatusFailureText(t.status);
                break;
            }
        }
        if (request.onAnswer) request.onAnswer(AnswerOf(t));
    } catch (const EOSError& e) {
        t.fileError = e;
        t.accepted = false;
        return false;
    } catch (...) {
        t.thrown = std::current_exception();
        t.accepted = false;
        return false;
    }
    return true;
}

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    const std::string_view line(data, size * count);
    if (t->answered) return size * count;  // trailers say nothing of the body's start
    if (line.substr(0, 5) == "HTTP/") {
        // The status line of another answer.
        t->lengthText.reset();
        t->etag.clear();
        t->lastModified.clear();
        t->contentRange.clear();
        t->location = false;
    } else if (Trimmed(line).empty()) {
        long status = 0;
        curl_easy_getinfo(t->curl, CURLINFO_RESPONSE_CODE, &status);
        const bool interim = status >= 100 && status < 200;
        // libcurl follows these itself and sends no body of theirs.
        const bool followed = t->location && (status == 301 || status == 302 || status == 303 || status == 307 || status == 308);
        if (t->request && !interim && !followed && !Answer(*t)) return 0;
    } else {
        // The first of each, as WinInet gives it. A validator that cannot be sent back as a header
        // line is as good as none.
        const auto keep = [](std::string& field, std::string_view value) {
            if (field.empty() && !HasControl(value)) field = std::string(value);
        };
        std::optional<std::string_view> value;
        if ((value = HeaderValue(line, "content-length:"))) {
            if (!t->lengthText) t->lengthText = std::string(*value);
        } else if ((value = HeaderValue(line, "location:"))) {
            t->location = !value->empty();
        } else if ((value = HeaderValue(line, "etag:"))) {
            keep(t->etag, *value);
        } else if ((value = HeaderValue(line, "last-modified:"))) {
            keep(t->lastModified, *value);
        } else if ((value = HeaderValue(line, "content-range:"))) {
            keep(t->contentRange, *value);
        }
    }
    return size * count;
}

size_t WriteBody(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    const size_t n = size * count;
    t->received += static_cast<int64_t>(n);
    if (!t->answered && !Answer(*t)) return 0;
    if (!t->accepted) return 0;  // an error page is not the file
    // Nothing may be thrown through libcurl.
    try {
        t->file->Write(data, n);
        t->written += static_cast<int64_t>(n);
        if (*t->progress) (*t->progress)(t->written, t->lengthText ? *t->lengthText : std::string());
    } catch (const EOSError& e) {
        t->fileError = e;
        return 0;
    } catch (...) {
        t->thrown = std::current_exception();
        return 0;
    }
    // The wait for the cap holds the connection's reading back; a stop during it ends the transfer.
    if (t->rate && !t->rate->Take(n, *t->stop)) return 0;
    return n;
}

int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<Transfer*>(user)->stop->load() ? 1 : 0;
}

void FailFile(FetchResult& result, const EOSError& e) {
    result.failed = FetchStep::File;
    result.platformCode = e.Code();
    result.error = e.what();
}

struct SlistFree {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

class CurlPartFetcher final : public PartFetcher {
public:
    explicit CurlPartFetcher(check::ConnectionLimits limits) : limits_(std::move(limits)), curl_(curl_easy_init()) {
        if (!curl_) throw Error("libcurl could not start a transfer");
    }
    ~CurlPartFetcher() override { curl_easy_cleanup(curl_); }
    CurlPartFetcher(const CurlPartFetcher&) = delete;
    CurlPartFetcher& operator=(const CurlPartFetcher&) = delete;

    FetchResult Fetch(const FetchRequest& request, const std::atomic<bool>& stop, const FetchProgress& progress) override {
        FetchResult result;
        result.written = request.offset;
        Transfer transfer;
        transfer.curl = curl_;
        transfer.request = &request;
        transfer.stop = &stop;
        transfer.progress = &progress;
        transfer.rate = limits_.rate.get();
        transfer.written = request.offset;
        if (request.offset < 0 || HasControl(request.ifRange)) {
            result.failed = FetchStep::Request;
            result.error = "the request for " + request.url + " cannot be made from byte " +
                           std::to_string(request.offset) + " with that validator";
            return result;
        }
        if (request.offset == 0) {
            try {
                transfer.file.emplace(File::Create(request.path));
            } catch (const EOSError& e) {
                FailFile(result, e);  // whatever stood at the path stays, as with Get
                result.written = 0;
                return result;
            }
        }
        if (stop) {
            result.stopped = true;
            result.error = kFetchStoppedText;
            return result;
        }
        Prepare(request.url, transfer);
        std::unique_ptr<curl_slist, SlistFree> headers;
        std::string range;
        if (request.offset > 0) {
            range = std::to_string(request.offset) + "-";
            curl_easy_setopt(curl_, CURLOPT_RANGE, range.c_str());
            if (!request.ifRange.empty()) {
                headers.reset(curl_slist_append(nullptr, ("If-Range: " + request.ifRange).c_str()));
                if (!headers) throw std::bad_alloc();
                curl_easy_setopt(curl_, CURLOPT_HTTPHEADER, headers.get());
            }
        }
        curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, &WriteBody);
        curl_easy_setopt(curl_, CURLOPT_WRITEDATA, &transfer);
        curl_easy_setopt(curl_, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(curl_, CURLOPT_XFERINFOFUNCTION, &OnProgress);
        curl_easy_setopt(curl_, CURLOPT_XFERINFODATA, &transfer);
        const CURLcode code = curl_easy_perform(curl_);
        // An answer without a body (a 416, an empty 200) never reached the write callback.
        if (code == CURLE_OK && !transfer.answered && Status() != 0) Answer(transfer);
        if (transfer.thrown) std::rethrow_exception(transfer.thrown);
        if (transfer.file) {
            try {
                transfer.file->Close();
            } catch (const EOSError& e) {
                if (!transfer.fileError) transfer.fileError = e;
            }
        }
        Finish(result, code, transfer);
        if (result.failed == FetchStep::File) {
            RemoveFile(request.path);
            result.written = 0;
        }
        return result;
    }

    FetchResult Head(const std::string& url) override {
        FetchResult result;
        Transfer transfer;
        transfer.curl = curl_;
        Prepare(url, transfer);
        curl_easy_setopt(curl_, CURLOPT_NOBODY, 1L);
        const CURLcode code = curl_easy_perform(curl_);
        transfer.status = Status();
        transfer.answered = true;
        transfer.accepted = transfer.status == 200;
        if (!transfer.accepted) transfer.refusal = StatusFailureText(transfer.status);
        Finish(result, code, transfer);
        return result;
    }

private:
    int Status() const {
        long status = 0;
        curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, &status);
        return static_cast<int>(status);
    }

    void Prepare(const std::string& url, Transfer& transfer) {
        // Resetting keeps the open connection and the name cache: the next request reuses them.
        curl_easy_reset(curl_);
        curl_easy_setopt(curl_, CURLOPT_URL, url.c_str());
        curl_easy_setopt(curl_, CURLOPT_USERAGENT, UserAgent().c_str());
        curl_easy_setopt(curl_, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(curl_, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(curl_, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
        curl_easy_setopt(curl_, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limits_.connectMs));
        // libcurl has no limit on one wait for data; under a byte a second for the whole receive
        // limit comes to the same for a server that went silent.
        curl_easy_setopt(curl_, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(curl_, CURLOPT_LOW_SPEED_TIME, static_cast<long>(std::max<uint32_t>(1, (limits_.receiveMs + 999) / 1000)));
        curl_easy_setopt(curl_, CURLOPT_HEADERFUNCTION, &OnHeader);
        curl_easy_setopt(curl_, CURLOPT_HEADERDATA, &transfer);
        if (limits_.rate && limits_.rate->BytesPerSecond() > 0) {
            const size_t buffer = CappedReadSize(limits_.rate->BytesPerSecond(), CURL_MAX_WRITE_SIZE);
            curl_easy_setopt(curl_, CURLOPT_BUFFERSIZE, static_cast<long>(buffer));
        }
    }

    // The steps as the WinInet client has them: no answer is the request's failure, an answer
    // that is not the file the status's, and what goes wrong after the headers the body's.
    void Finish(FetchResult& result, CURLcode code, const Transfer& t) {
        long osError = 0;
        curl_easy_getinfo(curl_, CURLINFO_OS_ERRNO, &osError);
        const FetchResult answer = AnswerOf(t);
        result.status = t.answered ? t.status : Status();
        result.length = answer.length;
        result.lengthText = answer.lengthText;
        result.etag = answer.etag;
        result.lastModified = answer.lastModified;
        result.contentRange = answer.contentRange;
        result.written = t.written;
        result.received = t.received;
        result.tries = 1;
        result.timedOut = code == CURLE_OPERATION_TIMEDOUT;
        const auto fail = [&](FetchStep step, std::string error) {
            result.failed = step;
            result.error = std::move(error);
            if (step == FetchStep::Request || step == FetchStep::Read) result.platformCode = static_cast<uint32_t>(osError);
        };
        if (code == CURLE_ABORTED_BY_CALLBACK || (code != CURLE_OK && t.stop && t.stop->load())) {
            result.timedOut = false;
            result.stopped = true;
            result.error = kFetchStoppedText;
        } else if (result.status == 0) {
            fail(FetchStep::Request, curl_easy_strerror(code == CURLE_OK ? CURLE_GOT_NOTHING : code));
        } else if (t.fileError) {
            FailFile(result, *t.fileError);
        } else if (!t.answered) {
            fail(FetchStep::Read, curl_easy_strerror(code));  // the answer's headers broke off
        } else if (!t.accepted) {
            result.timedOut = false;
            fail(FetchStep::Status, t.refusal);
        } else if (code == CURLE_PARTIAL_FILE || (code == CURLE_OK && t.request && t.end >= 0 && t.written != t.end)) {
            fail(FetchStep::Short, ShortBodyText(t.written, t.end));
        } else if (code != CURLE_OK) {
            fail(FetchStep::Read, curl_easy_strerror(code));
        } else {
            result.ok = true;
        }
    }

    const check::ConnectionLimits limits_;
    CURL* curl_;
};

std::atomic<bool>* g_interruptFlag = nullptr;

void OnInterrupt(int) {
    if (g_interruptFlag) g_interruptFlag->store(true);
}

}  // namespace

CheckPlatform SystemCheckPlatform() {
    static std::once_flag curlStarted;
    std::call_once(curlStarted, [] {
        if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) throw Error("libcurl could not start");
    });
    CheckPlatform platform;
    platform.newPartFetcher = [](const ConnectionLimits& limits) {
        return std::unique_ptr<PartFetcher>(new CurlPartFetcher(limits));
    };
    platform.replaceFile = [](const std::string& from, const std::string& to) {
        return ::rename(NativePath(from).c_str(), NativePath(to).c_str()) == 0;
    };
    platform.createFolder = [](const std::string& path) { ::mkdir(NativePath(path).c_str(), 0755); };
    platform.makeNormal = [](const std::string&) {};
    platform.temporaryFolder = [] {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/orvanta-check.XXXXXX";
        if (!::mkdtemp(pattern.data())) RaiseLastPlatformError();
        return pattern;
    };
    return platform;
}

void StopOnInterrupt(std::atomic<bool>& flag) {
    g_interruptFlag = &flag;
    struct sigaction action {};
    action.sa_handler = &OnInterrupt;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signal, &action, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
}

bool StderrIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

}  // namespace orv::check
