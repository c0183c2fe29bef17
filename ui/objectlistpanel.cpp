#include "ui/objectlistpanel.h"

#include "canvas/labelcolor.h"
#include "shared/language.h"
#include "storage/rotatedbox.h"
#include "storage/shapekinds.h"
#include "ui/categorydelegate.h"
#include "ui/objectdelegate.h"
#include "ui/panelroles.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QItemSelectionModel>
#include <QListWidget>
#include <QMouseEvent>
#include <QScrollBar>
#include <QSet>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>

namespace {

QFrame *horizontalLine(QWidget *parent)
{
    auto *line = new QFrame(parent);
    line->setObjectName(QStringLiteral("hline"));
    line->setFixedHeight(1);
    return line;
}

void setUpList(QListWidget *list)
{
    list->setMouseTracking(true);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    list->setSpacing(2);
}

} // namespace

ObjectListPanel::ObjectListPanel(QWidget *parent)
    : QFrame(parent)
{
    setObjectName(QStringLiteral("panel"));
    setFixedWidth(270);

    m_title = new QLabel(this);
    m_title->setObjectName(QStringLiteral("panelTitle"));
    m_title->setContentsMargins(12, 10, 0, 8);

    m_objects = new QListWidget(this);
    m_objects->setObjectName(QStringLiteral("objectList"));
    m_objects->setItemDelegate(new ObjectDelegate(m_objects));
    setUpList(m_objects);
    // A hidden shape's row does nothing: nobody selects or confirms what they cannot see.
    connect(m_objects, &QListWidget::itemClicked, this, [this](QListWidgetItem *item) {
        if (!item->data(ObjectRole::Hidden).toBool())
            emit rowActivated(item->data(ObjectRole::Id).toUInt());
    });
    connect(m_objects, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem *item) {
        if (item->data(ObjectRole::Hidden).toBool())
            return;
        const uint id = item->data(ObjectRole::Id).toUInt();
        if (item->data(ObjectRole::Pending).toBool())
            emit rowConfirmed(id);
        else
            emit rowActivated(id);
    });

    m_emptyLabel = new QLabel(m_objects->viewport());
    m_emptyLabel->setObjectName(QStringLiteral("dim"));
    m_emptyLabel->setAlignment(Qt::AlignCenter);
    m_emptyLabel->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_emptyLabel->setGeometry(m_objects->viewport()->rect());

    m_kept = new QLabel(this);
    m_kept->setObjectName(QStringLiteral("keptShapes"));
    m_kept->setStyleSheet(QStringLiteral("color:#9AA3B2;"));
    m_kept->setWordWrap(true);
    m_kept->setContentsMargins(12, 4, 12, 4);
    m_kept->hide();

    m_categoryTitle = new QLabel(this);
    m_categoryTitle->setObjectName(QStringLiteral("panelTitle"));
    m_addButton = new QToolButton(this);
    m_addButton->setObjectName(QStringLiteral("flatTool"));
    m_addButton->setCursor(Qt::PointingHandCursor);
    connect(m_addButton, &QToolButton::clicked, this, &ObjectListPanel::addCategoryClicked);
    auto *categoryHeader = new QHBoxLayout;
    categoryHeader->setContentsMargins(12, 7, 8, 7);
    categoryHeader->addWidget(m_categoryTitle);
    categoryHeader->addStretch(1);
    categoryHeader->addWidget(m_addButton);

    m_categories = new QListWidget(this);
    m_categories->setObjectName(QStringLiteral("categoryList"));
    m_categories->setItemDelegate(new CategoryDelegate(m_categories));
    setUpList(m_categories);
    connect(m_categories, &QListWidget::itemClicked, this, [this](QListWidgetItem *item) {
        m_categories->blockSignals(true);
        m_categories->setCurrentItem(item);
        m_categories->blockSignals(false);
        emit categoryChosen(item->text());
    });
    connect(m_categories, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem *item) {
        emit categoryApplied(item->text());
    });

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_title);
    layout->addWidget(horizontalLine(this));
    layout->addWidget(m_objects, 3);
    layout->addWidget(m_kept);
    layout->addWidget(horizontalLine(this));
    layout->addLayout(categoryHeader);
    layout->addWidget(horizontalLine(this));
    layout->addWidget(m_categories, 2);

    // Only now: the filter looks at both lists.
    m_objects->viewport()->installEventFilter(this);
    m_categories->viewport()->installEventFilter(this);
    retranslate();
}

