// kordel-update: the window that writes the built-in firmware image into the module.
#include <QApplication>
#include <QIcon>
#include <cstring>
#include <iostream>

#include "Globals.h"
#include "TMain.h"
#include "Version.h"

namespace {

const char* const Usage = R"(Usage: kordel-update [--help | --version]
Opens the window that writes the firmware image this program carries into a Kordel
module: pick the serial port the instrument is attached to and press START.

  --help     show this help and exit
  --version  show the program's and the firmware image's version and exit

The window also takes Qt's own options, such as -platform NAME or -style NAME.
)";

// --help and --version answer on standard output without opening a window.
bool AnswersWithoutWindow(int argc, char** argv, int& exitCode) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            std::cout << Usage;
            exitCode = 0;
            return true;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::cout << kordel::VersionLine("kordel-update") << '\n';
            exitCode = 0;
            return true;
        }
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (int exitCode = 0; AnswersWithoutWindow(argc, argv, exitCode)) return exitCode;
    kordel::qt::RecordProcessArguments(argc, argv);
    QApplication app(argc, argv);
    QApplication::setWindowIcon(QIcon(":/icons/kordel-update.png"));
    kordel::qt::TApplicationObjects objects;
    kordel::qt::Main->show();
    return app.exec();
}
