#include "utils/DirectoryReader.h"

#include <sys/stat.h>

namespace zenqa::utils {

DirectoryReader::~DirectoryReader() { close(); }

bool DirectoryReader::open(const std::string& path) {
    close();
    dir_ = opendir(path.c_str());
    path_ = path;
    return dir_ != nullptr;
}

bool DirectoryReader::next(std::string& name, Kind& kind) {
    if (!dir_) return false;
    while (dirent* entry = readdir(dir_)) {
        name = entry->d_name;
        if (name == "." || name == "..") continue;
        struct stat st;
        if (lstat((path_ + "/" + name).c_str(), &st) != 0) kind = Other;
        else if (S_ISREG(st.st_mode)) kind = File;
        else if (S_ISDIR(st.st_mode)) kind = Directory;
        else kind = Other;
        return true;
    }
    return false;
}

void DirectoryReader::close() {
    if (dir_) closedir(dir_);
    dir_ = nullptr;
}

}  // namespace zenqa::utils
