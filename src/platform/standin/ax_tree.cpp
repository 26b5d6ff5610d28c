#include "platform/standin/ax_tree.h"

namespace corvane::standin::detail {

void KeyRegistry::assign(std::vector<Node>& nodes) {
    ++build_;
    for (Node& n : nodes) {
        KeyState& k = keys_[n.key];
        if (k.id == 0) {
            k.id = nextId_++;
            k.gen = 1;
        } else if (!k.present || k.sig != n.sig) {
            // A node that vanished and came back, or whose part of the tree was rebuilt, is a new element.
            ++k.gen;
        }
        k.sig = n.sig;
        k.present = true;
        k.lastBuild = build_;
        n.id = k.id;
        n.gen = k.gen;
    }
    for (auto& [key, k] : keys_)
        if (k.present && k.lastBuild != build_) k.present = false;
}

int Tree::add(int parent, std::string_view keySuffix, std::string role, std::string sig) {
    Node n;
    n.key = parent >= 0 ? nodes_[static_cast<std::size_t>(parent)].key + "/" + std::string(keySuffix)
                        : std::string(keySuffix);
    n.role = std::move(role);
    n.sig = std::move(sig);
    n.parent = parent;
    if (parent >= 0) n.windowKey = nodes_[static_cast<std::size_t>(parent)].windowKey;
    int index = static_cast<int>(nodes_.size());
    nodes_.push_back(std::move(n));
    if (parent >= 0) nodes_[static_cast<std::size_t>(parent)].children.push_back(index);
    return index;
}

void Tree::commit(KeyRegistry& registry) {
    registry.assign(nodes_);
    byId_.clear();
    byKey_.clear();
    for (std::size_t i = 0; i < nodes_.size(); ++i) {
        byId_[nodes_[i].id] = static_cast<int>(i);
        byKey_[nodes_[i].key] = static_cast<int>(i);
    }
}

int Tree::find(std::uint64_t id, std::uint64_t gen) const {
    int i = findById(id);
    if (i < 0 || nodes_[static_cast<std::size_t>(i)].gen != gen) return -1;
    return i;
}

int Tree::findById(std::uint64_t id) const {
    auto it = byId_.find(id);
    return it == byId_.end() ? -1 : it->second;
}

int Tree::findKey(std::string_view key) const {
    auto it = byKey_.find(std::string(key));
    return it == byKey_.end() ? -1 : it->second;
}

void Tree::clear() {
    nodes_.clear();
    byId_.clear();
    byKey_.clear();
}

}  // namespace corvane::standin::detail
