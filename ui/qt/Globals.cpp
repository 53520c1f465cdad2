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
    : TApplicationObjectsOf({Main, Debug, MsgBox, ComIo}, std::move(ports),
                            {[](TMsgBox& box, TMain& main) { box.CentreOver = &main; },
                             [](TMain& main, bool open) { main.LED1->SetStatus(open); },
                             [](TMain&) -> std::unique_ptr<TLineEventDispatcher> {
                                 return std::make_unique<EventLoopDispatcher>();
                             }}) {}

TApplicationObjects::~TApplicationObjects() = default;

}  // namespace kordel::qt
