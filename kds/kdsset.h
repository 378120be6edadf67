// Unit kdsset: the engine settings component TKdsSettings and its two error classes.
//
// The engine's settings (date format, decimals, show-deleted, server types, cache sizes) are
// process-wide; so is this component: one instance may live at a time. Every property setter
// hands its value to the engine at once; a refusal raises and leaves the property as it was,
// except where a setter says otherwise. With SetAppDate on, the date format also becomes the
// process's short date format (rtl::ShortDateFormat), which date text conversion uses.
//
// Destroying the component leaves the engine settings and the process's date format as they are.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

#include "engine/kce.h"
#include "rtl/component.h"
#include "rtl/exceptions.h"

namespace kds {

enum TKdsServerType : uint8_t { stKDS_REMOTE = 0, stKDS_LOCAL = 1, stKDS_KIS = 2 };

// A set of server types; bit n stands for the type of ordinal n.
class TKdsServerTypes {
  public:
    TKdsServerTypes() = default;
    TKdsServerTypes(std::initializer_list<TKdsServerType> types) {
        for (TKdsServerType t : types) Include(t);
    }
    bool Contains(TKdsServerType type) const { return (bits_ >> type) & 1u; }
    void Include(TKdsServerType type) { bits_ = static_cast<uint8_t>(bits_ | (1u << type)); }
    void Exclude(TKdsServerType type) { bits_ = static_cast<uint8_t>(bits_ & ~(1u << type)); }
    bool Empty() const { return bits_ == 0; }
    uint8_t Bits() const { return bits_; }
    bool operator==(const TKdsServerTypes&) const = default;

  private:
    uint8_t bits_ = 0;
};

// The engine's server-type mask for a set: 2 remote, 1 local, 4 internet, added.
UNSIGNED16 ServerTypeMask(TKdsServerTypes types);

namespace kdsset {

// An engine refusal met by the settings component. The message is the engine's fixed text for the
// status; when the engine cannot give it, the engine shows its own message box for its last error
// (titled msg::kKdsExceptionTitle) and the message stays empty.
class KdsError : public rtl::Exception {
  public:
    explicit KdsError(UNSIGNED32 status);
};

}  // namespace kdsset

// The settings component's own check (no server type selected).
class KdsSettingsError : public rtl::Exception {
  public:
    using rtl::Exception::Exception;
};

class TKdsSettings : public rtl::TComponent {
  public:
    // Applies the starting settings to the engine: cursor cache 25, the process's short date
    // format (or "MM/dd/ccyy" when the engine refuses it), server types remote and internet; and
    // reads the engine's decimals and show-deleted setting. Raises rtl::Exception "Only one
    // KdsSettings component is allowed per application" when another instance lives, and
    // kdsset::KdsError when the engine refuses both date formats or cannot be read.
    explicit TKdsSettings(rtl::TComponent* owner);
    ~TKdsSettings() override;

    // At most 11 characters are used: a longer value is cut before it reaches the engine, and the
    // cut value is what is stored and what the process's date format is made from.
    virtual std::string DateFormat() const;
    virtual void SetDateFormat(const std::string& value);

    int8_t NumDecimals() const { return numDecimals_; }
    virtual void SetNumDecimals(int8_t value);

    // Whether DateFormat also sets the process's short date format. Set to false while the
    // component is being loaded, it puts back the format that the DateFormat just read replaced.
    bool SetAppDate() const { return setAppDate_; }
    virtual void SetSetAppDate(bool value);

    bool ShowDeleted() const { return showDeleted_; }
    virtual void SetShowDeleted(bool value);

    // Raises KdsSettingsError "At least one server type must be selected." for the empty set.
    // After a refusal the set is the previous one, or [stKDS_REMOTE] when that was empty.
    TKdsServerTypes KdsServerTypes() const { return serverTypes_; }
    virtual void SetKdsServerTypes(TKdsServerTypes value);

    // Negative values raise rtl::Exception; an engine refusal raises with the new value kept.
    int8_t NumCachedTables() const { return numCachedTables_; }
    virtual void SetNumCachedTables(int8_t value);
    int8_t NumCachedCursors() const { return numCachedCursors_; }
    virtual void SetNumCachedCursors(int8_t value);

    // The engine's last error code on this thread.
    virtual UNSIGNED32 LastErrorCode();
    virtual int8_t NumOpenTables();

    // Live instances in the process.
    static int InstanceCount();

  private:
    std::string dateFormat_;
    int8_t numDecimals_ = 0;
    bool showDeleted_ = false;
    TKdsServerTypes serverTypes_;
    int8_t numCachedTables_ = 0;
    int8_t numCachedCursors_ = 0;
    std::string savedAppDateFormat_;
    bool setAppDate_ = false;
};

}  // namespace kds
