#include "ui/shortcutdialog.h"

#include "shared/language.h"
#include "ui/shortcutdelegate.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// Space around the list: margins, header, spacing and the button row beyond their own heights.
constexpr int kChromeHeight = 80;

} // namespace

QList<ShortcutRow> ShortcutDialog::rows()
{
    return {
        {QStringLiteral("W"), translateText("矩形模式")},
        {QStringLiteral("P"), translateText("多边形模式")},
        {QStringLiteral("E"), translateText("编辑模式")},
        {QStringLiteral("1–9"), translateText("按行号给选中框指定类别（无选中时设为下一个框的类别）")},
        {QStringLiteral("Del"), translateText("删除选中")},
        {QStringLiteral("Ctrl+S"), translateText("保存")},
        {QStringLiteral("Ctrl+Shift+V"), translateText("复制上一张的标注")},
        {QStringLiteral("Ctrl+Z / Ctrl+Y"), translateText("撤销 / 重做")},
        {QStringLiteral("←  /  →"), translateText("上一张 / 下一张")},
        {QStringLiteral("A / D"), translateText("上一个 / 下一个待确认框")},
        {QStringLiteral("Enter"), translateText("确认当前 ⚡框（双击同）")},
        {QStringLiteral("Esc"), translateText("取消绘制 / 拒绝选中 ⚡框 / 取消选中")},
        {translateText("空格+拖拽"), translateText("平移画布")},
        {translateText("滚轮"), translateText("缩放（以光标为锚点）")},
        {QStringLiteral("Ctrl+O"), translateText("打开图片目录")},
        {QStringLiteral("Ctrl+G"), translateText("自动标注")},
        {QStringLiteral("Ctrl+0 / Ctrl+1"), translateText("适合窗口 / 原始尺寸")},
        {QStringLiteral("F2 / F3"), translateText("显示/隐藏 文件列表 / 标注面板")},
    };
}

int ShortcutDialog::fittedWidth(int descriptionWidth, int keyColumnWidth)
{
    return std::clamp(descriptionWidth + keyColumnWidth + 66, 440, 640);
}

int ShortcutDialog::fittedHeight(int rowCount, int buttonHeight, int fontHeight, int windowHeight)
{
    const int full = buttonHeight + fontHeight + rowCount * ShortcutDelegate::kRowHeight + kChromeHeight;
    return std::min(full, std::max(420, windowHeight - 60));
}

ShortcutDialog::ShortcutDialog(QWidget *window)
    : QDialog(window)
{
    setWindowTitle(translateText("快捷键一览"));
    setModal(true);
    ensurePolished();

    const QList<ShortcutRow> entries = rows();
    const QFontMetrics metrics = window ? window->fontMetrics() : fontMetrics();
    QStringList keyTexts;
    int descriptionWidth = 0;
    for (const ShortcutRow &row : entries) {
        keyTexts.append(row.keys);
        descriptionWidth = std::max(descriptionWidth, metrics.horizontalAdvance(row.description));
    }
    m_keyColumnWidth = ShortcutDelegate::keyColumnWidth(metrics, keyTexts);

    auto *header = new QLabel(translateText("快捷键一览"), this);
    header->setObjectName(QStringLiteral("h1"));

    m_list = new QListWidget(this);
    m_list->setMouseTracking(true);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_list->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_list->setItemDelegate(new ShortcutDelegate(m_keyColumnWidth, m_list));
    for (const ShortcutRow &row : entries) {
        auto *item = new QListWidgetItem(m_list);
        item->setData(Qt::DisplayRole, row.keys);
        item->setData(Qt::UserRole, row.description);
    }

    auto *close = new QPushButton(translateText("关闭"), this);
    close->setObjectName(QStringLiteral("primary"));
    close->setDefault(true);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(close);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(18, 16, 18, 14);
    layout->setSpacing(10);
    layout->addWidget(header);
    layout->addWidget(m_list, 1);
    layout->addLayout(buttons);

    int windowHeight = 0;
    if (window)
        windowHeight = window->height();
    else if (const QScreen *screen = QGuiApplication::primaryScreen())
        windowHeight = screen->availableGeometry().height();
    close->ensurePolished();
    setFixedSize(fittedWidth(descriptionWidth, m_keyColumnWidth),
                 fittedHeight(int(entries.size()), close->sizeHint().height(), metrics.height(), windowHeight));
}

void showShortcutDialog(QWidget *window)
{
    ShortcutDialog dialog(window);
    dialog.exec();
}
