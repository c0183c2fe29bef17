#pragma once

#include <QDialog>
#include <QStringList>

class QCheckBox;
class QComboBox;
class QLabel;

// The category prompt: an editable list of the known categories and a swatch in the colour the
// typed category will have on the canvas.
class LabelDialog : public QDialog
{
    Q_OBJECT
public:
    LabelDialog(const QStringList &labels, const QString &initialText, const QString &title,
                QWidget *parent = nullptr);

    // Runs the dialog modally. Accepted: the trimmed text, or initialText when that is empty.
    // Rejected: an empty string. *accepted (when given) tells which happened. With dontAsk, the
    // dialog shows the "don't ask for the category" box checked as *dontAsk, and an accepted
    // dialog writes its state back (a cancelled one leaves it). shape (global, when valid): the
    // shape being named, which the dialog is placed beside instead of over.
    static QString askLabel(QWidget *parent, const QStringList &labels, const QString &initialText,
                            bool *accepted = nullptr, const QString &title = QString(),
                            bool *dontAsk = nullptr, const QRect &shape = QRect());
    // Where a dialog of size goes beside shape: next to the cursor on the side away from the
    // shape, else on another side that leaves the shape free, inside screen (all global).
    static QPoint placeBeside(const QRect &shape, const QPoint &cursor, const QSize &size, const QRect &screen);

    QString currentText() const;
    // The "don't ask for the category" box, shown only after this call.
    void showDontAsk(bool checked);
    bool dontAsk() const;
    // The swatch colour for a typed text: the canvas colour of the trimmed text, or the line
    // colour when it is blank.
    static QColor swatchColor(const QString &text);

public slots:
    void accept() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void updateSwatch();

    QStringList m_labels;
    QString m_typed;
    QComboBox *m_combo = nullptr;
    QLabel *m_swatch = nullptr;
    QCheckBox *m_dontAsk = nullptr;
};
