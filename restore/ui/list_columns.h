// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The file lists give one column whatever width the others leave, whenever the list's visible
// width changes (the page is resized, a scroll bar comes or goes).
class QTreeView;

namespace halvex {

// Sets `column` to the list's visible width less the other columns (never below a few
// letters), and keeps doing so each time that width changes.
void KeepColumnFilling(QTreeView& list, int column);
// The same once, now.
void FillColumn(QTreeView& list, int column);

// A cell whose text the column cuts shows the whole text as its tooltip (unless the model
// gives the cell a tooltip of its own).
void ShowCutTextsInToolTips(QTreeView& list);

}  // namespace halvex