QString ObjectListPanel::displayName(const Annotation &annotation)
{
    return annotation.label.isEmpty() ? translateText("(未命名)") : annotation.label;
}

QString ObjectListPanel::detailText(const Annotation &annotation)
{
    const ShapeKindRules &rules = storedShapeKind(annotation);
    if (rules.angle) {
        const QSizeF sides = rules.sides(annotation);
        return QStringLiteral("%1×%2 %3°")
            .arg(qRound(sides.width()))
            .arg(qRound(sides.height()))
            .arg(QString::number(wrappedDegrees(rules.angle(annotation)), 'f', 1));
    }
    if (rules.hasOutline())
        return translateText("%1点").arg(annotation.points.size());
    const QRectF box = annotation.rect.normalized();
    return QStringLiteral("%1×%2").arg(int(box.width())).arg(int(box.height()));
}

void ObjectListPanel::fillObjectRow(QListWidgetItem *item, const Annotation &a, int number)
{
    item->setData(ObjectRole::Number, number);
    const bool pending = a.pending == 1;
    item->setData(Qt::DisplayRole, displayName(a));
    item->setData(ObjectRole::Id, uint(a.id));
    item->setData(ObjectRole::Color, pending ? QColor(0xE2, 0xB9, 0x3D) : labelColor(a.label));
    item->setData(ObjectRole::Detail, detailText(a));
    item->setData(ObjectRole::Pending, pending);
    item->setData(ObjectRole::Polygon, shapeKindRules(a.kind).hasOutline());
    item->setData(ObjectRole::Confidence, a.confidence);
    fillHiddenRole(item, m_allHidden || isHiddenLabel(a.label));
}

void ObjectListPanel::fillHiddenRole(QListWidgetItem *item, bool hidden)
{
    if (item->data(ObjectRole::Hidden).toBool() == hidden)
        return;
    item->setData(ObjectRole::Hidden, hidden);
    item->setFlags(hidden ? item->flags() & ~Qt::ItemIsSelectable : item->flags() | Qt::ItemIsSelectable);
    item->setToolTip(hidden ? translateText("已隐藏：Ctrl+H 或类别旁的眼睛可重新显示") : QString());
}

void ObjectListPanel::setVisibility(bool allHidden, const QSet<QString> &hiddenLabels)
{
    if (allHidden == m_allHidden && hiddenLabels == m_hiddenLabels)
        return;
    m_allHidden = allHidden;
    m_hiddenLabels = hiddenLabels;
    m_objects->blockSignals(true);
    for (int row = 0; row < m_objects->count(); ++row) {
        QListWidgetItem *item = m_objects->item(row);
        const uint id = item->data(ObjectRole::Id).toUInt();
        for (const Annotation &a : std::as_const(m_shown)) {
            if (a.id == id) {
                fillHiddenRole(item, allHidden || isHiddenLabel(a.label));
                break;
            }
        }
    }
    m_objects->blockSignals(false);
    for (int row = 0; row < m_categories->count(); ++row) {
        QListWidgetItem *item = m_categories->item(row);
        item->setData(CategoryRole::Hidden, isHiddenLabel(item->text()));
    }
    m_objects->viewport()->update();
    m_categories->viewport()->update();
}

