#include "store/TreeNode.h"

#include <utility>

namespace tarmig {

TreeNode::TreeNode(std::string value) : value(std::move(value)) {}

TreeNode::~TreeNode() = default;

TreeNode& TreeNode::operator[](const std::string& key) {
    auto& child = children[key];
    if (!child) child = std::make_unique<TreeNode>();
    return *child;
}

TreeNode& TreeNode::operator[](int index) {
    auto& element = elements[index];
    if (!element) element = std::make_unique<TreeNode>();
    return *element;
}

}  // namespace tarmig
