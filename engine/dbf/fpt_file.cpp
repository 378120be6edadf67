// FoxPro memo file (.fpt). Numbers in the file are big-endian.
//
// Header (the first 512 bytes):
//
//   OFFSET  SIZE  DESCRIPTION
//   0       4     next free block
//   4       2     unused
//   6       2     block size in bytes (1 to 65535; FoxPro's default 64)
//   8       504   unused (zero)
//
// Block n starts at byte n * block size; the blocks that the header covers are never used, so the
// first block is 512 / block size, rounded up. A value occupies a run of whole blocks:
//
//   OFFSET  SIZE  DESCRIPTION
//   0       4     type: 0 picture (bytes), 1 text, 2 object (bytes)
//   4       4     length of the data
//   8       n     data, then zeros to the end of the last block
#include <algorithm>
#include <vector>

#include "engine/byte_order.h"
#include "engine/dbf/memo_file.h"
#include "engine/invariant.h"
#include "engine/status.h"

namespace kce::dbf {

namespace {

constexpr uint32_t kHeaderSize = 512;
constexpr uint32_t kDefaultBlockSize = 64;

class FptFile : public MemoFile {
  public:
    KCESTATUS Open(const std::string& path, bool readOnly) {
        if (KCESTATUS s = file_.Open(path, readOnly)) {
            if (s == KCE_FILE_NOT_FOUND) return Fail(KCE_MEMO_FILE_MISSING, "file " + path);
            return s;
        }
        uint64_t size = 0;
        if (KCESTATUS s = file_.Size(&size)) return s;
        if (size < 8) {
            return Fail(KCE_MEMO_FILE_DAMAGED, "file " + path + " is " + std::to_string(size) +
                                                   " bytes long, too short for a memo header");
        }
        uint8_t head[8];
        if (KCESTATUS s = file_.ReadExact(0, head, sizeof head, "memo header")) return s;
        blockSize_ = static_cast<uint32_t>((head[6] << 8) | head[7]);
        if (blockSize_ == 0) {
            return Fail(KCE_MEMO_FILE_DAMAGED, "file " + path + " gives a block size of 0");
        }
        return KCE_SUCCESS;
    }

    KCESTATUS Create(const std::string& path, uint32_t blockSize) {
        if (blockSize == 0) blockSize = kDefaultBlockSize;
        if (blockSize > 0xFFFF) {
            return Fail(KCE_INVALID_ARGUMENT, "memo block size " + std::to_string(blockSize));
        }
        if (KCESTATUS s = file_.Create(path, true)) return s;
        blockSize_ = blockSize;
        return Reset();
    }

    KCESTATUS Reset() override {
        std::vector<uint8_t> head(kHeaderSize, 0);
        StoreBigU32(head.data(), FirstBlock());
        head[6] = static_cast<uint8_t>(blockSize_ >> 8);
        head[7] = static_cast<uint8_t>(blockSize_);
        if (KCESTATUS s = file_.Truncate(0)) return s;
        if (KCESTATUS s = file_.WriteAt(0, head.data(), head.size())) return s;
        uint64_t end = uint64_t{FirstBlock()} * blockSize_;
        return end > kHeaderSize ? file_.Truncate(end) : KCESTATUS{KCE_SUCCESS};
    }

    KCESTATUS Read(uint32_t block, std::string* value, bool* isText) const override {
        uint64_t size = 0;
        if (KCESTATUS s = file_.Size(&size)) return s;
        uint64_t at = uint64_t{block} * blockSize_;
        if (block < FirstBlock() || at + 8 > size) return PastEnd(block, size);
        uint8_t head[8];
        if (KCESTATUS s = file_.ReadExact(at, head, sizeof head, "memo block")) return s;
        uint32_t length = LoadBigU32(head + 4);
        if (at + 8 + length > size) return PastEnd(block, size);
        value->resize(length);
        if (KCESTATUS s = file_.ReadExact(at + 8, value->data(), length, "memo value")) return s;
        *isText = LoadBigU32(head) == 1;
        return KCE_SUCCESS;
    }

