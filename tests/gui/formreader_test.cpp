#include "gui/formreader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "rtl/exceptions.h"

namespace {

using gui::TComponentRef;
using gui::TIdent;
using gui::TPropValue;
using gui::TReader;

// A component that records what the reader does to it, and in which state.
class TProbe : public rtl::TComponent {
  public:
    explicit TProbe(rtl::TComponent* owner) : rtl::TComponent(owner) {}
    void Loaded() override {
        rtl::TComponent::Loaded();
        log.push_back(Name() + ".Loaded");
    }
    void Note(const std::string& what) {
        log.push_back(Name() + "." + what + (IsLoading() ? " (loading)" : ""));
    }

    static std::vector<std::string> log;
    rtl::TComponent* partner = nullptr;
};
std::vector<std::string> TProbe::log;

class TProbeForm : public gui::TForm {
  public:
    explicit TProbeForm() : gui::TForm(nullptr) {}
    gui::TNotifyEvent MethodAddress(const std::string& name) override {
        if (name != "GoClick") return {};
        return [this](rtl::TComponent*) { ++clicks; };
    }
    int clicks = 0;
};

void RegisterProbe() {
    gui::RegisterComponentClass(
        {"TProbe",
         "TComponent",
         [](rtl::TComponent* owner) -> rtl::TComponent* { return new TProbe(owner); },
         {{"Size",
           [](rtl::TComponent& c, const TPropValue& v, TReader&) {
               dynamic_cast<TProbe&>(c).Note("Size=" + std::to_string(gui::IntValue(v)));
           }},
          {"Mode", [](rtl::TComponent& c, const TPropValue& v,
                      TReader&) { dynamic_cast<TProbe&>(c).Note("Mode=" + gui::IdentValue(v)); }},
          {"IndexDefs",
           [](rtl::TComponent& c, const TPropValue& v, TReader&) {
               for (const auto& item : gui::CollectionValue(v)) {
                   std::string text = "Index";
                   for (const gui::TPropDef& p : item)
                       text += " " + p.name + "=" +
                               (std::holds_alternative<std::string>(p.value)
                                    ? gui::StringValue(p.value)
                                    : gui::SetValue(p.value).at(0));
                   dynamic_cast<TProbe&>(c).Note(text);
               }
           }},
          {"Refuse",
           [](rtl::TComponent&, const TPropValue&, TReader&) {
               throw rtl::Exception("NumCachedTables value must be greater than zero.");
           }},
          {"Partner", [](rtl::TComponent& c, const TPropValue& v, TReader& reader) {
               auto& probe = dynamic_cast<TProbe&>(c);
               probe.Note("Partner");
               reader.Fixup(std::get<TComponentRef>(v).name,
                            [&probe](rtl::TComponent& target) { probe.partner = &target; });
           }}}});
}

class FormReader : public ::testing::Test {
  protected:
    void SetUp() override {
        RegisterProbe();
        TProbe::log.clear();
    }
};

TEST_F(FormReader, CreatesComponentsInOrderAndAppliesPropertiesWhileLoading) {
    TProbeForm form;
    gui::ReadForm(form, {"TForm",
                         "Form1",
                         {{"Caption", "Form1"}, {"Width", 696}, {"Height", 480}},
                         {{"TButton",
                           "Go",
                           {{"Left", 216},
                            {"Caption", "CONVERT"},
                            {"Visible", false},
                            {"OnClick", TIdent{"GoClick"}}}},
                          {"TProbe", "First", {{"Size", 2}, {"Partner", TComponentRef{"Second"}}}},
                          {"TProbe",
                           "Second",
                           {{"Mode", TIdent{"ttKdsCDX"}},
                            {"IndexDefs", gui::TCollectionValue{
                                              {{{"Name", "PRIMARY"},
                                                {"Fields", "CODE;FIELDTYPE"},
                                                {"Options", gui::TSetValue{{"ixUnique"}}}}}}}}}}});
    EXPECT_EQ(form.Name(), "Form1");
    EXPECT_EQ(form.Caption(), "Form1");
    EXPECT_EQ(form.Width(), 696);
    EXPECT_FALSE(form.IsLoading());
    ASSERT_EQ(form.ComponentCount(), 3);
    auto* go = dynamic_cast<gui::TButton*>(form.Components(0));
    ASSERT_NE(go, nullptr);
    EXPECT_EQ(go->Name(), "Go");
    EXPECT_EQ(go->Parent(), &form);
    EXPECT_EQ(go->Left(), 216);
    EXPECT_EQ(go->Caption(), "CONVERT");
    EXPECT_FALSE(go->Visible());
    go->Click();
    EXPECT_EQ(form.clicks, 1);
    auto* first = dynamic_cast<TProbe*>(form.Components(1));
    ASSERT_NE(first, nullptr);
    // A reference to a component stored later resolves once every component exists.
    EXPECT_EQ(first->partner, form.Components(2));
    EXPECT_EQ(TProbe::log, (std::vector<std::string>{
                               "First.Size=2 (loading)", "First.Partner (loading)",
                               "Second.Mode=ttKdsCDX (loading)",
                               "Second.Index Name=PRIMARY Fields=CODE;FIELDTYPE Options=ixUnique "
                               "(loading)",
                               "First.Loaded", "Second.Loaded"}));
}

TEST_F(FormReader, ReportsWhatCannotBeRead) {
    struct Case {
        gui::TComponentDef component;
        std::string message;
    };
    const Case cases[] = {
        {{"TProbe", "P", {{"Nope", 1}}}, "Error reading P.Nope: Property Nope does not exist"},
        {{"TLabel", "L", {{"Left", "93"}}}, "Error reading L.Left: Invalid property value"},
        {{"TButton", "B", {{"OnClick", TIdent{"Missing"}}}},
         "Error reading B.OnClick: Invalid property value: no method Missing"},
        {{"TNope", "N", {}}, "Class TNope not found"},
        {{"TProbe", "R", {{"Partner", TComponentRef{"Nobody"}}}},
         "Invalid property value: no component Nobody"},
    };
    for (const Case& c : cases) {
        TProbeForm form;
        try {
            gui::ReadForm(form, {"TForm", "", {}, {c.component}});
            ADD_FAILURE() << "no error for " << c.message;
        } catch (const rtl::EReadError& e) {
            EXPECT_EQ(std::string(e.what()), c.message);
        }
    }
}

TEST_F(FormReader, PassesASettersOwnRefusalUnchanged) {
    TProbeForm form;
    try {
        gui::ReadForm(form, {"TForm", "", {}, {{"TProbe", "P", {{"Refuse", 0}}}}});
        ADD_FAILURE() << "the refusal was lost";
    } catch (const rtl::EReadError&) {
        ADD_FAILURE() << "the refusal was wrapped";
    } catch (const rtl::Exception& e) {
        EXPECT_STREQ(e.what(), "NumCachedTables value must be greater than zero.");
    }
}

}  // namespace
