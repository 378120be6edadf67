// TComponent: the base of every named, owned object (forms, controls, data-access components,
// fields).
//
// Ownership: a component created with an owner belongs to it; the owner deletes what it owns in
// reverse order of creation when it is destroyed. One created without an owner belongs to its
// creator. Deleting an owned component directly is allowed: it leaves its owner first.
//
// Names: empty, or an identifier (a letter or "_", then letters, digits, "_"), unique among the
// components of one owner without regard to letter case.
//
// Removal notices: when a component is destroyed, its owner and every component that asked for
// FreeNotification get Notification(component, opRemove) while the component is still whole
// (its derived parts may already be gone, so a receiver must only compare the pointer). An
// owner's Notification passes every notice on to all the components it owns.
//
// A derived class whose Notification must run while it is being destroyed (a form that forgets
// its controls) calls DestroyComponents() in its own destructor: the base destructor runs after
// the derived overrides are gone.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "rtl/textutils.h"

namespace rtl {

enum TComponentStateFlag : uint32_t {
    csLoading = 1u << 0,  // being read from a stored definition; Loaded() ends it
    csReading = 1u << 1,  // its properties are being applied from the stored definition
    csWriting = 1u << 2,
    csDestroying = 1u << 3,
    csDesigning = 1u << 4,  // being designed: run-time actions are held back
};
using TComponentState = uint32_t;

enum class TOperation { opInsert, opRemove };
using enum TOperation;

class TComponent {
  public:
    explicit TComponent(TComponent* owner = nullptr);
    virtual ~TComponent();
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    const std::string& Name() const { return name_; }
    // Raises EComponentError "'%s' is not a valid component name" or
    // "A component named %s already exists"; the old name stays on failure. Virtual so that a
    // component whose name others refer to (a connection named by datasets) can follow a rename.
    virtual void SetName(const std::string& name);

    TComponent* Owner() const { return owner_; }
    int ComponentCount() const { return static_cast<int>(components_.size()); }
    // Raises EListError "List index out of bounds (%d)".
    TComponent* Components(int index) const;
    // Position in the owner's list, -1 without owner.
    int ComponentIndex() const;
    // Case-insensitive; nullptr when no owned component has that name.
    TComponent* FindComponent(const std::string& name) const;

    // Takes `component` from its current owner (if any) and makes it owned by this one. The
    // name is checked against the new siblings; on failure nothing changes.
    void InsertComponent(TComponent* component);
    // Gives up ownership; the caller then owns `component`.
    void RemoveComponent(TComponent* component);
    // Deletes the owned components, last created first.
    void DestroyComponents();

    TComponentState ComponentState() const { return state_; }
    bool IsLoading() const { return (state_ & csLoading) != 0; }
    bool IsDesigning() const { return (state_ & csDesigning) != 0; }
    bool IsDestroying() const { return (state_ & csDestroying) != 0; }
    // Marks this component and what it owns as designed (or not).
    void SetDesigning(bool value);

    // Reading a stored definition: BeginLoading sets csLoading and csReading; the reader then
    // applies the properties; EndLoading clears csReading and calls Loaded(), which clears
    // csLoading. Both act on the owned components too (owned ones load first).
    void BeginLoading();
    void EndLoading();
    // The after-loading step: properties that were only stored while loading take effect here.
    // Overrides call the base version.
    virtual void Loaded();

    // Asks for Notification(this, opRemove) on `component` when this one is destroyed, and the
    // other way round. Owned components and owner need not ask.
    void FreeNotification(TComponent* component);
    void RemoveFreeNotification(TComponent* component);

    int64_t Tag() const { return tag_; }
    void SetTag(int64_t value) { tag_ = value; }

  protected:
    // opInsert: `component` now belongs to this one (or to a component this one owns);
    // opRemove: it is leaving or being destroyed. Overrides call the base version.
    virtual void Notification(TComponent* component, TOperation operation);
    // Checks that `newName` may be given to `component`, one of the owned components.
    virtual void ValidateRename(TComponent* component, const std::string& oldName,
                                const std::string& newName) const;
    void SetComponentState(TComponentState state) { state_ = state; }

  private:
    void Insert(TComponent* component);
    void Remove(TComponent* component);

    std::string name_;
    TComponent* owner_ = nullptr;
    std::vector<TComponent*> components_;
    std::vector<TComponent*> freeNotifies_;
    TComponentState state_ = 0;
    int64_t tag_ = 0;
};

bool IsValidIdent(const std::string& name);

}  // namespace rtl
