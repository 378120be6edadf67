// The cipher of encrypted native tables: a 256-bit key derived from the table's password with
// Argon2id and a salt kept in the file, and XChaCha20-Poly1305 seals (a fresh random nonce, the
// ciphertext and its tag) bound to where the value lives by their associated data. The password
// is never kept; the key lives in guarded memory that is wiped when it goes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "engine/kce.h"

namespace kce::native {

// How a table's key is derived, as kept in the file.
struct KeyParams {
    std::string salt;  // kSaltBytes
    uint64_t opsLimit = 0;
    uint64_t memLimit = 0;
};

constexpr size_t kSaltBytes = 16;
// Bytes a seal adds to its value (nonce and tag).
size_t SealOverhead();

// Fresh parameters for a table being encrypted: a random salt and the engine's cost.
KeyParams NewKeyParams();
// Whether parameters read from a file are ones the engine derives with (a hostile file could
// otherwise ask for any amount of memory or time): KCE_DAMAGED_FILE naming the file if not.
KCESTATUS CheckKeyParams(const KeyParams& params, const std::string& file);

class TableKey {
  public:
    ~TableKey();
    TableKey(const TableKey&) = delete;
    TableKey& operator=(const TableKey&) = delete;

    // KCE_ENCRYPTION_FAILED when the derivation cannot run (out of memory).
    static KCESTATUS Derive(std::string_view password, const KeyParams& params,
                            std::unique_ptr<TableKey>* out);

    // nonce | ciphertext | tag. ad is authenticated, not stored.
    std::string Seal(std::string_view plain, std::string_view ad) const;
    // False when the seal is not one this key made for this ad (tampered, moved or another key).
    bool Open(std::string_view sealed, std::string_view ad, std::string* plain) const;

    // The key-check value kept in the file: a seal of a fixed text, which only the right key
    // opens. It tells nothing of the key.
    std::string CheckValue() const;
    bool Matches(std::string_view checkValue) const;

  private:
    TableKey();
    unsigned char* key_ = nullptr;  // sodium_malloc'd
};

// Associated data that binds a seal to its place: a record image, or one blob field of a record.
std::string RecordAd(uint32_t recno);
std::string BlobAd(uint32_t recno, int field);

}  // namespace kce::native
