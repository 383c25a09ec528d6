#pragma once
// Help ▸ About and Help ▸ Stillwick Help.
//
// About names the program's version, the libraries it runs on with the
// versions this process really loaded (and, for FFmpeg, the licence its build
// reports, which decides the terms of the whole), and the licences. Help is a
// short page that ships inside the program, so it is there without a
// network and matches this build.

#include <QDialog>
#include <QList>
#include <QString>

namespace about {

struct Library {
    QString name;
    QString version; // as loaded, where the library can say; else as built
    QString licence;
};

// Every library the program links, in the order a reader looks for them.
QList<Library> libraries();
// The About text, as rich text.
QString aboutText();

} // namespace about

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};

class CHelpDlg : public QDialog {
    Q_OBJECT
public:
    explicit CHelpDlg(QWidget* parent = nullptr);
    // The page as plain text, for tests and for assistive tools.
    QString pageText() const;

private:
    class QTextBrowser* browser_ = nullptr;
};
