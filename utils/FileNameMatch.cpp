#include "utils/FileNameMatch.h"

#include <fnmatch.h>

namespace zenqa::utils {

bool fileNameMatch(const std::string& mask, const std::string& name, bool ignoreCase) {
    int flags = FNM_NOESCAPE | (ignoreCase ? FNM_CASEFOLD : 0);
    return fnmatch(mask.c_str(), name.c_str(), flags) == 0;
}

}  // namespace zenqa::utils
