#include "Globals.h"

#include "ComIo.h"
#include "TMain.h"

#include <windows.h>

#include "CommonControls.h"
#include "TDebug.h"
#include "TMsgBox.h"

namespace kordel::win32 {

TMain* Main = nullptr;
TDebug* Debug = nullptr;
TMsgBox* MsgBox = nullptr;
TComIo* ComIo = nullptr;

namespace {

// Hands the serial port's line events to the window's thread.
class WindowThreadDispatcher : public TLineEventDispatcher {
  public:
    explicit WindowThreadDispatcher(TMain& window) : window_(window) {}
    void Post(std::function<void()> work) override { window_.PostWork(std::move(work)); }

  private:
    TMain& window_;
};

}  // namespace

TApplicationObjects::TApplicationObjects(TPortListSource ports) {
    CommonControls();
    Main = new TMain(std::move(ports));
    Debug = new TDebug();
    MsgBox = new TMsgBox();
    MsgBox->SetCentreOver(Main->Handle());
    ComIo = new TComIo();
    dispatcher_ = std::make_unique<WindowThreadDispatcher>(*Main);
    // The list shows "COM3"; the port layer opens its entry's "\\.\COM3".
    ComIo->PortNameSource = [] { return Main->Controller->SelectedPortToOpen(); };
    ComIo->OnPortState = [](bool open) { Main->SetLed(open); };
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

}  // namespace kordel::win32
