#include "ui/labeldialog.h"

#include "canvas/labelcolor.h"
#include "shared/language.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCompleter>
#include <QCursor>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>

LabelDialog::LabelDialog(const QStringList &labels, const QString &initialText, const QString &title,
                         QWidget *parent)
    : QDialog(parent)
    , m_labels(labels)
{
    setWindowTitle(title);
    setModal(true);
    setFixedWidth(360);

    auto *header = new QLabel(title, this);
    header->setObjectName(QStringLiteral("h1"));

    m_combo = new QComboBox(this);
    m_combo->setEditable(true);
    // Return in the line edit would otherwise append the typed text to the list.
    m_combo->setInsertPolicy(QComboBox::NoInsert);
    // Categories are case-sensitive: completion may extend what is typed, never re-case it.
    m_combo->completer()->setCaseSensitivity(Qt::CaseSensitive);
    // The completion is written into the field, highlighted: Return takes it ("c" with "car"
    // listed gives "car"), so a new category needs its whole name (or Del on the completion).
    // A typed name that is a category itself wins over a longer one listed first (accept()).
    m_combo->completer()->setCompletionMode(QCompleter::InlineCompletion);
    m_combo->addItems(labels);
    m_combo->setEditText(initialText);
    QLineEdit *edit = m_combo->lineEdit();
    edit->setPlaceholderText(translateText("输入或选择类别"));
    if (!initialText.isEmpty())
        edit->selectAll();

    m_swatch = new QLabel(this);
    m_swatch->setObjectName(QStringLiteral("labelSwatch"));
    m_swatch->setFixedSize(20, 20);
    m_swatch->setAlignment(Qt::AlignCenter);
    updateSwatch();
    connect(m_combo, &QComboBox::currentTextChanged, this, &LabelDialog::updateSwatch);
    connect(edit, &QLineEdit::textChanged, this, &LabelDialog::updateSwatch);
    // What the user typed, before the completion was added to it; a name picked from the list
    // is taken whole.
    connect(edit, &QLineEdit::textEdited, this, [this](const QString &text) { m_typed = text; });
    connect(m_combo, &QComboBox::activated, this, [this] { m_typed.clear(); });

    auto *swatchRow = new QHBoxLayout;
    swatchRow->setSpacing(8);
    swatchRow->addWidget(m_swatch);
    swatchRow->addWidget(m_combo, 1);

    auto *cancel = new QPushButton(translateText("取消"), this);
    cancel->setAutoDefault(false);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    auto *ok = new QPushButton(translateText("确定"), this);
    ok->setObjectName(QStringLiteral("primary"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto *buttonRow = new QHBoxLayout;
    buttonRow->addStretch(1);
    buttonRow->addWidget(cancel);
    buttonRow->addWidget(ok);

    // The menu entry's name is too long for the dialog's width in most languages.
    m_dontAsk = new QCheckBox(translateText("以后不再询问类别"), this);
    m_dontAsk->setObjectName(QStringLiteral("dontAsk"));
    m_dontAsk->setToolTip(translateText("不询问类别，直接使用当前类别"));
    // A click on it leaves the keys with the category field.
    m_dontAsk->setFocusPolicy(Qt::TabFocus);
    m_dontAsk->hide();

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(18, 16, 18, 16);
    layout->setSpacing(12);
    layout->addWidget(header);
    layout->addLayout(swatchRow);
    layout->addWidget(m_dontAsk);
    layout->addLayout(buttonRow);

    connect(edit, &QLineEdit::returnPressed, this, &QDialog::accept);
    // Return on the offered text, still wholly selected, takes that text: the inline completer
    // would replace it with its first row. The combo has the focus and hands keys to its line
    // edit directly, so both are watched.
    edit->installEventFilter(this);
    m_combo->installEventFilter(this);
    m_combo->setFocus();
}

QString LabelDialog::askLabel(QWidget *parent, const QStringList &labels, const QString &initialText,
                              bool *accepted, const QString &title, bool *dontAsk, const QRect &shape)
{
    const QString shownTitle = title.isEmpty() ? translateText("输入类别") : title;
    LabelDialog dialog(labels, initialText, shownTitle, parent);
    if (dontAsk)
        dialog.showDontAsk(*dontAsk);
    if (shape.isValid()) {
        QScreen *screen = QGuiApplication::screenAt(shape.center());
        if (!screen)
            screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
        dialog.adjustSize();
        // The frame is not known before the window manager adds it: leave room for a title bar.
        const QSize framed = dialog.size() + QSize(8, 36);
        const QPoint at = placeBeside(shape, QCursor::pos(), framed, screen->availableGeometry());
        dialog.move(at);
    }
    const bool ok = dialog.exec() == QDialog::Accepted;
    if (accepted)
        *accepted = ok;
    if (!ok)
        return QString();
    if (dontAsk)
        *dontAsk = dialog.dontAsk();
    const QString text = dialog.currentText().trimmed();
    return text.isEmpty() ? initialText : text;
}

QPoint LabelDialog::placeBeside(const QRect &shape, const QPoint &cursor, const QSize &size, const QRect &screen)
{
    const int gap = 16;
    // A drag ends on the shape's edge; a cursor well inside it (or nowhere) says nothing of a side.
    const bool cursorTells = screen.contains(cursor) && !shape.adjusted(2, 2, -2, -2).contains(cursor);
    const QPoint c = cursorTells ? cursor : shape.bottomRight();
    const bool rightFirst = c.x() >= shape.center().x();
    const bool belowFirst = c.y() >= shape.center().y();
    const int besideTop = c.y() - size.height() / 2;
    const int aboveLeft = c.x() - size.width() / 2;
    const QPoint right(std::max(shape.right(), c.x()) + gap, besideTop);
    const QPoint left(std::min(shape.left(), c.x()) - gap - size.width(), besideTop);
    const QPoint below(aboveLeft, std::max(shape.bottom(), c.y()) + gap);
    const QPoint above(aboveLeft, std::min(shape.top(), c.y()) - gap - size.height());
    const QPoint tries[] = {rightFirst ? right : left, rightFirst ? left : right, belowFirst ? below : above,
                            belowFirst ? above : below};
    auto inside = [&](const QPoint &p) {
        return QPoint(std::clamp(p.x(), screen.left(), std::max(screen.left(), screen.right() - size.width() + 1)),
                      std::clamp(p.y(), screen.top(), std::max(screen.top(), screen.bottom() - size.height() + 1)));
    };
    for (const QPoint &p : tries) {
        const QPoint kept = inside(p);
        if (!QRect(kept, size).intersects(shape))
            return kept;
    }
    // A shape that fills the screen: the corner farthest from the cursor covers the least of it.
    return inside(QPoint(rightFirst ? screen.left() : screen.right(), belowFirst ? screen.top() : screen.bottom()));
}

bool LabelDialog::eventFilter(QObject *watched, QEvent *event)
{
    QLineEdit *edit = m_combo->lineEdit();
    if ((watched == edit || watched == m_combo) && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && edit->hasSelectedText() && edit->selectionStart() == 0) {
            edit->deselect();
            accept();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void LabelDialog::accept()
{
    // "person" typed with "person_sitting" completed after it: the typed category is meant.
    const QString text = m_combo->currentText();
    if (!m_typed.isEmpty() && text != m_typed && text.startsWith(m_typed) && m_labels.contains(m_typed.trimmed()))
        m_combo->setEditText(m_typed);
    QDialog::accept();
}

QString LabelDialog::currentText() const
{
    return m_combo->currentText();
}

void LabelDialog::showDontAsk(bool checked)
{
    m_dontAsk->setChecked(checked);
    m_dontAsk->show();
}

bool LabelDialog::dontAsk() const
{
    return m_dontAsk->isVisibleTo(this) && m_dontAsk->isChecked();
}

QColor LabelDialog::swatchColor(const QString &text)
{
    const QString trimmed = text.trimmed();
    return trimmed.isEmpty() ? QColor(0x3A, 0x41, 0x50) : labelColor(trimmed);
}

void LabelDialog::updateSwatch()
{
    m_swatch->setStyleSheet(
        QStringLiteral("background:%1; border:1px solid #3A4150; border-radius:4px;")
            .arg(swatchColor(m_combo->currentText()).name()));
}
