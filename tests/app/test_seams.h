#pragma once
// Stand-ins for the blocking dialogs: each records what it was asked and
// answers at once from a queue the test filled (or with a neutral answer).

#include <QColor>
#include <QList>
#include <QStringList>

#include <deque>
#include <functional>
#include <optional>

#include "settings/dialog/dialog_seams.h"

struct FakeDialogs {
    QList<FileRequest> fileRequests;
    QList<MessageRequest> messages;
    int colorCalls = 0;
    int fontCalls = 0;

    std::deque<QString> paths;                       // next file answers
    std::deque<QMessageBox::StandardButton> answers; // next box answers
    std::optional<QColor> color;                     // colour chooser answer
    std::optional<FontChoice> font;                  // font chooser answer
    // Runs inside a message box, before it answers.
    std::function<void(const MessageRequest&)> onMessage;

    DialogSeams seams() {
        DialogSeams s;
        s.chooseFile = [this](QWidget*, const FileRequest& r) {
            fileRequests << r;
            if (paths.empty())
                return QString();
            QString p = paths.front();
            paths.pop_front();
            return p;
        };
        s.message = [this](QWidget*, const MessageRequest& r) {
            messages << r;
            if (onMessage)
                onMessage(r);
            if (answers.empty())
                return QMessageBox::Ok;
            QMessageBox::StandardButton a = answers.front();
            answers.pop_front();
            return a;
        };
        s.chooseColor = [this](QWidget*, const QColor&) {
            ++colorCalls;
            return color;
        };
        s.chooseFont = [this](QWidget*, FontChoice& choice) {
            ++fontCalls;
            if (!font)
                return false;
            choice = *font;
            return true;
        };
        return s;
    }
};
