// The keys of an index kept in an xBase index file: one tag of a .cdx file, or a .ntx file.
//
// Both answer the range walks of KeyStore through two searches (the first entry at or past a
// position, the last one at or before it) and an in-order visit. Before each call the file is
// read again when another process changed it since this one last read or wrote it.
#pragma once

#include <functional>
#include <memory>

#include "engine/index/cdx/cdx_file.h"
#include "engine/index/key_store.h"
#include "engine/index/ntx/ntx_file.h"

namespace kce {

class XbaseStore : public KeyStore {
  public:
    KCESTATUS Create() override { return KCE_SUCCESS; }
    KCESTATUS HasOther(const std::string& key, UNSIGNED32 recno, bool* found,
                       UNSIGNED32* other) override;
    KCESTATUS First(const KeyRange& range, KeyPos* pos, bool* found) override;
    KCESTATUS Last(const KeyRange& range, KeyPos* pos, bool* found) override;
    KCESTATUS After(const KeyPos& from, const KeyRange& range, KeyPos* pos, bool* found) override;
    KCESTATUS Before(const KeyPos& from, const KeyRange& range, KeyPos* pos, bool* found) override;
    KCESTATUS KeyOf(UNSIGNED32 recno, std::string* key, bool* found) override;
    KCESTATUS Count(const KeyRange& range, UNSIGNED32* count) override;
    KCESTATUS CountBefore(const KeyPos& pos, const KeyRange& range, UNSIGNED32* count) override;
    KCESTATUS AtOffset(const KeyRange& range, UNSIGNED32 offset, KeyPos* pos, bool* found) override;
    KCESTATUS Recnos(const KeyRange& range, std::vector<UNSIGNED32>* out) override;

    // Replaces every key (sorted by key, then record number).
    virtual KCESTATUS Rebuild(std::vector<KeyPos> sorted) = 0;

  protected:
    // Reads the file again when another process changed it.
    virtual KCESTATUS Sync() = 0;
    // First entry at or past (key, recno) (past it when strict); false when none.
    virtual bool Ceil(const std::string& key, UNSIGNED32 recno, bool strict, KeyPos* out) = 0;
    // Last entry at or before (key, recno) (before it when strict); false when none.
    virtual bool FloorOf(const std::string& key, UNSIGNED32 recno, bool strict, KeyPos* out) = 0;
    // The entries from the first at or past `from` on, until fn answers false.
    virtual void Visit(const std::string& from, const std::function<bool(const KeyPos&)>& fn) = 0;
};

class CdxTagStore : public XbaseStore {
  public:
    CdxTagStore(std::shared_ptr<cdx::CdxFile> file, std::string tag, cdx::Tree* tree)
        : file_(std::move(file)), tag_(std::move(tag)), tree_(tree) {}
    KCESTATUS Drop() override;
    KCESTATUS Clear() override { return Rebuild({}); }
    KCESTATUS Insert(const std::string& key, UNSIGNED32 recno) override;
    KCESTATUS Remove(const std::string& key, UNSIGNED32 recno) override;
    KCESTATUS Rebuild(std::vector<KeyPos> sorted) override;
    void Audit(std::vector<std::string>* problems) override { tree_->Audit(problems); }

  protected:
    KCESTATUS Sync() override;
    bool Ceil(const std::string& key, UNSIGNED32 recno, bool strict, KeyPos* out) override;
    bool FloorOf(const std::string& key, UNSIGNED32 recno, bool strict, KeyPos* out) override;
    void Visit(const std::string& from, const std::function<bool(const KeyPos&)>& fn) override;

  private:
    std::shared_ptr<cdx::CdxFile> file_;
    std::string tag_;
    cdx::Tree* tree_;
};

class NtxStore : public XbaseStore {
  public:
    explicit NtxStore(std::shared_ptr<ntx::NtxFile> file) : file_(std::move(file)) {}
    KCESTATUS Drop() override { return Clear(); }
    KCESTATUS Clear() override { return Rebuild({}); }
    KCESTATUS Insert(const std::string& key, UNSIGNED32 recno) override;
    KCESTATUS Remove(const std::string& key, UNSIGNED32 recno) override;
    KCESTATUS Rebuild(std::vector<KeyPos> sorted) override;
    void Audit(std::vector<std::string>* problems) override { file_->Audit(problems); }

  protected:
    KCESTATUS Sync() override;
    bool Ceil(const std::string& key, UNSIGNED32 recno, bool strict, KeyPos* out) override;
    bool FloorOf(const std::string& key, UNSIGNED32 recno, bool strict, KeyPos* out) override;
    void Visit(const std::string& from, const std::function<bool(const KeyPos&)>& fn) override;

  private:
    std::shared_ptr<ntx::NtxFile> file_;
};

}  // namespace kce
