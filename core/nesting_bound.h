// How deep composites may nest, and the one way every loader of nested
// composites and every recursive walk keeps to it. A store file is input the
// tool does not control: a set nested in itself 20,000 times is refused with
// an error at level 513, never followed until the stack runs out. Trees that
// pass the loaders are at most this deep, so the operations on them (save,
// add, apply, report, dump, destruction) recurse at most this deep too.
//
// Recursive loaders (a composite whose LoadProperty loads a nested composite
// of its own kind) count on the store they read:
//
//     CNestingLevel level(store.NestingDepth());
//     if (level.TooDeep()) return RefuseNesting(*this, function, store.CurrentEntrySection());
//
// Tree loaders that follow "parent" links instead of recursing keep a
// CTreeDepths of the containers they have made. A recursive walk over a live
// system (a registry key read with all its subkeys) counts on a counter of
// its own with CNestingLevel.
#pragma once

#include <string>
#include <unordered_map>

class CBaseObject;

constexpr int kMaxNestingDepth = 512;

// One level of a recursive descent: counts itself in `depth` for its lifetime.
class CNestingLevel {
public:
    explicit CNestingLevel(int& depth) : depth_(depth) { ++depth_; }
    ~CNestingLevel() { --depth_; }
    CNestingLevel(const CNestingLevel&) = delete;
    CNestingLevel& operator=(const CNestingLevel&) = delete;

    int Depth() const { return depth_; }
    bool TooDeep() const { return depth_ > kMaxNestingDepth; }

private:
    int& depth_;
};

// The depth of each container a tree loader has made, the top at level 1.
class CTreeDepths {
public:
    explicit CTreeDepths(const CBaseObject* top) { depths_[top] = 1; }
    bool Knows(const CBaseObject* container) const { return depths_.count(container) != 0; }
    // The level a new child of `container` takes; past the bound when the
    // container is not one of this tree's.
    int ChildLevel(const CBaseObject* container) const;
    // Records a new container made at `level`; false when that level is
    // deeper than the bound (the container is then not recorded).
    bool Add(const CBaseObject* container, int level);

private:
    std::unordered_map<const CBaseObject*, int> depths_;
};

// Records on `object` that nesting passed the bound where `where` (a section
// of the store, a key path) begins, and returns 0, a loader's result for it.
int RefuseNesting(CBaseObject& object, const std::wstring& function, const std::wstring& where);
