#include "ui/filelistpanel.h"

#include "shared/language.h"
#include "storage/thumbloader.h"
#include "ui/filedelegate.h"
#include "ui/filemanager.h"
#include "ui/flowlayout.h"
#include "ui/panelroles.h"

#include <QButtonGroup>
#include <QClipboard>
#include <QCursor>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QScrollBar>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <QToolTip>
#include <QVBoxLayout>

#include <cmath>

namespace {

constexpr int FilterButtonExtra = 12;   // 4 px padding and a 1 px border on each side, 2 px air

QFrame *horizontalLine(QWidget *parent)
{
    auto *line = new QFrame(parent);
    line->setObjectName(QStringLiteral("hline"));
    line->setFixedHeight(1);
    return line;
}

} // namespace

FileListPanel::FileListPanel(QWidget *parent)
    : QFrame(parent)
{
    setObjectName(QStringLiteral("panel"));
    // The window's splitter sets the width (220 at first); long names want more room.
    setMinimumWidth(MinimumWidth);
    setMaximumWidth(MaximumWidth);
    resize(220, height());

    m_title = new QLabel(this);
    m_title->setObjectName(QStringLiteral("panelTitle"));
    m_title->setContentsMargins(12, 10, 0, 8);

    // Five filters do not fit one row of a 220-pixel panel in most languages: they wrap.
    auto *filterBar = new FlowLayout;
    filterBar->setContentsMargins(6, 6, 6, 6);
    filterBar->setSpacing(1);
    m_filterGroup = new QButtonGroup(this);
    m_filterGroup->setExclusive(true);
    for (int i = 0; i < FilterCount; ++i) {
        auto *button = new QToolButton(this);
        button->setCheckable(true);
        button->setStyleSheet(QStringLiteral("QToolButton{padding:3px 4px;font-size:11px;}"));
        m_filterGroup->addButton(button, i);
        filterBar->addWidget(button);
        m_filterButtons[i] = button;
    }
    m_filterButtons[AllFiles]->setChecked(true);
    connect(m_filterGroup, &QButtonGroup::idClicked, this, &FileListPanel::setFilter);

    m_list = new QListWidget(this);
    m_list->setItemDelegate(new FileDelegate(&m_thumbnails, m_list));
    m_list->setMouseTracking(true);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_list->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_list, &QListWidget::currentRowChanged, this, [this](int row) {
        const QListWidgetItem *item = row >= 0 ? m_list->item(row) : nullptr;
        emit currentPathChanged(item ? item->data(FileRole::Path).toString() : QString());
    });
    connect(m_list, &QListWidget::customContextMenuRequested, this, &FileListPanel::showContextMenu);

    m_footer = new QLabel(this);
    m_footer->setObjectName(QStringLiteral("dim"));
    m_footer->setContentsMargins(12, 7, 12, 8);
    // A long directory name is elided rather than widening the panel.
    m_footer->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_title);
    layout->addWidget(horizontalLine(this));
    layout->addLayout(filterBar);
    layout->addWidget(horizontalLine(this));
    layout->addWidget(m_list, 1);
    layout->addWidget(horizontalLine(this));
    layout->addWidget(m_footer);

    m_thumbLoader = new ThumbLoader(this);
    // Scrolling settles before the rows in view are asked for.
    m_viewTimer = new QTimer(this);
    m_viewTimer->setSingleShot(true);
    m_viewTimer->setInterval(40);
    connect(m_viewTimer, &QTimer::timeout, this, &FileListPanel::requestViewThumbnails);
    connect(m_list->verticalScrollBar(), &QScrollBar::valueChanged, this, [this] {
        if (m_followView)
            m_viewTimer->start();
    });
    connect(m_thumbLoader, &ThumbLoader::thumbReady, this, &FileListPanel::storeThumbnail, Qt::QueuedConnection);
    // Queued after the pass's last thumbnail, so every one of them is stored by then.
    connect(m_thumbLoader, &QThread::finished, this, [this] { emit thumbnailsFinished(int(m_thumbnails.size())); },
            Qt::QueuedConnection);

    retranslate();
}

// The loader's own destructor stops it and waits for the image it is decoding.
FileListPanel::~FileListPanel() = default;

