#include <QApplication>

#include "app/frmImportFlex.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Import Flx");
    // --db TARGET imports into another database than dbEquip.mdb beside the program.
    const QStringList arguments = QApplication::arguments();
    const qsizetype db = arguments.indexOf(QStringLiteral("--db"));
    // The window's load runs here, before it is shown.
    frmImportFlex window(db > 0 && db + 1 < arguments.size() ? arguments.at(db + 1) : QString());
    window.show();
    return QApplication::exec();
}
