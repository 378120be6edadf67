// The stored definition of the main window: the form's own properties, then each component it
// owns in creation order, with its property values in the order they are applied.
#include "app/updatebank.h"

namespace app {
namespace {

using gui::TComponentDef;
using gui::TIdent;
using gui::TPropDef;
using gui::TSetValue;
using gui::TStringsValue;

TComponentDef Label(const char* name, int left, int top, int width, int height,
                    const char* caption) {
    return {
        "TLabel",
        name,
        {{"Left", left}, {"Top", top}, {"Width", width}, {"Height", height}, {"Caption", caption}}};
}

TComponentDef HiddenButton(const char* name, int left, int top, int width, int height,
                           const char* caption, int tabOrder) {
    return {"TButton",
            name,
            {{"Left", left},
             {"Top", top},
             {"Width", width},
             {"Height", height},
             {"Caption", caption},
             {"TabOrder", tabOrder},
             {"Visible", false},
             {"OnClick", TIdent{std::string(name) + "Click"}}}};
}

TComponentDef Edit(const char* name, int left, int top, int width, int height, int tabOrder,
                   const char* text) {
    return {"TEdit",
            name,
            {{"Left", left},
             {"Top", top},
             {"Width", width},
             {"Height", height},
             {"TabOrder", tabOrder},
             {"Text", text}}};
}

gui::TFormDef MakeDefinition() {
    gui::TFormDef form;
    form.className = "TForm1";
    form.name = "Form1";
    form.properties = {
        {"Left", 328},        {"Top", 200},
        {"Width", 696},       {"Height", 480},
        {"Caption", "Form1"}, {"Color", TIdent{"clBtnFace"}},
        {"Font.Height", -11}, {"Font.Name", "MS Sans Serif"},
    };
    form.components = {
        Label("Label1", 93, 156, 91, 13, "SOURCE FOLDER"),
        Label("Label2", 97, 188, 87, 13, "TARGETFOLDER"),
        HiddenButton("Button1", 280, 8, 75, 25, "QX5 TO QX8", 0),
        HiddenButton("Button2", 456, 48, 75, 25, "Button1", 1),
        HiddenButton("Button3", 552, 40, 75, 25, "Button3", 2),
        HiddenButton("Button4", 184, 8, 75, 25, "Button4", 3),
        HiddenButton("Button5", 552, 8, 75, 25, "Button5", 4),
        HiddenButton("Button6", 280, 40, 75, 25, "QX8 TO QX8", 5),
        HiddenButton("Button7", 384, 8, 75, 25, "QX8 TO QX5", 6),
        HiddenButton("Button8", 176, 48, 75, 25, "Button8", 7),
        HiddenButton("Button9", 328, 80, 75, 25, "CAREER", 8),
        HiddenButton("Button10", 368, 40, 75, 25, "QX5 TO QX5", 9),
        HiddenButton("Button11", 512, 80, 113, 25, "COPY OUTGL_D", 10),
        {"TButton",
         "Button12",
         {{"Left", 216},
          {"Top", 216},
          {"Width", 75},
          {"Height", 25},
          {"Caption", "CONVERT"},
          {"TabOrder", 11},
          {"OnClick", TIdent{"Button12Click"}}}},
        Edit("Edit1", 209, 152, 409, 21, 12, "C:\\TEMP"),
        Edit("Edit2", 208, 184, 409, 21, 13, "C:\\TEMP"),
        {"TMemo",
         "Memo1",
         {{"Left", 56},
          {"Top", 248},
          {"Width", 617},
          {"Height", 169},
          {"Lines.Strings", TStringsValue{{"Memo1"}}},
          {"TabOrder", 14}}},
        HiddenButton("Button13", 304, 216, 75, 25, "Button13", 15),
        {"TKdsSettings",
         "KdsSettings1",
         {{"DateFormat", "MM/dd/ccyy"},
          {"NumDecimals", 2},
          {"SetAppDate", true},
          {"ShowDeleted", true},
          {"KdsServerTypes", TSetValue{{"stKDS_REMOTE", "stKDS_LOCAL", "stKDS_KIS"}}},
          {"NumCachedTables", 0},
          {"NumCachedCursors", 25}}},
    };
    return form;
}

}  // namespace

const gui::TFormDef& Form1Definition() {
    static const gui::TFormDef definition = MakeDefinition();
    return definition;
}

}  // namespace app
