#include "host/settingsdialog.h"
#include "shared/language.h"
#include "testmain.h"

#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

class TestSettingsDialog : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { setLanguage(QStringLiteral("en")); }

    void valuesComeBackAsEdited()
    {
        ServiceSettings current;
        current.port = 8123;
        current.gpuLayers = 12;
        current.threads = 4;
        current.contextSize = 16384;
        current.modelDir = QStringLiteral("/data/models");
        current.llamaExe = QStringLiteral("/opt/llama/llama-server");
        current.modelFile = QStringLiteral("/data/models/a.gguf");
        SettingsDialog dialog(current);
        dialog.setAttribute(Qt::WA_DeleteOnClose, false);
        QCOMPARE(dialog.values(), current);

        const QList<QLineEdit *> edits = lineEdits(dialog);
        QCOMPARE(edits.size(), 3);
        edits.at(0)->setText(QStringLiteral("  /other/models \t"));
        edits.at(2)->setText(QStringLiteral("   "));
        const ServiceSettings edited = dialog.values();
        QCOMPARE(edited.modelDir, QStringLiteral("/other/models"));
        QCOMPARE(edited.modelFile, QString());
        QCOMPARE(edited.llamaExe, current.llamaExe);
    }

    void okAcceptsCancelRejects_data()
    {
        QTest::addColumn<int>("button");
        QTest::addColumn<int>("result");
        QTest::newRow("ok") << int(QDialogButtonBox::Ok) << int(QDialog::Accepted);
        QTest::newRow("cancel") << int(QDialogButtonBox::Cancel) << int(QDialog::Rejected);
    }

    void okAcceptsCancelRejects()
    {
        QFETCH(int, button);
        QFETCH(int, result);
        QPointer<SettingsDialog> dialog = new SettingsDialog(ServiceSettings());
        dialog->show();
        dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::StandardButton(button))->click();
        QCOMPARE(dialog->result(), result);
        QTRY_VERIFY(!dialog);   // closed dialogs delete themselves
    }

    void chooserStartDir_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expected");
        QTest::newRow("empty uses the default") << QString() << QString();
        QTest::newRow("blank uses the default") << "  " << QString();
        QTest::newRow("file") << "/opt/llama/llama-server" << "/opt/llama";
        QTest::newRow("directory opens in its parent") << "/data/models" << "/data";
    }

    void chooserStartDir()
    {
        QFETCH(QString, path);
        QFETCH(QString, expected);
        QCOMPARE(::chooserStartDir(path), expected);
    }

private:
    static QList<QLineEdit *> lineEdits(const SettingsDialog &dialog)
    {
        QList<QLineEdit *> edits;
        for (QLineEdit *edit : dialog.findChildren<QLineEdit *>()) {
            if (!qobject_cast<QSpinBox *>(edit->parent()))   // spin boxes own line edits too
                edits << edit;
        }
        return edits;
    }
};

BRINDLE_TEST_MAIN(TestSettingsDialog)
#include "tst_settingsdialog.moc"
