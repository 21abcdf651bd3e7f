// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A fixed text with its own colours and font (the pages' notes, headings and separator lines).
// The setters return the label so that a page can chain them.
#include <QColor>
#include <QFont>
#include <QLabel>

namespace halvex {

class StyledLabel : public QLabel {
    Q_OBJECT

public:
    explicit StyledLabel(const QString& text, QWidget* parent = nullptr);
    ~StyledLabel() override;

    StyledLabel& SetTextColour(const QColor& colour);
    StyledLabel& SetBold(bool bold);
    StyledLabel& SetUnderline(bool underline);
    // Character height in pixels.
    StyledLabel& SetCharHeight(int pixels);
    // Fills the label with this colour (by default it shows the page's own background).
    StyledLabel& SetBackgroundColour(const QColor& colour);
    // Takes over a whole font description (the page's font, for example).
    StyledLabel& TakeFont(const QFont& font);
    // A click opens the text (a document, a folder or an address) with the desktop's
    // application for it. Off by default.
    StyledLabel& SetOpensOnClick(bool opens);

    QColor TextColour() const;

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    bool opensOnClick_ = false;
};

}  // namespace halvex
