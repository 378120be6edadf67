#include "rtl/component.h"

#include <algorithm>
#include <cctype>

#include "rtl/exceptions.h"
#include "rtl/format.h"

namespace rtl {

bool IsValidIdent(const std::string& name) {
    if (name.empty()) return false;
    auto alpha = [](char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; };
    if (!alpha(name[0])) return false;
    return std::all_of(name.begin() + 1, name.end(), [&](char c) {
        return alpha(c) || std::isdigit(static_cast<unsigned char>(c));
    });
}

TComponent::TComponent(TComponent* owner) {
    if (owner) owner->InsertComponent(this);
}

TComponent::~TComponent() {
    state_ |= csDestroying;
    // Peers first, while the lists are intact; each peer forgets this one before it hears of it.
    std::vector<TComponent*> peers;
    peers.swap(freeNotifies_);
    for (TComponent* peer : peers) {
        auto& theirs = peer->freeNotifies_;
        theirs.erase(std::remove(theirs.begin(), theirs.end(), this), theirs.end());
        peer->Notification(this, opRemove);
    }
    DestroyComponents();
    if (owner_) owner_->RemoveComponent(this);
}

void TComponent::SetName(const std::string& name) {
    if (name == name_) return;
    if (!name.empty() && !IsValidIdent(name))
        throw EComponentError(Format("'%s' is not a valid component name", {name}));
    if (owner_) owner_->ValidateRename(this, name_, name);
    name_ = name;
}

TComponent* TComponent::Components(int index) const {
    if (index < 0 || index >= ComponentCount()) ListIndexError(index);
    return components_[static_cast<size_t>(index)];
}

int TComponent::ComponentIndex() const {
    if (!owner_) return -1;
    auto& list = owner_->components_;
    return static_cast<int>(std::find(list.begin(), list.end(), this) - list.begin());
}

TComponent* TComponent::FindComponent(const std::string& name) const {
    if (name.empty()) return nullptr;
    for (TComponent* c : components_)
        if (SameText(c->name_, name)) return c;
    return nullptr;
}

void TComponent::ValidateRename(TComponent* component, const std::string& oldName,
                                const std::string& newName) const {
    (void)oldName;
    if (newName.empty()) return;
    TComponent* other = FindComponent(newName);
    if (other && other != component)
        throw EComponentError(Format("A component named %s already exists", {newName}));
}

void TComponent::InsertComponent(TComponent* component) {
    if (!component || component->owner_ == this) return;
    ValidateRename(component, "", component->name_);
    if (component->owner_) component->owner_->RemoveComponent(component);
    Insert(component);
    if (state_ & csDesigning) component->SetDesigning(true);
    Notification(component, opInsert);
}

void TComponent::RemoveComponent(TComponent* component) {
    if (!component || component->owner_ != this) return;
    Notification(component, opRemove);
    Remove(component);
}

void TComponent::Insert(TComponent* component) {
    components_.push_back(component);
    component->owner_ = this;
}

void TComponent::Remove(TComponent* component) {
    components_.erase(std::remove(components_.begin(), components_.end(), component),
                      components_.end());
    component->owner_ = nullptr;
}

void TComponent::DestroyComponents() {
    while (!components_.empty()) {
        TComponent* last = components_.back();
        // Detached first: the owner does not hear of its own clean-up, and the list stays
        // consistent if the component's destructor looks at its former siblings.
        Remove(last);
        delete last;
    }
}

void TComponent::SetDesigning(bool value) {
    if (value)
        state_ |= csDesigning;
    else
        state_ &= ~static_cast<TComponentState>(csDesigning);
    for (TComponent* c : components_) c->SetDesigning(value);
}

void TComponent::BeginLoading() {
    state_ |= csLoading | csReading;
    for (TComponent* c : components_) c->BeginLoading();
}

void TComponent::EndLoading() {
    // Copy: Loaded() may create or free components.
    std::vector<TComponent*> owned = components_;
    for (TComponent* c : owned) {
        if (std::find(components_.begin(), components_.end(), c) != components_.end())
            c->EndLoading();
    }
    state_ &= ~static_cast<TComponentState>(csReading);
    Loaded();
}

void TComponent::Loaded() { state_ &= ~static_cast<TComponentState>(csLoading); }

void TComponent::FreeNotification(TComponent* component) {
    if (!component || component == this) return;
    if (std::find(freeNotifies_.begin(), freeNotifies_.end(), component) == freeNotifies_.end())
        freeNotifies_.push_back(component);
    auto& theirs = component->freeNotifies_;
    if (std::find(theirs.begin(), theirs.end(), this) == theirs.end()) theirs.push_back(this);
}

void TComponent::RemoveFreeNotification(TComponent* component) {
    if (!component) return;
    freeNotifies_.erase(std::remove(freeNotifies_.begin(), freeNotifies_.end(), component),
                        freeNotifies_.end());
    auto& theirs = component->freeNotifies_;
    theirs.erase(std::remove(theirs.begin(), theirs.end(), this), theirs.end());
}

void TComponent::Notification(TComponent* component, TOperation operation) {
    // Copy: a receiver may free components of this owner.
    std::vector<TComponent*> owned = components_;
    for (TComponent* c : owned) {
        if (c != component) c->Notification(component, operation);
    }
}

}  // namespace rtl
