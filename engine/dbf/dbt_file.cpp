// dBase memo file (.dbt). Numbers in the file are little-endian.
//
// Header (the first block, 512 bytes):
//
//   OFFSET  SIZE  DESCRIPTION
//   0       4     next free block
//   4       16    unused by dBase III; dBase IV keeps the table's name at 8
//   20      2     dBase IV: block size in bytes (dBase III: 0, meaning 512)
//   22      490   unused
//
// Block n starts at byte n * block size; block 0 is the header. A dBase III value is text ended
// by 0x1A 0x1A (readers stop at the first 0x1A), so it cannot hold that byte. A dBase IV value
// starts with a header of its own:
//
//   OFFSET  SIZE  DESCRIPTION
//   0       4     FF FF 08 00
//   4       4     length of the value plus these 8 bytes
//   8       n     data
#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/byte_order.h"
#include "engine/dbf/memo_file.h"
#include "engine/invariant.h"
#include "engine/status.h"

namespace kce::dbf {

namespace {

constexpr uint32_t kDefaultBlockSize = 512;
constexpr uint8_t kEnd = 0x1A;
constexpr uint8_t kBlockMark[4] = {0xFF, 0xFF, 0x08, 0x00};

class DbtFile : public MemoFile {
  public:
    explicit DbtFile(bool blockHeaders) : blockHeaders_(blockHeaders) {}

    KCESTATUS Open(const std::string& path, bool readOnly) {
        if (KCESTATUS s = file_.Open(path, readOnly)) {
            if (s == KCE_FILE_NOT_FOUND) return Fail(KCE_MEMO_FILE_MISSING, "file " + path);
            return s;
        }
        uint8_t head[22] = {};
        size_t got = 0;
        if (KCESTATUS s = file_.ReadAt(0, head, sizeof head, &got)) return s;
        if (got < 4) {
            return Fail(KCE_MEMO_FILE_DAMAGED, "file " + path + " is too short for a memo header");
        }
        uint32_t size = got == sizeof head ? static_cast<uint32_t>(head[20] | (head[21] << 8)) : 0;
        blockSize_ = (blockHeaders_ && size >= 64) ? size : kDefaultBlockSize;
        return KCE_SUCCESS;
    }

    KCESTATUS Create(const std::string& path) {
        if (KCESTATUS s = file_.Create(path, true)) return s;
        return Reset();
    }

    KCESTATUS Reset() override {
        std::vector<uint8_t> head(blockSize_, 0);
        StoreU32(head.data(), 1);
        if (blockHeaders_) {
            head[20] = static_cast<uint8_t>(blockSize_);
            head[21] = static_cast<uint8_t>(blockSize_ >> 8);
        }
        if (KCESTATUS s = file_.Truncate(0)) return s;
        return file_.WriteAt(0, head.data(), head.size());
    }

    KCESTATUS Read(uint32_t block, std::string* value, bool* isText) const override {
        uint64_t size = 0;
        if (KCESTATUS s = file_.Size(&size)) return s;
        uint64_t at = uint64_t{block} * blockSize_;
        if (block < 1 || at >= size) return PastEnd(block, size);
        uint8_t head[8] = {};
        size_t got = 0;
        if (KCESTATUS s = file_.ReadAt(at, head, sizeof head, &got)) return s;
        if (got == 8 && std::memcmp(head, kBlockMark, 4) == 0) {
            uint32_t length = LoadU32(head + 4);
            if (length < 8 || at + length > size) return PastEnd(block, size);
            value->resize(length - 8);
            *isText = true;
            return file_.ReadExact(at + 8, value->data(), value->size(), "memo value");
        }
        // Text up to the first end byte, or to the end of the file when a writer left it out.
        value->clear();
        std::vector<uint8_t> chunk(blockSize_);
        for (uint64_t pos = at; pos < size; pos += chunk.size()) {
            if (KCESTATUS s = file_.ReadAt(pos, chunk.data(), chunk.size(), &got)) return s;
            auto* end = std::find(chunk.data(), chunk.data() + got, kEnd);
            value->append(reinterpret_cast<const char*>(chunk.data()), end - chunk.data());
            if (end != chunk.data() + got || got < chunk.size()) break;
        }
        *isText = true;
        return KCE_SUCCESS;
    }

