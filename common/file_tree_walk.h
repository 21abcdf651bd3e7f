// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Visiting every folder of a file tree without recursion, for the file tree's own functions.
#include <vector>

namespace halvex::detail {

// Visits `node`, its following siblings and all their descendants: enter(folder) before the
// folder's sub-folders, leave(folder) after them and before its next sibling. The depth is
// held in a vector, not on the call stack. Neither callback may change the links walked.
template <class Node, class Enter, class Leave>
void WalkFolders(Node* node, Enter&& enter, Leave&& leave) {
    std::vector<Node*> open;  // folders whose sub-folders are being visited
    while (node != nullptr) {
        enter(node);
        if (node->firstChild != nullptr) {
            open.push_back(node);
            node = node->firstChild;
            continue;
        }
        leave(node);
        while (node->nextSibling == nullptr && !open.empty()) {
            node = open.back();
            open.pop_back();
            leave(node);
        }
        node = node->nextSibling;
    }
}

template <class Node, class Visit>
void ForEachFolder(Node* node, Visit&& visit) {
    WalkFolders(node, visit, [](Node*) {});
}

}  // namespace halvex::detail
