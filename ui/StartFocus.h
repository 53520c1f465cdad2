// Where the keyboard focus goes while START is disabled during an update. A disabled
// button loses the focus, and the keyboard would then reach nothing, or the next
// button: the next Space would press EXIT. So the focus waits on the window, and comes
// back to START when START is enabled again, unless the user has put it elsewhere
// meanwhile. Each front end says where its focus is and applies the answer.
#pragma once

namespace kordel {

enum class TFocusAt { Start, Window, Nothing, OtherControl };

class TStartFocus {
  public:
    // START is about to be disabled with the focus at `focus`; where the focus goes.
    TFocusAt Disabling(TFocusAt focus) {
        waiting_ = focus == TFocusAt::Start;
        return waiting_ ? TFocusAt::Window : focus;
    }

    // Where a focus now at `focus` goes as START is enabled again; Enabled() then ends
    // the wait.
    TFocusAt OnEnabling(TFocusAt focus) const {
        const bool stillWaiting = focus == TFocusAt::Window || focus == TFocusAt::Nothing;
        return waiting_ && stillWaiting ? TFocusAt::Start : focus;
    }
    void Enabled() { waiting_ = false; }

  private:
    bool waiting_ = false;  // the focus left START when START was disabled
};

}  // namespace kordel
