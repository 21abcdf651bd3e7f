// SPDX-License-Identifier: GPL-3.0-or-later
#include <cstddef>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/file_tree.h"

namespace halvex {

namespace {

// Chain positions in an index are 32-bit: an index costs a few words per element.
using Position = std::uint32_t;
constexpr Position kNoPosition = 0xFFFFFFFFu;

// Up to this many entries in the two chains together, a plain scan beats building an index;
// a scan then costs at most kScanLimit comparisons, even as a merge appends to the target.
constexpr std::size_t kScanLimit = 32;

// The same for a chain whose index is kept from one merge to the next.
constexpr std::size_t kKeptScanLimit = 8;

// With this few source elements (so this few lookups), scanning a long target costs less than
// building its index: a date change merges small records into a large state.
constexpr std::size_t kFewLookups = 8;

FileTreeFile*& NextOf(FileTreeFile* file) { return file->next; }
FileTreeNode*& NextOf(FileTreeNode* folder) { return folder->nextSibling; }

template <class Item>
std::size_t CountUpTo(Item* item, std::size_t limit) {
    std::size_t count = 0;
    for (; item != nullptr && count <= limit; item = NextOf(item)) ++count;
    return count;
}

template <class Item>
std::size_t Count(Item* item) {
    std::size_t count = 0;
    for (; item != nullptr; item = NextOf(item)) ++count;
    return count;
}

void FreeOneFile(FileTreeFile* file) {
    file->next = nullptr;
    FreeFileList(file);
}

void FreeOneFolder(FileTreeNode* folder) {
    folder->nextSibling = nullptr;
    FreeFileTree(folder);
}

// The target chain of one merge step: answers "the first element with an equal name" while
// found elements are removed or replaced and new ones are appended at the end.
//
// Short chains are scanned. Long ones get a hash index: the chain's elements by position,
// their live neighbours (to unlink without a scan), and per name the positions holding it in
// chain order. Only the first holder of a name is ever removed or replaced, and appends come
// last in chain order, so each name's positions form a queue and the first live one is always
// the first equal name in the chain. The name table holds only the position at the front of
// each queue and hashes the name of the element there, so no name is copied: a kept index of a
// large state costs a few words per element.
template <class Item>
class TargetChain {
public:
    struct Hit {
        Item* item = nullptr;  // null when no equal name was found
        Item** link = nullptr;  // the link that points at item
        Position position = kNoPosition;
    };

    // `source` is the chain whose elements may be appended. A chain that is `kept` for later
    // merges is indexed whenever it is long, however few lookups this merge makes.
    TargetChain(Item** head, NameCase nameCase, Item* source, bool kept = false)
        : head_(head), nameCase_(nameCase) {
        // A kept chain is merged into again and again: past a few elements its index costs
        // less than the scans of every later merge, each of which walks a cold chain.
        const std::size_t limit = kept ? kKeptScanLimit : kScanLimit;
        indexed_ = (kept || CountUpTo(source, kFewLookups) > kFewLookups) &&
                   CountUpTo(*head, limit) + CountUpTo(source, limit) > limit;
        if (!indexed_) return;
        const std::size_t capacity = Count(*head) + Count(source);
        if (capacity >= kNoPosition) throw std::length_error("file tree chain too long to index");
        items_.reserve(capacity);
        previous_.reserve(capacity);
        next_.reserve(capacity);
        nextSame_.reserve(capacity);
        lastSame_.reserve(capacity);
        Rehash(capacity);
        for (Item* item = *head; item != nullptr; item = NextOf(item)) AddPosition(item);
    }

    bool Empty() const { return *head_ == nullptr; }
    bool Indexed() const { return indexed_; }

    Hit Find(const char* name) {
        Hit hit;
        if (!indexed_) {
            for (Item** link = head_; *link != nullptr; link = &NextOf(*link)) {
                if (SameName((*link)->name, name, nameCase_)) {
                    hit.item = *link;
                    hit.link = link;
                    return hit;
                }
            }
            return hit;
        }
        const std::size_t slot = SlotOf(name);
        if (slots_[slot] == kNoPosition) return hit;
        hit.position = slots_[slot];
        hit.item = items_[hit.position];
        const Position before = previous_[hit.position];
        hit.link = before == kNoPosition ? head_ : &NextOf(items_[before]);
        return hit;
    }