bool FileListPanel::passesFilter(int filter, int confirmed, int pending, bool background)
{
    switch (filter) {
    case UnlabelledFiles: return confirmed == 0 && !background;   // pending results are not labels yet
    case PendingFiles: return pending > 0;
    case DoneFiles: return (confirmed >= 1 || background) && pending == 0;
    case BackgroundFiles: return background;
    default: return true;
    }
}

bool FileListPanel::rowPasses(int row) const
{
    const QListWidgetItem *item = m_list->item(row);
    return item && passesFilter(m_filter, item->data(FileRole::Confirmed).toInt(),
                                item->data(FileRole::Pending).toInt(), item->data(FileRole::Background).toBool());
}

void FileListPanel::setRowShown(int row, bool shown)
{
    if (m_list->isRowHidden(row) == !shown)
        return;
    m_list->setRowHidden(row, !shown);
    m_shownCount += shown ? 1 : -1;
}

int FileListPanel::rowCount() const
{
    return m_list->count();
}

QString FileListPanel::currentPath() const
{
    const QListWidgetItem *item = m_list->currentItem();
    return item ? item->data(FileRole::Path).toString() : QString();
}

QString FileListPanel::footerText() const
{
    return m_footer->text();
}

void FileListPanel::beginLoading()
{
    m_thumbLoader->requestStop();
    m_followView = false;
    m_viewTimer->stop();
    m_wanted.clear();
    m_list->blockSignals(true);
    m_list->clear();
    m_list->blockSignals(false);
    m_rowByPath.clear();
    m_thumbnails.clear();
    m_shownCount = 0;
    m_loading = true;
    refreshFooter();
}

void FileListPanel::appendPaths(const QStringList &paths)
{
    m_list->blockSignals(true);
    for (const QString &path : paths) {
        if (m_rowByPath.contains(path))
            continue;
        // Filled before it joins the list, so adding it is one insertion and no change signals.
        const QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
        auto *item = new QListWidgetItem(name);
        item->setData(Qt::ToolTipRole, name);   // the whole name, where the row elides it
        item->setData(FileRole::Path, path);
        item->setData(FileRole::Confirmed, 0);
        item->setData(FileRole::Pending, 0);
        item->setData(FileRole::Failed, false);
        item->setData(FileRole::Background, false);
        const int row = m_list->count();
        m_list->addItem(item);
        m_rowByPath.insert(path, row);
        ++m_shownCount;
        if (!passesFilter(m_filter, 0, 0))
            setRowShown(row, false);
    }
    m_list->blockSignals(false);
    refreshFooter();
}

void FileListPanel::setDirectory(const QString &dir)
{
    m_directory = dir;
    m_footer->setToolTip(QDir::toNativeSeparators(dir));
}

void FileListPanel::updateCounts()
{
    m_loading = false;
    refreshFooter();
}

void FileListPanel::refreshFooter()
{
    if (m_loading) {
        m_footer->setText(m_list->count() == 0 ? translateText("加载中…")
                                               : translateText("加载中 %1…").arg(m_list->count()));
        return;
    }
    QString name = m_directory.isEmpty() ? QString() : QDir(m_directory).dirName();
    if (name.isEmpty())
        name = m_directory;   // a drive or file-system root has no name of its own
    const QString text = translateText("%1 · %2 张");
    const QString withoutName = text.arg(QString(), QString::number(m_shownCount));
    const QMargins margins = m_footer->contentsMargins();
    const int room = std::max(0, width() - margins.left() - margins.right()
                                     - m_footer->fontMetrics().horizontalAdvance(withoutName));
    m_footer->setText(text.arg(m_footer->fontMetrics().elidedText(name, Qt::ElideMiddle, room))
                          .arg(m_shownCount));
}

void FileListPanel::resizeEvent(QResizeEvent *event)
{
    QFrame::resizeEvent(event);
    refreshFooter();
    if (m_followView)
        m_viewTimer->start();
}

void FileListPanel::setFilter(int filter)
{
    if (filter < AllFiles || filter >= FilterCount)
        return;
    m_filter = filter;
    m_filterButtons[filter]->setChecked(true);
    for (int row = 0, n = m_list->count(); row < n; ++row)
        setRowShown(row, rowPasses(row));
    refreshFooter();
    if (m_followView)
        m_viewTimer->start();
}

