#pragma once

#include <QFrame>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include "storage/annotation.h"

class QLabel;
class QListWidget;
class QListWidgetItem;
class QToolButton;

// The right panel: the annotations of the current image above, the categories with their counts
// below. It keeps no model: the window pushes the scene's annotations and the category list into
// it and turns its signals into edits. A category row's cross asks inline before deleting.
class ObjectListPanel : public QFrame
{
    Q_OBJECT
public:
    explicit ObjectListPanel(QWidget *parent = nullptr);

    // numbers: the place of each saved shape in its label file by id (a check finding's "#4");
    // shapes without one (model results) show none.
    // Every selected shape's row is highlighted; the first is made current.
    void refreshObjects(const QList<Annotation> &annotations, const QList<uint> &selectedIds,
                        const QHash<uint, int> &numbers = QHash<uint, int>());
    void refreshObjects(const QList<Annotation> &annotations, uint selectedId,
                        const QHash<uint, int> &numbers = QHash<uint, int>())
    {
        refreshObjects(annotations, selectedId != 0 ? QList<uint>{selectedId} : QList<uint>(), numbers);
    }
    void refreshCategories(const QStringList &labels, const QHash<QString, int> &counts,
                           const QString &currentLabel);
    // What the canvas hides: rows of hidden shapes are greyed and cannot be selected, category
    // rows show a closed eye.
    void setVisibility(bool allHidden, const QSet<QString> &hiddenLabels);
    // Shapes of the image's file that are shown but not editable here (labelme's circles, lines,
    // points, ...): a line under the objects says how many; none hides it.
    void setKeptCount(int count);
    QString keptText() const;   // empty while hidden
    void retranslate();

    // The category of a row as shown from the top (the number keys 1-9 pick rows 0-8);
    // empty when there is no such row.
    QString categoryAtRow(int row) const;

    // Texts of an object row, as shown.
    static QString displayName(const Annotation &annotation);
    static QString detailText(const Annotation &annotation);

signals:
    void rowActivated(uint id);
    void rowConfirmed(uint id);
    void categoryChosen(const QString &label);
    void categoryApplied(const QString &label);
    void categoryDeleteRequested(const QString &label, int annotationCount);
    // A category row's eye was clicked: hide (or show again) that category's shapes.
    void categoryVisibilityRequested(const QString &label, bool hidden);
    void addCategoryClicked();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void fillObjectRow(QListWidgetItem *item, const Annotation &annotation, int number);
    bool categoryPress(QMouseEvent *event);
    bool clearConfirmations();
    bool isHiddenLabel(const QString &label) const { return m_hiddenLabels.contains(label); }
    void fillHiddenRole(QListWidgetItem *item, bool hidden);

    QLabel *m_title = nullptr;
    QListWidget *m_objects = nullptr;
    QLabel *m_emptyLabel = nullptr;
    QLabel *m_kept = nullptr;
    int m_keptCount = 0;
    QLabel *m_categoryTitle = nullptr;
    QToolButton *m_addButton = nullptr;
    QListWidget *m_categories = nullptr;
    QHash<QString, int> m_rowByLabel;
    QList<Annotation> m_shown;   // last annotations, to re-word their rows on a language change
    bool m_allHidden = false;
    QSet<QString> m_hiddenLabels;
};
