// Strict handle checking for the test program, which wine does not offer (it accepts
// SetProcessMitigationPolicy's strict handle check and then ignores it): every handle
// that the program closes is remembered until a creation hands the same value out
// again, and signalling, resetting, waiting on or closing such a handle is recorded as a
// misuse. Only the program's own calls are checked (ImportHook.h).
#pragma once

#include <windows.h>

#include <process.h>

#include <cstdio>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "ImportHook.h"

namespace kordel::testing {

class TStrictHandles {
  public:
    // Installs the checks for the rest of the process, once.
    static TStrictHandles& Install() {
        static TStrictHandles checks;
        return checks;
    }

    // The misuses recorded since the last call, and forgets them.
    std::vector<std::string> TakeMisuses() {
        Lock lock;
        return std::move(State().misuses);
    }

    // While the returned object lives, each SetEvent of the calling thread waits `ms`
    // before it signals: other threads get time to act in between, for instance to
    // close the handle.
    class TSlowSignals {
      public:
        explicit TSlowSignals(DWORD ms) {
            State().slowThread = ::GetCurrentThreadId();
            State().slowMs = ms;
        }
        ~TSlowSignals() { State().slowThread = 0; }
        TSlowSignals(const TSlowSignals&) = delete;
        TSlowSignals& operator=(const TSlowSignals&) = delete;
    };

  private:
    struct TState {
        SRWLOCK lock = SRWLOCK_INIT;
        std::set<HANDLE> closed;
        std::vector<std::string> misuses;
        volatile DWORD slowThread = 0;
        volatile DWORD slowMs = 0;
        std::vector<std::unique_ptr<TImportHook>> hooks;
    };
    static TState& State() {
        static TState state;
        return state;
    }
    // An exclusive hold of the state; a slim lock, which creates no handle of its own.
    struct Lock {
        Lock() { ::AcquireSRWLockExclusive(&State().lock); }
        ~Lock() { ::ReleaseSRWLockExclusive(&State().lock); }
    };

    static void* Original(int index) {
        return State().hooks[index] ? State().hooks[index]->Original<void*>() : nullptr;
    }

    enum Hook {
        hCloseHandle,
        hSetEvent,
        hResetEvent,
        hWaitOne,
        hWaitMany,
        hCreateEventW,
        hCreateEventA,
        hCreateFileW,
        hCreateSemaphoreA,
        hCreateThread,
        hCreateTimer,
        hOpenThread,
        hDuplicate,
        hBeginThread,
        hCount
    };

    TStrictHandles() {
        static constexpr struct {
            const char* dll;
            const char* name;
        } names[hCount] = {
            {"KERNEL32.dll", "CloseHandle"},
            {"KERNEL32.dll", "SetEvent"},
            {"KERNEL32.dll", "ResetEvent"},
            {"KERNEL32.dll", "WaitForSingleObject"},
            {"KERNEL32.dll", "WaitForMultipleObjects"},
            {"KERNEL32.dll", "CreateEventW"},
            {"KERNEL32.dll", "CreateEventA"},
            {"KERNEL32.dll", "CreateFileW"},
            {"KERNEL32.dll", "CreateSemaphoreA"},
            {"KERNEL32.dll", "CreateThread"},
            {"KERNEL32.dll", "CreateWaitableTimerExW"},
            {"KERNEL32.dll", "OpenThread"},
            {"KERNEL32.dll", "DuplicateHandle"},
            {"msvcrt.dll", "_beginthreadex"},
        };
        void* const replacements[hCount] = {
            reinterpret_cast<void*>(&OnCloseHandle),      reinterpret_cast<void*>(&OnSetEvent),
            reinterpret_cast<void*>(&OnResetEvent),       reinterpret_cast<void*>(&OnWaitOne),
            reinterpret_cast<void*>(&OnWaitMany),         reinterpret_cast<void*>(&OnCreateEventW),
            reinterpret_cast<void*>(&OnCreateEventA),     reinterpret_cast<void*>(&OnCreateFileW),
            reinterpret_cast<void*>(&OnCreateSemaphoreA), reinterpret_cast<void*>(&OnCreateThread),
            reinterpret_cast<void*>(&OnCreateTimer),      reinterpret_cast<void*>(&OnOpenThread),
            reinterpret_cast<void*>(&OnDuplicateHandle),  reinterpret_cast<void*>(&OnBeginThread),
        };
        // The state first: a hook may run as soon as it is in place.
        auto& hooks = State().hooks;
        hooks.resize(hCount);
        for (int i = 0; i < hCount; ++i) {
            Lock lock;
            hooks[i] = TImportHook::IfImported(names[i].dll, names[i].name, replacements[i]);
        }
    }

    // Under the lock: a use of `h` by `call` is a misuse when `h` was closed.
    static void CheckLocked(const char* call, HANDLE h) {
        if (State().closed.count(h) == 0) return;
        char text[96];
        std::snprintf(text, sizeof text, "%s on the closed handle %p (thread %lu)", call,
                      static_cast<void*>(h), ::GetCurrentThreadId());
        State().misuses.emplace_back(text);
    }
    static void Check(const char* call, HANDLE h) {
        Lock lock;
        CheckLocked(call, h);
    }
    // Under the lock: a creation handed out `h`, which is a live handle again.
    static HANDLE Created(HANDLE h) {
        State().closed.erase(h);
        return h;
    }

