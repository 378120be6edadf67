#include "gui/formreader.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <mutex>

#include "rtl/exceptions.h"

namespace gui {
namespace {

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

struct Registry {
    std::mutex mutex;
    std::map<std::string, TComponentClass> classes;  // by lower-case name
};

Registry& TheRegistry() {
    static Registry registry;
    return registry;
}

template <typename T>
const T& Get(const TPropValue& value) {
    if (const T* held = std::get_if<T>(&value)) return *held;
    throw rtl::EReadError("Invalid property value");
}

template <typename Control, typename Value, typename Setter>
std::pair<std::string, TPropSetter> Prop(std::string name, Value (*read)(const TPropValue&),
                                         Setter set) {
    return {std::move(name), [read, set](rtl::TComponent& c, const TPropValue& v, TReader&) {
                auto& control = dynamic_cast<Control&>(c);
                (control.*set)(static_cast<std::remove_cvref_t<Value>>(read(v)));
            }};
}

int IntOf(const TPropValue& value) { return static_cast<int>(IntValue(value)); }

void AddStandardClasses(std::map<std::string, TComponentClass>& classes) {
    auto add = [&](TComponentClass c) { classes[Lower(c.name)] = std::move(c); };
    add({"TComponent", "", nullptr, {}});
    add({"TForm",
         "TComponent",
         [](rtl::TComponent* owner) -> rtl::TComponent* { return new TForm(owner); },
         {Prop<TForm>("Caption", StringValue, &TForm::SetCaption),
          Prop<TForm>("Left", IntOf, &TForm::SetLeft), Prop<TForm>("Top", IntOf, &TForm::SetTop),
          Prop<TForm>("Width", IntOf, &TForm::SetWidth),
          Prop<TForm>("Height", IntOf, &TForm::SetHeight),
          Prop<TForm>("ClientWidth", IntOf, &TForm::SetWidth),
          Prop<TForm>("ClientHeight", IntOf, &TForm::SetHeight),
          Prop<TForm>("Color", IdentValue, &TForm::SetColor),
          Prop<TForm>("Font.Name", StringValue, &TForm::SetFontName),
          Prop<TForm>("Font.Height", IntOf, &TForm::SetFontHeight)}});
    add({"TControl",
         "TComponent",
         nullptr,
         {Prop<TControl>("Left", IntOf, &TControl::SetLeft),
          Prop<TControl>("Top", IntOf, &TControl::SetTop),
          Prop<TControl>("Width", IntOf, &TControl::SetWidth),
          Prop<TControl>("Height", IntOf, &TControl::SetHeight),
          Prop<TControl>("Visible", BoolValue, &TControl::SetVisible),
          Prop<TControl>("TabOrder", IntOf, &TControl::SetTabOrder)}});
    add({"TLabel",
         "TControl",
         [](rtl::TComponent* owner) -> rtl::TComponent* { return new TLabel(owner); },
         {Prop<TLabel>("Caption", StringValue, &TLabel::SetCaption)}});
    add({"TEdit",
         "TControl",
         [](rtl::TComponent* owner) -> rtl::TComponent* { return new TEdit(owner); },
         {Prop<TEdit>("Text", StringValue, &TEdit::SetText)}});
    add({"TButton",
         "TControl",
         [](rtl::TComponent* owner) -> rtl::TComponent* { return new TButton(owner); },
         {Prop<TButton>("Caption", StringValue, &TButton::SetCaption),
          {"OnClick", [](rtl::TComponent& c, const TPropValue& v, TReader& reader) {
               dynamic_cast<TButton&>(c).SetOnClick(reader.Method(IdentValue(v)));
           }}}});
    add({"TMemo",
         "TControl",
         [](rtl::TComponent* owner) -> rtl::TComponent* { return new TMemo(owner); },
         {{"Lines.Strings", [](rtl::TComponent& c, const TPropValue& v, TReader&) {
               rtl::TStringList lines;
               for (const std::string& line : StringsValue(v)) lines.Add(line);
               dynamic_cast<TMemo&>(c).SetLines(lines);
           }}}});
}

const TPropSetter* FindSetter(const std::string& className, const std::string& property) {
    std::string wanted = Lower(property);
    for (const TComponentClass* c = FindComponentClass(className); c;
         c = c->parent.empty() ? nullptr : FindComponentClass(c->parent)) {
        for (const auto& [name, setter] : c->properties)
            if (Lower(name) == wanted) return &setter;
    }
    return nullptr;
}

}  // namespace

void RegisterComponentClass(TComponentClass componentClass) {
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    if (registry.classes.empty()) AddStandardClasses(registry.classes);
    registry.classes[Lower(componentClass.name)] = std::move(componentClass);
}

const TComponentClass* FindComponentClass(const std::string& name) {
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    if (registry.classes.empty()) AddStandardClasses(registry.classes);
    auto found = registry.classes.find(Lower(name));
    // Entries are never erased, only replaced, and the map's nodes do not move.
    return found == registry.classes.end() ? nullptr : &found->second;
}

TNotifyEvent TReader::Method(const std::string& name) const {
    TNotifyEvent method = root_.MethodAddress(name);
    if (!method) throw rtl::EReadError("Invalid property value: no method " + name);
    return method;
}

void TReader::Fixup(const std::string& name, std::function<void(rtl::TComponent&)> apply) {
    fixups_.emplace_back(name, std::move(apply));
}

void TReader::Apply(rtl::TComponent& component, const std::string& className,
                    const std::vector<TPropDef>& properties) {
    for (const TPropDef& property : properties) {
        const TPropSetter* setter = FindSetter(className, property.name);
        std::string where =
            (component.Name().empty() ? className : component.Name()) + "." + property.name;
        if (!setter)
            throw rtl::EReadError("Error reading " + where + ": Property " + property.name +
                                  " does not exist");
        try {
            (*setter)(component, property.value, *this);
        } catch (const std::bad_cast&) {
            throw rtl::EReadError("Error reading " + where + ": Invalid property value");
        } catch (const rtl::EReadError& e) {
            // A value of the wrong kind; the setters' own refusals pass unchanged.
            throw rtl::EReadError("Error reading " + where + ": " + e.Message());
        }
    }
}

void TReader::ReadForm(const TFormDef& definition) {
    root_.BeginLoading();
    if (!definition.name.empty()) root_.SetName(definition.name);
    Apply(root_, definition.className, definition.properties);
    for (const TComponentDef& def : definition.components) {
        const TComponentClass* componentClass = FindComponentClass(def.className);
        if (!componentClass || !componentClass->create)
            throw rtl::EReadError("Class " + def.className + " not found");
        rtl::TComponent* component = componentClass->create(&root_);
        component->BeginLoading();
        component->SetName(def.name);
        if (auto* control = dynamic_cast<TControl*>(component)) control->SetParent(&root_);
        Apply(*component, def.className, def.properties);
    }
    for (auto& [name, apply] : fixups_) {
        rtl::TComponent* target = root_.FindComponent(name);
        if (!target) throw rtl::EReadError("Invalid property value: no component " + name);
        apply(*target);
    }
    fixups_.clear();
    // Ends the loading state of the components, in creation order, then of the form.
    root_.EndLoading();
}

void ReadForm(TForm& form, const TFormDef& definition) { TReader(form).ReadForm(definition); }

bool BoolValue(const TPropValue& value) { return Get<bool>(value); }
int64_t IntValue(const TPropValue& value) { return Get<int64_t>(value); }
const std::string& StringValue(const TPropValue& value) { return Get<std::string>(value); }
const std::string& IdentValue(const TPropValue& value) { return Get<TIdent>(value).name; }
const std::vector<std::string>& SetValue(const TPropValue& value) {
    return Get<TSetValue>(value).items;
}
const std::vector<std::string>& StringsValue(const TPropValue& value) {
    return Get<TStringsValue>(value).items;
}
const std::vector<std::vector<TPropDef>>& CollectionValue(const TPropValue& value) {
    return Get<TCollectionValue>(value).items;
}

}  // namespace gui