    KCESTATUS Write(uint32_t oldBlock, std::string_view value, bool /*isText*/,
                    uint32_t* block) override {
        if (value.empty()) {
            *block = 0;
            return KCE_SUCCESS;
        }
        if (!blockHeaders_ && value.find(static_cast<char>(kEnd)) != std::string_view::npos) {
            return Fail(KCE_MEMO_VALUE_NOT_ALLOWED,
                        "file " + Path() + ": a dBase III memo cannot hold the byte 0x1A");
        }
        if (value.size() > 0xFFFFFF00u) {
            return Fail(KCE_MEMO_VALUE_NOT_ALLOWED, "file " + Path() + ": a value of " +
                                                        std::to_string(value.size()) + " bytes");
        }
        uint8_t head[4];
        if (KCESTATUS s = file_.ReadExact(0, head, 4, "memo header")) return s;
        uint64_t size = 0;
        if (KCESTATUS s = file_.Size(&size)) return s;
        uint64_t nextFree = NextFreeBlock(1, size);
        uint64_t need = BlocksFor(value.size());
        uint64_t target = nextFree;
        if (oldBlock >= 1 && oldBlock < nextFree) {
            std::string old;
            bool text = false;
            if (Read(oldBlock, &old, &text) == KCE_SUCCESS) {
                uint64_t oldBlocks = BlocksFor(old.size());
                if (need <= oldBlocks || oldBlock + oldBlocks >= nextFree) target = oldBlock;
            }
        }
        if (target + need > 0xFFFFFFFFu) {
            return Fail(KCE_MEMO_VALUE_NOT_ALLOWED,
                        "file " + Path() + " has no block numbers left");
        }
        // The value goes past the header block, into blocks that hold it and its end whole.
        KCE_INVARIANT(target >= 1 && need >= 1);
        KCE_INVARIANT(need * blockSize_ >= value.size() + (blockHeaders_ ? 8 : 2));
        std::vector<uint8_t> data(need * blockSize_, 0);
        if (blockHeaders_) {
            std::memcpy(data.data(), kBlockMark, 4);
            StoreU32(data.data() + 4, static_cast<uint32_t>(value.size() + 8));
            std::copy(value.begin(), value.end(), data.begin() + 8);
        } else {
            std::copy(value.begin(), value.end(), data.begin());
            data[value.size()] = kEnd;
            data[value.size() + 1] = kEnd;
        }
        if (KCESTATUS s = file_.WriteAt(target * blockSize_, data.data(), data.size())) return s;
        uint64_t newNext = std::max(nextFree, target + need);
        if (newNext != LoadU32(head)) {
            StoreU32(head, static_cast<uint32_t>(newNext));
            if (KCESTATUS s = file_.WriteAt(0, head, 4)) return s;
        }
        *block = static_cast<uint32_t>(target);
        return KCE_SUCCESS;
    }

    uint32_t BlockSize() const override { return blockSize_; }
    const std::string& Path() const override { return file_.Path(); }

  private:
    uint64_t BlocksFor(uint64_t length) const {
        return (length + (blockHeaders_ ? 8 : 2) + blockSize_ - 1) / blockSize_;
    }

    RawFile file_;
    bool blockHeaders_;
    uint32_t blockSize_ = kDefaultBlockSize;
};

}  // namespace

KCESTATUS OpenDbt(const std::string& path, bool readOnly, bool blockHeaders,
                  std::unique_ptr<MemoFile>* out) {
    auto file = std::make_unique<DbtFile>(blockHeaders);
    if (KCESTATUS s = file->Open(path, readOnly)) return s;
    *out = std::move(file);
    return KCE_SUCCESS;
}

KCESTATUS CreateDbt(const std::string& path, bool blockHeaders, std::unique_ptr<MemoFile>* out) {
    auto file = std::make_unique<DbtFile>(blockHeaders);
    if (KCESTATUS s = file->Create(path)) return s;
    *out = std::move(file);
    return KCE_SUCCESS;
}

}  // namespace kce::dbf
