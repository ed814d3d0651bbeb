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
constexpr int defaultTimeout = 180;
// Enough appends in flight to keep a server busy a few milliseconds away.
constexpr int defaultWindow = 32;

bool optionIs(const char* argument, const char* option) { return strcasecmp(argument, option) == 0; }

// Whole numbers from 1 up (seconds, appends); anything else is 0, which the driver refuses.
int timeoutValue(const char* text) {
    char* end = nullptr;
    errno = 0;
    long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || errno == ERANGE || value < 1 || value > INT_MAX) return 0;
    return static_cast<int>(value);
}

}  // namespace

void Migrator::parseArgs(int argc, char** argv, std::string& path, std::string& domain, std::string& user,
                         std::string& password, std::string& setPass, std::string& forceSetPass,
                         std::string& server, int& port, std::string& primaryDomain, bool& migrate, bool& force,
                         bool& quiet, bool& help, bool& version, bool& fixLineEnds, bool& useTls, bool& insecure,
                         std::string& unknownArgument, int& timeoutSeconds, int& window) {
    path.clear();
    domain.clear();
    user.clear();
    password.clear();
    setPass.clear();
    forceSetPass.clear();
    server.clear();
    primaryDomain.clear();
    unknownArgument.clear();
    // 0 until a -port value says otherwise: the default depends on -ssl.
    port = 0;
    timeoutSeconds = defaultTimeout;
    window = defaultWindow;
    migrate = force = quiet = help = version = useTls = insecure = false;
    fixLineEnds = true;

    struct ValueOption {
        const char* name;
        std::string* value;
    };
    const ValueOption valueOptions[] = {
        {"-path", &path},         {"-domain", &domain},   {"-primarydomain", &primaryDomain},
        {"-user", &user},         {"-password", &password}, {"-setpass", &setPass},
        {"-forcesetpass", &forceSetPass}, {"-server", &server},
    };

    auto isValueOption = [&](const char* argument) {
        if (optionIs(argument, "-port") || optionIs(argument, "-timeout") || optionIs(argument, "-window"))
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
                port = static_cast<int>(std::clamp<long>(value, INT_MIN, INT_MAX));
                matched = true;
            }
            if (!matched && optionIs(argument, "-timeout")) {
                timeoutSeconds = timeoutValue(argv[i + 1]);
                matched = true;
            }
            if (!matched && optionIs(argument, "-window")) {
                window = timeoutValue(argv[i + 1]);
                matched = true;
            }
            if (matched) {
                ++i;
                continue;
            }
        }
        if (optionIs(argument, "-migrate")) migrate = true;
        else if (optionIs(argument, "-force")) force = true;
        else if (optionIs(argument, "-quiet")) quiet = true;
        else if (optionIs(argument, "-disableCrLfFixing")) fixLineEnds = false;
        else if (optionIs(argument, "-help") || optionIs(argument, "-?")) help = true;
        else if (optionIs(argument, "-version")) version = true;
        else if (optionIs(argument, "-ssl")) useTls = true;
        else if (optionIs(argument, "-insecure")) insecure = true;
        // A mistyped option must not widen the run (-domian would migrate
        // every domain). A value option written last only lacks its value.
        else if (unknownArgument.empty() && !isValueOption(argument)) unknownArgument = argument;
    }
    if (port == 0) port = useTls ? defaultTlsPort : defaultPort;
}

}  // namespace tarmig
