#include "Globals.h"

#include "ComIo.h"
#include "TMain.h"

#include <windows.h>

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

TApplicationObjects::TApplicationObjects(TPortListSource ports)
    : TApplicationObjectsOf({Main, Debug, MsgBox, ComIo}, std::move(ports),
                            {[](TMsgBox& box, TMain& main) { box.SetCentreOver(main.Handle()); },
                             [](TMain& main, bool open) { main.SetLed(open); },
                             [](TMain& main) -> std::unique_ptr<TLineEventDispatcher> {
                                 return std::make_unique<WindowThreadDispatcher>(main);
                             }}) {}

TApplicationObjects::~TApplicationObjects() = default;

}  // namespace kordel::win32
