#pragma once

#include "host/servicesettings.h"

#include <QDialog>

class QLineEdit;
class QSpinBox;

// Edits the seven service settings. Shown non-modal; deletes itself when closed.
class SettingsDialog : public QDialog
{
    Q_OBJECT
public:
    explicit SettingsDialog(const ServiceSettings &current, QWidget *parent = nullptr);

    // The edited values, line edits trimmed.
    ServiceSettings values() const;

private:
    QWidget *pathRow(QLineEdit *edit, void (SettingsDialog::*choose)());
    void chooseModelDir();
    void chooseLlamaExe();
    void chooseModelFile();

    QSpinBox *portSpin = nullptr;
    QSpinBox *gpuLayersSpin = nullptr;
    QSpinBox *threadsSpin = nullptr;
    QSpinBox *contextSpin = nullptr;
    QLineEdit *modelDirEdit = nullptr;
    QLineEdit *llamaExeEdit = nullptr;
    QLineEdit *modelFileEdit = nullptr;
};

// Where a chooser opens for the path in an edit: the directory that contains it, or the default
// location (empty) when the edit is empty.
QString chooserStartDir(const QString &path);
