#pragma once

#include "session/autolabelresults.h"
#include "session/liveannotations.h"
#include "storage/annotation.h"

#include <QHash>
#include <QObject>
#include <QString>

#include <optional>

class AnnotationScene;
class CategoryHistory;
class QUndoStack;

// The edit rules of the image on screen: every change to its shapes is one step on the undo stack
// (drawn, adjusted, moved, relabelled, deleted, copied, inserted by the model, confirmed,
// rejected). It asks nothing and shows nothing: it returns what happened and its owner words it.
// It also keeps the dirty flag: any change after the image was loaded leaves it dirty, undoing
// back to the saved state included; only load, clear and markSaved make it clean.
class AnnotationEditor : public QObject, public LiveAnnotations
{
    Q_OBJECT

public:
    AnnotationEditor(AnnotationScene *scene, CategoryHistory *categories, QObject *parent = nullptr);

    AnnotationScene *scene() const { return m_scene; }
    QUndoStack *undoStack() const { return m_undoStack; }

    // While loading, changes of the scene are not edits (an image being installed).
    void setLoading(bool loading) { m_loading = loading; }
    bool isLoading() const { return m_loading; }
    // Installs an image's records: no undo step, an empty history, clean.
    void load(const QList<Annotation> &annotations);
    // Records that arrived for the image after it was shown: added without an undo step.
    void addLoaded(const QList<Annotation> &records);
    // No image: no shapes, no history, clean.
    void clear();
    bool hasImage() const { return m_hasImage; }
    bool isDirty() const { return m_dirty; }
    void markSaved() { m_dirty = false; }

    QList<Annotation> annotations() const override;
    int confirmedCount() const override;
    int pendingCount() const override;
    std::optional<Annotation> annotation(uint id) const;

    // A drawn shape named label (confirmed); returns its id. It is selected, so that the arrows
    // nudge it, but "fresh": the number keys choose the next shape's category rather than
    // relabel it, until the user selects something (forgetFreshShape).
    uint addShape(const Annotation &draft, const QString &label);
    uint freshShape() const { return m_freshId; }
    void forgetFreshShape() { m_freshId = 0; }

    enum class CategoryKey {
        Relabelled,   // the selected shapes got the category
        Unchanged,    // they carry it already
        NextShape,    // nothing the user selected: the category is offered for the next shape
    };
    // Keys 1-9 with the category of that row.
    CategoryKey applyCategoryKey(const QString &label);
    // Selects the shape that a label file lists at this place (1-based, the "#4" of a check
    // finding): the confirmed, named shapes in id order, as a save writes them. False: none.
    bool selectSavedShape(int number);
    // The place of each such shape by id (the object panel's row numbers).
    QHash<uint, int> savedShapeNumbers() const;
    // False when nothing changed.
    bool relabel(uint id, const QString &label);
    // The selected shapes that carry another label get this one; returns how many.
    int applyCategory(const QString &label);
    bool toggleDifficult(uint id);
    int deleteSelected();
    // Removes the category's shapes (one step) and then the category itself (a step of its own,
    // so the first undo brings the category back, the second its shapes).
    void deleteCategory(const QString &label, int annotationCount);

    struct CopyOutcome
    {
        int copied = 0;
        bool nothingToCopy = false;   // the source has no confirmed, labelled shape
    };
    // The confirmed shapes of another image, without those this one has already (one step).
    CopyOutcome copyShapes(const QList<Annotation> &source);
    // Every step since the image was shown has been undone (or none was made).
    bool atOpenedState() const;
    // A model's results for this image, without those that repeat a shape (one step).
    OverlapFilterResult insertResults(const QList<Annotation> &results);

    bool confirmOne(uint id);
    // After each decision below the next model result of the image in reading order is selected
    // (the first again after the last), so that a review needs no mouse.
    struct Review
    {
        int confirmed = 0;
        int rejected = 0;
        bool alreadyConfirmed = false;   // the target was not a model result
        bool finishedDrawing = false;    // Enter closed the polygon being drawn instead
        bool cancelledDrawing = false;   // Esc ended a drawing instead
        bool noneLeft = false;           // a decision took the image's last model result
    };
    // Enter: the selected model results, else the first in reading order.
    Review confirmCurrent();
    // A double-click, the panel's or the context menu's confirmation of one model result.
    Review confirmAndAdvance(uint id);
    int confirmAll();
    bool rejectOne(uint id);
    int rejectAll();
    // A / D: selects the previous or next model result in reading order.
    void stepPending(int direction);
    // Esc: cancels drawing, else rejects the selected model result, else clears the selection.
    Review escape();

signals:
    // The shapes changed by an edit, an undo or a redo (never while loading).
    void edited();

private:
    void onSceneChanged();
    void onShapeEdited(uint id, const Annotation &before, const Annotation &after);
    void onShapeNudged(uint id, const Annotation &before, const Annotation &after);
    void pushState(uint id, const std::optional<Annotation> &before, const std::optional<Annotation> &after,
                   const QString &text, bool mergeable = false);
    // Selects the model result that followed the decided ones in readingOrder (taken before the
    // decision); false when none is left.
    bool selectNextPending(const QList<uint> &readingOrder, const QList<uint> &decided);

    AnnotationScene *m_scene;            // not owned
    CategoryHistory *m_categories;       // not owned
    QUndoStack *m_undoStack;
    bool m_loading = false;
    bool m_hasImage = false;
    bool m_dirty = false;
    uint m_freshId = 0;
};
