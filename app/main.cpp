#include <QApplication>
#include <QStringList>

#include "app/sheet_app.h"

int main(int argc, char** argv) {
    QApplication qt(argc, argv);
    CSheetApp app;
    // Qt has taken its own options out; what is left is the movie a file
    // manager or the desktop entry hands over, if any.
    const QStringList args = QCoreApplication::arguments();
    return app.exec(args.size() > 1 ? args.at(1) : QString());
}
