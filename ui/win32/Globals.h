// The four long-lived objects of the program, created in this order at start-up and
// destroyed in reverse order at exit.
#pragma once

#include <memory>

#include "PortList.h"

namespace kordel {
class TComIo;
class TLineEventDispatcher;
}  // namespace kordel

namespace kordel::win32 {

class TMain;
class TDebug;
class TMsgBox;

extern TMain* Main;
extern TDebug* Debug;
extern TMsgBox* MsgBox;
extern TComIo* ComIo;

// Creates Main, Debug, MsgBox and ComIo and wires them together; the destructor
// destroys them in reverse order (ComIo first, closing its port).
class TApplicationObjects {
  public:
    explicit TApplicationObjects(TPortListSource ports = {});
    ~TApplicationObjects();
    TApplicationObjects(const TApplicationObjects&) = delete;
    TApplicationObjects& operator=(const TApplicationObjects&) = delete;

  private:
    std::unique_ptr<TLineEventDispatcher> dispatcher_;
};

}  // namespace kordel::win32
