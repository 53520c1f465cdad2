// The four long-lived objects of the program, created in this order at start-up and
// destroyed in reverse order at exit.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ApplicationObjects.h"
#include "PortList.h"

namespace kordel {
class TComIo;
class TLineEventDispatcher;
}  // namespace kordel

namespace kordel::qt {

class TMain;
class TDebug;
class TMsgBox;

extern TMain* Main;
extern TDebug* Debug;
extern TMsgBox* MsgBox;
extern TComIo* ComIo;

// The command-line arguments as the process received them (the program's path not
// counted), recorded before QApplication removes its own options; nullopt until then.
void RecordProcessArguments(int argc, const char* const* argv);
const std::optional<std::vector<std::string>>& ProcessArguments();

// Creates Main, Debug, MsgBox and ComIo and wires them together; the destructor
// destroys them in reverse order (ComIo first, closing its port).
class TApplicationObjects : public TApplicationObjectsOf<TMain, TDebug, TMsgBox> {
  public:
    explicit TApplicationObjects(TPortListSource ports = {});
    ~TApplicationObjects();
};

}  // namespace kordel::qt
