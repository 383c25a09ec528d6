#pragma once
// The application: it owns the one settings record, which is loaded (or
// created with the defaults) when the application object is constructed,
// before any window exists, and it runs the main dialog until the user
// closes it, handing the dialog the record. Nothing is saved on the way out;
// only the settings dialog writes the settings file.
//
// Construct it after the QApplication.

#include <QString>
#include <QStringList>

#include "app/dialog_seams.h"
#include "settings/options.h"

class CSheetApp {
public:
    static constexpr const char* kApplicationName = "Stillwick";

    explicit CSheetApp(const DialogSeams& seams = DialogSeams::standard());
    CSheetApp(const CSheetApp&) = delete;
    CSheetApp& operator=(const CSheetApp&) = delete;

    // Runs the main dialog modally and returns the process's exit status
    // once it has closed. A movie given here (as a file manager passes one)
    // is opened as if it had been dropped on the window; several, or a
    // folder, are queued after the user said where their sheets go.
    int exec(const QStringList& movies);
    int exec(const QString& movie = QString()) {
        return exec(movie.isEmpty() ? QStringList() : QStringList{movie});
    }

    Options& options() { return options_; }

private:
    DialogSeams seams_;
    Options options_;
};
