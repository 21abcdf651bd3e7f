// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The restore window's status bar: three sunken parts side by side. Part 0 shows the selected
// backup date; parts 1 and 2 belong to the page shown (counts and sizes).
#include <QString>
#include <QWidget>

#include <array>

class QLabel;

namespace halvex {

class RestoreStatusBar : public QWidget {
    Q_OBJECT

public:
    explicit RestoreStatusBar(QWidget* parent = nullptr);
    ~RestoreStatusBar() override;

    void SetText(int part, const QString& text);
    QString Text(int part) const;
    // Right edges of parts 0 and 1, in pixels from the bar's left; part 2 reaches to the right
    // edge. Edges past the bar's width are held inside it.
    void SetEdges(int first, int second);
    int Edge(int part) const { return edges_.at(static_cast<std::size_t>(part)); }
    QLabel* Part(int part) const { return parts_.at(static_cast<std::size_t>(part)); }

    QSize sizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void PlaceParts();

    std::array<QLabel*, 3> parts_{};
    std::array<int, 2> edges_{150, 250};
};

}  // namespace halvex
