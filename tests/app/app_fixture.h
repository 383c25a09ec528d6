#pragma once
// What every desktop test needs: a fresh folder per test that is the current
// directory (so it holds the settings file and the movies) and the user's
// configuration folder (so recent files and the frame choice start empty),
// movies made on the spot, drops, and pictures of the windows.

#include <QApplication>
#include <QDir>
#include <QMimeData>
#include <QSettings>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>

#include <memory>
#include <string>

#include "settings/options.h"
#include "tests/support/test_movies.h"

namespace apptest {

inline QString here(const QString& name) {
    return QDir::current().filePath(name);
}

// Drops files on a window the way a file manager does.
inline void drop(QWidget* target, const QList<QUrl>& urls) {
    QMimeData data;
    data.setUrls(urls);
    const QPoint at = target->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    QDropEvent dropped(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &dropped);
}

inline QString screenDir() {
    QDir().mkpath(QStringLiteral(STILLWICK_SCREEN_DIR));
    return QStringLiteral(STILLWICK_SCREEN_DIR "/");
}

// A picture of the widget among the screens, "name@2x.png" when drawn at
// twice the density.
inline void saveShot(QWidget* w, const QString& name) {
    const QPixmap shot = w->grab();
    QString file = name;
    if (shot.devicePixelRatio() > 1.0)
        file.replace(QLatin1String(".png"),
                     QStringLiteral("@%1x.png").arg(shot.devicePixelRatio()));
    QVERIFY(shot.save(screenDir() + file));
}

// A movie in the current folder (or the path given). The index pattern's
// frames are flat colours that name their index; the pleasant one is for
// pictures people look at.
inline QString makeMovie(const QString& name, int frames = 50, const std::string& container = "",
                         testmovies::Pattern pattern = testmovies::Pattern::Index,
                         const std::string& codec = "") {
    testmovies::MovieSpec wanted;
    wanted.path = QDir::current().absoluteFilePath(name).toStdString();
    wanted.container = container;
    wanted.codec = codec;
    wanted.frames = frames;
    wanted.pattern = pattern;
    std::string error;
    if (testmovies::make(wanted, &error) != 0)
        qWarning("test movie %s: %s", wanted.path.c_str(), error.c_str());
    return QString::fromStdString(wanted.path);
}

// The per-test folder; restores the previous current directory at the end.
class Sandbox {
public:
    Sandbox() : previous_(QDir::currentPath()) {
        QDir::setCurrent(dir_.path());
        QDir().mkpath(QStringLiteral("config"));
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, here("config"));
    }
    ~Sandbox() { QDir::setCurrent(previous_); }
    bool valid() const { return dir_.isValid(); }
    QString path() const { return dir_.path(); }

private:
    QTemporaryDir dir_;
    QString previous_;
};

} // namespace apptest
