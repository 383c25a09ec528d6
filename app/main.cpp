#include <QApplication>
#include <QStringList>

#include "app/sheet_app.h"

int main(int argc, char** argv) {
    QApplication qt(argc, argv);
    CSheetApp app;
    // Qt has taken its own options out; what is left are the movies a file
    // manager or the desktop entry hands over, if any.
    return app.exec(QCoreApplication::arguments().mid(1));
}
