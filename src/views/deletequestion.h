#pragma once

#include <QString>

class QWidget;

// The three-way delete question that the card and the toolbar ask.
enum class DeleteChoice { Cancel, ListOnly, ListAndFile };
DeleteChoice askDeleteOptions(QWidget *parent, const QString &question);