    // Unlinks the found element (it is not freed).
    void Remove(const Hit& hit) {
        const Position position = hit.position;
        if (indexed_) {
            // The slot is found while the element's name is still there to hash.
            const std::size_t slot = SlotOf(hit.item->name);
            const Position after = next_[position];
            const Position before = previous_[position];
            if (before != kNoPosition) next_[before] = after;
            if (after != kNoPosition) {
                previous_[after] = before;
            } else {
                tail_ = before;
            }
            const Position following = nextSame_[position];
            if (following == kNoPosition) {
                EraseSlot(slot);
            } else {
                slots_[slot] = following;
                lastSame_[following] = lastSame_[position];
            }
            items_[position] = nullptr;
        }
        *hit.link = NextOf(hit.item);
        NextOf(hit.item) = nullptr;
    }

    // Puts `replacement`, whose name equals the found one's, in the found element's place;
    // the found element is unlinked (not freed).
    void Replace(const Hit& hit, Item* replacement) {
        NextOf(replacement) = NextOf(hit.item);
        *hit.link = replacement;
        NextOf(hit.item) = nullptr;
        if (indexed_) items_[hit.position] = replacement;
    }

    // Links `item` at the end of the chain. Nothing is changed when this throws; afterwards
    // item's own link is null (so the caller reads it first).
    void Append(Item* item) {
        if (!indexed_) {
            Item** link = head_;
            while (*link != nullptr) link = &NextOf(*link);
            NextOf(item) = nullptr;
            *link = item;
            return;
        }
        const Position before = tail_;
        AddPosition(item);  // the only step that may throw
        NextOf(item) = nullptr;
        if (before == kNoPosition) {
            *head_ = item;
        } else {
            NextOf(items_[before]) = item;
        }
    }

private:
    // The slot holding the queue of `name`, or the empty slot where it would go (linear
    // probing; the table is never more than half full).
    std::size_t SlotOf(std::string_view name) const {
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t slot = NameHash{nameCase_}(name) & mask;; slot = (slot + 1) & mask) {
            const Position held = slots_[slot];
            if (held == kNoPosition || SameName(std::string_view(items_[held]->name), name, nameCase_)) return slot;
        }
    }

    // Empties `slot` and moves later members of its probe run back so that every lookup still
    // reaches them without passing an empty slot.
    void EraseSlot(std::size_t slot) {
        const std::size_t mask = slots_.size() - 1;
        std::size_t hole = slot;
        for (std::size_t at = (slot + 1) & mask; slots_[at] != kNoPosition; at = (at + 1) & mask) {
            const std::size_t home = NameHash{nameCase_}(items_[slots_[at]]->name) & mask;
            // Movable when its home does not lie cyclically within (hole, at].
            if (((at - home) & mask) >= ((at - hole) & mask)) {
                slots_[hole] = slots_[at];
                hole = at;
            }
        }
        slots_[hole] = kNoPosition;
        --used_;
    }

    void Rehash(std::size_t count) {
        std::size_t size = 16;
        while (size < 2 * count + 2) size *= 2;
        std::vector<Position> old(size, kNoPosition);
        old.swap(slots_);
        for (const Position held : old) {
            if (held == kNoPosition) continue;
            const std::size_t mask = slots_.size() - 1;
            std::size_t slot = NameHash{nameCase_}(items_[held]->name) & mask;
            while (slots_[slot] != kNoPosition) slot = (slot + 1) & mask;
            slots_[slot] = held;
        }
    }

    // Records `item` as the new last element of the chain (links are left to the caller).
    void AddPosition(Item* item) {
        const std::size_t count = items_.size();
        if (count + 1 >= kNoPosition) throw std::length_error("file tree chain too long to index");
        if (2 * (used_ + 1) > slots_.size()) Rehash(used_ + 1);
        const auto position = static_cast<Position>(count);
        items_.push_back(item);  // first, so that SlotOf may read it
        try {
            previous_.push_back(tail_);
            next_.push_back(kNoPosition);
            nextSame_.push_back(kNoPosition);
            lastSame_.push_back(position);
        } catch (...) {
            items_.resize(count);
            previous_.resize(count);
            next_.resize(count);
            nextSame_.resize(count);
            lastSame_.resize(count);
            throw;
        }
        if (tail_ != kNoPosition) next_[tail_] = position;
        tail_ = position;
        const std::size_t slot = SlotOf(item->name);
        const Position first = slots_[slot];
        if (first == kNoPosition) {
            slots_[slot] = position;
            ++used_;
        } else {
            nextSame_[lastSame_[first]] = position;
            lastSame_[first] = position;
        }
    }

