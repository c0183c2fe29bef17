#pragma once

#include "inference/serverconfig.h"

#include <QDialog>
#include <QStringList>

class QDoubleSpinBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTabWidget;
class ServerSettingsForm;
class VllmClient;

// The run and server settings, drawn as a card on a backdrop that dims the window it belongs to
// (a child covering that window; a plain window without a parent). The window keeps
// one instance, so scope, prompt, threshold and insert mode persist between runs.
// The client (may be null) is borrowed for the connection test and must outlive the dialog.
class AutoLabelDialog : public QDialog
{
    Q_OBJECT
public:
    explicit AutoLabelDialog(VllmClient *client, QWidget *parent = nullptr);

    void loadServer(const ServerConfig &config);
    ServerConfig serverConfig() const;   // address and model trimmed

    void setCategoryHint(const QStringList &categories);
    void setCurrentAvailable(bool available);
    void setScope(int scope);   // 0 current image, 1 all images, 2 unlabelled images
    int scope() const;
    QString categoryPrompt() const;   // trimmed
    double threshold() const;
    bool insertAsPending() const;
    void showModelTab();
    void showRunTab();

    // What the server lists: a model name it does not serve is replaced in the field, and the
    // dialog says so. Called by the window's probe and by the connection test.
    void setServedModels(const QStringList &served);
    // The sentence about a replaced model name; empty when none was replaced.
    QString modelNote() const;

    // Re-sets every text after the interface language changed.
    void retranslate();

    // How long the connection test waits for the client's answer (8000 ms).
    void setConnectionTestTimeout(int ms);
    // The status line of the connection test; its text may be elided, the whole text is here.
    QLabel *testStatusLabel() const;
    QString testStatusText() const;

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    QWidget *buildRunPage();
    QWidget *buildModelPage(VllmClient *client);
    void updatePlaceholder();
    void fixTabHeight();
    void showModelNote(const QString &text);

    QRadioButton *m_scopeCurrent = nullptr;
    QRadioButton *m_scopeAll = nullptr;
    QRadioButton *m_scopeUnlabelled = nullptr;
    QLineEdit *m_prompt = nullptr;
    QDoubleSpinBox *m_threshold = nullptr;
    QRadioButton *m_insertPending = nullptr;
    QRadioButton *m_insertConfirmed = nullptr;
    QFrame *m_card = nullptr;
    QTabWidget *m_tabs = nullptr;
    ServerSettingsForm *m_server = nullptr;   // the model tab's fields and connection test

    QLabel *m_scopeTitle = nullptr;
    QLabel *m_promptTitle = nullptr;
    QLabel *m_thresholdLabel = nullptr;
    QLabel *m_runModelNote = nullptr;     // the server form's model note, on the run tab
    QLabel *m_modelNote = nullptr;        // and under the test row
    QLabel *m_hint = nullptr;
    QPushButton *m_start = nullptr;
    QPushButton *m_closeRun = nullptr;
    QPushButton *m_closeModel = nullptr;

    int m_categoryCount = -1;   // -1: no hint given yet
};
