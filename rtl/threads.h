// TCriticalSection and TThreadList: the two guards the process-wide registries use.
#pragma once

#include <algorithm>
#include <mutex>
#include <vector>

#include "rtl/exceptions.h"
#include "rtl/stringlist.h"

namespace rtl {

// A lock that the thread holding it may take again (each Acquire needs its Release).
class TCriticalSection {
  public:
    void Acquire() { mutex_.lock(); }
    void Release() { mutex_.unlock(); }
    void Enter() { Acquire(); }
    void Leave() { Release(); }
    bool TryEnter() { return mutex_.try_lock(); }
    // For std::lock_guard / std::scoped_lock.
    void lock() { Acquire(); }
    void unlock() { Release(); }

  private:
    std::recursive_mutex mutex_;
};

// A list of pointers (not owned) behind a lock. LockList gives the list to one thread at a time
// until UnlockList; Add, Remove and Clear take the lock themselves. A duplicate Add is ignored
// unless Duplicates says otherwise (dupError raises EListError "Duplicates not allowed").
template <typename T>
class TThreadList {
  public:
    std::vector<T*>& LockList() {
        lock_.Acquire();
        return list_;
    }
    void UnlockList() { lock_.Release(); }

    void Add(T* item) {
        std::lock_guard<TCriticalSection> guard(lock_);
        if (duplicates_ != dupAccept &&
            std::find(list_.begin(), list_.end(), item) != list_.end()) {
            if (duplicates_ == dupError) throw EListError("Duplicates not allowed");
            return;
        }
        list_.push_back(item);
    }
    // Removes the first occurrence.
    void Remove(T* item) {
        std::lock_guard<TCriticalSection> guard(lock_);
        auto it = std::find(list_.begin(), list_.end(), item);
        if (it != list_.end()) list_.erase(it);
    }
    void Clear() {
        std::lock_guard<TCriticalSection> guard(lock_);
        list_.clear();
    }
    TDuplicates Duplicates() const { return duplicates_; }
    void SetDuplicates(TDuplicates value) { duplicates_ = value; }

  private:
    TCriticalSection lock_;
    std::vector<T*> list_;
    TDuplicates duplicates_ = dupIgnore;
};

// Holds a thread list locked for one scope.
template <typename T>
class TLockedList {
  public:
    explicit TLockedList(TThreadList<T>& list) : list_(list), items_(list.LockList()) {}
    ~TLockedList() { list_.UnlockList(); }
    TLockedList(const TLockedList&) = delete;
    TLockedList& operator=(const TLockedList&) = delete;
    std::vector<T*>& Items() { return items_; }

  private:
    TThreadList<T>& list_;
    std::vector<T*>& items_;
};

}  // namespace rtl
