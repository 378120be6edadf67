// Reading a form's stored definition.
//
// A stored definition is data: the form's own property values and, in creation order, each
// component it owns with its class name and property values in the order they are applied. The
// reader creates the components through a registry of component classes, puts the form and every
// new component in the "being loaded" state, applies each property through the class's setter in
// stored order, resolves references between components once all exist, and then runs every
// component's after-loading step (the components in creation order, then the form), which ends
// their loading state.
//
// Each layer that has components registers its classes; the standard controls of this library
// are always registered.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <variant>
#include <vector>

#include "gui/form.h"
#include "rtl/component.h"

namespace gui {

// An identifier: an enumeration value (ttKdsCDX) or, for an event, the name of a form method.
struct TIdent {
    std::string name;
};
// A set of enumeration values: [stKDS_REMOTE, stKDS_LOCAL].
struct TSetValue {
    std::vector<std::string> items;
};
// The items of a string list property (a memo's Lines).
struct TStringsValue {
    std::vector<std::string> items;
};
// A reference to another component of the same form, by name.
struct TComponentRef {
    std::string name;
};
struct TPropDef;
// The items of a collection property (field or index definitions), each a list of property
// values of its own.
struct TCollectionValue {
    std::vector<std::vector<TPropDef>> items;
};

using TPropValue = std::variant<bool, int64_t, std::string, TIdent, TSetValue, TStringsValue,
                                TComponentRef, TCollectionValue>;

struct TPropDef {
    std::string name;
    TPropValue value;
};

struct TComponentDef {
    std::string className;
    std::string name;
    std::vector<TPropDef> properties;
};

struct TFormDef {
    std::string className;
    std::string name;
    std::vector<TPropDef> properties;
    std::vector<TComponentDef> components;
};

class TReader;

// Applies one stored value to a component; raises rtl::EReadError for a value of the wrong kind.
using TPropSetter = std::function<void(rtl::TComponent&, const TPropValue&, TReader&)>;

struct TComponentClass {
    std::string name;
    std::string parent;  // the class whose properties this one inherits; empty for none
    // Makes an instance owned by `owner`; empty for a class that is only a base.
    std::function<rtl::TComponent*(rtl::TComponent* owner)> create;
    std::vector<std::pair<std::string, TPropSetter>> properties;
};

// Adds or replaces a class.
void RegisterComponentClass(TComponentClass componentClass);
const TComponentClass* FindComponentClass(const std::string& name);

class TReader {
  public:
    explicit TReader(TForm& root) : root_(root) {}
    TForm& Root() const { return root_; }
    // The form method a stored event names; raises when the form publishes none of that name.
    TNotifyEvent Method(const std::string& name) const;
    // Runs `apply` with the named component once every component of the form exists.
    void Fixup(const std::string& name, std::function<void(rtl::TComponent&)> apply);

    void ReadForm(const TFormDef& definition);

  private:
    void Apply(rtl::TComponent& component, const std::string& className,
               const std::vector<TPropDef>& properties);

    TForm& root_;
    std::vector<std::pair<std::string, std::function<void(rtl::TComponent&)>>> fixups_;
};

// Reads `definition` into `form` (see above).
void ReadForm(TForm& form, const TFormDef& definition);

// Value accessors for setters: each raises rtl::EReadError "Invalid property value" when the stored
// value is of another kind.
bool BoolValue(const TPropValue& value);
int64_t IntValue(const TPropValue& value);
const std::string& StringValue(const TPropValue& value);
const std::string& IdentValue(const TPropValue& value);
const std::vector<std::string>& SetValue(const TPropValue& value);
const std::vector<std::string>& StringsValue(const TPropValue& value);
const std::vector<std::vector<TPropDef>>& CollectionValue(const TPropValue& value);

}  // namespace gui
