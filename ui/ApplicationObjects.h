// The window program's four long-lived objects, made and wired the same way by both
// front ends: the main window, the debug window, the message box, then the link. They
// are destroyed in reverse order: the link first, which closes its port while the
// window it reports to still stands.
#pragma once

#include <functional>
#include <memory>
#include <utility>

#include "ComIo.h"
#include "PortList.h"

namespace kordel {

// What differs between the front ends; everything else is the same.
template <typename TMainWindow, typename TMessageBox>
struct TFrontEndWiring {
    // Centres the message box over the main window.
    std::function<void(TMessageBox&, TMainWindow&)> CentreMessageBox;
    // Shows whether the port is open (the LED).
    std::function<void(TMainWindow&, bool open)> ShowPortOpen;
    // Hands the link's line events to the window's thread.
    std::function<std::unique_ptr<TLineEventDispatcher>(TMainWindow&)> MakeDispatcher;
};

// The front end's globals (Main, Debug, MsgBox, ComIo) are set while the objects live
// and cleared when they go.
template <typename TMainWindow, typename TDebugWindow, typename TMessageBox>
class TApplicationObjectsOf {
  public:
    struct TGlobals {
        TMainWindow*& Main;
        TDebugWindow*& Debug;
        TMessageBox*& MsgBox;
        TComIo*& ComIo;
    };

    TApplicationObjectsOf(TGlobals globals, TPortListSource ports,
                          const TFrontEndWiring<TMainWindow, TMessageBox>& wiring)
        : globals_(globals) {
        try {
            Create(std::move(ports), wiring);
        } catch (...) {
            DestroyAll();
            throw;
        }
    }

    ~TApplicationObjectsOf() { DestroyAll(); }

    TApplicationObjectsOf(const TApplicationObjectsOf&) = delete;
    TApplicationObjectsOf& operator=(const TApplicationObjectsOf&) = delete;

  private:
    void Create(TPortListSource ports, const TFrontEndWiring<TMainWindow, TMessageBox>& wiring) {
        TGlobals g = globals_;
        g.Main = new TMainWindow(std::move(ports));
        g.Debug = new TDebugWindow();
        g.MsgBox = new TMessageBox();
        wiring.CentreMessageBox(*g.MsgBox, *g.Main);
        g.ComIo = new TComIo();
        dispatcher_ = wiring.MakeDispatcher(*g.Main);
        // The list shows a name ("COM3", "ttyUSB0"); the link opens that entry's path.
        g.ComIo->PortNameSource = [&main = g.Main] {
            return main->Controller->SelectedPortToOpen();
        };
        g.ComIo->OnPortState = [&main = g.Main, show = wiring.ShowPortOpen](bool open) {
            show(*main, open);
        };
        g.ComIo->cPort->Dispatcher = dispatcher_.get();
        g.Main->Link = [&comIo = g.ComIo] { return comIo; };
    }

    void DestroyAll() {
        Destroy(globals_.ComIo);
        dispatcher_.reset();
        Destroy(globals_.MsgBox);
        Destroy(globals_.Debug);
        Destroy(globals_.Main);
    }

    template <typename T>
    static void Destroy(T*& object) {
        delete object;
        object = nullptr;
    }

    TGlobals globals_;
    std::unique_ptr<TLineEventDispatcher> dispatcher_;
};

}  // namespace kordel