    Item** head_;
    NameCase nameCase_;
    bool indexed_ = false;
    std::vector<Item*> items_;
    std::vector<Position> previous_;
    std::vector<Position> next_;
    std::vector<Position> nextSame_;
    std::vector<Position> lastSame_;  // meaningful at the front of each queue
    std::vector<Position> slots_;     // front position of each name's queue, by name hash
    std::size_t used_ = 0;
    Position tail_ = kNoPosition;
};

}  // namespace

struct MergeIndex::Chains {
    std::unordered_map<FileTreeFile**, std::unique_ptr<TargetChain<FileTreeFile>>> files;
    std::unordered_map<FileTreeNode**, std::unique_ptr<TargetChain<FileTreeNode>>> folders;

    auto& Of(FileTreeFile**) { return files; }
    auto& Of(FileTreeNode**) { return folders; }

    // Forgets the chains of `folder` and of everything below it: it is leaving the state.
    void Forget(FileTreeNode* folder) {
        if (files.empty() && folders.empty()) return;
        files.erase(&folder->files);
        folders.erase(&folder->firstChild);
        for (FileTreeNode* child = folder->firstChild; child != nullptr; child = child->nextSibling) Forget(child);
    }
};

MergeIndex::MergeIndex() : chains(std::make_unique<Chains>()) {}
MergeIndex::~MergeIndex() = default;

namespace {

// The chain at `head`: the index's when it keeps one (made when the chain is long), else a
// one-merge chain in `local`.
template <class Item>
TargetChain<Item>& ChainAt(Item** head, NameCase nameCase, Item* source, MergeIndex* index,
                           std::optional<TargetChain<Item>>& local) {
    if (index != nullptr) {
        auto& kept = index->chains->Of(head);
        const auto found = kept.find(head);
        if (found != kept.end()) return *found->second;
        auto chain = std::make_unique<TargetChain<Item>>(head, nameCase, source, true);
        if (chain->Indexed()) return *kept.emplace(head, std::move(chain)).first->second;
    }
    return local.emplace(head, nameCase, source);
}

// A chain that changes without its TargetChain (a whole chain moved in): its index goes.
template <class Item>
void ForgetChain(MergeIndex* index, Item** head) {
    if (index != nullptr) index->chains->Of(head).erase(head);
}

void ForgetFolder(MergeIndex* index, FileTreeNode* folder) {
    if (index != nullptr) index->chains->Forget(folder);
}

bool IsKnownMode(MergeMode mode) {
    return mode == MergeMode::AddRecord || mode == MergeMode::RemoveRecord || mode == MergeMode::RemoveConsuming ||
           mode == MergeMode::SplitScan;
}

void MergeLists(FileTreeFile** target, FileTreeFile** source, MergeMode mode, NameCase nameCase, MergeIndex* index) {
    if (*source == nullptr || !IsKnownMode(mode)) return;
    std::optional<TargetChain<FileTreeFile>> local;
    TargetChain<FileTreeFile>& chain = ChainAt(target, nameCase, *source, index, local);
    FileTreeFile** sourceLink = source;  // the link to the source file at hand
    while (FileTreeFile* file = *sourceLink) {
        const auto hit = chain.Find(file->name);
        if (mode == MergeMode::AddRecord) {
            // The source file moves into the target, in the found file's place or at the end.
            FileTreeFile* following = file->next;
            if (hit.item != nullptr) {
                chain.Replace(hit, file);
                FreeOneFile(hit.item);
            } else {
                chain.Append(file);
            }
            *sourceLink = following;
            continue;
        }
        if (hit.item == nullptr) {
            sourceLink = &file->next;
            continue;
        }
        const bool sameTime = SameFileTime(hit.item->lastWriteTime, file->lastWriteTime);
        if (mode != MergeMode::RemoveRecord) {  // RemoveConsuming and SplitScan consume it
            *sourceLink = file->next;
            FreeOneFile(file);
        } else {
            sourceLink = &file->next;
        }
        if (sameTime) {
            chain.Remove(hit);
            FreeOneFile(hit.item);
        }
    }
}

}  // namespace

void MergeFileLists(FileTreeFile** target, FileTreeFile** source, MergeMode mode, NameCase nameCase) {
    MergeLists(target, source, mode, nameCase, nullptr);
}

