// Memo files beside a DBF: FPT (FoxPro, Visual FoxPro) and DBT (dBase). A DBF record holds the
// number of the first block of a value; the memo file holds the value in one run of blocks.
// The layouts are described at the top of fpt_file.cpp and dbt_file.cpp.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "engine/dbf/raw_file.h"
#include "engine/kce.h"
#include "engine/status.h"

namespace kce::dbf {

class MemoFile {
  public:
    virtual ~MemoFile() = default;

    // Reads the value that starts at block (> 0). *isText tells a text memo from bytes.
    // A block past the end, or a value running past it, gives KCE_MEMO_POINTER_PAST_END.
    virtual KCESTATUS Read(uint32_t block, std::string* value, bool* isText) const = 0;
    // Stores a value and answers its first block in *block (0 for an empty value, which takes no
    // block). The blocks of oldBlock (0 for none) are reused when the new value fits in them or
    // when they are the last in the file; otherwise the value goes to the end of the file.
    virtual KCESTATUS Write(uint32_t oldBlock, std::string_view value, bool isText,
                            uint32_t* block) = 0;
    // Drops every value.
    virtual KCESTATUS Reset() = 0;
    virtual uint32_t BlockSize() const = 0;
    virtual const std::string& Path() const = 0;

  protected:
    // Where a value appended to the file goes: the first block past its end (`size` bytes), never
    // before `first`. The header's next-free block is not trusted for this: one that a killed
    // writer left behind the end would let a new value overwrite blocks in use, and a damaged one
    // far past the end would send the value gigabytes into the file (every later read of a value
    // without an end mark would then read the hole).
    uint64_t NextFreeBlock(uint64_t first, uint64_t size) const {
        return std::max<uint64_t>(first, (size + BlockSize() - 1) / BlockSize());
    }
    // The fault of a value at `block` that starts or runs past the end of the file (`size` bytes).
    KCESTATUS PastEnd(uint32_t block, uint64_t size) const {
        return Fail(KCE_MEMO_POINTER_PAST_END, "block " + std::to_string(block) + " of " + Path() +
                                                   " (" + std::to_string(size) +
                                                   " bytes, blocks of " +
                                                   std::to_string(BlockSize()) + ")");
    }
};

// FoxPro memo file. A block size of 0 asks for the default (64).
KCESTATUS OpenFpt(const std::string& path, bool readOnly, std::unique_ptr<MemoFile>* out);
KCESTATUS CreateFpt(const std::string& path, uint32_t blockSize, std::unique_ptr<MemoFile>* out);

// dBase memo file. dBase III files keep text ended by 0x1A; dBase IV files (blockHeaders) put a
// length header before each value, so any byte may be stored.
KCESTATUS OpenDbt(const std::string& path, bool readOnly, bool blockHeaders,
                  std::unique_ptr<MemoFile>* out);
KCESTATUS CreateDbt(const std::string& path, bool blockHeaders, std::unique_ptr<MemoFile>* out);

}  // namespace kce::dbf
