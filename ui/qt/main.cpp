// kordel-update: the window that writes the built-in firmware image into the module.
#include <QApplication>
#include <QIcon>

#include "Globals.h"
#include "TMain.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setWindowIcon(QIcon(":/icons/kordel-update.png"));
    kordel::TApplicationObjects objects;
    kordel::Main->show();
    return app.exec();
}
