// The settings file: any bytes are loaded, written back, loaded and written again.
// The first rewrite may normalise the file; from then on a rewrite must give back the
// same bytes, in the encoding of the original file.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "IniFile.h"

namespace {

namespace fs = std::filesystem;

void Require(bool condition) {
    if (!condition) std::abort();
}

std::string Slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A private folder in memory, made once per process.
const fs::path& Folder() {
    static const fs::path folder = [] {
        std::string pattern = "/dev/shm/kordel-fuzz-XXXXXX";
        if (!::mkdtemp(pattern.data())) std::abort();
        std::atexit([] { fs::remove_all(Folder()); });
        return fs::path(pattern);
    }();
    return folder;
}

// Loads the file, reads one value and writes it all back.
kordel::TIniEncoding LoadAndRewrite(const fs::path& file) {
    kordel::TIniFile ini;
    ini.FlushOnDestroy = false;
    ini.SetFileName(file.string());
    ini.ReadString("Main\\NormPos", "");
    ini.Flush();
    return ini.Encoding();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fs::path file = Folder() / "Kordel_Update.ini";
    std::ofstream(file, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    const kordel::TIniEncoding original = LoadAndRewrite(file);
    const std::string once = Slurp(file);
    const kordel::TIniEncoding reread = LoadAndRewrite(file);
    const std::string twice = Slurp(file);
    Require(twice == once);
    // A store without sections writes an empty file, which has no byte-order mark.
    if (!once.empty()) Require(reread == original);
    return 0;
}
