#pragma once
// Showing a file in the desktop's file manager with the file selected.
//
// File managers that follow freedesktop.org's file-manager interface
// (Nautilus, Dolphin, Nemo, Caja, Thunar, PCManFM-Qt …) take
// `org.freedesktop.FileManager1.ShowItems` on the session bus: they open
// the file's folder and select it. Where none answers (no session bus, no
// such service, an error) the caller falls back to opening the folder.
//
// The call is made without blocking: a file manager that the bus starts on
// demand may take a second or two to answer, and the window stays usable
// meanwhile.

#include <QDBusConnection>
#include <QString>

#include <functional>

namespace filemanager {

constexpr const char* kService = "org.freedesktop.FileManager1";
constexpr const char* kPath = "/org/freedesktop/FileManager1";
constexpr const char* kInterface = "org.freedesktop.FileManager1";
// Long enough for a file manager the bus has to start first.
constexpr int kTimeoutMs = 5000;

// Asks the file manager on `bus` to show `file` selected. `done` is called
// once, on this thread, with true when the file manager took the request and
// false when it did not (no bus, no file manager there, an error or no answer
// in time); it is not called when `context` is destroyed first.
void showItem(const QDBusConnection& bus, const QString& file, QObject* context,
              std::function<void(bool shown)> done);

} // namespace filemanager
