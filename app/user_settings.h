#pragma once
// What the desktop program keeps for its user beyond the settings file: the
// frame choice, the recent movies and the folders last used. The settings
// file stays byte for byte what it always was, so these live in an INI file
// in the user's configuration folder (Stillwick/stillwick.ini under
// $XDG_CONFIG_HOME, usually ~/.config).
//
// Each object reads and writes the file directly; two objects see each
// other's changes. Values that do not parse read as their defaults, so a
// hand-edited file can never stop the program.

#include <QString>
#include <QStringList>

#include <memory>

#include "app/dialog_seams.h"
#include "capture/frame_choice.h"

class QSettings;

// The frame choice as the settings dialog shows it: the two spans as typed
// ("90", "1.5s", "5%"; empty for none) and the two switches.
struct FrameChoiceText {
    QString skipStart;
    QString skipEnd;
    bool avoidBlank = false;
    bool keyFrames = false;

    // False, with `error` naming the field, when a span does not parse.
    bool toChoice(FrameChoice& out, QString* error = nullptr) const;
    bool operator==(const FrameChoiceText&) const = default;
};

class UserSettings {
public:
    static constexpr int kRecentMovies = 10;

    UserSettings();
    ~UserSettings();
    UserSettings(const UserSettings&) = delete;
    UserSettings& operator=(const UserSettings&) = delete;

    // The path of the file, for messages.
    QString fileName() const;

    FrameChoiceText frameChoiceText() const;
    void setFrameChoiceText(const FrameChoiceText& choice);
    // The stored choice, parsed; a span that does not parse counts as none.
    FrameChoice frameChoice() const;

    // Most recent first, at most kRecentMovies, no duplicates.
    QStringList recentMovies() const;
    void addRecentMovie(const QString& path);
    void clearRecentMovies();

    QString lastMovieFolder() const;
    void setLastMovieFolder(const QString& folder);
    QString lastSheetFolder() const;
    void setLastSheetFolder(const QString& folder);

    // Where the last queue's sheets went, and as what (beside the movies,
    // as JPEG, at first).
    QueueOutput queueOutput() const;
    void setQueueOutput(const QueueOutput& output);

    // Flushes to disk; false when the file could not be written.
    bool sync();

private:
    std::unique_ptr<QSettings> settings_;
};
