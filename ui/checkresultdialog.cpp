#include "ui/checkresultdialog.h"

#include "shared/language.h"

#include <QEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <limits>

CheckResultDialog::CheckResultDialog(QWidget *parent)
    : QDialog(parent)
{
    setModal(false);
    resize(860, 520);

    m_summary = new QLabel(this);
    m_summary->setObjectName(QStringLiteral("dim"));

    m_tree = new QTreeWidget(this);
    m_tree->setColumnCount(3);
    m_tree->setRootIsDecorated(false);
    m_tree->setAlternatingRowColors(true);
    // All rows have one height; without this the view asks every row for its size.
    m_tree->setUniformRowHeights(true);
    QHeaderView *header = m_tree->header();
    header->setStretchLastSection(false);
    header->setSectionResizeMode(0, QHeaderView::Stretch);
    header->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    header->setSectionResizeMode(2, QHeaderView::Stretch);
    connect(m_tree, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem *item) { openItem(item); });
    m_tree->installEventFilter(this);

    m_flushTimer = new QTimer(this);
    m_flushTimer->setSingleShot(true);
    m_flushTimer->setInterval(100);
    connect(m_flushTimer, &QTimer::timeout, this, &CheckResultDialog::flushRows);

    m_hint = new QLabel(this);
    // Secondary text on the dialog's own background, like the summary.
    m_hint->setObjectName(QStringLiteral("dim"));
    m_close = new QPushButton(this);
    connect(m_close, &QPushButton::clicked, this, &QDialog::accept);

    auto *bottom = new QHBoxLayout;
    bottom->addStretch(1);
    bottom->addWidget(m_hint);
    bottom->addWidget(m_close);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 12, 14, 12);
    layout->setSpacing(8);
    layout->addWidget(m_summary);
    layout->addWidget(m_tree, 1);
    layout->addLayout(bottom);

    retranslate();
    updateSummary();
}

CheckResultDialog::~CheckResultDialog()
{
    qDeleteAll(m_pendingRows);
}

void CheckResultDialog::addIssue(const QString &path, const QString &problem, const QString &detail,
                                 int shapeNumber)
{
    auto *item = new QTreeWidgetItem(QStringList{QFileInfo(path).fileName(), problem, detail});
    item->setToolTip(0, path);
    item->setToolTip(2, detail);
    item->setData(0, Qt::UserRole, path);
    item->setData(0, Qt::UserRole + 1, shapeNumber);
    m_pendingRows.append(item);
    if (!m_flushTimer->isActive())
        m_flushTimer->start();
    ++m_rowCount;
    // A green "no issues" line must not stay above rows that arrive late.
    if (m_finished)
        updateSummary();
}

void CheckResultDialog::flushRows()
{
    m_flushTimer->stop();
    if (m_pendingRows.isEmpty())
        return;
    m_tree->addTopLevelItems(m_pendingRows);
    m_pendingRows.clear();
}

void CheckResultDialog::setSummary(int checkedImages, int issueCount, int issueImages)
{
    m_checked = checkedImages;
    m_issues = issueCount;
    m_issueImages = issueImages;
    m_finished = false;
    updateSummary();
}

namespace {

constexpr int kGap = 8;

// p moved as little as needed for a frame of size to lie inside screen.
QPoint clampedInto(QPoint p, const QSize &size, const QRect &screen)
{
    p.setX(std::max(screen.left(), std::min(p.x(), screen.right() + 1 - size.width())));
    p.setY(std::max(screen.top(), std::min(p.y(), screen.bottom() + 1 - size.height())));
    return p;
}

} // namespace

QPoint CheckResultDialog::besidePosition(const QRect &windowFrame, const QSize &size, const QRect &screen)
{
    const int y = windowFrame.top();
    if (screen.right() - windowFrame.right() >= size.width() + kGap)
        return clampedInto(QPoint(windowFrame.right() + 1 + kGap, y), size, screen);
    if (windowFrame.left() - screen.left() >= size.width() + kGap)
        return clampedInto(QPoint(windowFrame.left() - kGap - size.width(), y), size, screen);
    // No room beside (a maximised window): over the objects panel at the right, low on the screen.
    return clampedInto(QPoint(screen.right() + 1 - size.width(), screen.bottom() + 1 - size.height()), size, screen);
}

