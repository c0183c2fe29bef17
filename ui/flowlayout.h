#pragma once

#include <QLayout>
#include <QList>

// Lays its items out left to right and starts a new row where the next one would not fit: a bar
// of buttons that stays whole in a narrow panel and in long languages. Spacing applies between
// items and between rows.
class FlowLayout : public QLayout
{
public:
    FlowLayout() = default;
    ~FlowLayout() override;

    void addItem(QLayoutItem *item) override;
    int count() const override;
    QLayoutItem *itemAt(int index) const override;
    QLayoutItem *takeAt(int index) override;
    Qt::Orientations expandingDirections() const override;
    bool hasHeightForWidth() const override;
    int heightForWidth(int width) const override;
    QSize minimumSize() const override;
    QSize sizeHint() const override;
    void setGeometry(const QRect &rect) override;

private:
    // The height the items take in rect; places them when apply is set.
    int arrange(const QRect &rect, bool apply) const;

    QList<QLayoutItem *> m_items;
};