void ObjectListPanel::refreshObjects(const QList<Annotation> &annotations, const QList<uint> &selectedIds,
                                     const QHash<uint, int> &numbers)
{
    m_shown = annotations;
    QHash<uint, int> indexById;
    indexById.reserve(annotations.size());
    for (int i = 0; i < annotations.size(); ++i)
        indexById.insert(annotations.at(i).id, i);

    bool inPlace = m_objects->count() == annotations.size();
    for (int row = 0; inPlace && row < m_objects->count(); ++row)
        inPlace = indexById.contains(m_objects->item(row)->data(ObjectRole::Id).toUInt());

    m_objects->blockSignals(true);
    if (inPlace) {
        // The same shapes: rows keep their order, so a moved shape does not jump in the list.
        for (int row = 0; row < m_objects->count(); ++row) {
            QListWidgetItem *item = m_objects->item(row);
            const uint id = item->data(ObjectRole::Id).toUInt();
            fillObjectRow(item, annotations.at(indexById.value(id)), numbers.value(id));
        }
    } else {
        m_objects->clear();
        for (const Annotation &a : annotations) {
            auto *item = new QListWidgetItem;
            fillObjectRow(item, a, numbers.value(a.id));
            m_objects->addItem(item);
        }
    }

    QListWidgetItem *selected = nullptr;
    for (int row = 0; row < m_objects->count(); ++row) {
        QListWidgetItem *item = m_objects->item(row);
        const bool match = selectedIds.contains(item->data(ObjectRole::Id).toUInt());
        if (match && !selected)
            selected = item;
    }
    // Current first: making an item current selects it alone. The list takes one row per click,
    // but shows every shape selected on the canvas (an item's setSelected would clear the others).
    if (selected)
        m_objects->setCurrentItem(selected);
    QItemSelection rows;
    for (int row = 0; row < m_objects->count(); ++row) {
        QListWidgetItem *item = m_objects->item(row);
        if (selectedIds.contains(item->data(ObjectRole::Id).toUInt())) {
            const QModelIndex index = m_objects->model()->index(row, 0);
            rows.select(index, index);
        }
    }
    m_objects->selectionModel()->select(rows, QItemSelectionModel::ClearAndSelect);
    if (selected) {
        m_objects->scrollToItem(selected, QAbstractItemView::EnsureVisible);
    }
    m_objects->blockSignals(false);

    m_objects->viewport()->update();
    m_emptyLabel->setVisible(m_objects->count() == 0);
}

void ObjectListPanel::refreshCategories(const QStringList &labels, const QHash<QString, int> &counts,
                                        const QString &currentLabel)
{
    bool unchanged = m_categories->count() == labels.size();
    for (int i = 0; unchanged && i < labels.size(); ++i) {
        const QListWidgetItem *item = m_categories->item(i);
        unchanged = item->text() == labels.at(i)
            && item->data(CategoryRole::Count).toInt() == counts.value(labels.at(i), 0);
    }

    if (unchanged) {
        m_categories->blockSignals(true);
        for (int i = 0; i < m_categories->count(); ++i) {
            QListWidgetItem *item = m_categories->item(i);
            item->setSelected(item->text() == currentLabel);
        }
        m_categories->blockSignals(false);
        m_categories->viewport()->update();
        return;
    }

    const int scroll = m_categories->verticalScrollBar()->value();
    QSet<QString> asking;
    for (int i = 0; i < m_categories->count(); ++i) {
        const QListWidgetItem *item = m_categories->item(i);
        if (item->data(CategoryRole::Confirming).toBool())
            asking.insert(item->text());
    }

    m_categories->blockSignals(true);
    m_categories->clear();
    m_rowByLabel.clear();
    for (const QString &label : labels) {
        auto *item = new QListWidgetItem(label);
        item->setData(CategoryRole::Color, labelColor(label));
        item->setData(CategoryRole::Count, counts.value(label, 0));
        item->setData(CategoryRole::Confirming, asking.contains(label));
        item->setData(CategoryRole::Hidden, isHiddenLabel(label));
        m_categories->addItem(item);
        m_rowByLabel.insert(label, m_categories->count() - 1);
        if (label == currentLabel)
            item->setSelected(true);
    }
    m_categories->blockSignals(false);
    m_categories->verticalScrollBar()->setValue(scroll);
    m_categories->viewport()->update();
}

QString ObjectListPanel::categoryAtRow(int row) const
{
    const QListWidgetItem *item = row >= 0 ? m_categories->item(row) : nullptr;
    return item ? item->text() : QString();
}

bool ObjectListPanel::clearConfirmations()
{
    bool cleared = false;
    for (int i = 0; i < m_categories->count(); ++i) {
        QListWidgetItem *item = m_categories->item(i);
        if (item->data(CategoryRole::Confirming).toBool()) {
            item->setData(CategoryRole::Confirming, false);
            cleared = true;
        }
    }
    return cleared;
}

