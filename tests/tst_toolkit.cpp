#include "support/support.h"

#include "toolkit/backend.h"
#include "toolkit/base/error.h"
#include "toolkit/dispatch.h"
#include "toolkit/form.h"
#include "toolkit/screen.h"

#include <limits>

namespace {

std::vector<std::string> events;

class Probe final : public tk::Form {
public:
    Probe() : tk::Form(design()) {}

    tk::Ref<tk::Label> label;
    tk::Ref<tk::Timer> timer;

protected:
    void build() override
    {
        label = addLabel("label", "x", {150, 300, 750, 255});
        timer = addTimer("timer", 100, true);
    }
    void onLoad() override { events.push_back("load"); }
    void onUnload() override { events.push_back("unload"); }
    void onTerminate() override { events.push_back("terminate"); }

private:
    static tk::Design design()
    {
        tk::Design d;
        d.name = "Probe";
        d.border = tk::Border::None;
        d.placement = tk::Placement::Stored;
        d.left = 1500;
        d.top = 1500;
        d.clientWidth = 1500;
        d.clientHeight = 1500;
        return d;
    }
};

tk::Global<Probe> probe;

// A form whose making fails half way.
class Unmakeable final : public tk::Form {
public:
    Unmakeable(tk::Design design, bool failBuild) : tk::Form(std::move(design)), m_fail(failBuild)
    {
    }

protected:
    void build() override
    {
        addLabel("label", "x", {0, 0, 750, 255});
        if (m_fail)
            throw tk::Error(tk::Status::Overflow, "no room for the next control");
    }

private:
    bool m_fail;
};

TEST(Toolkit, positionsReadBackExactlySitAtTheNearestPixelAndAreNumbers)
{
    const struct {
        const char* row;
        float twips;
        int at96dpi;
        int at144dpi;
    } rows[] = {
        {"a whole pixel", 9135, 609, 914},
        {"a third of a pixel rounds down", 10835, 722, 1084},
        {"two thirds of a pixel rounds up", 9115, 608, 912},
        {"below the screen", 10820.5f, 721, 1082},
        {"above the screen", -37, -2, -4},
    };
    probe->show();
    for (const auto& r : rows) {
        SCOPED_TRACE(r.row);
        probe->setTop(r.twips);
        probe->setLeft(r.twips);
        EXPECT_EQ(probe->top(), r.twips);
        EXPECT_EQ(probe->left(), r.twips);
        const int pixel = support::expectedDpi() == 144 ? r.at144dpi : r.at96dpi;
        EXPECT_EQ(probe->native().position().x, pixel);
        EXPECT_EQ(probe->native().position().y, pixel);
    }
    // What is no number raises, and moves nothing.
    for (float value :
         {std::numeric_limits<float>::infinity(), std::numeric_limits<float>::quiet_NaN()}) {
        EXPECT_THROW(probe->setTop(value), tk::Error);
        EXPECT_EQ(probe->top(), -37.0f);
    }
}

TEST(Toolkit, aFormThatCannotBeMadeIsNotLoadedAndLeavesNoWindow)
{
    const struct {
        const char* row;
        bool failBuild;
        const char* icon;
    } rows[] = {
        {"its building fails half way", true, ""},
#ifdef _WIN32
        {"Windows has no such icon among the program's resources", false, "NoSuchIcon"},
#endif
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.row);
        tk::Design design;
        design.name = design.caption = "Unmakeable";
        design.border = tk::Border::FixedSingle;
        design.clientWidth = design.clientHeight = 1500;
        design.icon = tk::Picture(r.icon);
        design.menus = {{"mnuFichier", "&Fichier", {{"mnuQuitter", "&Quitter"}}}};
        Unmakeable form(design, r.failBuild);
        const int loaded = tk::loadedForms();
        EXPECT_THROW(form.load(), tk::Error);
        EXPECT_FALSE(form.isLoaded());
        EXPECT_EQ(tk::loadedForms(), loaded);
        EXPECT_EQ(support::windowsCaptioned("Unmakeable"), 0);
    }
}

TEST(Toolkit, unloadingStopsTimersControlsRaiseAndEventsComeInOrder)
{
    events.clear();
    probe->load();
    probe->load();
    tk::Timer& timer = probe->timer.get();
    timer.onTick([] {});
    EXPECT_TRUE(timer.running());
    probe->unload();
    probe->unload();
    EXPECT_FALSE(timer.running());
    tk::processEvents();
    try {
        probe->label->setCaption("y");
        ADD_FAILURE() << "a control of an unloaded form took a caption";
    } catch (const tk::Error& e) {
        EXPECT_EQ(e.status(), tk::Status::ObjectUnloaded);
    }
    probe->show();
    EXPECT_EQ(events, (std::vector<std::string>{"load", "unload", "load"}));
    tk::releaseInstances();
    EXPECT_EQ(events, (std::vector<std::string>{"load", "unload", "load", "unload", "terminate"}));
    EXPECT_FALSE(probe.exists());
}

} // namespace
