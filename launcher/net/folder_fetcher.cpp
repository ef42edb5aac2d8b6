#include "launcher/net/folder_fetcher.h"

#include <exception>

#include "launcher/platform/file_helpers.h"
#include "launcher/platform/files.h"

namespace orv {
namespace {

constexpr size_t kBlock = size_t{1} << 16;

class FolderFetcher final : public Fetcher {
public:
    FolderFetcher(std::string folder, std::string base) : folder_(std::move(folder)), base_(std::move(base)) {}

    FetchResult Get(const std::string& url, const std::string& path, const std::atomic<bool>& stop,
                    const FetchProgress& progress) override {
        FetchResult result = Answer(url);
        if (result.status != 200) return result;
        try {
            File in = File::OpenRead(FileOf(url));
            PendingFile out(path);
            std::string block(kBlock, '\0');
            for (;;) {
                if (stop) {
                    result.stopped = true;
                    result.error = "stopped";
                    return result;
                }
                const size_t got = in.ReadOrRaise(block.data(), block.size());
                if (got == 0) break;
                out.Write(block.data(), got);
                result.written += static_cast<int64_t>(got);
                result.received = result.written;
                if (progress) progress(result.written, result.lengthText);
            }
            out.Keep();
            result.ok = true;
        } catch (const std::exception& e) {
            result.failed = FetchStep::File;
            result.error = e.what();
        }
        return result;
    }

    FetchResult Head(const std::string& url) override {
        FetchResult result = Answer(url);
        result.ok = result.status == 200;
        return result;
    }

private:
    std::string FileOf(const std::string& url) const { return folder_ + "/" + url.substr(base_.size()); }

    FetchResult Answer(const std::string& url) const {
        FetchResult result;
        result.tries = 1;
        const bool below = url.starts_with(base_) && url.find("..", base_.size()) == std::string::npos &&
                           url.find('\\', base_.size()) == std::string::npos;
        const int64_t size = below ? FileSize64(FileOf(url)) : -1;
        if (size < 0 || !FileExists(FileOf(url))) {
            result.status = 404;
            result.failed = FetchStep::Status;
            result.error = "HTTP status 404";
            return result;
        }
        result.status = 200;
        result.length = size;
        result.lengthText = std::to_string(size);
        return result;
    }

    const std::string folder_, base_;
};

}  // namespace

std::unique_ptr<Fetcher> NewFolderFetcher(std::string folder, std::string base) {
    return std::make_unique<FolderFetcher>(std::move(folder), std::move(base));
}

}  // namespace orv
