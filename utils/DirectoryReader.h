#pragma once

#include <dirent.h>

#include <string>

namespace zenqa::utils {

// Lists a directory in the order the file system returns its entries. Each
// entry's kind comes from lstat, so a symbolic link is neither a file nor a
// directory.
class DirectoryReader {
public:
    enum Kind { Other, File, Directory };

    DirectoryReader() = default;
    ~DirectoryReader();
    DirectoryReader(const DirectoryReader&) = delete;
    DirectoryReader& operator=(const DirectoryReader&) = delete;

    bool open(const std::string& path);
    bool isOpen() const { return dir_ != nullptr; }
    // Next entry other than "." and ".."; false at the end or when not open.
    bool next(std::string& name, Kind& kind);
    void close();

private:
    DIR* dir_ = nullptr;
    std::string path_;
};

}  // namespace zenqa::utils