    KCESTATUS Write(uint32_t oldBlock, std::string_view value, bool isText,
                    uint32_t* block) override {
        if (value.empty()) {
            *block = 0;
            return KCE_SUCCESS;
        }
        if (value.size() > 0xFFFFFFF0u) {
            return Fail(KCE_MEMO_VALUE_NOT_ALLOWED, "file " + Path() + ": a value of " +
                                                        std::to_string(value.size()) + " bytes");
        }
        uint8_t head[8];
        if (KCESTATUS s = file_.ReadExact(0, head, 4, "memo header")) return s;
        uint64_t size = 0;
        if (KCESTATUS s = file_.Size(&size)) return s;
        uint64_t nextFree = NextFreeBlock(FirstBlock(), size);
        uint64_t need = BlocksFor(value.size());
        uint64_t target = nextFree;
        if (oldBlock >= FirstBlock() && uint64_t{oldBlock} < nextFree) {
            uint8_t oldHead[8];
            size_t got = 0;
            if (KCESTATUS s = file_.ReadAt(uint64_t{oldBlock} * blockSize_, oldHead, 8, &got))
                return s;
            if (got == 8) {
                uint64_t oldBlocks = BlocksFor(LoadBigU32(oldHead + 4));
                if (need <= oldBlocks || oldBlock + oldBlocks >= nextFree) target = oldBlock;
            }
        }
        if (target + need > 0xFFFFFFFFu) {
            return Fail(KCE_MEMO_VALUE_NOT_ALLOWED,
                        "file " + Path() + " has no block numbers left");
        }
        // The value goes past the header, into blocks that hold it whole.
        KCE_INVARIANT(target >= FirstBlock() && target * blockSize_ >= kHeaderSize);
        KCE_INVARIANT(need >= 1 && need * blockSize_ >= value.size() + 8);
        std::vector<uint8_t> data(need * blockSize_, 0);
        StoreBigU32(data.data(), isText ? 1 : 0);
        StoreBigU32(data.data() + 4, static_cast<uint32_t>(value.size()));
        std::copy(value.begin(), value.end(), data.begin() + 8);
        if (KCESTATUS s = file_.WriteAt(target * blockSize_, data.data(), data.size())) return s;
        uint64_t newNext = std::max(nextFree, target + need);
        if (newNext != LoadBigU32(head)) {
            StoreBigU32(head, static_cast<uint32_t>(newNext));
            if (KCESTATUS s = file_.WriteAt(0, head, 4)) return s;
        }
        *block = static_cast<uint32_t>(target);
        return KCE_SUCCESS;
    }

    uint32_t BlockSize() const override { return blockSize_; }
    const std::string& Path() const override { return file_.Path(); }

  private:
    uint32_t FirstBlock() const { return (kHeaderSize + blockSize_ - 1) / blockSize_; }
    uint64_t BlocksFor(uint64_t length) const { return (length + 8 + blockSize_ - 1) / blockSize_; }

    RawFile file_;
    uint32_t blockSize_ = kDefaultBlockSize;
};

}  // namespace

KCESTATUS OpenFpt(const std::string& path, bool readOnly, std::unique_ptr<MemoFile>* out) {
    auto file = std::make_unique<FptFile>();
    if (KCESTATUS s = file->Open(path, readOnly)) return s;
    *out = std::move(file);
    return KCE_SUCCESS;
}

KCESTATUS CreateFpt(const std::string& path, uint32_t blockSize, std::unique_ptr<MemoFile>* out) {
    auto file = std::make_unique<FptFile>();
    if (KCESTATUS s = file->Create(path, blockSize)) return s;
    *out = std::move(file);
    return KCE_SUCCESS;
}

}  // namespace kce::dbf
