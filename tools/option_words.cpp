#include "tools/option_words.h"

#include "launcher/config/launcher_identity.h"
#include "launcher/integrity/statement.h"
#include "launcher/net/rate_limit.h"
#include "tools/check_trust.h"

namespace orv {

namespace {

// An hour without a byte is a server that is gone, whatever the line.
constexpr int kMostReceiveSeconds = 3600;

}  // namespace

std::optional<std::string> OptionWords::Read(const std::vector<std::string>& args, const std::set<std::string>& flags,
                                             const std::set<std::string>& valued) {
    for (size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i], value;
        if (!name.starts_with("--")) return "unexpected argument \"" + name + "\"";
        const size_t equals = name.find('=');
        if (equals != std::string::npos) {
            value = name.substr(equals + 1);
            name.resize(equals);
        }
        if (flags.count(name)) {
            if (equals != std::string::npos) return name + " takes no value";
            if (!flags_.insert(name).second) return name + " is given twice";
            continue;
        }
        if (!valued.count(name)) return "unknown option " + name;
        if (equals == std::string::npos) {
            if (i + 1 >= args.size()) return name + " needs a value";
            value = args[++i];
        }
        if (!given_.emplace(name, value).second) return name + " is given twice";
    }
    return std::nullopt;
}

bool OptionWords::Take(const char* name, std::string& field) const {
    const auto it = given_.find(name);
    if (it == given_.end()) return false;
    field = it->second;
    return true;
}

std::optional<std::string> TakeTransferOptions(OptionWords& words, const TransferOptions& o) {
    int receiveSeconds = 0;
    words.TakeNumber("--receive-timeout", receiveSeconds, kMostReceiveSeconds);
    if (words.problem) return words.problem;
    if (receiveSeconds) o.receiveTimeLimitMs = static_cast<uint32_t>(receiveSeconds) * 1000;
    std::string text;
    if (words.Take("--limit-rate", text)) {
        const std::optional<uint64_t> rate = ParseRateText(text);
        if (!rate) return "--limit-rate takes bytes a second with an optional K, M or G, as 500K or 2M, not \"" + text + "\"";
        o.rateLimit = *rate;
    }
    if (words.Take("--codepage", text)) {
        int number = 0;
        const std::optional<CodePage> page = ParsePositive(text, number) ? CodePageFromNumber(number) : std::nullopt;
        if (!page) return "--codepage takes 1251, 1252 or 866, not \"" + text + "\"";
        o.codePage = *page;
    }
    if (words.Take("--public-key", text)) {
        o.publicKey = check::PublicKeyArgument(text);
        if (!o.publicKey) return "--public-key takes 128 hex digits or a file holding them, not \"" + text + "\"";
    } else if (*UpdatePublicKey) {
        // A keyed build whose key does not read would otherwise run as an unkeyed one.
        o.publicKey = PublisherKeyFromHex(UpdatePublicKey);
        if (!o.publicKey) return "this build's publisher key is not 128 hex digits: give --public-key";
    }
    return std::nullopt;
}

}  // namespace orv
