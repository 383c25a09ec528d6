#pragma once
// The settings dialog. It edits the live settings record (`g_options`) in
// place: choosing a font or restoring the defaults changes the record at
// once, Save copies every control into it and writes the file, and leaving
// any other way (the Cancel button, Escape, the close box) reads the file back
// into the record, undoing what the visit changed. When the user edited
// something, leaving first asks whether to save.
//
// The dialog does not own the record; its controls are its children.

#include <QDialog>

#include "settings/dialog/dialog_seams.h"

class Options;
class CColorButton;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

class COptionsDlg : public QDialog {
    Q_OBJECT
public:
    explicit COptionsDlg(QWidget* parent = nullptr,
                         const DialogSeams& seams = DialogSeams::standard());

    // Puts the record's values into the controls and clears `modified`.
    void loadControls();
    bool isModified() const { return modified_; }

    // Every way of leaving without Save goes through the Cancel button's flow.
    void reject() override;

private:
    void OnSave();
    void OnRestoreDefaults();
    void OnCancelButton();
    void OnShadowToggle();
    void OnHeaderToggle();
    void OnModified();
    void OnChooseColor();
    void OnChooseFont();

    void build();
    QLineEdit* numberBox(const char* name, bool digitsOnly);
    void setShadowBoxesEnabled(bool enabled);
    QMessageBox::StandardButton message(QMessageBox::Icon icon, const QString& text,
                                        QMessageBox::StandardButtons buttons,
                                        QMessageBox::StandardButton defaultButton);

    DialogSeams seams_;
    Options* options_;
    bool modified_ = false;

    QPushButton* save_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QPushButton* restoreDefaults_ = nullptr;
    QLineEdit* columns_ = nullptr;
    QLineEdit* rows_ = nullptr;
    QLineEdit* frameWidth_ = nullptr;
    QLineEdit* frameHeight_ = nullptr;
    QLineEdit* spacingX_ = nullptr;
    QLineEdit* spacingY_ = nullptr;
    QCheckBox* shadow_ = nullptr;
    QLineEdit* shadowOffsetX_ = nullptr;
    QLineEdit* shadowOffsetY_ = nullptr;
    QLineEdit* shadowIntensity_ = nullptr;
    QPushButton* font_ = nullptr;
    QLabel* faceName_ = nullptr;
    CColorButton* swatch_ = nullptr;
    QCheckBox* timeStamps_ = nullptr;
    QCheckBox* content_ = nullptr;
    QComboBox* position_ = nullptr;
    QLineEdit* quality_ = nullptr;
    QCheckBox* progressive_ = nullptr;
};
