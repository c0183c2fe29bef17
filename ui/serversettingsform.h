#pragma once

#include "inference/serverconfig.h"

#include <QStringList>
#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTimer;
class VllmClient;

// The model server's settings (address, model name, concurrency, time-out), the connection test
// and the words of the note about a model name the server does not serve. The client (may be
// null) is borrowed for the test and must outlive the form.
class ServerSettingsForm : public QWidget
{
    Q_OBJECT
public:
    explicit ServerSettingsForm(VllmClient *client, QWidget *parent = nullptr);

    void loadServer(const ServerConfig &config);
    ServerConfig serverConfig() const;   // address and model trimmed

    // A model name the server does not list is replaced in the field, and the form says so.
    void setServedModels(const QStringList &served);
    // The sentence about a replaced model name; empty when none was replaced.
    QString modelNote() const { return m_modelNoteText; }

    void setConnectionTestTimeout(int ms);
    QLabel *testStatusLabel() const { return m_testStatus; }
    QString testStatusText() const;
    QWidget *firstField() const;

    void retranslate();

signals:
    // The model note's text changed (empty: no note). Its labels are the dialog's, which
    // measures its pages at once: a label inside this form would be measured a layout pass late.
    void modelNoteChanged(const QString &text);
    // The server answered a probe (the form's test or another one) and lists these models.
    void serverListed(const QStringList &served);

private:
    enum class TestState { Untested, Testing, Online, Offline, TimedOut };

    void testConnection();
    void onStatusChanged(bool online, const QString &detail);
    void finishTest();
    void showTestState();
    void showModelNote();

    VllmClient *m_client = nullptr;
    QLineEdit *m_address = nullptr;
    QLineEdit *m_model = nullptr;
    QSpinBox *m_concurrency = nullptr;
    QSpinBox *m_timeout = nullptr;
    QLabel *m_addressLabel = nullptr;
    QLabel *m_modelLabel = nullptr;
    QLabel *m_concurrencyLabel = nullptr;
    QLabel *m_timeoutLabel = nullptr;
    QPushButton *m_testButton = nullptr;
    QLabel *m_testStatus = nullptr;
    QTimer *m_testTimer = nullptr;

    QString m_replacedModel;   // the name the field held before it was replaced
    QString m_modelNoteText;
    TestState m_testState = TestState::Untested;
    QString m_testDetail;
};
