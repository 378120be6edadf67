// What the owner of an index file needs to share it with other processes: notice that one of
// them changed the file since it was last read (its size, modification time and inode as last
// seen), and keep changes apart (an exclusive advisory lock on a descriptor of its own, so that
// the lock never clashes with the descriptor the pages are read through).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace kce {

class FileWatch {
  public:
    FileWatch() = default;
    FileWatch(const FileWatch&) = delete;
    FileWatch& operator=(const FileWatch&) = delete;
    ~FileWatch();

    // Takes the file as it stands now as the version this process knows.
    void Remember(const std::string& path);
    // Whether the file differs from the version remembered; false when it cannot be looked at.
    bool ChangedOnDisk(const std::string& path) const;
    // Waits for the change lock; a file that cannot be opened goes unlocked.
    void Lock(const std::string& path);
    void Unlock();

  private:
    int lockFd_ = -1;
    off_t size_ = -1;
    int64_t mtimeNs_ = 0;
    ino_t inode_ = 0;
};

}  // namespace kce