    template <typename Function>
    static Function Call(Hook hook) {
        return reinterpret_cast<Function>(Original(hook));
    }

    // A close and a creation never interleave, so that a value closed and handed out
    // again at once is seen in that order.
    static BOOL WINAPI OnCloseHandle(HANDLE h) {
        Lock lock;
        CheckLocked("CloseHandle", h);
        const BOOL closed = Call<decltype(&::CloseHandle)>(hCloseHandle)(h);
        if (closed) State().closed.insert(h);
        return closed;
    }
    static BOOL WINAPI OnSetEvent(HANDLE h) {
        if (State().slowThread == ::GetCurrentThreadId()) ::Sleep(State().slowMs);
        Lock lock;
        CheckLocked("SetEvent", h);
        return Call<decltype(&::SetEvent)>(hSetEvent)(h);
    }
    static BOOL WINAPI OnResetEvent(HANDLE h) {
        Lock lock;
        CheckLocked("ResetEvent", h);
        return Call<decltype(&::ResetEvent)>(hResetEvent)(h);
    }
    // A wait is checked as it starts; the lock is not held while it waits.
    static DWORD WINAPI OnWaitOne(HANDLE h, DWORD ms) {
        Check("WaitForSingleObject", h);
        return Call<decltype(&::WaitForSingleObject)>(hWaitOne)(h, ms);
    }
    static DWORD WINAPI OnWaitMany(DWORD count, const HANDLE* handles, BOOL all, DWORD ms) {
        {
            Lock lock;
            for (DWORD i = 0; i < count; ++i) CheckLocked("WaitForMultipleObjects", handles[i]);
        }
        return Call<decltype(&::WaitForMultipleObjects)>(hWaitMany)(count, handles, all, ms);
    }
    static HANDLE WINAPI OnCreateEventW(LPSECURITY_ATTRIBUTES a, BOOL manual, BOOL set, LPCWSTR n) {
        Lock lock;
        return Created(Call<decltype(&::CreateEventW)>(hCreateEventW)(a, manual, set, n));
    }
    static HANDLE WINAPI OnCreateEventA(LPSECURITY_ATTRIBUTES a, BOOL manual, BOOL set, LPCSTR n) {
        Lock lock;
        return Created(Call<decltype(&::CreateEventA)>(hCreateEventA)(a, manual, set, n));
    }
    static HANDLE WINAPI OnCreateFileW(LPCWSTR name, DWORD access, DWORD share,
                                       LPSECURITY_ATTRIBUTES a, DWORD disposition, DWORD flags,
                                       HANDLE model) {
        Lock lock;
        return Created(Call<decltype(&::CreateFileW)>(hCreateFileW)(name, access, share, a,
                                                                    disposition, flags, model));
    }
    static HANDLE WINAPI OnCreateSemaphoreA(LPSECURITY_ATTRIBUTES a, LONG initial, LONG maximum,
                                            LPCSTR n) {
        Lock lock;
        return Created(
            Call<decltype(&::CreateSemaphoreA)>(hCreateSemaphoreA)(a, initial, maximum, n));
    }
    static HANDLE WINAPI OnCreateThread(LPSECURITY_ATTRIBUTES a, SIZE_T stack,
                                        LPTHREAD_START_ROUTINE start, LPVOID p, DWORD flags,
                                        LPDWORD id) {
        Lock lock;
        return Created(
            Call<decltype(&::CreateThread)>(hCreateThread)(a, stack, start, p, flags, id));
    }
    static HANDLE WINAPI OnCreateTimer(LPSECURITY_ATTRIBUTES a, LPCWSTR n, DWORD flags,
                                       DWORD access) {
        Lock lock;
        return Created(
            Call<decltype(&::CreateWaitableTimerExW)>(hCreateTimer)(a, n, flags, access));
    }
    static HANDLE WINAPI OnOpenThread(DWORD access, BOOL inherit, DWORD id) {
        Lock lock;
        return Created(Call<decltype(&::OpenThread)>(hOpenThread)(access, inherit, id));
    }
    static BOOL WINAPI OnDuplicateHandle(HANDLE fromProcess, HANDLE h, HANDLE toProcess,
                                         LPHANDLE target, DWORD access, BOOL inherit,
                                         DWORD options) {
        Lock lock;
        const BOOL done = Call<decltype(&::DuplicateHandle)>(hDuplicate)(
            fromProcess, h, toProcess, target, access, inherit, options);
        if (done && target) Created(*target);
        if (done && (options & DUPLICATE_CLOSE_SOURCE) && fromProcess == ::GetCurrentProcess()) {
            State().closed.insert(h);
        }
        return done;
    }
    using BeginThread = uintptr_t(__cdecl*)(void*, unsigned, unsigned(__stdcall*)(void*), void*,
                                            unsigned, unsigned*);
    static uintptr_t __cdecl OnBeginThread(void* security, unsigned stack,
                                           unsigned(__stdcall* start)(void*), void* p,
                                           unsigned flags, unsigned* id) {
        Lock lock;
        const uintptr_t h = Call<BeginThread>(hBeginThread)(security, stack, start, p, flags, id);
        if (h) Created(reinterpret_cast<HANDLE>(h));
        return h;
    }
};

}  // namespace kordel::testing
