// The command-line words of the tool's server commands (check, mirror): "--name value",
// "--name=value" and flags, each given once, and the transfer options they share.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include "launcher/base/codepage.h"
#include "launcher/platform/ecdsa_p256.h"
#include "tools/positive_number.h"

namespace orv {

class OptionWords {
public:
    // Reads `args` against the names a command knows: nothing, or the first problem in words.
    std::optional<std::string> Read(const std::vector<std::string>& args, const std::set<std::string>& flags,
                                    const std::set<std::string>& valued);

    bool Has(const std::string& name) const { return flags_.count(name) > 0 || given_.count(name) > 0; }

    // The value given for `name` into `field`; false (field unchanged) when it was not given.
    bool Take(const char* name, std::string& field) const;

    // A count (CountOptionProblem's rule); a wrong one is kept in `problem`, the first only.
    template <class T>
    void TakeNumber(const char* name, T& field, int most = 0) {
        std::string value;
        if (!Take(name, value)) return;
        int number = 0;
        if (std::optional<std::string> wrong = CountOptionProblem(name, value, number, most)) {
            if (!problem) problem = std::move(wrong);
        } else {
            field = static_cast<T>(number);
        }
    }

    std::optional<std::string> problem;

private:
    std::map<std::string, std::string> given_;
    std::set<std::string> flags_;
};

// How a command's downloads go and what it trusts: --receive-timeout, --limit-rate, --codepage and
// --public-key (without it, the build's own key, if it has one). Fields not given stay as they are.
struct TransferOptions {
    uint32_t& receiveTimeLimitMs;
    uint64_t& rateLimit;
    CodePage& codePage;
    std::optional<EcdsaPublicKey>& publicKey;
};

std::optional<std::string> TakeTransferOptions(OptionWords& words, const TransferOptions& options);

}  // namespace orv