void FileListPanel::setFileState(const QString &path, int confirmed, int pending, bool failed, bool background)
{
    const auto found = m_rowByPath.constFind(path);
    if (found == m_rowByPath.constEnd())
        return;
    const int row = found.value();
    QListWidgetItem *item = m_list->item(row);
    if (item->data(FileRole::Confirmed).toInt() == confirmed && item->data(FileRole::Pending).toInt() == pending
        && item->data(FileRole::Failed).toBool() == failed && item->data(FileRole::Background).toBool() == background)
        return;
    item->setData(FileRole::Confirmed, confirmed);
    item->setData(FileRole::Pending, pending);
    item->setData(FileRole::Failed, failed);
    item->setData(FileRole::Background, background);
    const int shownBefore = m_shownCount;
    setRowShown(row, passesFilter(m_filter, confirmed, pending, background));
    // The footer counts the rows shown; laying its text out for every state of a scan costs.
    if (m_shownCount != shownBefore)
        refreshFooter();
    m_list->viewport()->update();
}

void FileListPanel::removePath(const QString &path)
{
    const auto found = m_rowByPath.constFind(path);
    if (found == m_rowByPath.constEnd())
        return;
    const int row = found.value();
    const bool wasShown = !m_list->isRowHidden(row);
    m_list->blockSignals(true);
    delete m_list->takeItem(row);
    m_rowByPath.erase(found);
    // Only the rows after the removed one move up.
    for (int r = row, n = m_list->count(); r < n; ++r)
        m_rowByPath.insert(m_list->item(r)->data(FileRole::Path).toString(), r);
    m_list->blockSignals(false);
    m_thumbnails.remove(path);
    if (wasShown)
        --m_shownCount;
    refreshFooter();
}

void FileListPanel::selectPath(const QString &path, bool scrollTo)
{
    const auto found = m_rowByPath.constFind(path);
    if (found == m_rowByPath.constEnd())
        return;
    QListWidgetItem *item = m_list->item(found.value());
    m_list->blockSignals(true);
    m_list->setCurrentItem(item);
    m_list->blockSignals(false);
    if (scrollTo)
        m_list->scrollToItem(item, QAbstractItemView::EnsureVisible);
    m_list->viewport()->update();
}

bool FileListPanel::isShown(const QString &path) const
{
    const auto found = m_rowByPath.constFind(path);
    return found != m_rowByPath.constEnd() && rowPasses(found.value());
}

bool FileListPanel::wouldShow(const QString &path) const
{
    const auto found = m_rowByPath.constFind(path);
    return found != m_rowByPath.constEnd() ? rowPasses(found.value()) : passesFilter(m_filter, 0, 0);
}

void FileListPanel::requestThumbnails(const QStringList &paths)
{
    // Thumbnails already held need no second decode.
    QStringList missing;
    missing.reserve(paths.size());
    for (const QString &path : paths) {
        if (!m_thumbnails.contains(path))
            missing.append(path);
    }
    m_thumbLoader->restart(missing);
}

void FileListPanel::followViewWithThumbnails()
{
    m_followView = true;
    requestViewThumbnails();
}

void FileListPanel::holdThumbnails(int ms)
{
    m_thumbLoader->holdFor(ms);
}

void FileListPanel::requestViewThumbnails()
{
    const int n = m_list->count();
    if (n == 0)
        return;
    const QModelIndex top = m_list->indexAt(QPoint(1, 1));
    const QModelIndex bottom = m_list->indexAt(QPoint(1, m_list->viewport()->height() - 2));
    const int first = top.isValid() ? top.row() : 0;
    const int last = bottom.isValid() ? bottom.row() : n - 1;
    // The rows in view first, then a page below (where the user usually goes), then one above.
    const int page = std::max(1, last - first + 1);
    QStringList wanted;
    const auto add = [&](int from, int to, int step, int limit) {
        int added = 0;
        for (int row = from; row != to && row >= 0 && row < n && added < limit; row += step) {
            if (m_list->isRowHidden(row))
                continue;
            wanted.append(m_list->item(row)->data(FileRole::Path).toString());
            ++added;
        }
    };
    add(first, last + 1, 1, n);
    add(last + 1, n, 1, page);
    add(first - 1, -1, -1, page);
    m_wanted = QSet<QString>(wanted.cbegin(), wanted.cend());
    requestThumbnails(wanted);
}

