#include <QApplication>

#include "app/frmImportFlex.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Import Flx");
    // The window's load runs here, before it is shown.
    frmImportFlex window;
    window.show();
    return QApplication::exec();
}
