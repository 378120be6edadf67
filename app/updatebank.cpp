#include "app/updatebank.h"

#include <map>
#include <mutex>

#include "rtl/exceptions.h"

namespace app {
namespace {

// Looks up a component of the form by its stored name, as the form's fields are bound after
// reading; a missing or mistyped component means the definition and the class disagree.
template <typename T>
void Bind(TForm1& form, T*& field, const char* name) {
    field = dynamic_cast<T*>(form.FindComponent(name));
    if (!field) throw rtl::EComponentError(std::string("Form1 has no component ") + name);
}

using Handler = void (TForm1::*)(rtl::TComponent*);

const std::map<std::string, Handler>& PublishedMethods() {
    static const std::map<std::string, Handler> methods{
        {"Button1Click", &TForm1::Button1Click},   {"Button2Click", &TForm1::Button2Click},
        {"Button3Click", &TForm1::Button3Click},   {"Button4Click", &TForm1::Button4Click},
        {"Button5Click", &TForm1::Button5Click},   {"Button6Click", &TForm1::Button6Click},
        {"Button7Click", &TForm1::Button7Click},   {"Button8Click", &TForm1::Button8Click},
        {"Button9Click", &TForm1::Button9Click},   {"Button10Click", &TForm1::Button10Click},
        {"Button11Click", &TForm1::Button11Click}, {"Button12Click", &TForm1::Button12Click},
        {"Button13Click", &TForm1::Button13Click},
    };
    return methods;
}

void RegisterClasses() {
    static std::once_flag once;
    std::call_once(once, [] { gui::RegisterComponentClass({"TForm1", "TForm", nullptr, {}}); });
    RegisterDataAccessClasses();
}

}  // namespace

TForm1::TForm1(rtl::TComponent* owner) : gui::TForm(owner) {
    RegisterClasses();
    gui::ReadForm(*this, Form1Definition());
    Bind(*this, Label1, "Label1");
    Bind(*this, Label2, "Label2");
    Bind(*this, Button1, "Button1");
    Bind(*this, Button2, "Button2");
    Bind(*this, Button3, "Button3");
    Bind(*this, Button4, "Button4");
    Bind(*this, Button5, "Button5");
    Bind(*this, Button6, "Button6");
    Bind(*this, Button7, "Button7");
    Bind(*this, Button8, "Button8");
    Bind(*this, Button9, "Button9");
    Bind(*this, Button10, "Button10");
    Bind(*this, Button11, "Button11");
    Bind(*this, Button12, "Button12");
    Bind(*this, Edit1, "Edit1");
    Bind(*this, Edit2, "Edit2");
    Bind(*this, Memo1, "Memo1");
    Bind(*this, Button13, "Button13");
    Bind(*this, DataSource1, "DataSource1");
    Bind(*this, KdsConnection1, "KdsConnection1");
    Bind(*this, KdsTable1, "KdsTable1");
    Bind(*this, KdsTable2, "KdsTable2");
    Bind(*this, KdsConnection2, "KdsConnection2");
    Bind(*this, KdsTableEmp, "KdsTableEmp");
    Bind(*this, KdsTableMisc, "KdsTableMisc");
    Bind(*this, KdsTableDBF, "KdsTableDBF");
    Bind(*this, KdsSettings1, "KdsSettings1");
}

gui::TNotifyEvent TForm1::MethodAddress(const std::string& name) {
    auto found = PublishedMethods().find(name);
    if (found == PublishedMethods().end()) return {};
    Handler handler = found->second;
    return [this, handler](rtl::TComponent* sender) { (this->*handler)(sender); };
}

// The hidden buttons cannot be pressed; their commands are not part of this program yet.
// The hidden buttons' handlers are in updatebank_hidden.cpp.
// CONVERT (Button12Click) is in updatebank_convert.cpp.

}  // namespace app
