#include "host/settingsdialog.h"

#include "shared/language.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {

QSpinBox *spinBox(int minimum, int maximum, int value, QWidget *parent)
{
    auto *spin = new QSpinBox(parent);
    spin->setRange(minimum, maximum);
    spin->setValue(value);
    return spin;
}

} // namespace

QString chooserStartDir(const QString &path)
{
    const QString trimmed = path.trimmed();
    if (trimmed.isEmpty())
        return QString();
    return QFileInfo(QDir::fromNativeSeparators(trimmed)).absolutePath();
}

SettingsDialog::SettingsDialog(const ServiceSettings &current, QWidget *parent)
    : QDialog(parent)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(translateText("Brindlehost 设置"));

    portSpin = spinBox(1024, 65535, current.port, this);
    gpuLayersSpin = spinBox(0, 999, current.gpuLayers, this);
    gpuLayersSpin->setToolTip(translateText("卸载到 GPU 的层数；核显 Vulkan 建议 99，纯 CPU 填 0"));
    threadsSpin = spinBox(0, 256, current.threads, this);
    threadsSpin->setSpecialValueText(translateText("自动"));
    contextSpin = spinBox(2048, 65536, current.contextSize, this);
    contextSpin->setSingleStep(1024);
    modelDirEdit = new QLineEdit(current.modelDir, this);
    llamaExeEdit = new QLineEdit(current.llamaExe, this);
    modelFileEdit = new QLineEdit(current.modelFile, this);

    auto *form = new QFormLayout;
    form->addRow(translateText("服务端口"), portSpin);
    form->addRow(translateText("GPU 层数 (ngl)"), gpuLayersSpin);
    form->addRow(translateText("CPU 线程数"), threadsSpin);
    form->addRow(translateText("上下文长度"), contextSpin);
    form->addRow(translateText("模型目录"), pathRow(modelDirEdit, &SettingsDialog::chooseModelDir));
    form->addRow(QStringLiteral("llama-server"), pathRow(llamaExeEdit, &SettingsDialog::chooseLlamaExe));
    form->addRow(translateText("主模型 gguf"), pathRow(modelFileEdit, &SettingsDialog::chooseModelFile));

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(translateText("确定"));
    buttons->button(QDialogButtonBox::Cancel)->setText(translateText("取消"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(18, 16, 18, 16);
    layout->addLayout(form);
    layout->addWidget(buttons);
}

ServiceSettings SettingsDialog::values() const
{
    ServiceSettings out;
    out.port = portSpin->value();
    out.gpuLayers = gpuLayersSpin->value();
    out.threads = threadsSpin->value();
    out.contextSize = contextSpin->value();
    out.modelDir = modelDirEdit->text().trimmed();
    out.llamaExe = llamaExeEdit->text().trimmed();
    out.modelFile = modelFileEdit->text().trimmed();
    return out;
}

QWidget *SettingsDialog::pathRow(QLineEdit *edit, void (SettingsDialog::*choose)())
{
    auto *row = new QWidget(this);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    edit->setMinimumWidth(280);
    layout->addWidget(edit, 1);
    auto *button = new QPushButton(QStringLiteral("…"), row);
    button->setFixedWidth(30);
    button->setStyleSheet(QStringLiteral("padding: 5px 0px;"));   // the theme's padding would hide "…"
    layout->addWidget(button);
    connect(button, &QPushButton::clicked, this, choose);
    return row;
}

void SettingsDialog::chooseModelDir()
{
    const QString dir = QFileDialog::getExistingDirectory(this, translateText("选择模型目录"),
                                                          chooserStartDir(modelDirEdit->text()));
    if (!dir.isEmpty())
        modelDirEdit->setText(QDir::toNativeSeparators(dir));
}

void SettingsDialog::chooseLlamaExe()
{
    const QString file = QFileDialog::getOpenFileName(
        this, withServerExecutableName(translateText("选择 llama-server.exe")),
        chooserStartDir(llamaExeEdit->text()), serverExecutableName());
    if (!file.isEmpty())
        llamaExeEdit->setText(QDir::toNativeSeparators(file));
}

void SettingsDialog::chooseModelFile()
{
    const QString file = QFileDialog::getOpenFileName(this, translateText("选择主模型 gguf"),
                                                      chooserStartDir(modelFileEdit->text()),
                                                      QStringLiteral("GGUF (*.gguf)"));
    if (!file.isEmpty())
        modelFileEdit->setText(QDir::toNativeSeparators(file));
}