QPoint CheckResultDialog::offPosition(const QRect &frame, const QRect &shape, const QRect &screen)
{
    const QRect area = shape.adjusted(-kGap, -kGap, kGap, kGap);
    if (!frame.intersects(area))
        return frame.topLeft();
    // Right of the shape, left of it, below, above: the first that stays clear of it on screen.
    const QPoint candidates[] = {
        {area.right() + 1, frame.top()},
        {area.left() - frame.width(), frame.top()},
        {frame.left(), area.bottom() + 1},
        {frame.left(), area.top() - frame.height()},
    };
    QPoint best = frame.topLeft();
    qint64 bestOverlap = std::numeric_limits<qint64>::max();
    for (const QPoint &candidate : candidates) {
        const QPoint p = clampedInto(candidate, frame.size(), screen);
        const QRect overlap = QRect(p, frame.size()).intersected(area);
        const qint64 covered = overlap.isEmpty() ? 0 : qint64(overlap.width()) * overlap.height();
        if (covered < bestOverlap) {
            best = p;
            bestOverlap = covered;
        }
        if (covered == 0)
            break;
    }
    return best;
}

void CheckResultDialog::placeBeside(const QRect &windowFrame)
{
    const QScreen *screen = parentWidget() ? parentWidget()->screen() : this->screen();
    if (!screen)
        return;
    const QRect available = screen->availableGeometry();
    // Before the first show the frame is not known yet: a title bar's worth more than the size.
    const QSize decoration = isVisible() ? frameGeometry().size() - size() : QSize(2, 30);
    const int wide = width() + decoration.width() + kGap;
    if (available.right() - windowFrame.right() < wide && windowFrame.left() - available.left() < wide) {
        // No room beside (a maximised window): small enough to hide little of the canvas.
        resize(std::min(width(), std::max(520, available.width() * 2 / 5)),
               std::min(height(), std::max(300, available.height() * 2 / 5)));
    }
    move(besidePosition(windowFrame, size() + decoration, available));
}

void CheckResultDialog::keepOff(const QRect &shape)
{
    const QScreen *screen = this->screen();
    if (!screen || !isVisible())
        return;
    const QPoint to = offPosition(frameGeometry(), shape, screen->availableGeometry());
    if (to != frameGeometry().topLeft())
        move(to);   // move() places the frame's corner for a window
}

void CheckResultDialog::finishSummary()
{
    // The check has ended: show every row now.
    flushRows();
    if (m_rowCount != 0)
        return;
    m_finished = true;
    updateSummary();
}

void CheckResultDialog::reset()
{
    m_flushTimer->stop();
    qDeleteAll(m_pendingRows);
    m_pendingRows.clear();
    m_tree->clear();
    m_rowCount = 0;
    setSummary(0, 0, 0);
}

void CheckResultDialog::retranslate()
{
    setWindowTitle(translateText("检查标注"));
    m_tree->setHeaderLabels({translateText("图片"), translateText("问题"), translateText("详情")});
    m_hint->setText(translateText("双击行打开对应图片"));
    m_close->setText(translateText("关闭"));
    updateSummary();
}

QString CheckResultDialog::summaryText() const
{
    return m_summary->text();
}

void CheckResultDialog::updateSummary()
{
    const bool clean = m_finished && m_rowCount == 0;
    if (!clean)
        m_finished = false;
    QString text = translateText("已检查 %1 张图片，发现 %2 个问题（涉及 %3 张图片）")
                       .arg(m_checked)
                       .arg(m_issues)
                       .arg(m_issueImages);
    if (clean)
        text += translateText(" —— 未发现问题 ✓");
    m_summary->setText(text);
    m_summary->setStyleSheet(clean ? QStringLiteral("color:#3FB27F;") : QString());
}

void CheckResultDialog::openItem(QTreeWidgetItem *item)
{
    if (!item)
        return;
    const QString path = item->data(0, Qt::UserRole).toString();
    emit openImageRequested(path);
    emit findingActivated(path, item->data(0, Qt::UserRole + 1).toInt());
}

// Return on a row opens it rather than pressing the dialog's default button (which closes).
bool CheckResultDialog::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_tree && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && m_tree->currentItem()) {
            openItem(m_tree->currentItem());
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}
