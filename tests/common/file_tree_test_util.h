// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Writing file trees as short texts in tests, and reading them back.
//
//   chain  := folder (' ' folder)*
//   folder := name ['#' archive] ['(' file (',' file)* ')'] ['[' chain ']']
//   file   := name ['@' time] [':' size] ['#' archive]
//
// Zero archive numbers, times and sizes are left out, so Describe(Tree(text)) == text for
// texts written that way. Example: "src#2(a.c@10:5,b.h)[lib doc(readme)]".
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "common/file_tree.h"

namespace halvex::test {

namespace tree_text_detail {

inline bool IsNameChar(char c) {
    return c != ' ' && c != '#' && c != '(' && c != ')' && c != '[' && c != ']' && c != ',' &&
           c != '@' && c != ':';
}

class Parser {
public:
    explicit Parser(std::string_view text) : text_(text) {}

    FileTreeNode* Chain() {
        FileTreeNode* head = nullptr;
        FileTreeNode** link = &head;
        try {
            do {
                *link = Folder();
                link = &(*link)->nextSibling;
            } while (Accept(' '));
        } catch (...) {
            FreeFileTree(head);
            throw;
        }
        return head;
    }

    bool AtEnd() const { return pos_ == text_.size(); }

private:
    FileTreeNode* Folder() {
        FileTreeNode* folder = NewFolderNode(Name());
        try {
            if (Accept('#')) folder->archiveNumber = static_cast<std::uint16_t>(Number());
            if (Accept('(')) {
                FileTreeFile** link = &folder->files;
                do {
                    *link = File();
                    link = &(*link)->next;
                } while (Accept(','));
                Expect(')');
            }
            if (Accept('[')) {
                folder->firstChild = Chain();
                Expect(']');
            }
        } catch (...) {
            FreeFileTree(folder);
            throw;
        }
        return folder;
    }

    FileTreeFile* File() {
        std::string name = Name();
        std::uint64_t time = 0, size = 0, archive = 0;
        if (Accept('@')) time = Number();
        if (Accept(':')) size = Number();
        if (Accept('#')) archive = Number();
        return NewFileNode(name, size, time, static_cast<std::uint16_t>(archive));
    }

    std::string Name() {
        std::size_t start = pos_;
        while (pos_ < text_.size() && IsNameChar(text_[pos_])) ++pos_;
        return std::string(text_.substr(start, pos_ - start));
    }

    std::uint64_t Number() {
        std::size_t start = pos_;
        std::uint64_t value = 0;
        while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9')
            value = value * 10 + static_cast<std::uint64_t>(text_[pos_++] - '0');
        if (pos_ == start) throw std::invalid_argument("number expected in tree text");
        return value;
    }

    bool Accept(char c) {
        if (pos_ < text_.size() && text_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }

    void Expect(char c) {
        if (!Accept(c)) throw std::invalid_argument(std::string("'") + c + "' expected in tree text");
    }

    std::string_view text_;
    std::size_t pos_ = 0;
};

// Appends mark and number, or nothing for 0.
inline void AppendNumber(std::string& out, char mark, std::uint64_t number) {
    if (number == 0) return;
    out += mark;
    out += std::to_string(number);
}

inline void DescribeChain(const FileTreeNode* node, std::string& out) {
    for (; node != nullptr; node = node->nextSibling) {
        out += node->name;
        AppendNumber(out, '#', node->archiveNumber);
        if (node->files != nullptr) {
            out += '(';
            for (const FileTreeFile* file = node->files; file != nullptr; file = file->next) {
                out += file->name;
                AppendNumber(out, '@', file->lastWriteTime);
                AppendNumber(out, ':', file->size);
                AppendNumber(out, '#', file->archiveNumber);
                if (file->next != nullptr) out += ',';
            }
            out += ')';
        }
        if (node->firstChild != nullptr) {
            out += '[';
            DescribeChain(node->firstChild, out);
            out += ']';
        }
        if (node->nextSibling != nullptr) out += ' ';
    }
}

}  // namespace tree_text_detail

// The concatenation of the parts.
inline std::string Cat(std::initializer_list<std::string_view> parts) {
    std::string out;
    for (std::string_view part : parts) out += part;
    return out;
}

// Builds the chain a text describes; "" gives null.
inline FileTreeNode* Tree(std::string_view text) {
    if (text.empty()) return nullptr;
    tree_text_detail::Parser parser(text);
    FileTreeNode* tree = parser.Chain();
    if (!parser.AtEnd()) {
        FreeFileTree(tree);
        throw std::invalid_argument("unexpected text after tree: " + std::string(text));
    }
    return tree;
}

// The text of a chain (recursive: for the small trees of tests).
inline std::string Describe(const FileTreeNode* node) {
    std::string out;
    tree_text_detail::DescribeChain(node, out);
    return out;
}

// Owns a chain for the length of a test; `head` may be changed by merges.
struct OwnedTree {
    FileTreeNode* head = nullptr;
    OwnedTree() = default;
    explicit OwnedTree(FileTreeNode* tree) : head(tree) {}
    explicit OwnedTree(std::string_view text) : head(Tree(text)) {}
    OwnedTree(const OwnedTree&) = delete;
    OwnedTree& operator=(const OwnedTree&) = delete;
    ~OwnedTree() { FreeFileTree(head); }
    std::string Text() const { return Describe(head); }
};

}  // namespace halvex::test
