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
class ImageHistories;
class QUndoGroup;
class QUndoStack;

// The edit rules of the image on screen: every change to its shapes is one step on the undo stack
// (drawn, adjusted, moved, relabelled, deleted, copied, inserted by the model, confirmed,
// rejected). It asks nothing and shows nothing: it returns what happened and its owner words it.
// Each image keeps its own stack while the folder is open (ImageHistories). The image is dirty
// when its stack is away from the saved point (undoing back to it makes it clean again) or an
// edit left no step (a drag that ended where it began).
class AnnotationEditor : public QObject, public LiveAnnotations
{
    Q_OBJECT

public:
    AnnotationEditor(AnnotationScene *scene, CategoryHistory *categories, QObject *parent = nullptr);

    AnnotationScene *scene() const { return m_scene; }
    // The stack of the image on screen; another one after each load.
    QUndoStack *undoStack() const;
    // The undo and redo actions are made from the group: they follow the image on screen.
    QUndoGroup *undoGroup() const;

    // While loading, changes of the scene are not edits (an image being installed).
    void setLoading(bool loading) { m_loading = loading; }
    bool isLoading() const { return m_loading; }
    // Installs an image's records: no undo step, an empty history, clean.
    void load(const QList<Annotation> &annotations);
    // Installs the image at path: with the history it had when the user left it, when its label
    // files and records are still as they were; otherwise as load does. The image shown before
    // (previous, empty: none) keeps its history.
    void enter(const QString &previous, const QString &path, const QList<Annotation> &records);
    // Another folder: the histories of its images go.
    void forgetHistories();
    // Records that arrived for the image after it was shown: added without an undo step.
    void addLoaded(const QList<Annotation> &records);
    // No image: no shapes, no history, clean.
    void clear();
    bool hasImage() const { return m_hasImage; }
    bool isDirty() const;
    void markSaved();
    // The image's label file holds boxes only (a pose dataset's rows: boxes with keypoints): no
    // polygon or rotated box is copied, turned to or confirmed into it, as none could be saved.
    void setOutlinesRefused(bool refused) { m_outlinesRefused = refused; }
    bool outlinesRefused() const { return m_outlinesRefused; }

    QList<Annotation> annotations() const override;
    int confirmedCount() const override;
    int pendingCount() const override;
    std::optional<Annotation> annotation(uint id) const;

    // A drawn shape named label (confirmed); returns its id. It is selected, but not by the user:
    // the digits choose the next shape's category and the arrows step images until the user
    // points at it.
    uint addShape(const Annotation &draft, const QString &label);

    struct CategoryKey
    {
        int relabelled = 0;       // the selected shapes that got the category
        bool nextShape = false;   // nothing the user selected: the category is for the next shape
        int outlinesKept = 0;     // model outlines named but left pending (setOutlinesRefused)
    };
    // Keys 1-9 with the category of that row: only a selection the user pointed at is relabelled.
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
    // A box becomes a rotated box on its corners (turned 0 degrees); a rotated box becomes the
    // upright box of its centre and sides. One undo step; false for other shapes.
    bool toggleRotated(uint id);
    int deleteSelected();
    // Removes the category's shapes (one step) and then the category itself (a step of its own,
    // so the first undo brings the category back, the second its shapes).
    void deleteCategory(const QString &label, int annotationCount);

    struct CopyOutcome
    {
        int copied = 0;
        bool nothingToCopy = false;   // the source has no confirmed, labelled shape
        int outlinesRefused = 0;      // polygons and rotated boxes left out (setOutlinesRefused)
    };
    // The confirmed shapes of another image, without those this one has already (one step).
    CopyOutcome copyShapes(const QList<Annotation> &source);
    // Every step since the image was shown has been undone (or none was made).
    bool atOpenedState() const;
    // A model's results for this image, without those that repeat a shape (one step).
    OverlapFilterResult insertResults(const QList<Annotation> &results);

    // A confirmed result is a label: it keeps no confidence. False for an outline the image's
    // label file cannot hold (setOutlinesRefused): it stays a model result.
    bool confirmOne(uint id);
    // After each decision below the next model result of the image in the object panel's order
    // (the shapes' ids) is selected (the first again after the last), so that a review needs no
    // mouse.
    struct Review
    {
        int confirmed = 0;
        int rejected = 0;
        bool alreadyConfirmed = false;   // the target was not a model result
        bool finishedDrawing = false;    // Enter closed the polygon being drawn instead
        bool cancelledDrawing = false;   // Esc ended a drawing instead
        bool noneLeft = false;           // a decision took the image's last model result
        int outlinesKept = 0;            // model outlines left pending (setOutlinesRefused)
    };
    // The model results in the object panel's order; shownOnly: without hidden ones.
    QList<uint> reviewOrder(bool shownOnly = true) const;
    // Enter: the selected model results, else the first in review order.
    Review confirmCurrent();
    // A double-click, the panel's or the context menu's confirmation of one model result.
    Review confirmAndAdvance(uint id);
    // The model results confirmed; outlinesKept (when given) counts those left pending.
    int confirmAll(int *outlinesKept = nullptr);
    bool rejectOne(uint id);
    int rejectAll();
    // A / D: selects the previous or next model result in review order; pointed: the user's own
    // choice (the keys), which the digits and arrows then act on. False when the image has none.
    bool stepPending(int direction, bool pointed = true);
    // Esc: cancels drawing, else rejects the selected model result, else clears the selection.
    Review escape();

signals:
    // The shapes changed by an edit, an undo or a redo (never while loading).
    void edited();

private:
    // The image's shapes on the scene; the history is the caller's.
    void install(const QList<Annotation> &annotations);
    void onSceneChanged();
    void onShapeEdited(uint id, const Annotation &before, const Annotation &after);
    void onShapeNudged(uint id, const Annotation &before, const Annotation &after);
    void pushState(uint id, const std::optional<Annotation> &before, const std::optional<Annotation> &after,
                   const QString &text, bool mergeable = false);
    // Selects the model result that followed the decided ones in order (taken before the
    // decision); false when none is left.
    bool selectNextPending(const QList<uint> &order, const QList<uint> &decided);
    // A polygon or rotated box where the label file holds boxes only.
    bool refusesOutline(const Annotation &a) const;
    // Every model result of the image decided by decideOne, as one undo step named text; returns
    // how many decideOne took.
    int decideAll(bool (AnnotationEditor::*decideOne)(uint), const QString &text);

    AnnotationScene *m_scene;            // not owned
    CategoryHistory *m_categories;       // not owned
    ImageHistories *m_histories;
    QUndoStack *m_undoStack;             // the active one of m_histories
    bool m_loading = false;
    bool m_hasImage = false;
    bool m_editedWithoutStep = false;
    bool m_outlinesRefused = false;
};
