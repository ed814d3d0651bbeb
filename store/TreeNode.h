#pragma once

#include <map>
#include <memory>
#include <string>

namespace tarmig {

// One node of a parsed settings file. It may hold a scalar, dictionary
// entries and array elements at once. Looking up an absent key or index
// creates an empty child, so a lookup never fails.
class TreeNode {
public:
    TreeNode() = default;
    explicit TreeNode(std::string value);
    virtual ~TreeNode();
    TreeNode(const TreeNode&) = delete;
    TreeNode& operator=(const TreeNode&) = delete;

    TreeNode& operator[](const std::string& key);
    TreeNode& operator[](int index);

    std::string value;
    // std::string orders by unsigned bytes, so upper case sorts before lower
    // case and a proper prefix sorts first.
    std::map<std::string, std::unique_ptr<TreeNode>> children;
    std::map<int, std::unique_ptr<TreeNode>> elements;
};

}  // namespace tarmig
