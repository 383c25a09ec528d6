#pragma once
// Stand-ins for the blocking dialogs: each records what it was asked and
// answers at once from a queue the test filled (or with a neutral answer).

#include <QColor>
#include <QDialog>
#include <QList>
#include <QStringList>
#include <QUrl>

#include <deque>
#include <functional>
#include <optional>

#include "app/dialog_seams.h"

struct FakeDialogs {
    struct ActionMessage {
        MessageRequest request;
        QStringList actions;
    };

    QList<FileRequest> fileRequests;
    QList<MessageRequest> messages;
    QList<ActionMessage> actionMessages;
    QList<QUrl> openedUrls;
    int colorCalls = 0;
    int fontCalls = 0;

    std::deque<QString> paths;                       // next file answers
    std::deque<QStringList> manyPaths;               // next answers of a chooser of several
    std::deque<int> filters;                         // the type chosen with each
    std::deque<QMessageBox::StandardButton> answers; // next box answers
    std::deque<int> actions;                         // next action answers (-1: closed)
    std::optional<QColor> color;                     // colour chooser answer
    std::optional<FontChoice> font;                  // font chooser answer
    bool urlsOpen = true;                            // what openUrl reports
    QStringList revealedFiles;                       // asked to show selected
    bool revealed = false;                           // a file manager took it
    QList<QueueOutput> queueOutputsAsked;            // what each queue question came with
    std::optional<QueueOutput> queueOutput;          // the answer (none: as it came)
    bool queueAccepted = true;                       // false: the queue is cancelled
    QStringList dialogsRun;                          // object names of the dialogs run
    player::Command player;                          // what playerCommand answers
    QList<QStringList> started;                      // program and arguments of each start
    std::function<void(QDialog&)> onDialog;          // plays the user in one
    // Runs inside a message box, before it answers.
    std::function<void(const MessageRequest&)> onMessage;

    DialogSeams seams() {
        DialogSeams s;
        s.chooseFile = [this](QWidget*, const FileRequest& r) {
            fileRequests << r;
            ChosenFile chosen;
            if (r.mode == FileRequest::Mode::OpenMany && !manyPaths.empty()) {
                chosen.paths = manyPaths.front();
                chosen.path = chosen.paths.value(0);
                manyPaths.pop_front();
                return chosen;
            }
            if (paths.empty())
                return chosen;
            chosen.path = paths.front();
            chosen.paths = {chosen.path};
            paths.pop_front();
            chosen.filter = r.selectedFilter;
            if (!filters.empty()) {
                chosen.filter = filters.front();
                filters.pop_front();
            }
            return chosen;
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
        s.messageWithActions = [this](QWidget*, const MessageRequest& r, const QStringList& a) {
            actionMessages << ActionMessage{r, a};
            if (onMessage)
                onMessage(r);
            if (actions.empty())
                return -1;
            const int chosen = actions.front();
            actions.pop_front();
            return chosen;
        };
        s.openUrl = [this](const QUrl& url) {
            openedUrls << url;
            return urlsOpen;
        };
        s.revealFile = [this](QWidget*, const QString& file, std::function<void(bool)> done) {
            revealedFiles << file;
            done(revealed);
        };
        s.chooseColor = [this](QWidget*, const QColor&) {
            ++colorCalls;
            return color;
        };
        s.chooseQueueOutput = [this](QWidget*, QueueOutput& output, int) {
            queueOutputsAsked << output;
            if (queueOutput)
                output = *queueOutput;
            return queueAccepted;
        };
        s.playerCommand = [this](const QString& movie, const MediaTime& time) {
            player::Command c = player;
            if (!c.program.isEmpty())
                c.arguments << QStringLiteral("--start=") + player::startSeconds(time) << movie;
            return c;
        };
        s.startProgram = [this](const QString& program, const QStringList& arguments) {
            started << (QStringList{program} + arguments);
            return true;
        };
        s.runDialog = [this](QDialog& dialog) {
            dialogsRun << dialog.objectName();
            if (onDialog)
                onDialog(dialog);
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
