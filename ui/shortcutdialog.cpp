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
        {QStringLiteral("W / P / R / E"), translateText("画框 / 多边形 / 旋转框 / 选择模式")},
        {QStringLiteral("1–9"),
         translateText("给你点选（单击、框选、A / D）的框指定该行的类别；因画完或确认而选中的框不算，这时设为下一个框的类别")},
        {QStringLiteral("Del"), translateText("删除选中")},
        // One row for both: a row more makes the list scroll in the longer languages.
        {QStringLiteral("Ctrl+S / V / Ctrl+Q"),
         translateText("保存") + QStringLiteral(" / ") + translateText("标记为已检查（没有目标的图片成为背景图）")
             + QStringLiteral(" / ") + translateText("退出")},
        {QStringLiteral("Ctrl+Shift+V"), translateText("复制上一张的标注")},
        {QStringLiteral("Ctrl+Z / Ctrl+Y"), translateText("撤销 / 重做（重做也可用 Ctrl+Shift+Z）")},
        {QStringLiteral("←  /  →"), translateText("上一张 / 下一张；有你点选的框时移动它")},
        {QStringLiteral("PgUp / PgDn"), translateText("上一张 / 下一张（无论是否有选中框）")},
        {translateText("方向键"), translateText("移动你点选的框 1 像素（加 Shift：10 像素）")},
        {QStringLiteral("Z / X / Shift+Z / Shift+X"), translateText("逆时针 / 顺时针旋转选中的旋转框 1°（加 Shift：15°）")},
        {QStringLiteral("A / D"), translateText("上一个 / 下一个待确认框（标注面板顺序）；没有时 D 打开下一张有结果的图片")},
        {QStringLiteral("Enter"),
         translateText("确认选中的 ⚡框并选中下一个（双击同）；本图没有了就转到下一张有结果的图片")},
        {QStringLiteral("Esc"), translateText("取消绘制 / 拒绝选中的 ⚡框并选中下一个 / 取消选中")},
        {QStringLiteral("Ctrl+Enter / Ctrl+Del"), translateText("全部确认 / 全部拒绝 本图的 ⚡框")},
        {translateText("空格+拖拽") + QStringLiteral(" / ") + translateText("滚轮"),
         translateText("平移画布 / 缩放（以光标为锚点）")},
        {translateText("Shift+拖拽"), translateText("在已有标注上画新框，而不抓取它（多边形模式：加点）")},
        {QStringLiteral("Ctrl+O / Ctrl+G / F5"),
         translateText("打开图片目录 / 自动标注") + QStringLiteral(" / ") + translateText("重新读取标注")},
        {QStringLiteral("Ctrl+0 / Ctrl+1"), translateText("适合窗口 / 原始尺寸")},
        {QStringLiteral("Ctrl+Shift+↑↓←→"), translateText("显示的亮度 ↑↓、对比度 →←，不改变图片文件；Ctrl+Shift+0 重置")},
        // One row for the view's toggles.
        {QStringLiteral("F2 / F3 / Ctrl+H"), translateText("显示/隐藏 文件列表 / 标注面板 / 所有标注")},
    };
}

int ShortcutDialog::fittedWidth(int descriptionWidth, int keyColumnWidth)
{
    // Wide enough that few descriptions wrap: the list of every key must fit without scrolling.
    return std::clamp(descriptionWidth + keyColumnWidth + 66, 440, 1000);
}

int ShortcutDialog::fittedHeight(int rowsHeight, int buttonHeight, int fontHeight, int windowHeight)
{
    const int full = buttonHeight + fontHeight + rowsHeight + kChromeHeight;
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
    // Long descriptions wrap: the rows are as tall as their text at the dialog's width.
    const int width = fittedWidth(descriptionWidth, m_keyColumnWidth);
    const QMargins margins = layout->contentsMargins();
    const int listWidth = width - margins.left() - margins.right() - 2 * m_list->frameWidth();
    const int textWidth = ShortcutDelegate::descriptionWidth(listWidth, m_keyColumnWidth);
    m_list->ensurePolished();
    const QFontMetrics listMetrics = m_list->fontMetrics();
    int rowsHeight = 0;
    for (const ShortcutRow &row : entries)
        rowsHeight += ShortcutDelegate::rowHeight(listMetrics, row.description, textWidth);
    setFixedSize(width, fittedHeight(rowsHeight, close->sizeHint().height(), metrics.height(), windowHeight));
}

void showShortcutDialog(QWidget *window)
{
    ShortcutDialog dialog(window);
    dialog.exec();
}
