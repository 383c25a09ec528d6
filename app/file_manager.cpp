#include "app/file_manager.h"

#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QUrl>

namespace filemanager {

void showItem(const QDBusConnection& bus, const QString& file, QObject* context,
              std::function<void(bool shown)> done) {
    if (!bus.isConnected()) {
        done(false);
        return;
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(QLatin1String(kService), QLatin1String(kPath),
                                       QLatin1String(kInterface), QStringLiteral("ShowItems"));
    // The URIs of the items, and a startup id that no launcher gave us.
    call << QStringList{QUrl::fromLocalFile(file).toString(QUrl::FullyEncoded)} << QString();
    QDBusConnection connection = bus;
    auto* watcher = new QDBusPendingCallWatcher(connection.asyncCall(call, kTimeoutMs), context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context,
                     [watcher, done = std::move(done)] {
                         const bool shown = !watcher->isError();
                         watcher->deleteLater();
                         done(shown);
                     });
}

} // namespace filemanager