// Returns whether the press is swallowed.
bool ObjectListPanel::categoryPress(QMouseEvent *event)
{
    const QPoint pos = event->position().toPoint();
    QListWidgetItem *item = m_categories->itemAt(pos);
    // Only the left button works the cross and the check mark; a right-click deletes nothing.
    if (!item || event->button() != Qt::LeftButton)
        return false;
    const int x = int(std::lround(event->position().x()));
    const QRect row = m_categories->visualItemRect(item);
    const int checkLeft = row.right() - CategoryDelegate::CheckZoneLeft;
    const int crossLeft = row.right() - CategoryDelegate::CrossZoneLeft;
    const QString label = item->text();
    const int count = item->data(CategoryRole::Count).toInt();

    const bool asking = item->data(CategoryRole::Confirming).toBool();
    // The eye shares the check mark's place; a second click of a double-click on it is a
    // second toggle, as on a button.
    if (!asking && x >= checkLeft && x < crossLeft) {
        if (event->type() != QEvent::MouseButtonDblClick && clearConfirmations())
            m_categories->viewport()->update();
        emit categoryVisibilityRequested(label, !item->data(CategoryRole::Hidden).toBool());
        return true;
    }

    // Qt delivers the second press of a double-click as its own event: on the check mark or a
    // cross it must not also pick or apply the category that is being deleted.
    if (event->type() == QEvent::MouseButtonDblClick)
        return x >= crossLeft || (asking && x >= checkLeft);

    if (item->data(CategoryRole::Confirming).toBool()) {
        item->setData(CategoryRole::Confirming, false);
        if (x >= checkLeft && x < crossLeft) {
            m_categories->viewport()->update();
            emit categoryDeleteRequested(label, count);
            return true;
        }
        m_categories->viewport()->update();
        return x >= crossLeft;
    }
    if (x >= crossLeft) {
        if (count < 1) {
            emit categoryDeleteRequested(label, 0);
        } else {
            clearConfirmations();
            item->setData(CategoryRole::Confirming, true);
        }
        m_categories->viewport()->update();
        return true;
    }
    if (clearConfirmations())
        m_categories->viewport()->update();
    return false;
}

bool ObjectListPanel::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_objects->viewport() && event->type() == QEvent::Resize) {
        m_emptyLabel->setGeometry(m_objects->viewport()->rect());
    } else if (watched == m_categories->viewport()
               && (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick)) {
        if (categoryPress(static_cast<QMouseEvent *>(event)))
            return true;
    }
    return QFrame::eventFilter(watched, event);
}

void ObjectListPanel::setKeptCount(int count)
{
    m_keptCount = count;
    m_kept->setVisible(count > 0);
    m_kept->setText(count > 0 ? translateText("另有 %1 个形状仅显示，不可编辑").arg(count) : QString());
    m_kept->setToolTip(count > 0 ? translateText("圆、线、点、掩码等形状：在画布上以虚线显示，保存时原样保留") : QString());
}

QString ObjectListPanel::keptText() const
{
    return m_kept->isVisibleTo(this) ? m_kept->text() : QString();
}

void ObjectListPanel::retranslate()
{
    setKeptCount(m_keptCount);
    m_title->setText(translateText("标注对象"));
    m_categoryTitle->setText(translateText("类别"));
    m_addButton->setText(translateText("＋ 新增"));
    m_emptyLabel->setText(translateText("暂无标注对象"));
    for (int row = 0; row < m_objects->count(); ++row) {
        QListWidgetItem *item = m_objects->item(row);
        const uint id = item->data(ObjectRole::Id).toUInt();
        for (const Annotation &a : std::as_const(m_shown)) {
            if (a.id == id) {
                item->setData(Qt::DisplayRole, displayName(a));
                item->setData(ObjectRole::Detail, detailText(a));
                if (item->data(ObjectRole::Hidden).toBool())
                    item->setToolTip(translateText("已隐藏：Ctrl+H 或类别旁的眼睛可重新显示"));
                break;
            }
        }
    }
}
