// The headless check's platform on POSIX: libcurl for HTTP (one easy handle per thread keeps its
// connection alive), rename for the one-step replace, signals for the interrupt.
#include <curl/curl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>
#include <optional>

#include "launcher/base/errors.h"
#include "launcher/platform/files.h"
#include "launcher/platform/native_path_posix.h"
#include "tools/check.h"

namespace orv::check {
namespace {

const std::string& UserAgent() {
    static const std::string agent = std::string("orvanta-tool ") + LauncherVersion;
    return agent;
}

struct Transfer {
    CURL* curl;
    std::optional<PendingFile>* file;
    const std::atomic<bool>* stop;
};

size_t WriteBody(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    long status = 0;
    curl_easy_getinfo(t->curl, CURLINFO_RESPONSE_CODE, &status);
    if (status != 200 || !t->file->has_value()) return 0;  // an error page is not the file
    try {
        (*t->file)->Write(data, size * count);
    } catch (const std::exception&) {
        return 0;
    }
    return size * count;
}

int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<Transfer*>(user)->stop->load() ? 1 : 0;
}

class CurlFetcher final : public Fetcher {
public:
    CurlFetcher() : curl_(curl_easy_init()) {
        if (!curl_) throw Error("libcurl could not start a transfer");
    }
    ~CurlFetcher() override { curl_easy_cleanup(curl_); }
    CurlFetcher(const CurlFetcher&) = delete;
    CurlFetcher& operator=(const CurlFetcher&) = delete;

    FetchResult Get(const std::string& url, const std::string& path, const std::atomic<bool>& stop, const FetchProgress&) override {
        FetchResult result;
        std::optional<PendingFile> file;
        try {
            file.emplace(path);
        } catch (const std::exception& e) {
            result.error = e.what();
            return result;
        }
        Transfer transfer{curl_, &file, &stop};
        Prepare(url);
        curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, &WriteBody);
        curl_easy_setopt(curl_, CURLOPT_WRITEDATA, &transfer);
        curl_easy_setopt(curl_, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(curl_, CURLOPT_XFERINFOFUNCTION, &OnProgress);
        curl_easy_setopt(curl_, CURLOPT_XFERINFODATA, &transfer);
        const CURLcode code = curl_easy_perform(curl_);
        Finish(result, code);
        if (result.ok) {
            try {
                file->Keep();
            } catch (const std::exception& e) {
                result.ok = false;
                result.error = e.what();
            }
        }
        return result;  // an unkept file is deleted here
    }

    FetchResult Head(const std::string& url) override {
        FetchResult result;
        Prepare(url);
        curl_easy_setopt(curl_, CURLOPT_NOBODY, 1L);
        Finish(result, curl_easy_perform(curl_));
        return result;
    }

private:
    void Prepare(const std::string& url) {
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
    }

    void Finish(FetchResult& result, CURLcode code) {
        long status = 0;
        curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, &status);
        curl_off_t length = -1;
        curl_easy_getinfo(curl_, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
        result.status = static_cast<int>(status);
        result.length = length;
        if (status != 0 && status != 200) {
            result.error = "HTTP status " + std::to_string(status);
        } else if (code != CURLE_OK) {
            result.error = curl_easy_strerror(code);
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
