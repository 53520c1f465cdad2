#include "CancelToken.h"

namespace kordel {

namespace {

std::size_t ChainLength(const TCancelToken* token) {
    std::size_t n = 0;
    for (; token != nullptr; token = token->Parent()) ++n;
    return n;
}

const char* CancelledText(int reason) {
    return reason == CancelUnplugged
               ? "Unplugged: the module now holds a partial image and needs a new update"
               : "Interrupted: the module now holds a partial image and needs a new update";
}

}  // namespace

TCancelToken::TCancelToken(const TCancelToken* parent) : parent_(parent) {
    if (ChainLength(parent) >= MaxChain) {
        throw std::invalid_argument("a cancel token has more parents than its waits watch");
    }
    PlatformCreate();
}

TCancelToken::~TCancelToken() {
    PlatformDestroy();
}

void TCancelToken::Cancel(int reason) noexcept {
    int none = 0;
    if (reason != 0 && reason_.compare_exchange_strong(none, reason)) PlatformWake();
}

// In this order a Cancel that comes during the reset is never lost: its reason stays,
// even where the wake-up it made is cleared, and every operation looks at the reason
// before it waits.
void TCancelToken::Reset() noexcept {
    reason_.store(0);
    PlatformUnwake();
}

int TCancelToken::Reason() const noexcept {
    for (const TCancelToken* t = this; t != nullptr; t = t->parent_) {
        if (int reason = t->reason_.load()) return reason;
    }
    return 0;
}

void TCancelToken::ThrowIfCancelled() const {
    if (int reason = Reason()) throw ECancelled(reason);
}

std::size_t CancelWakeHandles(const TCancelToken* token, TCancelWakeHandle* out) noexcept {
    std::size_t n = 0;
    for (; token != nullptr && n < TCancelToken::MaxChain; token = token->Parent()) {
        out[n++] = token->WakeHandle();
    }
    return n;
}

ECancelled::ECancelled(int reason) : std::runtime_error(CancelledText(reason)), reason_(reason) {}

}  // namespace kordel
