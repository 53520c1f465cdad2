// The window program's object wiring, shared by both front ends, with stand-in windows
// that record when they are made and destroyed: the order, the reverse order, the
// link's wiring to the window, and a constructor that fails half-way.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "ApplicationObjects.h"

namespace kordel {
namespace {

std::vector<std::string> events;

struct FakeController {
    std::string SelectedPortToOpen() const { return "/dev/ttyUSB3"; }
};

struct FakeMain;
struct FakeDebug;
struct FakeMsgBox;
FakeMain* Main = nullptr;
FakeDebug* Debug = nullptr;
FakeMsgBox* MsgBox = nullptr;
TComIo* ComIo = nullptr;

struct FakeMain {
    explicit FakeMain(TPortListSource) { events.push_back("main"); }
    ~FakeMain() { events.push_back("~main"); }
    FakeController controller;
    FakeController* Controller = &controller;
    std::function<TComIo*()> Link;
};

bool debugFails = false;
struct FakeDebug {
    FakeDebug() {
        if (debugFails) throw std::runtime_error("no debug window");
        events.push_back("debug");
    }
    ~FakeDebug() { events.push_back("~debug"); }
};

struct FakeMsgBox {
    FakeMsgBox() { events.push_back("msgbox"); }
    // The link goes first: nothing it reports can reach a window that is gone.
    ~FakeMsgBox() { events.push_back(ComIo ? "~msgbox, link alive" : "~msgbox"); }
};

class FakeDispatcher : public TLineEventDispatcher {
  public:
    void Post(std::function<void()> work) override { work(); }
};

using TObjects = TApplicationObjectsOf<FakeMain, FakeDebug, FakeMsgBox>;

struct Wiring {
    std::vector<bool> shown;
    TLineEventDispatcher* dispatcher = nullptr;
    TFrontEndWiring<FakeMain, FakeMsgBox> Get() {
        return {[](FakeMsgBox&, FakeMain&) { events.push_back("centred"); },
                [this](FakeMain& main, bool open) {
                    EXPECT_EQ(&main, Main);
                    shown.push_back(open);
                },
                [this](FakeMain&) -> std::unique_ptr<TLineEventDispatcher> {
                    auto made = std::make_unique<FakeDispatcher>();
                    dispatcher = made.get();
                    return made;
                }};
    }
};

class ApplicationObjectsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        events.clear();
        debugFails = false;
    }
    Wiring wiring;
};

TEST_F(ApplicationObjectsTest, MadeInOrderAndDestroyedInReverseWithTheLinkFirst) {
    {
        TObjects objects({Main, Debug, MsgBox, ComIo}, {}, wiring.Get());
        EXPECT_NE(Main, nullptr);
        EXPECT_NE(Debug, nullptr);
        EXPECT_NE(MsgBox, nullptr);
        EXPECT_NE(ComIo, nullptr);
        EXPECT_EQ(events, (std::vector<std::string>{"main", "debug", "msgbox", "centred"}));
        events.clear();
    }
    EXPECT_EQ(events, (std::vector<std::string>{"~msgbox", "~debug", "~main"}));
    EXPECT_EQ(Main, nullptr);
    EXPECT_EQ(Debug, nullptr);
    EXPECT_EQ(MsgBox, nullptr);
    EXPECT_EQ(ComIo, nullptr);
}

TEST_F(ApplicationObjectsTest, TheLinkOpensTheSelectedEntryAndReportsToTheWindow) {
    TObjects objects({Main, Debug, MsgBox, ComIo}, {}, wiring.Get());
    ASSERT_TRUE(ComIo->PortNameSource);
    EXPECT_EQ(ComIo->PortNameSource(), "/dev/ttyUSB3");
    ASSERT_TRUE(ComIo->OnPortState);
    ComIo->OnPortState(true);
    ComIo->OnPortState(false);
    EXPECT_EQ(wiring.shown, (std::vector<bool>{true, false}));
    EXPECT_EQ(ComIo->cPort->Dispatcher, wiring.dispatcher);
    ASSERT_TRUE(Main->Link);
    EXPECT_EQ(Main->Link(), ComIo);
}

TEST_F(ApplicationObjectsTest, AFailedConstructionUndoesWhatWasMade) {
    debugFails = true;
    EXPECT_THROW(TObjects({Main, Debug, MsgBox, ComIo}, {}, wiring.Get()), std::runtime_error);
    EXPECT_EQ(events, (std::vector<std::string>{"main", "~main"}));
    EXPECT_EQ(Main, nullptr);
    EXPECT_EQ(Debug, nullptr);
}

}  // namespace
}  // namespace kordel
