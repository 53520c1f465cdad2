// Puts a function of the test program in place of one that the program imports from a
// DLL, for every call the program's own code makes (they all go through its import
// table): a test can then record what the code under test asks of the system, or make
// the system refuse. Calls that DLLs make among themselves are not affected.
#pragma once

#include <windows.h>

#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace kordel::testing {

class TImportHook {
  public:
    // Replaces `function` of `dll` (such as "KERNEL32.dll"; letter case is ignored).
    // Raises std::runtime_error when the program does not import it.
    TImportHook(const char* dll, const char* function, void* replacement) {
        const auto base = reinterpret_cast<BYTE*>(::GetModuleHandleW(nullptr));
        const auto dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
        const auto nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
        const IMAGE_DATA_DIRECTORY& directory =
            nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
        auto* descriptor =
            reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
        for (; directory.VirtualAddress != 0 && descriptor->Name != 0; ++descriptor) {
            if (::lstrcmpiA(reinterpret_cast<const char*>(base + descriptor->Name), dll) != 0)
                continue;
            auto* names =
                reinterpret_cast<IMAGE_THUNK_DATA*>(base + descriptor->OriginalFirstThunk);
            auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + descriptor->FirstThunk);
            for (; names->u1.AddressOfData != 0; ++names, ++slots) {
                if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
                const auto* byName =
                    reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
                if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) != 0)
                    continue;
                slots_.push_back(reinterpret_cast<void**>(&slots->u1.Function));
            }
        }
        if (slots_.empty()) {
            throw std::runtime_error(std::string("the program does not import ") + function +
                                     " from " + dll);
        }
        original_ = *slots_.front();
        for (void** slot : slots_) Write(slot, replacement);
    }

    ~TImportHook() {
        for (void** slot : slots_) Write(slot, original_);
    }

    TImportHook(const TImportHook&) = delete;
    TImportHook& operator=(const TImportHook&) = delete;

    // The hook, or nullptr when the program does not import the function.
    static std::unique_ptr<TImportHook> IfImported(const char* dll, const char* function,
                                                   void* replacement) {
        try {
            return std::make_unique<TImportHook>(dll, function, replacement);
        } catch (const std::runtime_error&) {
            return nullptr;
        }
    }

    // The system's own function, for the replacement to pass calls on to.
    template <typename Function>
    Function Original() const {
        return reinterpret_cast<Function>(original_);
    }

  private:
    static void Write(void** slot, void* value) {
        DWORD protection = 0;
        ::VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &protection);
        *slot = value;
        ::VirtualProtect(slot, sizeof *slot, protection, &protection);
    }

    std::vector<void**> slots_;
    void* original_ = nullptr;
};

}  // namespace kordel::testing
