// The headless check's platform on POSIX: libcurl for HTTP (one easy handle per thread keeps its
// connection alive), rename for the one-step replace, signals for the interrupt.
#include <curl/curl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "launcher/base/errors.h"
#include "launcher/net/fetch_rules.h"
#include "launcher/platform/files.h"
#include "launcher/platform/native_path_posix.h"
#include "tools/check.h"

namespace orv::check {
namespace {

const std::string& UserAgent() {
    static const std::string agent = std::string("orvanta-tool ") + LauncherVersion;
    return agent;
}

// One Get or Head: what the callbacks learn, for the result.
struct Transfer {
    CURL* curl = nullptr;
    std::optional<PendingFile>* file = nullptr;  // none for a Head
    const std::atomic<bool>* stop = nullptr;
    const FetchProgress* progress = nullptr;
    std::optional<std::string> lengthText;  // of the last answer: a redirect's goes with it
    int64_t written = 0;
    std::optional<EOSError> fileError;
    std::exception_ptr thrown;  // by the progress callback, raised again once libcurl is done
};

// Optional white space around a header's value is not part of it (RFC 9110, 5.5).
std::string_view Trimmed(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    const std::string_view line(data, size * count);
    constexpr std::string_view kName = "content-length:";
    if (line.substr(0, 5) == "HTTP/") {
        t->lengthText.reset();  // the status line of another answer
    } else if (!t->lengthText && line.size() >= kName.size() &&
               std::equal(kName.begin(), kName.end(), line.begin(),
                          [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); })) {
        t->lengthText = std::string(Trimmed(line.substr(kName.size())));  // the first, as WinInet gives it
    }
    return size * count;
}

size_t WriteBody(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    long status = 0;
    curl_easy_getinfo(t->curl, CURLINFO_RESPONSE_CODE, &status);
    if (status != 200 || !t->file->has_value()) return 0;  // an error page is not the file
    // Nothing may be thrown through libcurl.
    try {
        (*t->file)->Write(data, size * count);
        t->written += static_cast<int64_t>(size * count);
        if (*t->progress) (*t->progress)(t->written, t->lengthText ? *t->lengthText : std::string());
    } catch (const EOSError& e) {
        t->fileError = e;
        return 0;
    } catch (...) {
        t->thrown = std::current_exception();
        return 0;
    }
    return size * count;
}

int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<Transfer*>(user)->stop->load() ? 1 : 0;
}

void FailFile(FetchResult& result, const EOSError& e) {
    result.failed = FetchStep::File;
    result.platformCode = e.Code();
    result.error = e.what();
}

class CurlFetcher final : public Fetcher {
public:
    CurlFetcher() : curl_(curl_easy_init()) {
        if (!curl_) throw Error("libcurl could not start a transfer");
    }
    ~CurlFetcher() override { curl_easy_cleanup(curl_); }
    CurlFetcher(const CurlFetcher&) = delete;
    CurlFetcher& operator=(const CurlFetcher&) = delete;

    FetchResult Get(const std::string& url, const std::string& path, const std::atomic<bool>& stop,
                    const FetchProgress& progress) override {
        FetchResult result;
        std::optional<PendingFile> file;
        try {
            file.emplace(path);
        } catch (const EOSError& e) {
            FailFile(result, e);
            return result;
        }
        if (stop) {
            result.stopped = true;
            result.error = kFetchStoppedText;
            return result;
        }
        Transfer transfer{curl_, &file, &stop, &progress, {}, 0, {}, {}};
        Prepare(url, transfer);
        curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, &WriteBody);
        curl_easy_setopt(curl_, CURLOPT_WRITEDATA, &transfer);
        curl_easy_setopt(curl_, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(curl_, CURLOPT_XFERINFOFUNCTION, &OnProgress);
        curl_easy_setopt(curl_, CURLOPT_XFERINFODATA, &transfer);
        const CURLcode code = curl_easy_perform(curl_);
        if (transfer.thrown) std::rethrow_exception(transfer.thrown);
        Finish(result, code, transfer);
        if (!result.ok) return result;  // the unkept file is deleted here
        try {
            file->Keep();
        } catch (const EOSError& e) {
            result.ok = false;
            FailFile(result, e);
        }
        return result;
    }

    FetchResult Head(const std::string& url) override {
        FetchResult result;
        Transfer transfer{curl_, nullptr, nullptr, nullptr, {}, 0, {}, {}};
        Prepare(url, transfer);
        curl_easy_setopt(curl_, CURLOPT_NOBODY, 1L);
        Finish(result, curl_easy_perform(curl_), transfer);
        return result;
    }

private:
    void Prepare(const std::string& url, Transfer& transfer) {
        // Resetting keeps the open connection and the name cache: the next request reuses them.
        curl_easy_reset(curl_);
        curl_easy_setopt(curl_, CURLOPT_URL, url.c_str());
        curl_easy_setopt(curl_, CURLOPT_USERAGENT, UserAgent().c_str());
        curl_easy_setopt(curl_, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(curl_, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(curl_, CURLOPT_CONNECTTIMEOUT, 15L);
        // A server that stops sending for half a minute is given up.
        curl_easy_setopt(curl_, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(curl_, CURLOPT_LOW_SPEED_TIME, 30L);
        curl_easy_setopt(curl_, CURLOPT_HEADERFUNCTION, &OnHeader);
        curl_easy_setopt(curl_, CURLOPT_HEADERDATA, &transfer);
    }

    // The steps as the WinInet client has them: no answer is the request's failure, an answer
    // other than 200 the status's, and what goes wrong after the headers the body's.
    void Finish(FetchResult& result, CURLcode code, const Transfer& transfer) {
        long status = 0;
        curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, &status);
        long osError = 0;
        curl_easy_getinfo(curl_, CURLINFO_OS_ERRNO, &osError);
        result.status = static_cast<int>(status);
        if (transfer.lengthText) {
            result.lengthText = *transfer.lengthText;
            result.length = ContentLengthValue(result.lengthText);
        }
        const auto fail = [&](FetchStep step, std::string error) {
            result.failed = step;
            result.error = std::move(error);
            if (step == FetchStep::Request || step == FetchStep::Read) result.platformCode = static_cast<uint32_t>(osError);
        };
        if (code == CURLE_ABORTED_BY_CALLBACK || (code != CURLE_OK && transfer.stop && transfer.stop->load())) {
            result.stopped = true;
            result.error = kFetchStoppedText;
        } else if (status == 0) {
            fail(FetchStep::Request, curl_easy_strerror(code == CURLE_OK ? CURLE_GOT_NOTHING : code));
        } else if (status != 200) {
            fail(FetchStep::Status, StatusFailureText(static_cast<int>(status)));
        } else if (transfer.fileError) {
            FailFile(result, *transfer.fileError);
        } else if (code == CURLE_PARTIAL_FILE ||
                   (code == CURLE_OK && transfer.file && result.length >= 0 && transfer.written != result.length)) {
            fail(FetchStep::Short, ShortBodyText(transfer.written, result.length));
        } else if (code != CURLE_OK) {
            fail(FetchStep::Read, curl_easy_strerror(code));
        } else {
            result.ok = true;
        }
    }

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
    platform.newFetcher = [] { return std::unique_ptr<Fetcher>(new CurlFetcher()); };
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
