// One owner for every Windows handle: a unique_ptr whose deleter names the handle's
// type and the call that frees it. An empty owner holds nullptr; calls that report
// failure with INVALID_HANDLE_VALUE go through OwnedOrEmpty first.
#pragma once

#include <windows.h>

#include <memory>
#include <type_traits>

namespace kordel {

// Frees a `Handle` with `Free`; unique_ptr never calls it for an empty owner.
template <typename Handle, auto Free>
struct THandleDeleter {
    using pointer = Handle;
    void operator()(Handle handle) const noexcept { Free(handle); }
};

template <typename Deleter>
using UniqueHandle = std::unique_ptr<std::remove_pointer_t<typename Deleter::pointer>, Deleter>;

// Kernel objects: files, ports, events, timers.
using TKernelHandle = UniqueHandle<THandleDeleter<HANDLE, &::CloseHandle>>;
using TRegKeyHandle = UniqueHandle<THandleDeleter<HKEY, &::RegCloseKey>>;
using TDeviceNotifyHandle =
    UniqueHandle<THandleDeleter<HDEVNOTIFY, &::UnregisterDeviceNotification>>;

// A window, destroyed with its owner unless it is gone already (a child goes with its
// parent).
struct TWindowDeleter {
    using pointer = HWND;
    void operator()(HWND window) const noexcept {
        if (::IsWindow(window)) ::DestroyWindow(window);
    }
};
using TWindowHandle = UniqueHandle<TWindowDeleter>;

// CreateFileW, SetupDiOpenDevRegKey and their kin fail with INVALID_HANDLE_VALUE, not
// nullptr: that becomes an empty owner.
template <typename Owner = TKernelHandle>
Owner OwnedOrEmpty(typename Owner::pointer handle, typename Owner::deleter_type free = {}) {
    const bool invalid = reinterpret_cast<HANDLE>(handle) == INVALID_HANDLE_VALUE;
    return Owner(invalid ? nullptr : handle, free);
}

}  // namespace kordel