namespace {

// SplitScan: a stored folder that the scan no longer has is kept by name only, as an empty leaf,
// so that replaying the record takes it out of the state with everything below it.
void MakeEmptyLeaf(FileTreeNode* folder) {
    FreeFileTree(folder->firstChild);
    folder->firstChild = nullptr;
    FreeFileList(folder->files);
    folder->files = nullptr;
}

bool IsEmptyFolder(const FileTreeNode* folder) { return folder->files == nullptr && folder->firstChild == nullptr; }

// `nested` is false for the top chain (a target's root). In mode 14 the answer tells whether
// replaying the resulting source chain (a record of removals) takes every one of its folders
// out of the stored state; other modes answer false.
bool MergeChains(FileTreeNode** target, FileTreeNode** source, MergeMode mode, NameCase nameCase, bool nested,
                 MergeIndex* index) {
    if (*source == nullptr) return true;
    if (*target == nullptr) {
        if (mode == MergeMode::AddRecord) {
            ForgetChain(index, target);
            *target = *source;
            *source = nullptr;
        } else if (mode == MergeMode::SplitScan && nested) {  // the scanned folder has no sub-folders left
            for (FileTreeNode* folder = *source; folder != nullptr; folder = folder->nextSibling) MakeEmptyLeaf(folder);
            return true;
        }
        return false;
    }
    const bool removesTargets = mode == MergeMode::RemoveRecord || mode == MergeMode::RemoveConsuming;
    bool allGone = mode == MergeMode::SplitScan;
    std::optional<TargetChain<FileTreeNode>> local;
    // The top chain's head is the caller's variable, not a place in the state.
    TargetChain<FileTreeNode>& chain = ChainAt(target, nameCase, *source, nested ? index : nullptr, local);
    FileTreeNode** sourceLink = source;  // the link to the source folder at hand
    while (FileTreeNode* folder = *sourceLink) {
        // Once every target folder is gone, a record of removals has nothing left to remove.
        if (removesTargets && chain.Empty()) break;
        const auto hit = chain.Find(folder->name);
        if (hit.item == nullptr) {
            if (mode == MergeMode::AddRecord) {
                FileTreeNode* following = folder->nextSibling;
                chain.Append(folder);
                *sourceLink = following;
                continue;
            }
            if (mode == MergeMode::SplitScan) MakeEmptyLeaf(folder);  // gone from the scan
            sourceLink = &folder->nextSibling;
            continue;
        }

        FileTreeNode* match = hit.item;
        match->archiveNumber = folder->archiveNumber;
        const bool hadContent = !IsEmptyFolder(folder);
        const std::size_t sourceFiles = mode == MergeMode::SplitScan ? Count(folder->files) : 0;
        if (folder->files != nullptr) {
            if (match->files != nullptr) {
                MergeLists(&match->files, &folder->files, mode, nameCase, index);
            } else if (mode == MergeMode::AddRecord) {
                ForgetChain(index, &match->files);
                match->files = folder->files;
                folder->files = nullptr;
            }
        } else if (removesTargets && folder->firstChild == nullptr) {
            // An empty leaf in a record of removals: the folder has gone.
            chain.Remove(hit);
            ForgetFolder(index, match);
            folder->files = match->files;
            match->files = nullptr;
            FreeOneFolder(match);
            if (mode == MergeMode::RemoveConsuming) {
                *sourceLink = folder->nextSibling;
                FreeOneFolder(folder);
            } else {
                sourceLink = &folder->nextSibling;
            }
            continue;
        }

        const bool childrenGone = MergeChains(&match->firstChild, &folder->firstChild, mode, nameCase, true, index);

        if (mode == MergeMode::SplitScan) {
            // Every stored entry vanished (none was found unchanged): the replay below drops the
            // folder, so one still on disk stays in the change tree and comes back as added.
            const bool gone = hadContent && Count(folder->files) == sourceFiles && childrenGone;
            if (!gone) allGone = false;
            if (IsEmptyFolder(match) && !(gone && nested)) {
                chain.Remove(hit);
                FreeOneFolder(match);
            }
            if (IsEmptyFolder(folder)) {
                *sourceLink = folder->nextSibling;
                FreeOneFolder(folder);
                continue;
            }
        } else if (removesTargets && nested && hadContent && IsEmptyFolder(match)) {
            // The record emptied the folder. Earlier versions recorded a deleted folder this way
            // (with its contents, not as an empty leaf) whenever the scan had no sibling left to
            // compare it with; a folder that still exists comes back through the added tree.
            chain.Remove(hit);
            ForgetFolder(index, match);
            FreeOneFolder(match);
        }
        sourceLink = &folder->nextSibling;
    }
    return allGone;
}

}  // namespace

void MergeFileTrees(FileTreeNode** target, FileTreeNode** source, MergeMode mode, NameCase nameCase,
                    MergeIndex* index) {
    // Scans change a state in ways the index does not follow.
    if (mode == MergeMode::SplitScan || !IsKnownMode(mode)) index = nullptr;
    MergeChains(target, source, mode, nameCase, false, index);
}

}  // namespace halvex
