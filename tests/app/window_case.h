#pragma once
// What each test of the main window starts afresh — its own folder, default
// settings, scripted dialogs — and the two steps most of them take: opening
// a movie and saving its sheet, each waited for. Mixed into a QtTest class
// (after QObject), whose init() and cleanup() call begin() and end().

#include <QPushButton>
#include <QtTest>

#include <memory>

#include "app/main_dlg.h"
#include "settings/options.h"
#include "tests/app/app_fixture.h"
#include "tests/app/test_seams.h"

namespace apptest {

class WindowCase {
protected:
    std::unique_ptr<Sandbox> sandbox_;
    std::unique_ptr<Options> options_;
    FakeDialogs fake_;

    bool begin() {
        sandbox_ = std::make_unique<Sandbox>();
        options_ = std::make_unique<Options>();
        fake_ = FakeDialogs();
        return sandbox_->valid();
    }
    void end() {
        options_.reset();
        sandbox_.reset();
    }

    // Opens `movie` and waits for its probe.
    void open(CMainDlg& dlg, const QString& movie) {
        QVERIFY(dlg.openMovie(movie));
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.isWorking(), 30000);
    }
    // Saves a sheet of the current movie to `target` through a capture and
    // waits for it.
    void save(CMainDlg& dlg, const QString& target) {
        fake_.paths.push_back(target);
        dlg.saveButton()->click();
        QVERIFY(dlg.isWorking());
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.isWorking(), 60000);
    }
};

} // namespace apptest
