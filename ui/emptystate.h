#pragma once

#include <QWidget>

class QLabel;
class QPushButton;

// The picture, hint and button shown over the canvas while no image list is loaded.
class EmptyState : public QWidget
{
    Q_OBJECT
public:
    explicit EmptyState(QWidget *parent = nullptr);
    void retranslate();
    // A folder without images of its own whose subfolders hold some (a dataset root): the state
    // says so and offers them. No folders: the plain "open a folder" state.
    void setSubfolders(const QString &dir, const QStringList &folders);
    QStringList subfolders() const { return m_folders; }
    QString hintText() const;

Q_SIGNALS:
    void openDirectoryRequested();
    void subfolderRequested(const QString &path);

private:
    QLabel *m_hint = nullptr;
    QPushButton *m_openButton = nullptr;
    QWidget *m_folderBox = nullptr;
    QString m_dir;
    QStringList m_folders;
};