void FileListPanel::stopThumbnails()
{
    m_thumbLoader->requestStop();
    m_thumbLoader->wait(3000);
}

void FileListPanel::storeThumbnail(const QString &path, const QImage &image)
{
    if (image.isNull())
        return;
    // Keep only the pixels the row draws: the loader's image covers 60x44, the frame is 30x22
    // logical pixels, so on a 1x screen three quarters of it would be dead weight.
    const qreal dpr = m_list->devicePixelRatioF();
    const QSize box(int(std::ceil(FileDelegate::ThumbWidth * dpr - 0.01)),
                    int(std::ceil(FileDelegate::ThumbHeight * dpr - 0.01)));
    QImage fitted = image;
    if (image.width() > box.width() || image.height() > box.height())
        fitted = image.scaled(box, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    QPixmap pixmap = QPixmap::fromImage(fitted);
    pixmap.setDevicePixelRatio(FileDelegate::fittingRatio(pixmap.size()));
    m_thumbnails.insert(path, pixmap);
    if (m_thumbnails.size() > kHeldThumbnails && !m_wanted.isEmpty()) {
        // The far ones go; what the user looks at now stays.
        for (auto it = m_thumbnails.begin(); it != m_thumbnails.end() && m_thumbnails.size() > kHeldThumbnails * 3 / 4;) {
            if (m_wanted.contains(it.key()))
                ++it;
            else
                it = m_thumbnails.erase(it);
        }
    }

    const auto found = m_rowByPath.constFind(path);
    if (found != m_rowByPath.constEnd())
        m_list->viewport()->update(m_list->visualItemRect(m_list->item(found.value())));
}

void FileListPanel::showContextMenu(const QPoint &pos)
{
    QListWidgetItem *item = m_list->itemAt(pos);
    if (!item)
        return;
    m_list->setCurrentItem(item);
    const QString path = item->data(FileRole::Path).toString();

    QMenu menu(this);
    QAction *autoLabel = menu.addAction(QIcon(QStringLiteral(":/icons/bolt.svg")), translateText("自动标注"));
    menu.addSeparator();
    QAction *remove = menu.addAction(translateText("删除"));
    QAction *copyName = menu.addAction(translateText("复制文件名"));
    QAction *copyPath = menu.addAction(translateText("复制文件路径"));
    menu.addSeparator();
    QAction *showInFolder = menu.addAction(translateText("在文件浏览器中打开"));

    const QAction *chosen = menu.exec(m_list->viewport()->mapToGlobal(pos));
    if (!chosen)
        return;
    if (chosen == autoLabel) {
        emit fileAutoLabelRequested(path);
    } else if (chosen == remove) {
        emit fileDeleteRequested(path);
    } else if (chosen == copyName) {
        QGuiApplication::clipboard()->setText(QFileInfo(path).fileName());
        QToolTip::showText(QCursor::pos(), translateText("已复制文件名"));
    } else if (chosen == copyPath) {
        QGuiApplication::clipboard()->setText(QDir::toNativeSeparators(path));
        QToolTip::showText(QCursor::pos(), translateText("已复制路径"));
    } else if (chosen == showInFolder) {
        showInFileManager(path);
    }
}

void FileListPanel::retranslate()
{
    m_title->setText(translateText("文件"));
    m_filterButtons[AllFiles]->setText(translateText("全部"));
    m_filterButtons[UnlabelledFiles]->setText(translateText("未标注"));
    m_filterButtons[PendingFiles]->setText(translateText("⚡待确认"));
    m_filterButtons[DoneFiles]->setText(translateText("完成"));
    m_filterButtons[BackgroundFiles]->setText(translateText("背景"));
    m_filterButtons[BackgroundFiles]->setToolTip(translateText("已检查、没有目标的图片（空标注文件）"));
    // As wide as the text and its padding: the default hint adds two spaces per button, which a
    // 220-pixel panel cannot afford for four buttons in most languages.
    for (QToolButton *button : m_filterButtons) {
        button->ensurePolished();
        button->setFixedWidth(button->fontMetrics().horizontalAdvance(button->text()) + FilterButtonExtra);
    }
    refreshFooter();
}
