#include "app/sheet_app.h"

#include <QApplication>

#include "app/main_dlg.h"

CSheetApp::CSheetApp(const DialogSeams& seams) : seams_(seams) {
    QCoreApplication::setApplicationName(QString::fromLatin1(kApplicationName));
    QGuiApplication::setApplicationDisplayName(QString::fromLatin1(kApplicationName));
    QCoreApplication::setApplicationVersion(QStringLiteral(STILLWICK_VERSION));
    // Ties the windows to the installed .desktop file (task bars, Wayland).
    QGuiApplication::setDesktopFileName(QStringLiteral("stillwick"));
    QApplication::setWindowIcon(stillwickIcon());
}

int CSheetApp::exec(const QStringList& movies) {
    // The settings file held something else; it was kept, and the user
    // should know where before anything else happens.
    if (!options_.backupPath.empty()) {
        seams_.message(
            nullptr,
            MessageRequest{QMessageBox::Information, QGuiApplication::applicationDisplayName(),
                           QObject::tr("The settings file %1 did not hold settings, so the default "
                                       "settings are used.\nIts old contents were kept as %2.")
                               .arg(QString::fromStdString(options_.filePath),
                                    QString::fromStdString(options_.backupPath)),
                           QMessageBox::Ok, QMessageBox::Ok});
    }
    // A settings file that could not be written leaves the defaults in
    // memory. The program still works, but the user should know that no
    // change will outlive this run.
    if (!options_.lastError.empty()) {
        seams_.message(
            nullptr,
            MessageRequest{QMessageBox::Warning, QGuiApplication::applicationDisplayName(),
                           QObject::tr("The settings file cannot be written, so the default "
                                       "settings are used and changes will not be kept.\n%1")
                               .arg(QString::fromStdString(options_.lastError)),
                           QMessageBox::Ok, QMessageBox::Ok});
    }
    CMainDlg dialog(options_, nullptr, seams_);
    // One movie opens as if dropped; several, or a folder, make a queue of
    // sheets.
    if (!movies.isEmpty())
        dialog.queueMovies(movies);
    dialog.exec();
    return 0;
}
