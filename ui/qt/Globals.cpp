#include "Globals.h"

#include <QCoreApplication>
#include <QMetaObject>

#include "ComIo.h"
#include "TDebug.h"
#include "TMain.h"
#include "TMsgBox.h"

namespace kordel::qt {

TMain* Main = nullptr;
TDebug* Debug = nullptr;
TMsgBox* MsgBox = nullptr;
TComIo* ComIo = nullptr;

namespace {

std::optional<std::vector<std::string>> processArguments;

// Hands the serial port's line events to the event loop of the window thread.
class EventLoopDispatcher : public TLineEventDispatcher {
  public:
    void Post(std::function<void()> work) override {
        QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(work),
                                  Qt::QueuedConnection);
    }
};

}  // namespace

void RecordProcessArguments(int argc, const char* const* argv) {
    processArguments.emplace(argv + std::min(argc, 1), argv + argc);
}

const std::optional<std::vector<std::string>>& ProcessArguments() {
    return processArguments;
}

TApplicationObjects::TApplicationObjects(TPortListSource ports)
    : dispatcher_(std::make_unique<EventLoopDispatcher>()) {
    Main = new TMain(std::move(ports));
    Debug = new TDebug();
    MsgBox = new TMsgBox();
    MsgBox->CentreOver = Main;
    ComIo = new TComIo();
    // The list shows "ttyUSB0"; the port opened is its entry's "/dev/ttyUSB0".
    ComIo->PortNameSource = [] { return Main->Controller->SelectedPortToOpen(); };
    ComIo->OnPortState = [](bool open) { Main->LED1->SetStatus(open); };
    ComIo->cPort->Dispatcher = dispatcher_.get();
    Main->Link = [] { return ComIo; };
}

TApplicationObjects::~TApplicationObjects() {
    delete ComIo;
    ComIo = nullptr;
    delete MsgBox;
    MsgBox = nullptr;
    delete Debug;
    Debug = nullptr;
    delete Main;
    Main = nullptr;
}

}  // namespace kordel::qt
