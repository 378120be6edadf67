#include "engine/native/kdt_crypt.h"

#include <sodium.h>

#include <cstring>
#include <new>

#include "engine/status.h"

namespace kce::native {
namespace {

constexpr size_t kKeyBytes = crypto_aead_xchacha20poly1305_ietf_KEYBYTES;
constexpr size_t kNonceBytes = crypto_aead_xchacha20poly1305_ietf_NPUBBYTES;
constexpr size_t kTagBytes = crypto_aead_xchacha20poly1305_ietf_ABYTES;
constexpr std::string_view kCheckText = "native table key check";
constexpr std::string_view kCheckAd = "kdt key check";

// The cost the engine derives with (about a tenth of a second and 64 MiB), and the most it
// accepts from a file.
constexpr uint64_t kOpsLimit = crypto_pwhash_OPSLIMIT_INTERACTIVE;
constexpr uint64_t kMemLimit = crypto_pwhash_MEMLIMIT_INTERACTIVE;
constexpr uint64_t kMaxOpsLimit = 16;
constexpr uint64_t kMaxMemLimit = uint64_t(1) << 30;

void Init() {
    static const bool ready = [] { return sodium_init() >= 0; }();
    if (!ready) throw std::bad_alloc();
}

std::string Place(char kind, uint32_t recno, int field) {
    std::string ad = "kdt ";
    ad += kind;
    for (int i = 0; i < 4; ++i) ad += char((recno >> (8 * i)) & 0xFF);
    for (int i = 0; i < 4; ++i) ad += char((uint32_t(field) >> (8 * i)) & 0xFF);
    return ad;
}

}  // namespace

size_t SealOverhead() { return kNonceBytes + kTagBytes; }

KeyParams NewKeyParams() {
    Init();
    KeyParams p;
    p.salt.resize(kSaltBytes);
    randombytes_buf(p.salt.data(), kSaltBytes);
    p.opsLimit = kOpsLimit;
    p.memLimit = kMemLimit;
    return p;
}

KCESTATUS CheckKeyParams(const KeyParams& p, const std::string& file) {
    if (p.salt.size() != kSaltBytes || p.opsLimit < crypto_pwhash_OPSLIMIT_MIN ||
        p.opsLimit > kMaxOpsLimit || p.memLimit < crypto_pwhash_MEMLIMIT_MIN ||
        p.memLimit > kMaxMemLimit) {
        return Fail(KCE_DAMAGED_FILE, file +
                                          ": the key parameters of the encrypted table are not "
                                          "valid (salt of " +
                                          std::to_string(p.salt.size()) + " bytes, cost " +
                                          std::to_string(p.opsLimit) + ", memory " +
                                          std::to_string(p.memLimit) + ")");
    }
    return KCE_SUCCESS;
}

TableKey::TableKey() {
    Init();
    key_ = static_cast<unsigned char*>(sodium_malloc(kKeyBytes));
    if (!key_) throw std::bad_alloc();
}

TableKey::~TableKey() { sodium_free(key_); }

KCESTATUS TableKey::Derive(std::string_view password, const KeyParams& params,
                           std::unique_ptr<TableKey>* out) {
    std::unique_ptr<TableKey> key(new TableKey());
    if (crypto_pwhash(key->key_, kKeyBytes, password.data(), password.size(),
                      reinterpret_cast<const unsigned char*>(params.salt.data()), params.opsLimit,
                      size_t(params.memLimit), crypto_pwhash_ALG_ARGON2ID13) != 0) {
        return Fail(KCE_ENCRYPTION_FAILED, "Argon2id could not derive the key (out of memory)");
    }
    *out = std::move(key);
    return KCE_SUCCESS;
}

std::string TableKey::Seal(std::string_view plain, std::string_view ad) const {
    std::string out(kNonceBytes + plain.size() + kTagBytes, '\0');
    auto* o = reinterpret_cast<unsigned char*>(out.data());
    randombytes_buf(o, kNonceBytes);
    unsigned long long written = 0;
    crypto_aead_xchacha20poly1305_ietf_encrypt(
        o + kNonceBytes, &written, reinterpret_cast<const unsigned char*>(plain.data()),
        plain.size(), reinterpret_cast<const unsigned char*>(ad.data()), ad.size(), nullptr, o,
        key_);
    return out;
}

bool TableKey::Open(std::string_view sealed, std::string_view ad, std::string* plain) const {
    if (sealed.size() < kNonceBytes + kTagBytes) return false;
    const auto* s = reinterpret_cast<const unsigned char*>(sealed.data());
    plain->resize(sealed.size() - kNonceBytes - kTagBytes);
    unsigned long long got = 0;
    int rc = crypto_aead_xchacha20poly1305_ietf_decrypt(
        reinterpret_cast<unsigned char*>(plain->data()), &got, nullptr, s + kNonceBytes,
        sealed.size() - kNonceBytes, reinterpret_cast<const unsigned char*>(ad.data()), ad.size(),
        s, key_);
    if (rc != 0) {
        // Nothing of a value that failed its check reaches a caller.
        sodium_memzero(plain->data(), plain->size());
        plain->clear();
        return false;
    }
    return true;
}

std::string TableKey::CheckValue() const { return Seal(kCheckText, kCheckAd); }

bool TableKey::Matches(std::string_view checkValue) const {
    std::string plain;
    return Open(checkValue, kCheckAd, &plain) && plain == kCheckText;
}

std::string RecordAd(uint32_t recno) { return Place('r', recno, -1); }
std::string BlobAd(uint32_t recno, int field) { return Place('b', recno, field); }

}  // namespace kce::native
