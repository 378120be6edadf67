#include "rtl/component.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "rtl/exceptions.h"

namespace rtl {
namespace {

// Records destruction and notices in a shared log.
class Probe : public TComponent {
  public:
    Probe(TComponent* owner, const std::string& name, std::vector<std::string>& log)
        : TComponent(owner), log_(log) {
        SetName(name);
    }
    ~Probe() override { log_.push_back("~" + Name()); }
    void Loaded() override {
        log_.push_back("loaded " + Name() + (IsLoading() ? " (loading)" : ""));
        TComponent::Loaded();
    }
    TComponent* peer = nullptr;

  protected:
    void Notification(TComponent* component, TOperation operation) override {
        TComponent::Notification(component, operation);
        if (operation == opRemove && component == peer) {
            log_.push_back(Name() + " forgets peer");
            peer = nullptr;
        }
    }

  private:
    std::vector<std::string>& log_;
};

TEST(Component, OwnerDestroysOwnedComponentsInReverseOrder) {
    std::vector<std::string> log;
    {
        Probe form(nullptr, "Form1", log);
        new Probe(&form, "Edit1", log);
        auto* button = new Probe(&form, "Button1", log);
        new Probe(button, "Inner", log);
        new Probe(&form, "Memo1", log);
        EXPECT_EQ(form.ComponentCount(), 3);
        EXPECT_EQ(button->ComponentIndex(), 1);
        EXPECT_EQ(form.FindComponent("button1"), button);
        EXPECT_EQ(form.FindComponent("Inner"), nullptr);
    }
    EXPECT_EQ(log, (std::vector<std::string>{"~Form1", "~Memo1", "~Button1", "~Inner", "~Edit1"}));
}

TEST(Component, DeletingAnOwnedComponentTakesItOutOfItsOwner) {
    std::vector<std::string> log;
    Probe form(nullptr, "Form1", log);
    auto* a = new Probe(&form, "A", log);
    auto* b = new Probe(&form, "B", log);
    b->peer = a;  // a sibling hears of the removal through the owner
    delete a;
    EXPECT_EQ(form.ComponentCount(), 1);
    EXPECT_EQ(form.Components(0), b);
    EXPECT_EQ(b->peer, nullptr);
    EXPECT_EQ(log, (std::vector<std::string>{"~A", "B forgets peer"}));
    EXPECT_THROW(form.Components(1), EListError);
}

TEST(Component, FreeNotificationReachesPeersOutsideTheOwner) {
    std::vector<std::string> log;
    auto source = std::make_unique<Probe>(nullptr, "Source", log);
    Probe link(nullptr, "Link", log);
    link.peer = source.get();
    source->FreeNotification(&link);
    source.reset();
    EXPECT_EQ(link.peer, nullptr);

    // Withdrawn notices are not sent; a peer destroyed first is forgotten, not called.
    auto other = std::make_unique<Probe>(nullptr, "Other", log);
    link.peer = other.get();
    other->FreeNotification(&link);
    other->RemoveFreeNotification(&link);
    other.reset();
    EXPECT_NE(link.peer, nullptr);
    {
        auto listener = std::make_unique<Probe>(nullptr, "Listener", log);
        Probe watched(nullptr, "Watched", log);
        watched.FreeNotification(listener.get());
        listener.reset();
    }
}

TEST(Component, NamesAreIdentifiersUniqueWithinTheOwner) {
    std::vector<std::string> log;
    Probe form(nullptr, "Form1", log);
    Probe* edit = new Probe(&form, "Edit1", log);
    Probe* other = new Probe(&form, "", log);
    const std::pair<const char*, const char*> refused[] = {
        {"1Edit", "'1Edit' is not a valid component name"},
        {"Edit 2", "'Edit 2' is not a valid component name"},
        {"EDIT1", "A component named EDIT1 already exists"},
    };
    for (auto [name, message] : refused) {
        try {
            other->SetName(name);
            ADD_FAILURE() << name;
        } catch (const EComponentError& e) {
            EXPECT_EQ(e.Message(), message);
        }
        EXPECT_EQ(other->Name(), "");
    }
    edit->SetName("EDIT1");  // its own name in another case
    other->SetName("_Edit2");
    EXPECT_EQ(form.FindComponent("_edit2"), other);
    other->SetName("");
    // A component whose name clashes cannot join another owner.
    Probe second(nullptr, "Form2", log);
    Probe* clash = new Probe(&second, "Edit1", log);
    EXPECT_THROW(form.InsertComponent(clash), EComponentError);
    EXPECT_EQ(clash->Owner(), &second);
    clash->SetName("Edit3");
    form.InsertComponent(clash);
    EXPECT_EQ(clash->Owner(), &form);
    EXPECT_EQ(second.ComponentCount(), 0);
}

TEST(Component, LoadingEndsWithLoadedOwnedComponentsFirst) {
    std::vector<std::string> log;
    Probe form(nullptr, "Form1", log);
    new Probe(&form, "A", log);
    form.BeginLoading();
    EXPECT_TRUE(form.Components(0)->ComponentState() & csReading);
    form.EndLoading();
    EXPECT_EQ(log, (std::vector<std::string>{"loaded A (loading)", "loaded Form1 (loading)"}));
    EXPECT_FALSE(form.IsLoading());
    EXPECT_EQ(form.Components(0)->ComponentState(), 0u);

    form.SetDesigning(true);
    auto* late = new Probe(&form, "B", log);
    EXPECT_TRUE(late->IsDesigning());
    form.SetDesigning(false);
    EXPECT_FALSE(form.Components(0)->IsDesigning());
}

}  // namespace
}  // namespace rtl
