#include <strings.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>

#include "migrator/Migrator.h"

namespace tarmig {

namespace {

constexpr int defaultPort = 143;
constexpr int defaultTlsPort = 993;
// More connections than this would tie up a target rather than speed it up.
constexpr int maxJobs = 64;

bool optionIs(const char* argument, const char* option) { return strcasecmp(argument, option) == 0; }

// Whole numbers from 1 up (seconds, appends); anything else is 0, which the driver refuses.
int timeoutValue(const char* text) {
    char* end = nullptr;
    errno = 0;
    long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || errno == ERANGE || value < 1 || value > INT_MAX) return 0;
    return static_cast<int>(value);
}

// Whole numbers from 1 to 64; anything else is 0, which the driver refuses.
int jobsValue(const char* text) {
    const int value = timeoutValue(text);
    return value <= maxJobs ? value : 0;
}

}  // namespace

RunOptions Migrator::parseArgs(int argc, char** argv) {
    RunOptions options;
    // 0 until a -port value says otherwise: the default depends on -ssl.
    options.port = 0;

    struct ValueOption {
        const char* name;
        std::string* value;
    };
    const ValueOption valueOptions[] = {
        {"-path", &options.path},
        {"-domain", &options.domain},
        {"-primarydomain", &options.primaryDomain},
        {"-user", &options.user},
        {"-password", &options.password},
        {"-passwordfile", &options.passwordFile},
        {"-setpass", &options.setPass},
        {"-forcesetpass", &options.forceSetPass},
        {"-server", &options.server},
        {"-report", &options.report},
    };

    auto isValueOption = [&](const char* argument) {
        if (optionIs(argument, "-port") || optionIs(argument, "-timeout") || optionIs(argument, "-window") ||
            optionIs(argument, "-jobs") ||
            optionIs(argument, "-shard"))
            return true;
        for (const auto& option : valueOptions)
            if (optionIs(argument, option.name)) return true;
        return false;
    };

    for (int i = 1; i < argc; ++i) {
        const char* argument = argv[i];
        if (argument == nullptr) continue;
        if (i + 1 < argc && argv[i + 1] != nullptr) {
            bool matched = false;
            for (const auto& option : valueOptions) {
                if (optionIs(argument, option.name)) {
                    *option.value = argv[i + 1];
                    matched = true;
                    break;
                }
            }
            if (!matched && optionIs(argument, "-port")) {
                // Beyond int the value is pinned rather than wrapped, so that it
                // cannot turn into some other, valid port.
                long value = std::strtol(argv[i + 1], nullptr, 10);
                options.port = static_cast<int>(std::clamp<long>(value, INT_MIN, INT_MAX));
                matched = true;
            }
            if (!matched && optionIs(argument, "-timeout")) {
                options.timeoutSeconds = timeoutValue(argv[i + 1]);
                matched = true;
            }
            if (!matched && optionIs(argument, "-shard")) {
                options.shard = argv[i + 1];
                matched = true;
            }
            if (!matched && optionIs(argument, "-window")) {
                options.window = timeoutValue(argv[i + 1]);
                matched = true;
            }
            if (!matched && optionIs(argument, "-jobs")) {
                options.jobs = jobsValue(argv[i + 1]);
                matched = true;
            }
            if (matched) {
                ++i;
                continue;
            }
        }
        if (optionIs(argument, "-migrate")) options.migrate = true;
        else if (optionIs(argument, "-force")) options.force = true;
        else if (optionIs(argument, "-incremental")) options.incremental = true;
        else if (optionIs(argument, "-verify")) options.verify = true;
        else if (optionIs(argument, "-quiet")) options.quiet = true;
        else if (optionIs(argument, "-disableCrLfFixing")) options.fixLineEnds = false;
        else if (optionIs(argument, "-help") || optionIs(argument, "-?")) options.help = true;
        else if (optionIs(argument, "-version")) options.version = true;
        else if (optionIs(argument, "-ssl")) options.useTls = true;
        else if (optionIs(argument, "-insecure")) options.insecure = true;
        // A mistyped option must not widen the run (-domian would migrate
        // every domain), nor may a value option that lacks its value.
        else if (isValueOption(argument)) options.optionWithoutValue = argument;
        else if (options.unknownArgument.empty()) options.unknownArgument = argument;
    }
    if (options.port == 0) options.port = options.useTls ? defaultTlsPort : defaultPort;
    return options;
}

}  // namespace tarmig
