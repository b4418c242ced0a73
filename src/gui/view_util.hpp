// Small helpers shared by the window views.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <QWidget>

#include "gui/binding.hpp"

namespace kelvarin::gui {

/// Flags of a fixed dialog without border icons (title only).
inline Qt::WindowFlags bareDialogFlags() {
    return Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
}

/// Flags of a fixed dialog that the user may close by its title bar.
inline Qt::WindowFlags closableDialogFlags() {
    return Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint;
}

/// A grid layout on `parent` that keeps the window at its natural, fixed size.
inline QGridLayout* fixedGrid(QWidget* parent) {
    auto* grid = new QGridLayout(parent);
    grid->setSizeConstraint(QLayout::SetFixedSize);
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(6);
    return grid;
}

/// A caption that no window state holds (a unit or a column heading of the layout).
inline QLabel* plainLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    return label;
}

}  // namespace kelvarin::gui
