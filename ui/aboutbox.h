#pragma once

#include <QString>

class QMessageBox;
class QWidget;

// The about text: name and version, what the program is for, and the toolkit it is built on.
QString aboutText();
// The about box, not yet shown; the caller owns it.
QMessageBox *createAboutBox(QWidget *parent);
// Shows the about box modally.
void showAboutBox(QWidget *parent);
