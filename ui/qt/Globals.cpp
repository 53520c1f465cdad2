#include "Globals.h"

#include <QCoreApplication>
#include <QMetaObject>

#include "ComIo.h"
#include "TDebug.h"
#include "TMain.h"
#include "TMsgBox.h"

namespace kordel {

TMain* Main = nullptr;
TDebug* Debug = nullptr;
TMsgBox* MsgBox = nullptr;
TComIo* ComIo = nullptr;

namespace {

// Hands the serial port's line events to the event loop of the window thread.
class EventLoopDispatcher : public TLineEventDispatcher {
  public:
    void Post(std::function<void()> work) override {
        QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(work),
                                  Qt::QueuedConnection);
    }
};

}  // namespace

TApplicationObjects::TApplicationObjects(TPortListSource ports)
    : dispatcher_(std::make_unique<EventLoopDispatcher>()) {
    Main = new TMain(std::move(ports));
    Debug = new TDebug();
    MsgBox = new TMsgBox();
    MsgBox->CentreOver = Main;
    ComIo = new TComIo();
    ComIo->PortNameSource = [] { return Main->cbPort->currentText().toStdString(); };
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

}  // namespace kordel
