// Unit updatebank: the main window TForm1.
//
// The window and everything it owns come from its stored definition (Form1Definition), read when
// the window is created: the controls, then the data-access components (a data source, two
// connections and five tables), the engine settings component KdsSettings1 last. Setting
// KdsSettings1's properties acts on the engine at once, so a created TForm1 has applied the
// program's engine settings. Nothing else touches the engine until a command runs: no connection
// is connected and no table is open after start-up. Destroying the window closes every table and
// disconnects every connection.
//
// Every command runs synchronously inside its button's click handler, on the GUI thread.
#pragma once

#include <string>

#include "dataset/datalink.h"
#include "gui/controls.h"
#include "gui/form.h"
#include "gui/formreader.h"
#include "kds/kdscnnct.h"
#include "kds/kdsset.h"
#include "kds/kdstable.h"

namespace app {

class ConvertObserver;

class TForm1 : public gui::TForm {
  public:
    explicit TForm1(rtl::TComponent* owner);

    gui::TLabel* Label1 = nullptr;
    gui::TLabel* Label2 = nullptr;
    gui::TButton* Button1 = nullptr;
    gui::TButton* Button2 = nullptr;
    gui::TButton* Button3 = nullptr;
    gui::TButton* Button4 = nullptr;
    gui::TButton* Button5 = nullptr;
    gui::TButton* Button6 = nullptr;
    gui::TButton* Button7 = nullptr;
    gui::TButton* Button8 = nullptr;
    gui::TButton* Button9 = nullptr;
    gui::TButton* Button10 = nullptr;
    gui::TButton* Button11 = nullptr;
    gui::TButton* Button12 = nullptr;
    gui::TEdit* Edit1 = nullptr;
    gui::TEdit* Edit2 = nullptr;
    gui::TMemo* Memo1 = nullptr;
    gui::TButton* Button13 = nullptr;
    db::TDataSource* DataSource1 = nullptr;
    // KdsConnection1 starts on a development data folder, KdsConnection2 on C:\TEMP; the commands
    // set the folders they work on.
    kds::TKdsConnection* KdsConnection1 = nullptr;
    kds::TKdsTable* KdsTable1 = nullptr;
    kds::TKdsTable* KdsTable2 = nullptr;
    kds::TKdsConnection* KdsConnection2 = nullptr;
    kds::TKdsTable* KdsTableEmp = nullptr;
    kds::TKdsTable* KdsTableMisc = nullptr;
    kds::TKdsTable* KdsTableDBF = nullptr;
    kds::TKdsSettings* KdsSettings1 = nullptr;

    // Told of every value the CONVERT command copies or fails to copy; none by default.
    ConvertObserver* convertObserver = nullptr;

    // The click handlers. Button12 is CONVERT; the others belong to hidden buttons.
    void Button1Click(rtl::TComponent* sender);
    void Button2Click(rtl::TComponent* sender);
    void Button3Click(rtl::TComponent* sender);
    void Button4Click(rtl::TComponent* sender);
    void Button5Click(rtl::TComponent* sender);
    void Button6Click(rtl::TComponent* sender);
    void Button7Click(rtl::TComponent* sender);
    void Button8Click(rtl::TComponent* sender);
    void Button9Click(rtl::TComponent* sender);
    void Button10Click(rtl::TComponent* sender);
    void Button11Click(rtl::TComponent* sender);
    void Button12Click(rtl::TComponent* sender);
    void Button13Click(rtl::TComponent* sender);

    gui::TNotifyEvent MethodAddress(const std::string& name) override;
};

// The stored definition of TForm1.
const gui::TFormDef& Form1Definition();

// Makes the component classes of the data-access layer known to the form reader. Safe to call
// more than once.
void RegisterDataAccessClasses();

}  // namespace app
